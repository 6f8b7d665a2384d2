// Content-Type and Content-Disposition parameters (RFC 2045, RFC 2231
// sections and charsets) on arbitrary field values.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "mime/content_type.h"
#include "platform/charset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = quillo::fuzz::AsText(data, size);
  const quillo::ParameterField field = quillo::ParseParameterField(text);
  if (field.value.size() > size) std::abort();
  for (const auto& [name, value] : field.parameters) {
    if (name.empty()) std::abort();
    if (!quillo::IsValidUtf8(quillo::ParameterText(field, name))) std::abort();
  }
  return 0;
}
