// The console boundary: everything Quillo shows goes out through here. Text
// is written in Shift_JIS, laid out in its columns; on a UTF-8 console
// (platform/console_charset.h) it is converted here, on its way out.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

// printf-style checking of a format argument: the C library's own printf
// (glibc's or, on Windows, MinGW's, which knows %zu and %lld as well).
#ifdef __MINGW32__
#define QUILLO_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define QUILLO_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

namespace quillo {

// printf-style formatting into a std::string (no length limit).
std::string Format(const char* fmt, ...) QUILLO_PRINTF_FORMAT(1, 2);
std::string FormatV(const char* fmt, va_list args);

void WriteOut(std::string_view text);
// UTF-8 text shown as itself on a UTF-8 console; on a Shift_JIS console the
// characters Shift_JIS cannot hold become the geta mark. The text must
// already be safe for the terminal.
void WriteOutUtf8(std::string_view utf8);
void WriteErr(std::string_view text);
void PrintOut(const char* fmt, ...) QUILLO_PRINTF_FORMAT(1, 2);
void PrintErr(const char* fmt, ...) QUILLO_PRINTF_FORMAT(1, 2);
void FlushOut();

// Writes "prefix: <strerror(errno)>\n" to standard error, like perror.
void PrintSystemError(const char* prefix);

}  // namespace quillo
