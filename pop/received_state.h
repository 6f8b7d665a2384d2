// The ids (UIDL) of the messages already stored from the server, kept in
// the mailbox directory so that a message left on the server, or one whose
// run was killed before QUIT, is never stored twice.
//
// A message is stored in three steps, each on the disk before the next:
// the message under a hidden name, a "pending" record of it (its id, size,
// checksum, folder and wanted number), the message under its number; then
// the "received" record replaces the pending one. A run killed between the
// last two leaves a pending record, and the next one finds the message by
// its size and checksum and records it received instead of storing it again.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

std::string ReceivedStatePath();

// A checksum of a stored message's bytes (64-bit FNV-1a): enough to tell the
// one message a killed run stored from the other files of its folder.
std::uint64_t MessageChecksum(std::string_view bytes);

// Size and checksum of the file at `path`; false when it cannot be read.
bool FileChecksum(const std::string& path, long long& size, std::uint64_t& checksum);

struct PendingMessage {
  std::string uidl;
  long long size = 0;
  std::uint64_t checksum = 0;
  std::string folder;
  int number = 0;
};

class ReceivedState {
 public:
  explicit ReceivedState(std::string path) : path_(std::move(path)) {}

  // Reads the file (a missing one is empty). False when it exists but
  // cannot be read or is larger than any such file: then nothing is ever
  // written over it.
  bool Load();
  // The file's text as Save writes it.
  std::string Text() const;
  bool Save() const;

  bool Received(const std::string& uidl) const { return !uidl.empty() && received_.count(uidl) != 0; }
  // When the message was recorded (seconds), 0 when it was not.
  std::int64_t ReceivedAt(const std::string& uidl) const;
  // Received at least `days` days before `now` (never for `days` 0 or less).
  bool Expired(const std::string& uidl, int days, std::int64_t now) const;

  // Each change is written at once; false (the user told) when it could not be.
  [[nodiscard]] bool RecordPending(const PendingMessage& pending);
  [[nodiscard]] bool RecordReceived(const std::string& uidl, std::int64_t now);

  // A pending record left by a killed run: received when its folder holds
  // the message from its wanted number on, forgotten otherwise.
  void ResolvePending(std::int64_t now);
  // Forgets the ids the server no longer lists (the listing is whole).
  void Forget(const std::vector<std::string>& listed);

  bool HasPending() const { return !pending_.uidl.empty(); }

 private:
  std::string path_;
  std::map<std::string, std::int64_t> received_;
  PendingMessage pending_;
  bool unreadable_ = false;
};

}  // namespace quillo
