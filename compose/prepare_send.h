// The check of an outgoing draft: which header lines may leave the machine,
// who receives the message, and the cleaned send file written from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillo {

constexpr size_t kMaxRecipients = 30;
constexpr size_t kMaxAddressBytes = 79;

// The envelope recipients of the message being prepared, in file order
// (duplicates kept).
struct RecipientList {
  std::vector<std::string> addresses;
};

// "From: %s <%s>" with the fullname and mailto settings, without a line end:
// the From line of drafts and of the send file.
std::string FormatFromLine();

// "X-Mailer: kelvaro Quillo Ver.0.61[POSIX] " ("[WinSock]" on Windows; the trailing
// blank belongs to it).
std::string FormatXMailer();

// Takes one address from the comma-separated list `text` starting at `pos`
// into `address` (empty when the entry holds none) and returns the position
// of the comma or end that stopped it.
size_t ExtractAddress(std::string_view text, size_t pos, std::string& address);

// True when `line` holds a half-width katakana byte outside a double-byte
// character.
bool HasHalfWidthKana(std::string_view line);

// The path an "Attach:" header line names (the line end and the blanks
// around the path left out); empty when `line` is no such line.
std::string AttachedPath(std::string_view line);

// Reads the draft, checks its header, fills `recipients` and writes the send
// file (a From: line from the settings, the header lines allowed out, the
// X-Mailer line, an empty line, the body). Echoes the subject and reply
// lines and, when the draft is sound, one "Send to:" line per recipient.
// Every file an "Attach:" line names must be a readable file. A draft
// without a Message-ID line gets one with `messageId` when that is not
// empty, so a message sent again after a failure keeps its id. Returns the
// number of recipients, or -1 when the draft was refused (the reason
// printed).
int PrepareSendFile(const std::string& draftPath, const std::string& sendFilePath, RecipientList& recipients,
                    const std::string& messageId = "");

}  // namespace quillo
