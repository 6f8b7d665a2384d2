// MakeSummary on an arbitrary message file and ListDate on arbitrary values:
// a summary never outgrows the buffer every caller was built around.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "store/summary.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quillo::fuzz::QuietStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using quillo::DateForm;
  static const std::string path = quillo::fuzz::ScratchPath("0001.TXT");
  std::string_view bytes = quillo::fuzz::AsText(data, size);
  for (DateForm form : {DateForm::kShort, DateForm::kLong}) {
    std::string date;
    if (quillo::ListDate(bytes, form, date) == 1 && date.size() > 14) std::abort();
  }
  if (!quillo::fuzz::WriteBytes(path, bytes)) return 0;
  for (DateForm form : {DateForm::kShort, DateForm::kLong}) {
    std::string line;
    int length = quillo::MakeSummary(line, 9999, path, form);
    if (length < 0 || static_cast<size_t>(length) != line.size() || line.size() >= quillo::kSummaryCapacity) {
      std::abort();
    }
  }
  return 0;
}
