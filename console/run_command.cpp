#include "console/run_command.h"

#include "console/external.h"
#include "console/line_input.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/process.h"

namespace quillo {

namespace {

constexpr size_t kCommandAnswer = 60;

bool IsBlank(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

}  // namespace

std::string FileCommandLine(const std::string& command, const std::string& path) {
  return command + " " + ShellQuote(AbsolutePath(path));
}

void RunCommandOnFile(const std::string& path) {
  const std::string directory = DirectoryOf(AbsolutePath(path));
  PrintOut("Target file:%s\n", path.c_str());
  WriteOut("command:");
  std::string command;
  if (LineInput(command, kCommandAnswer) < 0) {
    WriteOut("\r\n");
    return;
  }
  if (IsBlank(command)) return;
  const std::string commandLine = FileCommandLine(command, path);
  const WorkingDirectoryScope inFileDirectory(directory);
  PrintOut("%s\n", commandLine.c_str());
  RunCommandLine(commandLine);
}

void RunShell(const std::string& folderPath) {
  const std::optional<std::string> shell = UserShell();
  if (!shell || shell->empty()) {
    WriteOut("child process not execute!\n");
    return;
  }
  const WorkingDirectoryScope inFolder(folderPath);
  RunProgram(*shell);
}

}  // namespace quillo
