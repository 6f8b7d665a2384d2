// ReadKey and WriteKey on an arbitrary settings file: a value just written is
// the value read back, whatever else the file holds.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "settings/key_value.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kKeys[] = {"mailbox", "POPserver", "timeout", "x"};
  if (size < 1) return 0;
  const char* key = kKeys[data[0] % 4];
  static const std::string path = quillo::fuzz::ScratchPath("quillo.ini");
  if (!quillo::fuzz::WriteBytes(path, quillo::fuzz::AsText(data + 1, size - 1))) return 0;
  std::string value;
  int found = quillo::ReadKey(key, value, path);
  if (found == 1 && (value.empty() || value.size() > 127)) std::abort();
  if (quillo::WriteKey(key, "fuzz-value", path) != 1) std::abort();
  value.clear();
  if (quillo::ReadKey(key, value, path) != 1 || value != "fuzz-value") std::abort();
  return 0;
}
