// Choosing and removing folders of the mailbox.
#pragma once

#include <string>

namespace quillo {

// Shows the mailbox's folders page by page and asks for one. Returns its
// position (1 or more) with its name in `folder`, or 0 when the user quits or
// no list could be made (`folder` untouched).
int ChooseFolder(std::string& folder);

// Lets the user choose a folder and removes it (only an empty one can go).
void RemoveFolder();

}  // namespace quillo
