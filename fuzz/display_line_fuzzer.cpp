// ReadDisplayLine over an arbitrary file: every byte shows up exactly once,
// and no display line is wider than the screen.
#include <cstdlib>

#include "console/pager.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = quillo::fuzz::ScratchPath("page.txt");
  if (!quillo::fuzz::WriteBytes(path, quillo::fuzz::AsText(data, size))) return 0;
  quillo::DisplayFile file(path);
  if (!file.IsOpen()) std::abort();
  std::string line;
  for (size_t lines = 0;; ++lines) {
    int end = quillo::ReadDisplayLine(file, line);
    if (line.size() > quillo::kDisplayColumns) std::abort();
    if (end == -1) break;
    // Every call takes at least one byte or a line feed.
    if (lines > size + 1) std::abort();
  }
  return 0;
}
