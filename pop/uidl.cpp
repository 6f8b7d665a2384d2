#include "pop/uidl.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <optional>

#include "net/transport.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "pop/pop_commands.h"

namespace quillo {

namespace {

constexpr size_t kLongestUniqueId = 70;
// As for LIST: a few lines past the count, and the listing is none.
constexpr long kListingSlack = 100;

// "n id" (a listing line, its CR LF cut) into the number and the id.
bool ParseUidlLine(std::string_view line, long& number, std::string& uidl) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return false;
  const std::optional<std::int64_t> n = CountValue(line.substr(0, blank));
  std::string_view id = line.substr(blank + 1);
  while (!id.empty() && id.front() == ' ') id.remove_prefix(1);
  while (!id.empty() && id.back() == ' ') id.remove_suffix(1);
  if (!n || *n > INT_MAX || !IsUniqueId(id)) return false;
  number = static_cast<long>(*n);
  uidl = std::string(id);
  return true;
}

}  // namespace

std::optional<std::int64_t> CountValue(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > INT64_MAX) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

bool IsUniqueId(std::string_view text) {
  if (text.empty() || text.size() > kLongestUniqueId) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) return false;
  }
  return true;
}

UidlListing PopUidlList(int count, std::vector<std::string>& uidls) {
  uidls.assign(static_cast<size_t>(std::max(count, 0)), std::string());
  std::string reply;
  NetSendLine("UIDL\r\n");
  if (!PopReadReply(reply)) return reply.empty() ? UidlListing::kBroken : UidlListing::kRefused;
  std::string line;
  const long mostLines = static_cast<long>(uidls.size()) + kListingSlack;
  for (long lines = 0;; ++lines) {
    if (NetRecvWholeLine(line) <= 0) return UidlListing::kBroken;
    if (line == ".\r\n") break;
    if (lines >= mostLines) {
      PrintErr("response too long!(UIDL %ld lines)\a\n", lines + 1);
      NetAbandon();
      return UidlListing::kBroken;
    }
    long number = 0;
    std::string uidl;
    if (ParseUidlLine(line, number, uidl) && number >= 1 && static_cast<size_t>(number) <= uidls.size()) {
      uidls[static_cast<size_t>(number - 1)] = uidl;
    }
  }
  return UidlListing::kListed;
}

int PopMessageUidl(int number, std::string& uidl) {
  std::string reply;
  NetSendLine("UIDL %d\r\n", number);
  if (!PopReadReply(reply)) return 0;
  // "+OK n id"
  const size_t blank = reply.find(' ');
  long listed = 0;
  if (blank == std::string::npos || !ParseUidlLine(std::string_view(reply).substr(blank + 1), listed, uidl)) return 0;
  return listed == number ? 1 : 0;
}

bool StillTheListedMessage(int number, const std::string& uidl) {
  if (uidl.empty()) return true;
  std::string now;
  if (PopMessageUidl(number, now) == 1 && now == uidl) return true;
  PrintErr("mail %d is not the one listed!(UIDL %s) not deleted\a\n", number, SanitizeForConsole(uidl).c_str());
  return false;
}

}  // namespace quillo
