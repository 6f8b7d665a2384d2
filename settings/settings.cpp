#include "settings/settings.h"

#include <array>
#include <climits>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/keys.h"
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
// No setting gave the console's height.
constexpr int kLinesUnset = INT_MIN;

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
constexpr std::pair<const char*, HeaderSetting> kHeaderSettings[] = {{"short", HeaderSetting::kShort},
                                                                    {"all", HeaderSetting::kAll}};
constexpr std::pair<const char*, SmtpAuth> kSmtpAuths[] = {
    {"none", SmtpAuth::kNone},       {"plain", SmtpAuth::kPlain},
    {"login", SmtpAuth::kLogin},     {"xoauth2", SmtpAuth::kXoauth2},
    {"oauthbearer", SmtpAuth::kOauthbearer}};
constexpr std::pair<const char*, PopAuth> kPopAuths[] = {{"user", PopAuth::kUser},
                                                         {"plain", PopAuth::kPlain},
                                                         {"xoauth2", PopAuth::kXoauth2},
                                                         {"oauthbearer", PopAuth::kOauthbearer}};

// How a key's value is stored. Each takes the key, its (non-empty) value and
// the message of the first wrong choice, which it sets when the value is none
// of its choices (a mistyped TLS mode must not quietly mean "none").
using Store = void (*)(Settings& s, std::string_view key, const std::string& value, std::string& wrong);

template <auto Field, size_t Capacity>
void Text(Settings& s, std::string_view, const std::string& value, std::string&) {
  s.*Field = Capped(value, Capacity);
}
// A directory: one trailing '/' is removed.
template <auto Field, size_t Capacity>
void Directory(Settings& s, std::string_view, const std::string& value, std::string&) {
  s.*Field = Capped(WithoutTrailingSeparator(value), Capacity);
}
template <auto Field>
void Flag(Settings& s, std::string_view, const std::string& value, std::string&) {
  s.*Field = FlagValue(value);
}
template <auto Field>
void Number(Settings& s, std::string_view, const std::string& value, std::string&) {
  s.*Field = IntValue(value);
}
// A number of seconds; below 0 waits for ever, as 0 does.
template <auto Field>
void Seconds(Settings& s, std::string_view, const std::string& value, std::string&) {
  s.*Field = IntValue(value) < 0 ? 0 : IntValue(value);
}
template <auto Field, const auto& Names>
void Choice(Settings& s, std::string_view key, const std::string& value, std::string& wrong) {
  if (!ChoiceValue(value, Names, s.*Field) && wrong.empty()) {
    wrong = Format("%.*s error!(%s)\a\r\n", static_cast<int>(key.size()), key.data(), value.c_str());
  }
}

struct KeyRule {
  std::string_view key;
  Store store;
};

// Every key the settings file may give, in the order they are applied.
// clang-format off
constexpr KeyRule kKeyRules[] = {
    {"mailbox",        Directory<&Settings::mailbox, cap::kMailbox>},
    {"tmp",            Directory<&Settings::tmp, cap::kTmp>},
    {"POPserver",      Text<&Settings::POPserver, cap::kPOPserver>},
    {"POPLogin",       Text<&Settings::POPLogin, cap::kPOPLogin>},
    {"editor",         Text<&Settings::editor, cap::kEditor>},
    {"signature",      Text<&Settings::signature, cap::kSignature>},
    {"SMTPserver",     Text<&Settings::SMTPserver, cap::kSMTPserver>},
    {"mailto",         Text<&Settings::mailto, cap::kMailto>},
    {"fullname",       Text<&Settings::fullname, cap::kFullname>},
    {"serverdel",      Flag<&Settings::serverdel>},
    {"headlist",       Flag<&Settings::headlist>},
    {"lines",          Number<&Settings::lines>},
    {"Logdisp",        Flag<&Settings::Logdisp>},
    {"pager",          Text<&Settings::pager, cap::kPager>},
    {"passwd",         Text<&Settings::passwd, cap::kPasswd>},
    {"Reciveheadlong", Flag<&Settings::Reciveheadlong>},
    {"timeout",        Seconds<&Settings::timeout>},
    {"console",        Text<&Settings::console, cap::kConsole>},
    {"POPtls",         Choice<&Settings::POPtls, kTlsModes>},
    {"SMTPtls",        Choice<&Settings::SMTPtls, kTlsModes>},
    {"SMTPauth",       Choice<&Settings::SMTPauth, kSmtpAuths>},
    {"SMTPLogin",      Text<&Settings::SMTPLogin, cap::kSMTPLogin>},
    {"SMTPpasswd",     Text<&Settings::SMTPpasswd, cap::kSecret>},
    {"cafile",         Text<&Settings::cafile, cap::kCafile>},
    {"passwdcmd",      Text<&Settings::passwdcmd, cap::kSecret>},
    {"SMTPpasswdcmd",  Text<&Settings::SMTPpasswdcmd, cap::kSecret>},
    {"POPauth",        Choice<&Settings::POPauth, kPopAuths>},
    {"keepdays",       Number<&Settings::keepdays>},
    {"headers",        Choice<&Settings::headers, kHeaderSettings>},
};
// clang-format on

constexpr auto kFileKeys = [] {
  std::array<std::string_view, std::size(kKeyRules)> keys{};
  for (size_t k = 0; k < keys.size(); ++k) keys[k] = kKeyRules[k].key;
  return keys;
}();

// Applies the settings file; every key is read in one pass, so a file of
// many megabytes is read once, not once per key. Returns the message for the
// first choice key whose value is none of its choices, "" when all are sound.
std::string ApplyFile(Settings& s, const std::string& path) {
  std::vector<std::optional<std::string>> values;
  ReadKeys(kFileKeys, values, path, cap::kReadValue);
  std::string wrong;
  for (size_t k = 0; k < std::size(kKeyRules); ++k) {
    if (values[k] && !values[k]->empty()) kKeyRules[k].store(s, kKeyRules[k].key, *values[k], wrong);
  }
  return wrong;
}

}  // namespace

std::vector<std::string> SettingsFileCandidates(const char* programPath) {
  std::vector<std::string> candidates{kSettingsFileName};
  if (auto dir = GetEnv("QUILLO")) {
    std::string candidate = *dir;
    if (candidate.empty() || !IsPathSeparatorAt(candidate, candidate.size() - 1)) candidate += '/';
    candidates.push_back(candidate + kSettingsFileName);
  }
  candidates.push_back(ProgramDirectory(programPath) + kSettingsFileName);
  if (std::string own = UserSettingsDirectory(); !own.empty()) candidates.push_back(own + kSettingsFileName);
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

std::string SettingsFileDistrust(const std::string& path) {
  const std::optional<FileAccess> access = AccessOf(path);
  if (!access) return "cannot be looked at";
  if (!access->ownedByUserOrRoot) return "owned by another user";
  if (access->writableByOthers) return "writable by group or others";
  return {};
}

const char* SaslName(PopAuth auth) {
  switch (auth) {
    case PopAuth::kUser: return "";
    case PopAuth::kPlain: return "PLAIN";
    case PopAuth::kXoauth2: return "XOAUTH2";
    case PopAuth::kOauthbearer: return "OAUTHBEARER";
  }
  return "";
}

const char* SaslName(SmtpAuth auth) {
  switch (auth) {
    case SmtpAuth::kNone: return "";
    case SmtpAuth::kPlain: return "PLAIN";
    case SmtpAuth::kLogin: return "LOGIN";
    case SmtpAuth::kXoauth2: return "XOAUTH2";
    case SmtpAuth::kOauthbearer: return "OAUTHBEARER";
  }
  return "";
}

std::string FindSettingsFile(const char* programPath) {
  for (const std::string& candidate : SettingsFileCandidates(programPath)) {
    if (StatPath(candidate) != PathKind::kFile) continue;
    // Its commands (editor, pager, passwdcmd) run as the user and its servers
    // get the password: a file someone else could have written is passed over.
    const std::string why = SettingsFileDistrust(candidate);
    if (why.empty()) return candidate;
    PrintErr("setupfile(%s) not read: %s!\a\n", candidate.c_str(), why.c_str());
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
  s.lines = kLinesUnset;
  ApplyEnvironment(s);

  const std::string path = FindSettingsFile(programPath);
  if (path.empty()) {
    PrintErr("not ditected setupfile(%s)!\a\n", kSettingsFileName);
    std::string places;
    for (const std::string& candidate : SettingsFileCandidates(programPath)) {
      places += (places.empty() ? "" : ", ") + candidate;
    }
    PrintErr("looked for: %s\n", places.c_str());
    if (s.lines == kLinesUnset) s.lines = Settings{}.lines;
    return 1;
  }
  const std::string wrongChoice = ApplyFile(s, path);
  // Neither LINE nor lines: a terminal's own height, the default for pipes.
  if (s.lines == kLinesUnset) s.lines = TerminalRows() > 0 ? TerminalRows() : Settings{}.lines;
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
