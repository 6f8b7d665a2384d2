#include "settings/settings.h"

#include <iterator>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

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

// The value of a choice key, compared ignoring case; false for any other text.
template <typename Choice, size_t N>
bool ChoiceValue(std::string_view text, const std::pair<const char*, Choice> (&names)[N], Choice& out) {
  for (const auto& [name, choice] : names) {
    if (EqualsIgnoreCase(text, name)) {
      out = choice;
      return true;
    }
  }
  return false;
}

constexpr std::pair<const char*, TlsMode> kTlsModes[] = {
    {"none", TlsMode::kNone}, {"starttls", TlsMode::kStartTls}, {"tls", TlsMode::kImplicit}};
constexpr std::pair<const char*, SmtpAuth> kSmtpAuths[] = {
    {"none", SmtpAuth::kNone}, {"plain", SmtpAuth::kPlain}, {"login", SmtpAuth::kLogin}};

// The keys the settings file may give, all read in one pass: a file of many
// megabytes is read once, not once per key.
constexpr std::string_view kFileKeys[] = {
    "mailbox",  "tmp",      "POPserver", "POPLogin", "editor",         "signature", "SMTPserver", "mailto",
    "fullname", "serverdel", "headlist", "lines",    "Logdisp",        "pager",     "passwd",     "Reciveheadlong",
    "timeout",  "console",  "POPtls",    "SMTPtls",  "SMTPauth",       "SMTPLogin", "SMTPpasswd", "cafile"};

class FileValues {
 public:
  explicit FileValues(const std::string& path) : path_(path) {
    ReadKeys(kFileKeys, values_, path, cap::kReadValue);
  }
  // As ReadKey: true, with `value` set, when the file gives `key` a value
  // that is not empty.
  bool Read(std::string_view key, std::string& value) const {
    for (size_t k = 0; k < std::size(kFileKeys); ++k) {
      if (kFileKeys[k] != key) continue;
      if (!values_[k] || values_[k]->empty()) return false;
      value = *values_[k];
      return true;
    }
    // A key missing from the list above still reads right, only slower.
    return ReadKey(key, value, path_, cap::kReadValue) == 1;
  }

 private:
  std::string path_;
  std::vector<std::optional<std::string>> values_;
};

// Returns the message for the first choice key whose value is none of its
// choices (a mistyped TLS mode must not quietly mean "none"), "" when all are
// sound.
std::string ApplyFile(Settings& s, const std::string& path) {
  const FileValues file(path);
  std::string value;
  std::string wrong;
  auto choice = [&](const char* key, auto& field, const auto& names) {
    if (!file.Read(key, value)) return;
    if (!ChoiceValue(value, names, field) && wrong.empty()) wrong = Format("%s error!(%s)\a\r\n", key, value.c_str());
  };
  auto read = [&](const char* key) { return file.Read(key, value); };
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
  if (read("console")) s.console = Capped(value, cap::kConsole);
  choice("POPtls", s.POPtls, kTlsModes);
  choice("SMTPtls", s.SMTPtls, kTlsModes);
  choice("SMTPauth", s.SMTPauth, kSmtpAuths);
  if (read("SMTPLogin")) s.SMTPLogin = Capped(value, cap::kSMTPLogin);
  if (read("SMTPpasswd")) s.SMTPpasswd = Capped(value, cap::kSMTPpasswd);
  if (read("cafile")) s.cafile = Capped(value, cap::kCafile);
  return wrong;
}

}  // namespace

std::vector<std::string> SettingsFileCandidates(const char* programPath) {
  std::vector<std::string> candidates{kSettingsFileName};
  if (auto dir = GetEnv("QUILLO")) {
    std::string candidate = *dir;
    if (candidate.empty() || candidate.back() != '/') candidate += '/';
    candidates.push_back(candidate + kSettingsFileName);
  }
  candidates.push_back(ProgramDirectory(programPath) + kSettingsFileName);
  // Where Unix users keep their settings.
  auto xdg = GetEnv("XDG_CONFIG_HOME");
  if (xdg && !xdg->empty()) {
    candidates.push_back(WithoutTrailingSeparator(*xdg) + "/quillo/" + kSettingsFileName);
  } else if (auto home = GetEnv("HOME"); home && !home->empty()) {
    candidates.push_back(WithoutTrailingSeparator(*home) + "/.config/quillo/" + kSettingsFileName);
  }
  return candidates;
}

const char* TlsModeName(TlsMode mode) {
  for (const auto& [name, choice] : kTlsModes) {
    if (choice == mode) return name;
  }
  return "none";
}

const std::string& SmtpLoginName() {
  const Settings& s = GetSettings();
  return s.SMTPLogin.empty() ? s.POPLogin : s.SMTPLogin;
}

const std::string& SmtpPassword() {
  const Settings& s = GetSettings();
  return s.SMTPpasswd.empty() ? s.passwd : s.SMTPpasswd;
}

std::string FindSettingsFile(const char* programPath) {
  for (const std::string& candidate : SettingsFileCandidates(programPath)) {
    if (StatPath(candidate) == PathKind::kFile) return candidate;
  }
  return {};
}

std::optional<ConsoleCharset> ConsoleCharsetSetting(std::string_view value) {
  // A word, so blanks around it ("console = utf-8") do not count.
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty() || EqualsIgnoreCase(value, "auto")) return LocaleConsoleCharset();
  if (EqualsIgnoreCase(value, "sjis")) return ConsoleCharset::kShiftJis;
  if (EqualsIgnoreCase(value, "utf-8") || EqualsIgnoreCase(value, "utf8")) return ConsoleCharset::kUtf8;
  return std::nullopt;
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
    std::string places;
    for (const std::string& candidate : SettingsFileCandidates(programPath)) {
      places += (places.empty() ? "" : ", ") + candidate;
    }
    PrintErr("looked for: %s\n", places.c_str());
    return 1;
  }
  const std::string wrongChoice = ApplyFile(s, path);
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
  if (!wrongChoice.empty()) {
    WriteErr(wrongChoice);
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
