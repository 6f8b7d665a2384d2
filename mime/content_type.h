// Fields with parameters: Content-Type and Content-Disposition, with the
// RFC 2231 forms Outlook writes file names in (continuations, a charset)
// and the RFC 2047 words many mailers still put inside a quoted name.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillo {

struct ParameterField {
  std::string value;  // the field's own value, lower case, white space and comments removed ("text/plain")
  // Each parameter once, its name lower case. RFC 2231 pieces are already put
  // together and decoded to UTF-8; other values are unquoted but otherwise raw.
  std::vector<std::pair<std::string, std::string>> parameters;
};

ParameterField ParseParameterField(std::string_view raw);

// The raw (unquoted) value of a parameter, for tokens such as boundary or
// charset; "" when missing.
std::string ParameterValue(const ParameterField& field, std::string_view name);

// The value as text to show, UTF-8: RFC 2231 values as decoded, others with
// their encoded-words and 8-bit text decoded as any header text is.
std::string ParameterText(const ParameterField& field, std::string_view name);

}  // namespace quillo
