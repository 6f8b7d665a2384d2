// The POP3 command exchanges the retrieval jobs are built from. Each one sends
// a command over the connection the calling job opened and reads its reply.
#pragma once

#include <cstddef>
#include <set>
#include <string>

namespace quillo {

class ReceivedState;

// The folders that received messages the server was then told to delete,
// handed from a conversation's retrievals to its end: their files must be on
// the disk before QUIT lets the server delete them, or a crash in between
// would lose the messages in both places.
using FoldersToSync = std::set<std::string>;

// Reads one whole reply line into `reply`; true when a line came and it
// begins with '+'. Anything else (-ERR, other text, no line at all) is
// negative. A line of any length is read to its end (NUL bytes and all), so
// the next reply is the next command's; one past kLongestReplyLine gives the
// connection up (NetRecvWholeLine).
bool PopReadReply(std::string& reply);

// A reply as messages show it: its first 999 bytes, control bytes as '?'.
std::string ShownReply(const std::string& reply);

// The most bytes a multi-line response may bring before the server is taken
// for a broken one. A message of unknown size may be this large; a header
// download (TOP) this large.
constexpr size_t kMostMessageBytes = size_t{256} << 20;
constexpr size_t kMostTopBytes = size_t{16} << 20;

// The limit for a response about a message of `listedSize` bytes (LIST): twice
// that and a megabyte more, since a server may count its line ends as one
// byte; `unknownSize` when LIST gave no size (0 or less).
size_t ResponseLimit(long listedSize, size_t unknownSize);

// USER and PASS. The password never reaches the protocol log: a masked
// "S:PASS ****" entry stands in for it. 1 when both were accepted, else 0.
int PopLogin(const std::string& user, const std::string& password);

// What PopStat gives when STAT was refused or its count is none (negative,
// too large to hold): no maildrop is known, so none may pass for empty.
constexpr int kStatFailed = -1;

// The message count from STAT (a reply without any count reads as 0);
// kStatFailed after saying why there is none.
[[nodiscard]] int PopStat();

// Stores the rest of a multi-line response in `path`, converted from JIS to
// Shift_JIS, one progress dot per line read. Byte-stuffed lines lose their
// extra leading dot; the lone "." line ends the response and is not stored.
// 1 when the whole response up to its end line was stored, 0 otherwise. A
// response that runs past `mostBytes` is not waited for to its end: the
// user is told, the file removed and the connection given up (NetAbandon).
int PopSaveBody(const std::string& path, size_t mostBytes = kMostMessageBytes);

// Retrieves server message `messageNumber` into `folder` under the number
// `fileNumber` (or the next free one, should that be taken meanwhile), prints
// its summary, and deletes it on the server when `deleteFlag` is set (its
// folder then joins `toSync`). A
// message that could not be stored whole leaves no file behind and is never
// deleted. `listedSize`, the size LIST gave (0 or less: none), bounds the
// response (ResponseLimit). With `uidl`, the id the listing gave the
// message, no DELE goes out unless the server still gives it that id, and
// with `state` as well the message is recorded there as it is stored (see
// ReceivedState). 1 on success, else 0.
int PopRetrieve(const std::string& folder, int messageNumber, int fileNumber, int deleteFlag, FoldersToSync& toSync,
                long listedSize = 0, const std::string& uidl = {}, ReceivedState* state = nullptr);

// DELE; 1 when the server accepted it, else 0 (after saying so).
int PopDelete(int messageNumber);

// Ends the conversation: QUIT, one reply line (not looked at), NetClose.
// The folders of `toSync` go to the disk first; when one cannot, there is no
// QUIT (after saying so), so that the server keeps the messages.
void PopQuit(const FoldersToSync& toSync = {});

}  // namespace quillo
