#include "platform/win32/console_out.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/console_charset.h"
#include "platform/win32/wide.h"

namespace quillo::win32 {

namespace {

constexpr size_t kFlushAt = 64 * 1024;

struct Stream {
  DWORD which;
  std::string buffer;
};

Stream& StreamOf(int stream) {
  static Stream out{STD_OUTPUT_HANDLE, {}};
  static Stream err{STD_ERROR_HANDLE, {}};
  return stream == 2 ? err : out;
}

// How many bytes at the end of `bytes` begin a character that is not
// complete yet (a Shift_JIS lead byte, or part of a UTF-8 sequence).
size_t OpenTail(std::string_view bytes) {
  if (bytes.empty()) return 0;
  if (GetConsoleCharset() == ConsoleCharset::kUtf8) {
    size_t back = 0;
    while (back < bytes.size() && back < 4) {
      const auto c = static_cast<unsigned char>(bytes[bytes.size() - 1 - back]);
      if ((c & 0xC0) != 0x80) {
        const size_t length = c < 0x80 ? 1 : Utf8SequenceLength(c);
        return length > back + 1 ? back + 1 : 0;
      }
      ++back;
    }
    return 0;
  }
  size_t i = 0;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (lead && i + 1 == bytes.size()) return 1;
    i += lead ? 2 : 1;
  }
  return 0;
}

void WriteHandle(HANDLE h, std::string_view bytes) {
  DWORD mode = 0;
  if (::GetConsoleMode(h, &mode)) {
    // A console shows UTF-16 whatever its code page.
    const UINT codePage = GetConsoleCharset() == ConsoleCharset::kUtf8 ? CP_UTF8 : kCodePageSjis;
    const std::wstring wide = Widen(bytes, codePage);
    size_t done = 0;
    while (done < wide.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 16384));
      if (!::WriteConsoleW(h, wide.data() + done, chunk, &written, nullptr) || written == 0) return;
      done += written;
    }
    return;
  }
  // A pipe or a file takes the bytes as they are, as on every other system.
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    if (!::WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0) return;
    done += written;
  }
}

void Drain(Stream& s, bool whole) {
  if (s.buffer.empty()) return;
  const size_t keep = whole ? 0 : OpenTail(s.buffer);
  const HANDLE h = ::GetStdHandle(s.which);
  if (h != nullptr && h != INVALID_HANDLE_VALUE) {
    WriteHandle(h, std::string_view(s.buffer).substr(0, s.buffer.size() - keep));
  }
  s.buffer.erase(0, s.buffer.size() - keep);
}

void FlushAtExit() {
  Drain(StreamOf(1), true);
  Drain(StreamOf(2), true);
}

}  // namespace

void PutStream(int stream, std::string_view bytes) {
  static const bool registered = std::atexit(FlushAtExit) == 0;
  (void)registered;
  Stream& s = StreamOf(stream);
  s.buffer.append(bytes);
  if (s.buffer.size() >= kFlushAt) Drain(s, false);
}

void FlushStream(int stream) { Drain(StreamOf(stream), false); }

}  // namespace quillo::win32
