// HtmlToText on arbitrary markup: no crash, output bounded by the input.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "mime/html_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = quillo::HtmlToText(quillo::fuzz::AsText(data, size));
  // The longest expansion is a list marker for a four-byte "<li>".
  if (text.size() > 8 * size + 1) std::abort();
  // Lines end with a line feed and never with a blank; control bytes never
  // come through.
  if (!text.empty() && text.back() != '\n') std::abort();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n') || c == 0x7F) std::abort();
    if (c == '\n' && i > 0 && text[i - 1] == ' ') std::abort();
  }
  return 0;
}
