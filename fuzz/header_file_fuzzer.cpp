// DecodeHeaderFile on an arbitrary message file; decoding the same bytes in
// memory must give what the file decoder wrote.
#include <cstdlib>

#include "store/header_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/text_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string in = quillo::fuzz::ScratchPath("raw.txt");
  static const std::string out = quillo::fuzz::ScratchPath("decoded.txt");
  const std::string_view text = quillo::fuzz::AsText(data, size);
  if (!quillo::fuzz::WriteBytes(in, text)) return 0;
  if (quillo::DecodeHeaderFile(in, out) != 0) return 0;
  std::string written;
  if (quillo::ReadWholeFile(out, written) && quillo::DecodeHeaderText(text) != written) std::abort();
  return 0;
}
