// The message as it leaves the machine (MIME, encoded-words, 7-bit lines of
// at most 998 bytes) and as it is filed afterwards, both built from one
// outbox file before the connection is opened.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compose/attachment.h"
#include "encoding/message_id.h"

namespace quillo {

// A line on the wire holds at most this many bytes before its CR LF.
constexpr size_t kMaxWireLine = 998;

struct OutgoingMessage {
  std::string wire;   // CR LF lines, before the doubling of leading dots
  std::string filed;  // LF lines: header and text in Shift_JIS, attachments in base64
  size_t textEnd = 0;  // where the attached files begin in `wire` (its size without any)
};

// What one sending adds: the Date text and what names the message.
struct WireStamp {
  std::string date;      // the text after "Date: "
  UniqueSeed seed;       // for the Message-ID and the multipart boundary
  std::string hostName;  // the Message-ID domain when mailto has none
};

// The stamp for a sending now.
WireStamp StampNow(const std::string& hostName);

// Builds both forms of the outbox file text `outbox` (the send file's
// layout) with the attached `files`. 1 when built, 0 when the text holds
// bytes that are no Shift_JIS characters (after saying so).
int ComposeOutgoing(std::string_view outbox, const std::vector<Attachment>& files, const WireStamp& stamp,
                    OutgoingMessage& message);

// Reads the outbox file `path` and every file its "Attach:" lines name,
// then ComposeOutgoing. 1 when built, 0 after saying why.
int BuildOutgoingMessage(const std::string& path, const WireStamp& stamp, OutgoingMessage& message);

}  // namespace quillo
