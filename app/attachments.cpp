#include "app/attachments.h"

#include "console/pager.h"
#include "mime/attachment_name.h"
#include "mime/message.h"
#include "platform/console_charset.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "platform/text_file.h"

namespace quillo {

namespace {

// How many numbered names a part tries before it is given up.
constexpr int kMostNumberedNames = 999;

// Opens a file for `name` (UTF-8) in `directory` that did not exist before:
// the name itself, else the first free numbered one. The name taken, or "".
std::string CreateFreeFile(const std::string& directory, const std::string& name, OutputFile& out) {
  for (int n = 0; n <= kMostNumberedNames; ++n) {
    const std::string candidate = n == 0 ? name : NumberedPartName(name, n);
    const std::string path = directory + "/" + FileNameFromUtf8(candidate);
    if (out.Open(path, OutputFile::Mode::kCreateExclusive)) return candidate;
    // Only a taken name moves on to the next one.
    if (StatPath(path) == PathKind::kNone) return "";
  }
  return "";
}

bool SaveOne(const std::string& message, const MessagePart& part, const std::string& directory) {
  const std::string name = SafePartName(part.fileName, part.number, part.type);
  OutputFile out;
  const std::string taken = CreateFreeFile(directory, name, out);
  if (taken.empty()) {
    PrintErr("savefile(part %d) open error!\a\n", part.number);
    return false;
  }
  const int saved = SavePart(message, part.number, [&out](std::string_view bytes) { return out.Write(bytes); });
  if (!out.Close() || saved != 0) {
    RemoveFile(directory + "/" + FileNameFromUtf8(taken));
    PrintErr("savefile write error!(part %d)\a\n", part.number);
    return false;
  }
  PrintOut("[%d] ", part.number);
  WriteOutUtf8(SanitizeUtf8ForConsole(taken) + "\n");
  return true;
}

}  // namespace

int SaveAttachments(const std::string& path, const std::string& directory) {
  MessageView view;
  if (BuildMessageView(path, HeaderMode::kShort, view) != 0) {
    PrintErr("File not fonund!(%s)\a\n", SanitizeForConsole(path).c_str());
    return 1;
  }
  const std::string dir = directory.empty() ? std::string(".") : directory;
  if (StatPath(dir) != PathKind::kDirectory) {
    PrintErr("directory(%s) not found!\a\n", SanitizeForConsole(dir).c_str());
    return 1;
  }
  if (view.attachments.empty()) {
    WriteOut("No attachment\n");
    return 0;
  }
  int failed = 0;
  for (const MessagePart& part : view.attachments) failed += SaveOne(path, part, dir) ? 0 : 1;
  FlushOut();
  return failed == 0 ? 0 : 1;
}

}  // namespace quillo
