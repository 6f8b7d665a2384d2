#include "encoding/message_id.h"

#include <cinttypes>
#include <cstdio>

namespace quillo {

namespace {

bool IsLabelChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

bool IsPlainDomain(std::string_view domain) {
  if (domain.empty() || domain.size() > 253) return false;
  size_t label = 0;
  for (size_t i = 0; i <= domain.size(); ++i) {
    if (i == domain.size() || domain[i] == '.') {
      if (label == 0 || label > 63) return false;
      label = 0;
    } else if (IsLabelChar(domain[i])) {
      ++label;
    } else {
      return false;
    }
  }
  return true;
}

std::string MessageIdDomain(std::string_view address, std::string_view hostName) {
  const size_t at = address.rfind('@');
  if (at != std::string_view::npos && IsPlainDomain(address.substr(at + 1))) return std::string(address.substr(at + 1));
  if (IsPlainDomain(hostName)) return std::string(hostName);
  return "localhost";
}

std::string FormatMessageId(const UniqueSeed& seed, std::string_view domain) {
  char local[96];
  std::snprintf(local, sizeof local, "<%" PRId64 ".%06ld.%ld.%016" PRIx64 "@", seed.seconds, seed.microseconds,
                seed.processId, seed.random);
  return local + std::string(domain) + ">";
}

std::string FormatBoundary(const UniqueSeed& seed) {
  char text[96];
  std::snprintf(text, sizeof text, "=_%" PRIx64 "_%lx_%lx_%016" PRIx64, static_cast<std::uint64_t>(seed.seconds),
                seed.microseconds, seed.processId, seed.random);
  return text;
}

}  // namespace quillo

namespace quillo {

std::vector<std::string_view> MessageIdTokens(std::string_view text) {
  std::vector<std::string_view> ids;
  for (size_t open = text.find('<'); open != std::string_view::npos; open = text.find('<', open + 1)) {
    const size_t close = text.find('>', open);
    if (close == std::string_view::npos) break;
    std::string_view id = text.substr(open, close - open + 1);
    if (id.find_first_of(" \t\r\n<", 1) == std::string_view::npos && id.size() > 2) ids.push_back(id);
  }
  return ids;
}

std::string ReferencesValue(std::string_view originalReferences, std::string_view originalId, size_t limit) {
  std::vector<std::string_view> ids = MessageIdTokens(originalReferences);
  for (std::string_view id : MessageIdTokens(originalId)) ids.push_back(id);
  const auto length = [&ids] {
    size_t n = 0;
    for (std::string_view id : ids) n += id.size() + 1;
    return n;
  };
  while (ids.size() > 2 && length() > limit) ids.erase(ids.begin() + 1);
  std::string value;
  for (std::string_view id : ids) value += (value.empty() ? "" : " ") + std::string(id);
  return value;
}

}  // namespace quillo
