// The receiving side of POP3 fed by a hostile server: STAT, LIST into the
// header list, and a multi-line response stored with PopSaveBody.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "pop/header_list.h"
#include "pop/pop_commands.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  quillo::fuzz::UseScratchSettings();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string_view sent = quillo::fuzz::AsText(data + 2, size - 2);
  quillo::fuzz::FakeServer server(sent);
  switch (data[0] % 3) {
    case 0: {
      int count = quillo::PopStat();
      if (count < quillo::kStatFailed) std::abort();
      break;
    }
    case 1: {
      const int count = data[1] % 32;
      quillo::HeaderList list;
      if (!quillo::AllocateHeaderList(list, count)) std::abort();
      quillo::PopListSizes(list);
      if (list.size() != static_cast<size_t>(count)) std::abort();
      for (const quillo::HeaderEntry& e : list) {
        if (e.size != quillo::kSizeUnknown && e.size <= 0) std::abort();
      }
      break;
    }
    default: {
      static const std::string path = quillo::fuzz::ScratchPath("body.txt");
      quillo::PopSaveBody(path);
      break;
    }
  }
  return 0;
}
