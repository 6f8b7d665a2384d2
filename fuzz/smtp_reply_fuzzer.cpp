// SMTP replies from a hostile server: every reply read comes to an end, and a
// judgement of "accepted" always rests on lines carrying the expected code.
#include <cstdlib>

#include "compose/smtp_session.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  quillo::fuzz::UseScratchSettings();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view sent = quillo::fuzz::AsText(data, size);
  quillo::fuzz::FakeServer server(sent);
  for (size_t replies = 0; replies <= sent.size(); ++replies) {
    quillo::SmtpReply reply = quillo::ReadSmtpReply("250");
    if (reply.ok && (reply.texts.empty() || reply.last.compare(0, 3, "250") != 0)) std::abort();
    if (!reply.ok && reply.last.empty()) return 0;
  }
  return 0;
}
