// Small text helpers shared by every layer.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// Cuts `value` to fit a field of `capacity` bytes including the terminator the
// stored formats were designed around (so at most capacity - 1 bytes).
std::string Capped(std::string_view value, size_t capacity);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// The usual decimal conversion: leading blanks, an optional sign, digits;
// anything else ends the number, and text without digits gives 0.
long DecimalValue(std::string_view text);

// Removes one trailing '/' (or '\\') if present.
std::string WithoutTrailingSeparator(std::string_view path);

}  // namespace quillo
