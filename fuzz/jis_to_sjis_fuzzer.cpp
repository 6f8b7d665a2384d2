// JisToSjis on arbitrary bytes: never longer than its input.
#include <cstdlib>

#include "encoding/jis.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view jis = quillo::fuzz::AsText(data, size);
  std::string out;
  quillo::JisToSjis(jis, out);
  if (out.size() > jis.size()) std::abort();
  return 0;
}
