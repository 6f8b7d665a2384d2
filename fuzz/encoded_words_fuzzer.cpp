// DecodeEncodedWords and DecodeBase64 on arbitrary header text.
#include <cstdlib>

#include "encoding/encoded_words.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = quillo::fuzz::AsText(data, size);
  std::string decoded;
  size_t added = quillo::DecodeBase64(text, decoded);
  // Four characters carry three bytes at most.
  if (added != decoded.size() || added > (size / 4 + 1) * 3) std::abort();
  std::string line;
  quillo::DecodeEncodedWords(text, line);
  if (line.size() > text.size()) std::abort();
  return 0;
}
