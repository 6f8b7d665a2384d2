// Small text helpers shared by every layer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillo {

// Cuts `value` to fit a field of `capacity` bytes including the terminator the
// stored formats were designed around (so at most capacity - 1 bytes).
std::string Capped(std::string_view value, size_t capacity);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// A hash that is the same for texts equal without regard to (ASCII) letter case.
size_t FoldedHash(std::string_view text);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// The usual decimal conversion: leading blanks, an optional sign, digits;
// anything else ends the number, and text without digits gives 0.
long DecimalValue(std::string_view text);

// The same conversion for numbers that come from outside (a server's
// counts and sizes, a cache file): nothing when the text has no digits or
// when the value lies beyond INT_MAX either way, so that a number too large
// to hold is never taken for a smaller one.
std::optional<long> FittingDecimalValue(std::string_view text);

// `text` as it may be shown on the console: every control byte that could
// steer the terminal (0x00-0x1F other than tab, LF and the CR of a CR LF, and DEL 0x7F) is
// shown as '?'. Shift_JIS passes unchanged, since no second byte of a
// double-byte character lies in that range. For text from outside (server
// replies, received messages, lists made from them); files keep their bytes.
std::string SanitizeForConsole(std::string_view text);

// Pieces of printf formats for lines built by the thousand, without a
// format call each. AppendPadded is "%*s": `text` up to its first NUL byte,
// blanks in front up to `width`. AppendDecimal is "%*d", or "%0*d" with
// `zeros`: the sign goes before the zeros.
// The code point `cp` (at most 0x10FFFF) in UTF-8.
void AppendUtf8(uint32_t cp, std::string& out);

void AppendPadded(std::string& out, std::string_view text, size_t width);
void AppendDecimal(std::string& out, long value, size_t width, bool zeros = false);

// `text` without the CR and LF bytes at its end, however many.
std::string_view WithoutLineEnds(std::string_view text);

// Removes one trailing '/' (or '\\') if present; a '\\' that is the second
// byte of a Shift_JIS character (表 is 0x95 0x5C) is part of the name and stays.
std::string WithoutTrailingSeparator(std::string_view path);

// True when the byte at `at` in Shift_JIS `text` is the second byte of a
// double-byte character.
bool IsSjisTrailAt(std::string_view text, size_t at);

// Where the last separator of `path` is (npos when none): '/' everywhere,
// and on Windows also a '\\' that is no Shift_JIS second byte.
size_t LastPathSeparator(std::string_view path);
bool IsPathSeparatorAt(std::string_view path, size_t at);

// The separator to join a name to `path` with: '/' everywhere, and on
// Windows '\\' unless `path` is written with '/' alone, so that a path keeps
// one spelling.
char SeparatorFor(std::string_view path);

// True when `path` does not depend on the current directory: "/..." and,
// on Windows, "\\...", "C:\\..." or "C:/..." and UNC paths ("\\\\server\\share").
bool IsAbsolutePath(std::string_view path);

}  // namespace quillo
