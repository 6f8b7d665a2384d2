#include "console/external.h"

#include "platform/files.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "settings/settings.h"

namespace quillo {

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || IsAbsolutePath(path)) return path;
  std::string here = CurrentDirectory();
  if (here.empty()) return path;
  if (!IsPathSeparatorAt(here, here.size() - 1)) here += '/';
  return here + path;
}

std::string EditorCommandLine(const std::string& path) {
  return GetSettings().editor + " " + ShellQuote(AbsolutePath(path));
}

int EditFile(const std::string& path) {
  if (GetSettings().editor.empty()) return -1;
  const std::string commandLine = EditorCommandLine(path);
  const WorkingDirectoryScope inFileDirectory(DirectoryOf(AbsolutePath(path)));
  return RunCommandLine(commandLine);
}

}  // namespace quillo
