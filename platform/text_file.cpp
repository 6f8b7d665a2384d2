#include "platform/text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "platform/files.h"

namespace quillo {

namespace {

// Large files (a 50 MB conversion, a long message) go through in few system
// calls; a message header still costs one read.
constexpr size_t kStreamBuffer = 64 * 1024;

// Closed files give their buffers back for the next ones: a job opens files
// by the thousand, and a fresh block each time makes the heap grow and shrink
// again (system calls and cleared pages) for every file.
std::vector<std::unique_ptr<char[]>>& SpareBuffers() {
  static std::vector<std::unique_ptr<char[]>> spare;
  return spare;
}

void UseBuffer(std::FILE* file, std::unique_ptr<char[]>& buffer) {
  if (!file) return;
  if (!buffer) {
    std::vector<std::unique_ptr<char[]>>& spare = SpareBuffers();
    if (spare.empty()) {
      buffer = std::make_unique_for_overwrite<char[]>(kStreamBuffer);
    } else {
      buffer = std::move(spare.back());
      spare.pop_back();
    }
  }
  std::setvbuf(file, buffer.get(), _IOFBF, kStreamBuffer);
}

// Only once the stream that used it is closed.
void GiveBack(std::unique_ptr<char[]>& buffer) {
  // A few files are open at once at most (a copy reads one and writes one).
  constexpr size_t kSpareBuffers = 4;
  std::vector<std::unique_ptr<char[]>>& spare = SpareBuffers();
  if (buffer && spare.size() < kSpareBuffers) spare.push_back(std::move(buffer));
  buffer.reset();
}

}  // namespace

bool InputFile::Open(const std::string& path, bool textMode) {
  Close();
  text_ = textMode;
  file_ = std::fopen(path.c_str(), "rb");
  UseBuffer(file_, buffer_);
  return file_ != nullptr;
}

void InputFile::OpenText(std::string_view text, bool textMode) {
  Close();
  text_ = textMode;
  memory_ = text;
  memoryPos_ = 0;
}

void InputFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  memory_.reset();
  GiveBack(buffer_);
}

// Files are read by one thread only: the byte reads need no lock each.
int InputFile::RawChar() {
  if (file_) return getc_unlocked(file_);
  if (memoryPos_ == memory_->size()) return EOF;
  return static_cast<unsigned char>((*memory_)[memoryPos_++]);
}

void InputFile::Unread(int c) {
  if (file_) {
    std::ungetc(c, file_);
  } else {
    --memoryPos_;
  }
}

int InputFile::NextChar() {
  int c = RawChar();
  if (text_ && c == '\r') {
    int next = RawChar();
    if (next == '\n') return '\n';
    if (next != EOF) Unread(next);
  }
  return c;
}

bool InputFile::ReadPiece(std::string& piece, size_t maxBytes) {
  piece.clear();
  if (!IsOpen()) return false;
  // Bytes gather in a local block that goes over to the piece as a whole.
  char block[1024];
  size_t used = 0;
  for (size_t taken = 0; taken < maxBytes; ++taken) {
    int c = NextChar();
    if (c == EOF) break;
    block[used++] = static_cast<char>(c);
    if (used == sizeof block) {
      piece.append(block, used);
      used = 0;
    }
    if (c == '\n') break;
  }
  piece.append(block, used);
  return !piece.empty();
}

std::optional<FileStamp> InputFile::Stamp() const {
  if (!file_) return std::nullopt;
  return StampOfDescriptor(fileno(file_));
}

bool InputFile::ReadBlock(std::string& block, size_t count) {
  if (memory_) {
    block = memory_->substr(memoryPos_, count);
    memoryPos_ += block.size();
    return !block.empty();
  }
  block.resize(count);
  size_t n = file_ ? std::fread(block.data(), 1, count, file_) : 0;
  block.resize(n);
  return n > 0;
}

bool OutputFile::Open(const std::string& path, Mode mode) {
  Close();
  failed_ = false;
  cutAtClose_ = mode == Mode::kOverwrite;
  if (mode == Mode::kCreateExclusive || mode == Mode::kOverwrite) {
    const int flags = mode == Mode::kOverwrite ? O_WRONLY | O_CREAT : O_WRONLY | O_CREAT | O_EXCL;
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return false;
    file_ = fdopen(fd, "wb");
    if (!file_) ::close(fd);
  } else {
    file_ = std::fopen(path.c_str(), mode == Mode::kAppend ? "ab" : "wb");
  }
  UseBuffer(file_, buffer_);
  if (file_) NoteNewFile(path);
  return file_ != nullptr;
}

bool OutputFile::Write(std::string_view text) {
  if (!file_) return false;
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size()) failed_ = true;
  return !failed_;
}

bool OutputFile::Close() {
  if (!file_) return !failed_;
  if (std::fflush(file_) != 0 || std::ferror(file_)) failed_ = true;
  if (cutAtClose_) {
    const off_t end = ::ftello(file_);
    if (end < 0 || ::ftruncate(fileno(file_), end) != 0) failed_ = true;
  }
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  GiveBack(buffer_);
  return !failed_;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  InputFile in(path, false);
  if (!in.IsOpen()) return false;
  std::string block;
  while (in.ReadBlock(block, 65536)) content += block;
  return !in.HadError();
}

}  // namespace quillo
