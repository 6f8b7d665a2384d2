#include "console/external.h"

#include "platform/files.h"
#include "platform/process.h"
#include "settings/settings.h"

namespace quillo {

namespace {

// The location EnterDirectory left; one for the process.
std::string& SavedDirectory() {
  static std::string saved;
  return saved;
}

}  // namespace

int EnterDirectory(const std::string& directory) {
  SavedDirectory() = CurrentDirectory();
  return ChangeDirectory(directory.empty() ? std::string(".") : directory) ? 1 : 0;
}

void LeaveDirectory() {
  const std::string& saved = SavedDirectory();
  if (!saved.empty()) ChangeDirectory(saved);
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::string here = CurrentDirectory();
  if (here.empty()) return path;
  if (here.back() != '/') here += '/';
  return here + path;
}

std::string EditorCommandLine(const std::string& path) {
  return GetSettings().editor + " " + ShellQuote(AbsolutePath(path));
}

int EditFile(const std::string& path) {
  if (GetSettings().editor.empty()) return -1;
  const std::string commandLine = EditorCommandLine(path);
  EnterDirectory(DirectoryOf(AbsolutePath(path)));
  int status = RunCommandLine(commandLine);
  LeaveDirectory();
  return status;
}

}  // namespace quillo
