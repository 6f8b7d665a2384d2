// The questions about folders: which one, whether to create one, its name.
#pragma once

#include <string>

namespace quillo {

// 1 when the mailbox directory and the folder exist as directories (each may
// be created after asking), 0 otherwise.
int EnsureFolder(const std::string& folder);

// Asks for a folder name and creates the folder.
void MakeFolder();

// Shows the mailbox's folders page by page and asks for one. Returns its
// position (1 or more) with its name in `folder`, or 0 when the user quits or
// no list could be made (`folder` untouched).
int ChooseFolder(std::string& folder);

// Lets the user choose a folder and removes it (only an empty one can go).
void RemoveFolder();

}  // namespace quillo
