// RFC 2047 decoding and address lists on arbitrary header values: always
// valid UTF-8, always one line.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "mime/header_decode.h"
#include "platform/charset.h"

namespace {

void CheckLine(const std::string& text) {
  if (!quillo::IsValidUtf8(text) || text.find_first_of("\r\n") != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = quillo::fuzz::AsText(data, size);
  CheckLine(quillo::DecodeHeaderValue(text));
  for (const quillo::Mailbox& mailbox : quillo::ParseAddressList(text)) {
    CheckLine(mailbox.name);
    // An address is the input's words, quoted strings quoted again.
    if (mailbox.address.size() > 2 * size + 2) std::abort();
  }
  CheckLine(quillo::ListSender(text));
  std::string sjis = quillo::Utf8ToSjis(text);
  if (sjis.size() > 2 * size) std::abort();
  return 0;
}
