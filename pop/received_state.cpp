#include "pop/received_state.h"

#include <charconv>
#include <cinttypes>
#include <climits>
#include <optional>

#include "platform/files.h"
#include "platform/output.h"
#include "platform/partial_file.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "pop/uidl.h"
#include "settings/settings.h"
#include "store/folders.h"

namespace quillo {

namespace {

// A million ids of seventy bytes and their times: no honest file is larger.
constexpr long long kLargestStateFile = 128LL << 20;
// The numbers looked at from a pending record's wanted one on: as many as a
// retrieval tries when other runs keep taking numbers.
constexpr int kPendingSearch = 1000;
constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;

constexpr std::string_view kHeading = "# ids of the messages stored from the server; do not edit\n";

std::vector<std::string_view> Words(std::string_view line, size_t most) {
  std::vector<std::string_view> words;
  while (!line.empty() && words.size() < most) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    line.remove_prefix(start);
    // The last word takes the rest of the line: a folder name may hold blanks.
    const size_t end = words.size() + 1 == most ? line.size() : line.find(' ');
    words.push_back(line.substr(0, end));
    line.remove_prefix(end == std::string_view::npos ? line.size() : end);
  }
  return words;
}

// A checksum as Text writes it: lower-case hex digits alone.
std::optional<std::uint64_t> HexValue(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789abcdef") != std::string_view::npos) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "R time id" and "P id size checksum number folder"; other lines are none.
void ReadLine(std::string_view line, std::map<std::string, std::int64_t>& received, PendingMessage& pending) {
  if (line.starts_with("R ")) {
    const std::vector<std::string_view> w = Words(line.substr(2), 2);
    // A time is seconds, past 2038 as well.
    const std::optional<std::int64_t> time = w.size() == 2 ? CountValue(w[0]) : std::nullopt;
    if (time && IsUniqueId(w[1])) received[std::string(w[1])] = *time;
  } else if (line.starts_with("P ")) {
    const std::vector<std::string_view> w = Words(line.substr(2), 5);
    if (w.size() != 5 || !IsUniqueId(w[0])) return;
    const std::optional<std::int64_t> size = CountValue(w[1]);
    const std::optional<std::uint64_t> checksum = HexValue(w[2]);
    const std::optional<std::int64_t> number = CountValue(w[3]);
    if (!size || !checksum || !number || *number > INT_MAX) return;
    pending = {std::string(w[0]), *size, *checksum, std::string(w[4]), static_cast<int>(*number)};
  }
}

// Whether a file of the folder, from the pending record's wanted number on,
// is the message it describes.
bool PendingMessageStored(const PendingMessage& pending) {
  const std::string folderPath = FolderPath(pending.folder);
  if (StatPath(folderPath) != PathKind::kDirectory) return false;
  for (int n = pending.number, tries = 0; tries < kPendingSearch && n >= 0 && n < INT_MAX; ++n, ++tries) {
    const std::string path = NewMessagePath(pending.folder, n);
    if (StatPath(path) != PathKind::kFile || FileSize(path) != pending.size) continue;
    long long size = 0;
    std::uint64_t checksum = 0;
    if (FileChecksum(path, size, checksum) && size == pending.size && checksum == pending.checksum) return true;
  }
  return false;
}

// The bytes of the file at `path`, read to kLargestStateFile at most; false
// when it is larger, or cannot be read.
bool ReadStateFile(const std::string& path, std::string& content) {
  if (FileSize(path) > kLargestStateFile) return false;
  InputFile in(path, false);
  if (!in.IsOpen()) return false;
  std::string block;
  while (in.ReadBlock(block, 1 << 16)) {
    content += block;
    if (static_cast<long long>(content.size()) > kLargestStateFile) return false;
  }
  return !in.HadError();
}

}  // namespace

std::string ReceivedStatePath() { return GetSettings().mailbox + "/uidlist.txt"; }

std::uint64_t MessageChecksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

bool FileChecksum(const std::string& path, long long& size, std::uint64_t& checksum) {
  InputFile in(path, false);
  if (!in.IsOpen()) return false;
  std::uint64_t hash = 14695981039346656037ull;
  size = 0;
  std::string block;
  while (in.ReadBlock(block, 1 << 16)) {
    for (char c : block) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 1099511628211ull;
    }
    size += static_cast<long long>(block.size());
  }
  checksum = hash;
  return !in.HadError();
}

bool ReceivedState::Load() {
  received_.clear();
  pending_ = {};
  unreadable_ = false;
  const PathKind kind = StatPath(path_);
  if (kind == PathKind::kNone) return true;
  std::string content;
  // Not a regular file (a FIFO would hold the run for ever), or larger than
  // any such file: not read at all.
  if (kind != PathKind::kFile || !ReadStateFile(path_, content)) {
    unreadable_ = true;
    PrintErr("savefile(%s) read error!\a\n", path_.c_str());
    return false;
  }
  std::string_view rest = content;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ReadLine(line, received_, pending_);
  }
  return true;
}

std::string ReceivedState::Text() const {
  std::string text(kHeading);
  for (const auto& [uidl, time] : received_) text += Format("R %" PRId64 " ", time) + uidl + "\n";
  if (HasPending()) {
    text += "P " + pending_.uidl + Format(" %lld %" PRIx64 " %d ", pending_.size, pending_.checksum, pending_.number) +
            pending_.folder + "\n";
  }
  return text;
}

bool ReceivedState::Save() const {
  if (unreadable_) return false;
  if (ReplaceFileWith(path_, Text())) return true;
  PrintErr("savefile(%s) write error!\a\n", path_.c_str());
  return false;
}

std::int64_t ReceivedState::ReceivedAt(const std::string& uidl) const {
  const auto it = received_.find(uidl);
  return it == received_.end() ? 0 : it->second;
}

bool ReceivedState::Expired(const std::string& uidl, int days, std::int64_t now) const {
  if (days <= 0 || !Received(uidl)) return false;
  return now - ReceivedAt(uidl) >= static_cast<std::int64_t>(days) * kSecondsPerDay;
}

bool ReceivedState::RecordPending(const PendingMessage& pending) {
  pending_ = pending;
  return Save();
}

bool ReceivedState::RecordReceived(const std::string& uidl, std::int64_t now) {
  received_[uidl] = now;
  if (pending_.uidl == uidl) pending_ = {};
  return Save();
}

void ReceivedState::ResolvePending(std::int64_t now) {
  if (!HasPending()) return;
  const PendingMessage pending = pending_;
  pending_ = {};
  if (PendingMessageStored(pending)) received_[pending.uidl] = now;
  (void)Save();
}

void ReceivedState::Forget(const std::vector<std::string>& listed) {
  std::map<std::string, std::int64_t> kept;
  for (const std::string& uidl : listed) {
    const auto it = received_.find(uidl);
    if (it != received_.end()) kept.insert(*it);
  }
  received_.swap(kept);
}

}  // namespace quillo
