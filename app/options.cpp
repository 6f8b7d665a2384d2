#include "app/options.h"

#include <string_view>

#include "platform/output.h"
#include "platform/strings.h"
#include "settings/job_options.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr const char* kUsage =
    "usage1>quillo -g [-a] [-p <password>]\r\n"
    "usage2>quillo -s\r\n"
    "usage3>quillo -b [-a] [-p <password>]\r\n"
    "usage4>quillo [-e{0|1}] -w [<address>] [-i <insert-file>] [-attach <file>]...\r\n"
    "usage5>quillo [-e{0|1}] -f <forrow-orginal-file>\r\n"
    "usage6>quillo [-t <target-folder>] -m <target-file>\r\n"
    "usage7>quillo [-t <target-folder>] [-o] [-/] -l\r\n"
    "usage8>quillo [-p <password>] [-e{0|1}]\r\n"
    "usage9>quillo [-p <password>] --check\r\n";

bool IsOptionStart(char c) { return c == '-' || c == '/'; }

bool IsHelpWord(std::string_view word) {
  return word == "?" || EqualsIgnoreCase(word, "help") || EqualsIgnoreCase(word, "-help");
}

// Words that are options on their own (rows whose word must match exactly).
constexpr std::string_view kPlainWords[] = {"p", "b", "w", "s", "g", "t", "o", "/",
                                            "l", "m", "f", "a", "mime", "h", "u", "attach",
                                            "v", "x"};

bool IsPlainWord(std::string_view word) {
  for (std::string_view w : kPlainWords) {
    if (EqualsIgnoreCase(word, w)) return true;
  }
  return false;
}

// An argument after -w or -h is taken unless it is an option itself. A word
// beginning with '/' is a path there, unless it spells an option ("/g", "//",
// "/?"); a word with a further '/' inside is always a path.
bool TakesAsOptionalArgument(std::string_view arg) {
  if (arg.empty()) return true;
  if (arg[0] == '-') return false;
  if (arg[0] != '/') return true;
  std::string_view word = arg.substr(1);
  if (word == "/") return false;
  if (word.find('/') != std::string_view::npos) return true;
  if (word.empty()) return true;
  const bool optionWord = IsPlainWord(word) || IsHelpWord(word) || word[0] == 'e' || word[0] == 'E' ||
                          word[0] == 'i';
  return !optionWord;
}

[[nodiscard]] ParseResult Fail(const char* message) {
  WriteErr(message);
  return ParseResult::kExitFailure;
}

void SetJob(JobOptions& job, const char* code) {
  // Built apart and moved in: assigning the characters straight away trips a
  // false -Wrestrict warning of g++ 12 at -O3.
  job.commandCode = std::string(code);
  job.jobGiven = 1;
}

}  // namespace

void PrintUsage() { PrintErr("\r\n%s", kUsage); }

bool HelpRequested(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!arg.empty() && IsOptionStart(arg[0]) && IsHelpWord(arg.substr(1))) return true;
  }
  return false;
}

ParseResult ParseOptions(int argc, char** argv, void (*importMime)(const std::string& file)) {
  JobOptions& job = GetJobOptions();
  Settings& settings = GetSettings();
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.empty() || !IsOptionStart(arg[0])) continue;
    std::string_view word = arg.substr(1);
    const bool hasNext = i + 1 < argc;
    auto optionalNext = [&]() -> const char* {
      if (hasNext && TakesAsOptionalArgument(argv[i + 1])) return argv[++i];
      return nullptr;
    };

    if (EqualsIgnoreCase(word, "p")) {
      if (!hasNext) return Fail("\r\nPassword error!\r\n");
      settings.passwd = Capped(argv[++i], cap::kPasswd);
      // Typed for this run: it wins over the command of the settings.
      settings.passwdcmd.clear();
    } else if (!word.empty() && (word[0] == 'e' || word[0] == 'E')) {
      if (word.size() < 2 || (word[1] != '0' && word[1] != '1')) return Fail("\r\nEdit Frag Error!\r\n");
      job.skipEditDialog = static_cast<int>(DecimalValue(word.substr(1)));
    } else if (EqualsIgnoreCase(word, "b")) {
      SetJob(job, "b");
    } else if (EqualsIgnoreCase(word, "w")) {
      const char* to = optionalNext();
      job.sendTo = Capped(to ? to : "", cap::kSendTo);
      PrintOut("[%s]\n", job.sendTo.c_str());
      SetJob(job, "w");
    } else if (EqualsIgnoreCase(word, "s")) {
      SetJob(job, "s");
    } else if (EqualsIgnoreCase(word, "g")) {
      SetJob(job, "g");
    } else if (!word.empty() && word[0] == 'i') {
      if (!hasNext) return Fail("\r\nInsertfile error!\r\n");
      job.insertFile = Capped(argv[++i], cap::kInsertFile);
    } else if (EqualsIgnoreCase(word, "t")) {
      if (!hasNext) return Fail("\r\ntarget folder error!\r\n");
      job.targetFolder = Capped(argv[++i], cap::kTargetFolder);
    } else if (EqualsIgnoreCase(word, "o")) {
      job.sortByDate = 1;
    } else if (word == "/") {
      job.descending = 1;
    } else if (EqualsIgnoreCase(word, "l")) {
      SetJob(job, "l");
    } else if (EqualsIgnoreCase(word, "m") || EqualsIgnoreCase(word, "f")) {
      if (!hasNext) return Fail("\r\ntarget file error!\r\n");
      job.targetFile = Capped(argv[++i], cap::kTargetFile);
      SetJob(job, EqualsIgnoreCase(word, "m") ? "m" : "f");
    } else if (EqualsIgnoreCase(word, "attach")) {
      if (!hasNext) return Fail("\r\nAttach file error!\r\n");
      job.attachFiles.emplace_back(argv[++i]);
    } else if (EqualsIgnoreCase(word, "a")) {
      settings.headlist = 0;
    } else if (EqualsIgnoreCase(word, "mime")) {
      if (hasNext && importMime) importMime(argv[i + 1]);
      return ParseResult::kExitSuccess;
    } else if (EqualsIgnoreCase(word, "h")) {
      job.headerFileGiven = 0;
      if (const char* file = optionalNext()) {
        job.targetFile = Capped(file, cap::kTargetFile);
        job.headerFileGiven = 1;
      }
      SetJob(job, "h");
    } else if (EqualsIgnoreCase(word, "u")) {
      SetJob(job, "u");
    } else if (EqualsIgnoreCase(word, "v") || EqualsIgnoreCase(word, "x")) {
      if (!hasNext) return Fail("\r\ntarget file error!\r\n");
      job.targetFile = Capped(argv[++i], cap::kTargetFile);
      const bool save = EqualsIgnoreCase(word, "x");
      if (save) {
        const char* directory = optionalNext();
        job.saveDirectory = directory ? directory : ".";
        job.saveDirectoryGiven = 1;
      }
      SetJob(job, save ? "x" : "v");
    }
  }
  return ParseResult::kRun;
}

}  // namespace quillo
