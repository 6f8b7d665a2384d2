// ReadReplyFields on an arbitrary message: every field stays within its
// capacity.
#include <cstdlib>

#include "compose/follow_up.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace cap = quillo::cap;
  static const std::string path = quillo::fuzz::ScratchPath("0001.TXT");
  if (!quillo::fuzz::WriteBytes(path, quillo::fuzz::AsText(data, size))) return 0;
  quillo::ReplyFields f;
  if (quillo::ReadReplyFields(path, f) != 1) std::abort();
  if (f.replyTo.size() >= cap::kReplyTo || f.cc.size() >= cap::kReplyCc || f.subject.size() >= cap::kReplySubject ||
      f.date.size() >= cap::kReplyDate || f.messageId.size() >= cap::kReplyMessageId ||
      f.references.size() > cap::kReplyReferences) {
    std::abort();
  }
  return 0;
}
