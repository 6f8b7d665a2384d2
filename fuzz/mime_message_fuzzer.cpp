// The message reader on arbitrary stored messages: the view, every part
// saved, and the quotable text, within bounds.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "mime/message.h"
#include "platform/charset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = quillo::fuzz::AsText(data, size);
  quillo::MessageView view;
  quillo::BuildMessageViewFromText(text, quillo::HeaderMode::kShort, view);
  if (!quillo::IsValidUtf8(view.text)) std::abort();
  int last = 0;
  for (const quillo::MessagePart& part : view.attachments) {
    // Parts are numbered in order, and each listed one can be saved.
    if (part.number <= last || part.shownAsText) std::abort();
    last = part.number;
    size_t saved = 0;
    const int result = quillo::SavePartFromText(text, part.number, [&](std::string_view bytes) {
      saved += bytes.size();
      return true;
    });
    if (result != 0 || saved > size) std::abort();
  }
  quillo::BuildMessageViewFromText(text, quillo::HeaderMode::kAll, view);
  if (!quillo::IsValidUtf8(view.text)) std::abort();
  return 0;
}
