#include <optional>
#include <string_view>

#include "app/check.h"
#include "app/dispatch.h"
#include "app/menu.h"
#include "app/options.h"
#include "console/folder_prompts.h"
#include "console/line_input.h"
#include "net/transport.h"
#include "platform/console_charset.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/run_directory.h"
#include "settings/job_options.h"
#include "settings/settings.h"
#include "settings/version.h"
#include "store/folders.h"
#include "store/header_file.h"
#include "store/move.h"

namespace quillo {

namespace {

// Files a message saved elsewhere into "inbox" with its header decoded. The
// given file itself stays; every failure has been reported where it happened.
void ImportMimeFile(const std::string& file) {
  const std::string decoded = TemporaryPath("tmp.txt");
  if (DecodeHeaderFile(file, decoded) != 0) {
    RemoveFile(decoded);  // an incomplete decoding is no message
    return;
  }
  MoveMessage(decoded, "inbox", MoveName::kNumbered);
}

// The console charset is decided once the settings are known; until then
// the locale's choice serves.
void ApplyConsoleSetting() {
  const std::string& value = GetSettings().console;
  std::optional<ConsoleCharset> charset = ConsoleCharsetSetting(value);
  if (!charset) {
    PrintErr("console setting error(%s)! auto used\a\n", value.c_str());
    charset = LocaleConsoleCharset();
  }
  SetConsoleCharset(*charset);
}

// Every temporary file of the run lives in a directory of its own under
// `tmp`; a `tmp` where that directory would not stay private is refused.
bool OpenPrivateTemporaryDirectory() {
  // A `tmp` that does not exist yet is made, the user's alone.
  // When that fails, the check below says why.
  if (StatPath(GetSettings().tmp) == PathKind::kNone) (void)MakeDirectory(GetSettings().tmp);
  std::string why;
  if (OpenRunDirectory(GetSettings().tmp, why)) return true;
  PrintErr("tmp directory(%s) error!(%s)\a\n", GetSettings().tmp.c_str(), why.c_str());
  return false;
}

bool Requested(int argc, char** argv, std::string_view option) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == option) return true;
  }
  return false;
}

}  // namespace

int RunQuillo(int argc, char** argv) {
  InitProcess();
  SetConsoleCharset(LocaleConsoleCharset());
  PrintErr("Quillo Ver.%s - console mail client\n", kVersion);
  if (HelpRequested(argc, argv)) {
    PrintUsage();
    return 1;
  }
  if (Requested(argc, argv, "--version")) {
    PrintOut("quillo %s\n", kVersion);
    return 0;
  }

  JobOptions& job = GetJobOptions();
  job.skipEditDialog = 0;
  job.sendTo.clear();
  job.targetFolder.clear();
  job.sortByDate = 0;
  job.jobGiven = 0;
  GetSettings().Logdisp = 0;

  if (LoadSettings(argc > 0 ? argv[0] : "", EnsureFolder) != 0) return 1;
  ApplyConsoleSetting();
  if (!OpenPrivateTemporaryDirectory()) return 1;

  switch (ParseOptions(argc, argv, ImportMimeFile)) {
    case ParseResult::kExitFailure: FlushOut(); return 1;
    case ParseResult::kExitSuccess: FlushOut(); return 0;
    case ParseResult::kRun: break;
  }

  job.networkUnavailable = NetProbe() & 0xFF;
  if (job.networkUnavailable) WriteErr("\r\nNetwork Driver not detect!\r\n");
  if (Requested(argc, argv, "--check")) {
    const int status = job.networkUnavailable ? 1 : CheckServers();
    FlushOut();
    return status;
  }

  if (job.jobGiven) {
    WriteOut("\n");
    const bool failed = Dispatch(job.commandCode) == kDispatchFailed;
    FlushOut();
    return failed ? 1 : 0;
  }
  MenuLoop(Dispatch);
  FlushOut();
  return 0;
}

}  // namespace quillo
