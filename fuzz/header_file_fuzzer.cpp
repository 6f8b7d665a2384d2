// DecodeHeaderFile on an arbitrary message file.
#include "encoding/header_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string in = quillo::fuzz::ScratchPath("raw.txt");
  static const std::string out = quillo::fuzz::ScratchPath("decoded.txt");
  if (!quillo::fuzz::WriteBytes(in, quillo::fuzz::AsText(data, size))) return 0;
  quillo::DecodeHeaderFile(in, out);
  return 0;
}
