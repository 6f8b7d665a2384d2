// NetRecvWholeLine over whatever a server sends: lines end only at CR LF, no
// line grows past its limit, every byte is read once, and a peer that broke
// the limit is read from no more.
#include <cstdlib>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  quillo::fuzz::UseScratchSettings();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the longest line the caller accepts.
  const size_t longest = 1 + static_cast<size_t>(data[0]) * 16;
  std::string_view sent = quillo::fuzz::AsText(data + 1, size - 1);
  quillo::fuzz::FakeServer server(sent);
  size_t taken = 0;
  std::string line;
  for (size_t calls = 0; calls <= sent.size() + 1; ++calls) {
    const int n = quillo::NetRecvWholeLine(line, longest);
    if (n == -1) {
      // Given up: the next read must fail at once as well.
      if (quillo::NetRecvWholeLine(line, longest) != -1) std::abort();
      return 0;
    }
    if (n < 0 || static_cast<size_t>(n) > line.size() || line.size() > longest + 1) std::abort();
    const size_t crlf = line.find("\r\n");
    if (crlf != std::string::npos && crlf + 2 != line.size()) std::abort();
    taken += line.size();
    if (taken > sent.size()) std::abort();
    if (n == 0) return 0;
  }
  std::abort();  // more calls than bytes: the reader stopped taking any
}
