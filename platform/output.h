// The console boundary: everything Quillo shows goes out through here, so the
// text can later be converted for the terminal at one place.
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
