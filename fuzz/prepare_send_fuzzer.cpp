// ExtractAddress on arbitrary recipient lists and PrepareSendFile on an
// arbitrary draft: no address taken for the envelope can break the SMTP
// command it goes into.
#include <cstdlib>

#include "compose/prepare_send.h"
#include "fuzz/fuzz_support.h"

namespace {

bool FitsCommand(const std::string& address) {
  for (char c : address) {
    if (c == '\r' || c == '\n' || c == '\0') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  quillo::fuzz::UseScratchSettings();
  quillo::GetSettings().mailto = "fuzz@example.org";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = quillo::fuzz::AsText(data, size);
  std::string address;
  for (size_t pos = 0; pos < text.size();) {
    size_t next = quillo::ExtractAddress(text, pos, address);
    if (next < pos || next > text.size()) std::abort();
    // A stop short of the end is a comma, which the next call steps over.
    pos = next == pos ? pos + 1 : next;
  }
  static const std::string draft = quillo::fuzz::ScratchPath("draft.txt");
  static const std::string send = quillo::fuzz::ScratchPath("send.txt");
  if (!quillo::fuzz::WriteBytes(draft, text)) return 0;
  quillo::RecipientList recipients;
  int count = quillo::PrepareSendFile(draft, send, recipients);
  const auto& list = recipients.addresses;
  if (count > static_cast<int>(quillo::kMaxRecipients)) std::abort();
  for (const std::string& a : list) {
    if (a.empty() || a.size() > quillo::kMaxAddressBytes || !FitsCommand(a)) std::abort();
  }
  return 0;
}
