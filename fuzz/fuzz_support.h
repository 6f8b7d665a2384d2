// Shared pieces of the fuzz targets: a private scratch directory, quiet
// standard output, input written to a file, and a fake server that has
// already sent the input and closed its side.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/transport.h"
#include "settings/settings.h"

namespace quillo::fuzz {

// A directory of this process for the files a target writes; made once.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/quillo-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) std::abort();
    return std::string(made);
  }();
  return dir;
}

inline std::string ScratchPath(std::string_view name) { return ScratchDir() + "/" + std::string(name); }

// The program talks a lot on standard output; a fuzz run has no use for it.
inline void QuietStdout() {
  int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, 1);
    ::close(null);
  }
}

// Settings every target starts from: files under the scratch directory and
// short time-outs, so that no run can wait.
inline void UseScratchSettings() {
  Settings& s = GetSettings();
  s.mailbox = ScratchDir();
  s.tmp = ScratchDir();
  s.timeout = 1;
  s.Logdisp = 0;
}

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Writes `bytes` to `path` (created or emptied); false when it cannot.
inline bool WriteBytes(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == bytes.size();
}

// The connection of the process made to hold `bytes` from a peer that sent
// them and stopped sending. The peer still takes what the program sends, so
// commands never fail; the pair is closed when the object goes.
class FakeServer {
 public:
  explicit FakeServer(std::string_view bytes) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
    peer_ = fds[1];
    // A buffer large enough for the largest input the targets accept.
    int size = 1 << 20;
    ::setsockopt(peer_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    size_t done = 0;
    while (done < bytes.size()) {
      // Whatever does not fit is left out rather than waited for.
      ssize_t n = ::send(peer_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::shutdown(peer_, SHUT_WR);
    NetSession& s = GetNetSession();
    s.sock = SocketHandle(fds[0]);
    s.recvPos = 0;
    s.recvCount = 0;
    s.pendBuf.clear();
    s.sendFailed = false;
    s.logOn = true;
  }
  ~FakeServer() {
    GetNetSession().sock.Close();
    ::close(peer_);
  }
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

 private:
  int peer_ = -1;
};

}  // namespace quillo::fuzz
