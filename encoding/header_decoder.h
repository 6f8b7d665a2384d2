// Decoding the header of a saved message file.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// Copies `inPath` to `outPath` (created or emptied), turning every header
// line, up to the first empty line, from encoded-words and JIS into Shift_JIS;
// the empty line and the body are copied unchanged. The input is read in text
// mode (CR LF becomes LF) in line pieces of at most 999 bytes, each piece
// handled as a line. Returns 0 on success, 1 on failure after saying why on
// standard error; the output is then incomplete and left to the caller.
int DecodeHeaderFile(const std::string& inPath, const std::string& outPath);

// The same for a message already in memory: what DecodeHeaderFile would
// write for a file holding `text`.
std::string DecodeHeaderText(std::string_view text);

}  // namespace quillo
