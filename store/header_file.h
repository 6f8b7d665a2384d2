// Message files with their header decoded (encoding/header_decoder.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace quillo {

// Copies `inPath` to `outPath` (created or emptied) through a HeaderDecoder.
// The input is read in text mode (CR LF becomes LF) in line pieces of at most
// kLinePiece bytes. Returns 0 on success, 1 on failure after saying why on
// standard error; the output is then incomplete and left to the caller.
[[nodiscard]] int DecodeHeaderFile(const std::string& inPath, const std::string& outPath);

// The same from an open file into an open one (the output is not closed);
// 0, or 1 after saying why.
[[nodiscard]] int DecodeHeaderStream(InputFile& in, OutputFile& out);

// What DecodeHeaderFile would write for a file holding `text`.
std::string DecodeHeaderText(std::string_view text);

}  // namespace quillo
