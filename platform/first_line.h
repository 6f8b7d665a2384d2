// The first line of a command's output, read the same way from a POSIX pipe
// and a Windows one. Internal to platform/.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/process.h"

namespace quillo {

// Output past the first line is read and dropped up to this many bytes; a
// command that prints more than that is no longer listened to.
inline constexpr size_t kMostDroppedBytes = size_t{16} << 20;

// Reads the first line that `read` (bytes into a chunk; 0 or less at the
// end) gives into `out`, at most `longest` bytes before its LF, and drains
// the rest.
template <typename Read>
void ReadFirstLineFrom(Read read, size_t longest, CommandLineOutput& out) {
  char chunk[4096];
  bool lineDone = false;
  size_t dropped = 0;
  for (;;) {
    const long n = read(chunk, sizeof chunk);
    if (n <= 0) break;
    std::string_view got(chunk, static_cast<size_t>(n));
    if (lineDone) {
      dropped += got.size();
      if (dropped > kMostDroppedBytes) break;
      continue;
    }
    const size_t lf = got.find('\n');
    out.line.append(got.substr(0, lf));
    if (lf != std::string_view::npos) lineDone = true;
    if (out.line.size() > longest + (lineDone ? 0 : 1)) {
      out.tooLong = true;
      lineDone = true;
    }
  }
  if (!out.line.empty() && out.line.back() == '\r') out.line.pop_back();
  if (out.line.size() > longest) out.tooLong = true;
  if (out.tooLong) out.line.clear();
}

}  // namespace quillo
