// New drafts in the outbox, and the edit-and-send dialogue every draft goes
// through.
#pragma once

#include <string>
#include <vector>

#include "platform/text_file.h"

namespace quillo {

// Writes a new draft to `recipient` (may be empty) into the next number of
// "outbox", with an "Attach:" line for each of `attachFiles` (made absolute,
// so the draft can be sent from anywhere), the file `insertFile` (empty:
// none) and the signature, then runs EditAndSend on it. 0 when the draft
// could not be made, otherwise the result of EditAndSend.
int DraftNewMessage(const std::string& recipient, std::string& localHostName, const std::string& insertFile,
                    const std::vector<std::string>& attachFiles = {});

// Offers to edit the draft and then to send, abort or edit again. 1 when the
// draft was delivered in a completed SMTP conversation, 0 otherwise (the
// draft stays in the outbox).
int EditAndSend(const std::string& path, std::string& localHostName);

// 1 when the file holds a separator line or an empty line, else 0 (after
// saying why).
int HasHeaderSeparator(const std::string& path);

// Creates a new file in "outbox" for a draft, under the folder's next free
// number, and prints "Create mail file" with its path. False after saying why.
bool CreateDraftFile(OutputFile& draft, std::string& path);

// Appends every line of `source` to `draft`, each after `prefix`.
void CopyLines(InputFile& source, OutputFile& draft, const std::string& prefix = "");

// Appends the signature file of the settings, if one is set; `openError` is
// the message (with "%s" for the file) when it cannot be opened.
void AppendSignature(OutputFile& draft, const char* openError);

// Closes a finished draft; a draft that could not be written completely is
// removed (after saying so). False then.
bool FinishDraft(OutputFile& draft, const std::string& path);

}  // namespace quillo
