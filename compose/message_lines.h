// Reading a message file line by line, the way the sending side needs it:
// whole lines, converted and sent as a whole message (compose/wire_form).
#pragma once

#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace quillo {

// True for the line that ends a header: one that begins with eight hyphens,
// or the empty line.
bool IsHeaderEnd(std::string_view line);

// A header line that continues the one above it (begins with a blank or tab).
bool IsContinuationLine(std::string_view line);

// Longer than any message the outbox takes whole, so that only a file that
// could never be sent anyway meets it.
constexpr size_t kMaxWholeLine = 64 * 1024 * 1024;

// Reads one whole line (its LF included when present) by joining the file's
// 999-byte pieces. False at the end of the file, and for a line longer than
// `maxBytes`, after which the file reads as failed (HadError): a line cut in
// two would read as two, the second maybe as a header field of its own.
bool ReadWholeLine(InputFile& file, std::string& line, size_t maxBytes = kMaxWholeLine);

}  // namespace quillo
