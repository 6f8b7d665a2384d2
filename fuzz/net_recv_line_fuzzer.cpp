// NetRecvLine over whatever a server sends: every piece is terminated and
// within its buffer, and the reader gets to the end of what was sent.
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  quillo::fuzz::UseScratchSettings();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the buffer size the caller offers.
  const int capacity = 2 + data[0] % 64 * 16;
  std::string_view sent = quillo::fuzz::AsText(data + 1, size - 1);
  quillo::fuzz::FakeServer server(sent);
  std::string buffer(static_cast<size_t>(capacity) + 8, '\xAA');
  for (size_t calls = 0; calls <= sent.size() + 1; ++calls) {
    int n = quillo::NetRecvLine(buffer.data(), capacity);
    if (n < -1 || n > capacity - 1) std::abort();
    if (std::strlen(buffer.c_str()) > static_cast<size_t>(capacity) - 1) std::abort();
    if (buffer[static_cast<size_t>(capacity)] != '\xAA') std::abort();
    if (n == -1 || (n == 0 && quillo::GetNetSession().recvCount <= 0)) return 0;
  }
  std::abort();  // more calls than bytes: the reader stopped taking any
}
