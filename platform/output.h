// The console boundary: everything Quillo shows goes out through here. Text
// is written in Shift_JIS, laid out in its columns; on a UTF-8 console
// (platform/console_charset.h) it is converted here, on its way out.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace quillo {

// printf-style formatting into a std::string (no length limit).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

void WriteOut(std::string_view text);
void WriteErr(std::string_view text);
void PrintOut(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void PrintErr(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void FlushOut();

// Writes "prefix: <strerror(errno)>\n" to standard error, like perror.
void PrintSystemError(const char* prefix);

}  // namespace quillo
