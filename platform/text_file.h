// Files opened and closed within one operation. Reading in text mode turns
// CR LF into LF; lines come in pieces of at most 999 bytes, as the rest of the
// program expects (a longer line arrives as several pieces).
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace quillo {

constexpr size_t kLinePiece = 999;

class InputFile {
 public:
  InputFile() = default;
  InputFile(const std::string& path, bool textMode = true) { Open(path, textMode); }
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool Open(const std::string& path, bool textMode = true);
  // Reads `text` as the bytes of a file (it must outlive the reading): for
  // a file just written from memory, without reading it back.
  void OpenText(std::string_view text, bool textMode = true);
  bool IsOpen() const { return fd_ >= 0 || inMemory_; }
  void Close();

  // The next piece of a line, its LF included when it fits. False at the end.
  bool ReadPiece(std::string& piece, size_t maxBytes = kLinePiece);
  // The same piece without a copy where it can be: `piece` shows the bytes
  // where they lie, or a copy the file keeps. Valid until the next read.
  bool ReadPieceView(std::string_view& piece, size_t maxBytes = kLinePiece);
  // Up to `count` bytes as they are (binary reading); false at the end.
  bool ReadBlock(std::string& block, size_t count);
  bool HadError() const { return failed_; }
  // A reader above gave up on the file (a line past its bound, say): from
  // now on it reads as ended, and HadError tells so.
  void MarkFailed() {
    failed_ = true;
    pos_ = len_;
  }
  // The stamp of the open file (see platform/files.h); nothing when closed.
  std::optional<FileStamp> Stamp() const;

 private:
  bool Refill();
  int Peek();
  int fd_ = -1;
  bool inMemory_ = false;  // reading the text given to OpenText
  bool failed_ = false;    // a read failed
  bool text_ = true;
  // The bytes at hand: a block read from the file into buffer_, or the text.
  const char* data_ = nullptr;
  size_t pos_ = 0;
  size_t len_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::string spill_;  // a piece ReadPieceView could not show in place
};

// A file being written. Every write and the close are checked: Close()
// returns false when anything failed, so callers never take a partial file for
// a whole one.
class OutputFile {
 public:
  // kOverwrite: for scratch files rewritten again and again. The old bytes are
  // written over and whatever is left past the new end is cut at Close(): on
  // some file systems emptying a file on open makes its close wait for the
  // disk, once for every rewrite.
  //
  // Every mode refuses a symbolic link as the last name, never waits for a
  // FIFO's reader, and makes a new file with mode 0600.
  // kCreatePrivate: a new file, made exclusively (as kCreateExclusive).
  enum class Mode { kCreate, kAppend, kCreateExclusive, kOverwrite, kCreatePrivate };
  OutputFile() = default;
  ~OutputFile() { Close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool Open(const std::string& path, Mode mode = Mode::kCreate);
  bool IsOpen() const { return file_ != nullptr; }
  bool Write(std::string_view text);
  bool Close();
  // Close() once the bytes are on the disk (fsync).
  [[nodiscard]] bool CloseSynced();
  bool Failed() const { return failed_; }
  // Gives the open file the permission bits `mode`; false when it cannot.
  bool SetPermissions(unsigned mode);

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  bool cutAtClose_ = false;
  std::unique_ptr<char[]> buffer_;
};

// Reads a whole file as it is; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& content);

}  // namespace quillo
