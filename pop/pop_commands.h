// The POP3 command exchanges the retrieval jobs are built from. Each one sends
// a command over the connection the calling job opened and reads its reply.
#pragma once

#include <string>

namespace quillo {

// Reads one reply line into `reply`; true when a line came and it begins
// with '+'. Anything else (-ERR, other text, no line at all) is negative.
bool PopReadReply(std::string& reply);

// USER and PASS. The password never reaches the protocol log: a masked
// "S:PASS ****" entry stands in for it. 1 when both were accepted, else 0.
int PopLogin(const std::string& user, const std::string& password);

// The message count from STAT; 0 when STAT was refused (after saying so).
int PopStat();

// Stores the rest of a multi-line response in `path`, converted from JIS to
// Shift_JIS, one progress dot per line read. Byte-stuffed lines lose their
// extra leading dot; the lone "." line ends the response and is not stored.
// 1 when the whole response up to its end line was stored, 0 otherwise.
int PopSaveBody(const std::string& path);

// Retrieves server message `messageNumber` into `folder` under the number
// `fileNumber` (or the next free one, should that be taken meanwhile), prints
// its summary, and deletes it on the server when `deleteFlag` is set. A
// message that could not be stored whole leaves no file behind and is never
// deleted. 1 on success, else 0.
int PopRetrieve(const std::string& folder, int messageNumber, int fileNumber, int deleteFlag);

// DELE; 1 when the server accepted it, else 0 (after saying so).
int PopDelete(int messageNumber);

// Ends the conversation: QUIT, one reply line (not looked at), NetClose.
void PopQuit();

// "tmp/<name>" in the directory for temporary files.
std::string TemporaryPath(const char* name);

}  // namespace quillo
