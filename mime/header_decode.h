// Header field values of received mail, as a reader sees them: encoded-words
// decoded, folding undone, every charset turned into UTF-8, addresses taken
// apart. Nothing here changes a stored byte; it is applied when shown.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// The value with folding undone: every line break that a space or tab
// follows is dropped, the space or tab kept. A bare line break ends nothing
// here; it is dropped too.
std::string UnfoldHeaderValue(std::string_view raw);

// A field value (folded or not) as UTF-8: "=?charset?B?...?=" and "?Q?"
// words in any charset and letter case decoded; adjacent words joined without
// the white space between them, their bytes decoded together when they share
// a charset (a character may be split between two words); a malformed word
// left as it stands. Text outside the words is UTF-8 when it is valid UTF-8,
// else Shift_JIS (how stored headers hold Japanese), ISO-2022-JP when it
// carries its escapes. Leading and trailing white space is dropped; control
// characters other than tab become U+FFFD, so a value is always one line.
std::string DecodeHeaderValue(std::string_view raw);

// Decodes the bytes of one RFC 2047 encoded-text: "B" (base64, tolerant of
// junk and missing padding) or "Q" ('_' is a space, "=XX" in either letter
// case). False when `encoding` is neither.
bool DecodeWordText(char encoding, std::string_view text, std::string& bytes);

struct Mailbox {
  std::string name;     // the display name, decoded (UTF-8); "" when none
  std::string address;  // local@domain as written, without comments or white space
  bool operator==(const Mailbox&) const = default;
};

// The mailboxes of an address list (From, To, Cc, Reply-To ...): quoted
// strings, comments, groups ("team: a@x, b@y;" gives a@x and b@y), route
// addresses, the old "address (Name)" form. Unparseable pieces are skipped.
std::vector<Mailbox> ParseAddressList(std::string_view raw);

// What a list shows for a sender: the first mailbox's display name, else its
// address, else the decoded field as it stands.
std::string ListSender(std::string_view rawFrom);

}  // namespace quillo
