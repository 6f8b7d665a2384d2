// Quoted-printable decoding: never longer than its input, and the same fed
// in two pieces cut anywhere as fed whole.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "mime/transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = quillo::fuzz::AsText(data, size);
  const std::string whole = quillo::DecodeQuotedPrintableText(text);
  if (whole.size() > size + 1) std::abort();  // a final line without a break gains none
  const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  quillo::QuotedPrintableDecoder decoder;
  std::string pieces;
  decoder.Feed(text.substr(0, cut), pieces);
  decoder.Feed(text.substr(cut), pieces);
  decoder.Finish(pieces);
  if (pieces != whole) std::abort();
  return 0;
}
