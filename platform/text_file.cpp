#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "platform/win32/wide.h"
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
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

void TakeBuffer(std::unique_ptr<char[]>& buffer) {
  if (buffer) return;
  std::vector<std::unique_ptr<char[]>>& spare = SpareBuffers();
  if (spare.empty()) {
    buffer = std::make_unique_for_overwrite<char[]>(kStreamBuffer);
  } else {
    buffer = std::move(spare.back());
    spare.pop_back();
  }
}

void UseBuffer(std::FILE* file, std::unique_ptr<char[]>& buffer) {
  if (!file) return;
  TakeBuffer(buffer);
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

// How many bytes from `start` (at most `size`) come before the first `c`.
size_t RunWithout(const char* start, size_t size, char c) {
  const void* found = std::memchr(start, c, size);
  return found ? static_cast<size_t>(static_cast<const char*>(found) - start) : size;
}

}  // namespace

bool InputFile::Open(const std::string& path, bool textMode) {
  Close();
  text_ = textMode;
  // Read by blocks straight into our own buffer and scanned in place; a
  // short read is taken as it comes (no second call to find the end).
  fd_ = OpenForReading(path);
  if (fd_ < 0) return false;
  TakeBuffer(buffer_);
  data_ = buffer_.get();
  return true;
}

void InputFile::OpenText(std::string_view text, bool textMode) {
  Close();
  text_ = textMode;
  inMemory_ = true;
  data_ = text.data();
  len_ = text.size();
}

void InputFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  inMemory_ = false;
  failed_ = false;
  data_ = nullptr;
  pos_ = len_ = 0;
  GiveBack(buffer_);
}

bool InputFile::Refill() {
  pos_ = len_ = 0;
  if (fd_ < 0 || failed_) return false;
  ssize_t n;
  do {
    n = ::read(fd_, buffer_.get(), kStreamBuffer);
  } while (n < 0 && errno == EINTR);
  if (n < 0) failed_ = true;
  len_ = n > 0 ? static_cast<size_t>(n) : 0;
  return len_ > 0;
}

int InputFile::Peek() {
  if (pos_ == len_ && !Refill()) return EOF;
  return static_cast<unsigned char>(data_[pos_]);
}

bool InputFile::ReadPiece(std::string& piece, size_t maxBytes) {
  piece.clear();
  while (piece.size() < maxBytes) {
    if (pos_ == len_ && !Refill()) break;
    // Bytes that end no line go over as one run.
    const size_t room = std::min(maxBytes - piece.size(), len_ - pos_);
    const char* start = data_ + pos_;
    size_t run = RunWithout(start, room, '\n');
    if (text_) run = RunWithout(start, run, '\r');
    piece.append(start, run);
    pos_ += run;
    if (run == room) continue;
    char c = data_[pos_++];
    // In text mode CR LF reads as LF (the pair may span two blocks); a lone
    // CR stays.
    if (c == '\r' && Peek() == '\n') {
      ++pos_;
      c = '\n';
    }
    piece.push_back(c);
    if (c == '\n') break;
  }
  return !piece.empty();
}

bool InputFile::ReadPieceView(std::string_view& piece, size_t maxBytes) {
  if (pos_ == len_) Refill();
  // A whole line among the bytes at hand, with no CR to turn into LF.
  const size_t room = std::min(maxBytes, len_ - pos_);
  const char* start = data_ + pos_;
  if (room > 0) {
    if (const void* lf = std::memchr(start, '\n', room)) {
      const size_t length = static_cast<size_t>(static_cast<const char*>(lf) - start) + 1;
      if (!text_ || !std::memchr(start, '\r', length)) {
        piece = std::string_view(start, length);
        pos_ += length;
        return true;
      }
    }
  }
  if (!ReadPiece(spill_, maxBytes)) return false;
  piece = spill_;
  return true;
}

std::optional<FileStamp> InputFile::Stamp() const {
  if (fd_ < 0) return std::nullopt;
  return StampOfDescriptor(fd_);
}

bool InputFile::ReadBlock(std::string& block, size_t count) {
  block.clear();
  while (block.size() < count) {
    if (pos_ == len_ && !Refill()) break;
    const size_t take = std::min(count - block.size(), len_ - pos_);
    block.append(data_ + pos_, take);
    pos_ += take;
  }
  return !block.empty();
}

namespace {

#ifdef _WIN32
// How a file is opened for writing on Windows; the flags of the POSIX
// open(2) call are spelled for both.
// Opens for writing without following a link or junction at the last name
// and only on a disk file (no pipe or device behind a name). The file is
// the program's alone while it is open: no other process writes it meanwhile.
int OpenForWriting(const std::string& path, int flags) {
  const bool exclusive = (flags & O_EXCL) != 0;
  const bool create = (flags & O_CREAT) != 0;
  const DWORD disposition = exclusive ? CREATE_NEW : (create ? OPEN_ALWAYS : OPEN_EXISTING);
  const DWORD access = (flags & O_APPEND) ? (FILE_APPEND_DATA | SYNCHRONIZE | FILE_READ_ATTRIBUTES)
                                           : (GENERIC_WRITE | FILE_READ_ATTRIBUTES);
  HANDLE h = ::CreateFileW(win32::WidePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST
            : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                                                                               : EACCES;
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool plain = ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info) &&
                     !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
  if (!plain) {
    ::CloseHandle(h);
    errno = ELOOP;
    return -1;
  }
  if ((flags & O_TRUNC) && !::SetEndOfFile(h)) {
    ::CloseHandle(h);
    errno = EIO;
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | ((flags & O_APPEND) ? _O_APPEND : 0));
  if (fd < 0) ::CloseHandle(h);
  return fd;
}
#else
// Opens for writing without following a symbolic link at the last name, and
// without waiting for a reader of a FIFO; a new file is the user's alone.
int OpenForWriting(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}
#endif

int OpenInMode(const std::string& path, OutputFile::Mode mode) {
  using Mode = OutputFile::Mode;
  switch (mode) {
    case Mode::kCreate:
      return OpenForWriting(path, O_CREAT | O_TRUNC);
    case Mode::kAppend:
      return OpenForWriting(path, O_CREAT | O_APPEND);
    case Mode::kCreateExclusive:
    case Mode::kCreatePrivate:
      return OpenForWriting(path, O_CREAT | O_EXCL);
    case Mode::kOverwrite: {
      // Made exclusively the first time, written over afterwards.
      const int fd = OpenForWriting(path, 0);
      if (fd >= 0 || errno != ENOENT) return fd;
      return OpenForWriting(path, O_CREAT | O_EXCL);
    }
  }
  return -1;
}

}  // namespace

bool OutputFile::Open(const std::string& path, Mode mode) {
  Close();
  failed_ = false;
  cutAtClose_ = mode == Mode::kOverwrite;
  const int fd = OpenInMode(path, mode);
  if (fd < 0) return false;
  file_ = fdopen(fd, mode == Mode::kAppend ? "ab" : "wb");
  if (!file_) {
    ::close(fd);
    return false;
  }
  UseBuffer(file_, buffer_);
  NoteNewFile(path);
  return true;
}

bool OutputFile::Write(std::string_view text) {
  if (!file_) return false;
  // One thread writes the program's files: no lock for each write.
#ifdef __GLIBC__
  const size_t written = fwrite_unlocked(text.data(), 1, text.size(), file_);
#else
  const size_t written = std::fwrite(text.data(), 1, text.size(), file_);
#endif
  if (!text.empty() && written != text.size()) failed_ = true;
  return !failed_;
}

bool OutputFile::Close() {
  if (!file_) return !failed_;
  if (std::fflush(file_) != 0 || std::ferror(file_)) failed_ = true;
  if (cutAtClose_) {
#ifdef _WIN32
    const long long end = ::_ftelli64(file_);
    if (end < 0 || ::_chsize_s(_fileno(file_), end) != 0) failed_ = true;
#else
    const off_t end = ::ftello(file_);
    if (end < 0 || ::ftruncate(fileno(file_), end) != 0) failed_ = true;
#endif
  }
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  GiveBack(buffer_);
  return !failed_;
}

bool OutputFile::CloseSynced() {
#ifdef _WIN32
  if (file_ && (std::fflush(file_) != 0 ||
                !::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(_fileno(file_)))))) {
    failed_ = true;
  }
#else
  if (file_ && (std::fflush(file_) != 0 || ::fsync(fileno(file_)) != 0)) failed_ = true;
#endif
  return Close();
}

bool OutputFile::SetPermissions(unsigned mode) {
#ifdef _WIN32
  // Who may read a file is its directory's ACL, inherited when it was made.
  (void)mode;
  return file_ != nullptr;
#else
  return file_ && ::fchmod(fileno(file_), static_cast<mode_t>(mode)) == 0;
#endif
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
