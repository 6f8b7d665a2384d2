#include "settings/settings.h"

#include "platform/files.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "settings/key_value.h"

namespace quillo {

Settings& GetSettings() {
  static Settings settings;
  return settings;
}

namespace {

constexpr int kMinimumLines = 4;

int FlagValue(std::string_view text) { return static_cast<int>(DecimalValue(text) & 0xFF); }
int IntValue(std::string_view text) { return static_cast<int>(DecimalValue(text)); }

void ApplyEnvironment(Settings& s) {
  auto text = [](const char* name, std::string& field, size_t capacity) {
    if (auto v = GetEnv(name)) field = Capped(*v, capacity);
  };
  if (auto v = GetEnv("MBOX")) s.mailbox = Capped(WithoutTrailingSeparator(*v), cap::kMailbox);
  text("POPSERVER", s.POPserver, cap::kPOPserver);
  text("USER", s.POPLogin, cap::kPOPLogin);
  text("EDITOR", s.editor, cap::kEditor);
  text("SIGNATURE", s.signature, cap::kSignature);
  if (auto v = GetEnv("TMP")) s.tmp = Capped(WithoutTrailingSeparator(*v), cap::kTmp);
  text("NAME", s.fullname, cap::kFullname);
  if (auto v = GetEnv("LINE")) s.lines = IntValue(*v);
  text("PAGER", s.pager, cap::kPager);
}

void ApplyFile(Settings& s, const std::string& path) {
  std::string value;
  auto read = [&](const char* key) { return ReadKey(key, value, path, cap::kReadValue) == 1; };
  if (read("mailbox")) s.mailbox = Capped(WithoutTrailingSeparator(value), cap::kMailbox);
  if (read("tmp")) s.tmp = Capped(WithoutTrailingSeparator(value), cap::kTmp);
  if (read("POPserver")) s.POPserver = Capped(value, cap::kPOPserver);
  if (read("POPLogin")) s.POPLogin = Capped(value, cap::kPOPLogin);
  if (read("editor")) s.editor = Capped(value, cap::kEditor);
  if (read("signature")) s.signature = Capped(value, cap::kSignature);
  if (read("SMTPserver")) s.SMTPserver = Capped(value, cap::kSMTPserver);
  if (read("mailto")) s.mailto = Capped(value, cap::kMailto);
  if (read("fullname")) s.fullname = Capped(value, cap::kFullname);
  if (read("serverdel")) s.serverdel = FlagValue(value);
  if (read("headlist")) s.headlist = FlagValue(value);
  if (read("lines")) s.lines = IntValue(value);
  if (read("Logdisp")) s.Logdisp = FlagValue(value);
  if (read("pager")) s.pager = Capped(value, cap::kPager);
  if (read("passwd")) s.passwd = Capped(value, cap::kPasswd);
  if (read("Reciveheadlong")) s.Reciveheadlong = FlagValue(value);
  if (read("timeout")) s.timeout = IntValue(value) < 0 ? 0 : IntValue(value);
}

}  // namespace

std::string FindSettingsFile(const char* programPath) {
  std::string here = kSettingsFileName;
  if (StatPath(here) == PathKind::kFile) return here;
  if (auto dir = GetEnv("QUILLO")) {
    std::string candidate = *dir;
    if (candidate.empty() || candidate.back() != '/') candidate += '/';
    candidate += kSettingsFileName;
    if (StatPath(candidate) == PathKind::kFile) return candidate;
  }
  std::string own = ProgramDirectory(programPath) + kSettingsFileName;
  if (StatPath(own) == PathKind::kFile) return own;
  return {};
}

int LoadSettings(const char* programPath, const std::function<int(const std::string&)>& ensureFolder) {
  Settings& s = GetSettings();
  const int logdisp = s.Logdisp;  // set by start-up before loading
  s = Settings{};
  s.Logdisp = logdisp;
  ApplyEnvironment(s);

  const std::string path = FindSettingsFile(programPath);
  if (path.empty()) {
    PrintErr("not ditected setupfile(%s)!\a\n", kSettingsFileName);
    return 1;
  }
  ApplyFile(s, path);
  // The pager divides by lines - 1 and list pages show lines - 3 rows.
  if (s.lines < kMinimumLines) s.lines = kMinimumLines;

  if (s.POPserver.empty()) {
    PrintErr("POPserver error!\a\r\n");
    return 1;
  }
  if (s.POPLogin.empty()) {
    PrintErr("Login username error!\a\r\n");
    return 1;
  }
  if (s.mailto.empty()) {
    PrintErr("mailaddres error!\a\r\n");
    return 1;
  }
  s.smtpServerGiven = 1;
  if (s.SMTPserver.empty()) {
    s.SMTPserver = Capped(s.POPserver, cap::kSMTPserver);
    s.smtpServerGiven = 0;
  }
  for (const char* folder : {"inbox", "outbox", "trash"}) {
    if (ensureFolder(folder) == 0) {
      PrintErr("folder error!\a\n");
      return 1;
    }
  }
  return 0;
}

}  // namespace quillo
