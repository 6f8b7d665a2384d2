#include "console/message_view.h"

#include "console/external.h"
#include "console/pager.h"
#include "platform/console_charset.h"
#include "platform/charset.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/run_directory.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "settings/settings.h"

namespace quillo {

namespace {

// "Opening the mail file (%s) failed." in Shift_JIS, as the listings say it.
constexpr const char* kOpenFailed =
    "\x83\x81\x81\x5b\x83\x8b\x83\x74\x83\x40\x83\x43\x83\x8b(%s)"
    "\x82\xcc\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\n";

// How many names a private view file tries before giving up.
constexpr int kViewNameTries = 100;

bool BuildView(const std::string& path, MessageView& view) {
  if (BuildMessageView(path, ViewHeaderMode(), view) == 0) return true;
  PrintErr(kOpenFailed, SanitizeForConsole(path).c_str());
  return false;
}

// A file of this run's own for the external pager, in the private run
// directory, made exclusively (never an existing name or a link planted
// there). "" when none could be made.
std::string WriteViewFile(std::string_view text) {
  for (int n = 0; n < kViewNameTries; ++n) {
    const std::string path = TemporaryPath("view-" + std::to_string(n) + ".txt");
    OutputFile out;
    if (!out.Open(path, OutputFile::Mode::kCreateExclusive)) continue;
    const bool written = out.Write(text);
    if (out.Close() && written) return path;
    RemoveFile(path);
    return "";
  }
  return "";
}

// With the whole header asked for, a message without MIME is shown from its
// file, as it always was.
bool ShownAsStored(const MessageView& view) { return view.storedAsShown && ViewHeaderMode() == HeaderMode::kAll; }

// The stored bytes of `path` on standard output, made safe for the terminal.
bool PrintStored(const std::string& path) {
  InputFile in(path);
  if (!in.IsOpen()) return false;
  std::string_view piece;
  while (in.ReadPieceView(piece)) WriteOut(SanitizeForConsole(piece));
  return !in.HadError();
}

}  // namespace

HeaderMode ViewHeaderMode() {
  return GetSettings().headers == HeaderSetting::kAll ? HeaderMode::kAll : HeaderMode::kShort;
}

void ShowMessage(const std::string& path) {
  MessageView view;
  if (!BuildView(path, view)) return;
  if (ShownAsStored(view)) {
    ShowFile(path);
    return;
  }
  if (GetSettings().pager.empty()) {
    ShowText(view.text);
    return;
  }
  // Shift_JIS like every file the pager is given, so the wrappers people
  // put around their pagers read it as they read a stored message.
  const std::string viewPath = WriteViewFile(Utf8ToSjis(SanitizeUtf8ForConsole(view.text)));
  if (viewPath.empty()) {
    WriteErr("tmpfile write error!\r\n");
    return;
  }
  ShowFile(viewPath);
  RemoveFile(viewPath);
}

int PrintMessage(const std::string& path) {
  MessageView view;
  if (!BuildView(path, view)) return 1;
  if (ShownAsStored(view)) {
    const bool printed = PrintStored(path);
    FlushOut();
    return printed ? 0 : 1;
  }
  WriteOutUtf8(SanitizeUtf8ForConsole(view.text));
  FlushOut();
  return 0;
}

}  // namespace quillo
