// Runs single steps of Quillo for the benchmark script, through the same
// functions the program uses, where the command line offers no job that does
// only that step. Built by bench/run against libquillo_core.a.
//
//   driver to-sjis IN OUT      ISO-2022-JP file to Shift_JIS, line piece by
//                              line piece as received text is converted
//   driver to-jis IN OUT       Shift_JIS file to ISO-2022-JP, piece by piece as
//                              text is converted for sending
//   driver save-cache DIR N    SaveHeaderCache of N entries into DIR/poplist.ini
//                              (a first save, then the timed second one);
//                              prints the seconds of the second
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "encoding/jis.h"
#include "platform/output.h"
#include "platform/text_file.h"
#include "pop/header_cache.h"
#include "pop/header_list.h"
#include "settings/settings.h"

namespace {

using quillo::InputFile;
using quillo::OutputFile;

int Convert(const char* in, const char* out, bool toSjis) {
  InputFile input(in);
  OutputFile output;
  if (!input.IsOpen() || !output.Open(out)) {
    std::fprintf(stderr, "cannot open %s or %s\n", in, out);
    return 1;
  }
  std::string piece, converted;
  while (input.ReadPiece(piece)) {
    if (toSjis) {
      quillo::JisToSjis(piece, converted);
    } else {
      quillo::SjisToJis(piece, converted);
    }
    output.Write(converted);
  }
  return output.Close() ? 0 : 1;
}

void FillHeaderList(quillo::HeaderList& list, int count) {
  quillo::AllocateHeaderList(list, count);
  for (int i = 0; i < count; ++i) {
    list[static_cast<size_t>(i)].size = 4000 + i % 3000;
    list[static_cast<size_t>(i)].line =
        quillo::Format("%4d \x8e\x52\x93\x63\x91\xbe\x98\x59 <user%d@ \x89\xef\x8b\x63\x8e\x91\x97\xbf %d", i + 1,
                       i % 60, i);
  }
}

int SaveCache(const char* dir, int count) {
  quillo::GetSettings().mailbox = dir;
  quillo::HeaderList list;
  FillHeaderList(list, count);
  quillo::SaveHeaderCache(list, count);
  FillHeaderList(list, count);
  const auto start = std::chrono::steady_clock::now();
  quillo::SaveHeaderCache(list, count);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  quillo::FlushOut();
  std::fprintf(stderr, "%.6f\n", took.count());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "to-sjis" && argc == 4) return Convert(argv[2], argv[3], true);
  if (what == "to-jis" && argc == 4) return Convert(argv[2], argv[3], false);
  if (what == "save-cache" && argc == 4) return SaveCache(argv[2], std::atoi(argv[3]));
  std::fprintf(stderr, "usage: driver to-sjis|to-jis IN OUT | save-cache DIR COUNT\n");
  return 2;
}
