#include "platform/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/charset.h"
#include "platform/console_charset.h"
#ifdef _WIN32
#include "platform/win32/console_out.h"
#endif

namespace quillo {

namespace {

// The program has one thread: the streams need no lock for each write.
void PutBytes(std::FILE* file, std::string_view text) {
#ifdef _WIN32
  win32::PutStream(file == stderr ? 2 : 1, text);
#elif defined(__GLIBC__)
  fwrite_unlocked(text.data(), 1, text.size(), file);
#else
  std::fwrite(text.data(), 1, text.size(), file);
#endif
}

// Each stream keeps its own half-written character: the line editor echoes
// a double-byte character one byte at a time.
void Emit(std::FILE* file, SjisToUtf8Stream& stream, std::string_view text) {
  if (GetConsoleCharset() == ConsoleCharset::kUtf8 && (stream.Pending() || AsciiPrefixLength(text) != text.size())) {
    std::string converted;
    converted.reserve(text.size() + text.size() / 2 + 3);
    stream.Convert(text, converted);
    PutBytes(file, converted);
    return;
  }
  PutBytes(file, text);
}

SjisToUtf8Stream& OutStream() {
  static SjisToUtf8Stream stream;
  return stream;
}

SjisToUtf8Stream& ErrStream() {
  static SjisToUtf8Stream stream;
  return stream;
}

}  // namespace

std::string FormatV(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), fmt, args);
  big.resize(static_cast<size_t>(n));
  return big;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = FormatV(fmt, args);
  va_end(args);
  return s;
}

void WriteOut(std::string_view text) { Emit(stdout, OutStream(), text); }

void WriteOutUtf8(std::string_view utf8) {
#ifdef _WIN32
  // The console writer takes Shift_JIS and widens it itself.
  WriteOut(Utf8ToSjis(utf8));
#else
  if (GetConsoleCharset() == ConsoleCharset::kUtf8) {
    PutBytes(stdout, utf8);
  } else {
    PutBytes(stdout, Utf8ToSjis(utf8));
  }
#endif
}

void WriteErr(std::string_view text) {
  // Keep the two streams in the order they were written when both go to one terminal.
  FlushOut();
  Emit(stderr, ErrStream(), text);
#ifdef _WIN32
  win32::FlushStream(2);
#else
  std::fflush(stderr);
#endif
}

void PrintOut(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  WriteOut(FormatV(fmt, args));
  va_end(args);
}

void PrintErr(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  WriteErr(FormatV(fmt, args));
  va_end(args);
}

void FlushOut() {
#ifdef _WIN32
  win32::FlushStream(1);
#else
  std::fflush(stdout);
#endif
}

namespace {

// The Windows C library knows no words for the network's errors ("Unknown
// error"); they read as they do on every other system.
const char* SystemErrorText(int err) {
#ifdef _WIN32
  struct Text {
    int err;
    const char* text;
  };
  static constexpr Text kTexts[] = {
      {ECONNREFUSED, "Connection refused"},
      {ETIMEDOUT, "Connection timed out"},
      {ENETUNREACH, "Network is unreachable"},
      {EHOSTUNREACH, "No route to host"},
      {ECONNRESET, "Connection reset by peer"},
      {ECONNABORTED, "Software caused connection abort"},
      {ENETDOWN, "Network is down"},
      {EADDRNOTAVAIL, "Cannot assign requested address"},
      {EAFNOSUPPORT, "Address family not supported by protocol"},
      {ENOBUFS, "No buffer space available"},
      {ENOTCONN, "Transport endpoint is not connected"},
      {EWOULDBLOCK, "Resource temporarily unavailable"},
      {EINPROGRESS, "Operation now in progress"},
  };
  for (const Text& t : kTexts) {
    if (t.err == err) return t.text;
  }
#endif
  return std::strerror(err);
}

}  // namespace

void PrintSystemError(const char* prefix) {
  int err = errno;
  PrintErr("%s: %s\n", prefix, SystemErrorText(err));
}

}  // namespace quillo
