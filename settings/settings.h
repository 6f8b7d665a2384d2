// The user's configuration: one record for the whole run.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console_charset.h"

namespace quillo {

// Field capacities in bytes, terminator included: a value keeps at most
// capacity - 1 bytes and longer values are cut.
namespace cap {
// Passwords, access tokens and the commands that print them: present-day
// OAuth2 tokens run to several kilobytes.
constexpr size_t kSecret = size_t{64} * 1024 + 1;
constexpr size_t kMailbox = 128, kPOPserver = 80, kPOPLogin = 40, kEditor = 128,
                 kSignature = 80, kQuotePrefix = 41, kSMTPserver = 80, kMailto = 80,
                 kFullname = 80, kTmp = 128, kPager = 80, kPasswd = kSecret, kReadValue = kSecret,
                 kSMTPLogin = 80, kCafile = 128, kConsole = 16;
}  // namespace cap

// How a connection is secured: not at all, by upgrading the plain
// conversation (STLS, STARTTLS), or with TLS from the first byte.
enum class TlsMode { kNone, kStartTls, kImplicit };
// How much of a message's header its view shows: Date, From, To, Cc and
// Subject, or every field.
enum class HeaderSetting { kShort, kAll };
// How the SMTP server is logged in to.
enum class SmtpAuth { kNone, kPlain, kLogin, kXoauth2, kOauthbearer };
// How the POP3 server is logged in to: USER and PASS, or one SASL method.
enum class PopAuth { kUser, kPlain, kXoauth2, kOauthbearer };

struct Settings {
  std::string mailbox;
  std::string POPserver;
  std::string POPLogin;
  std::string editor;
  std::string signature;
  std::string quotePrefix = ">";
  std::string SMTPserver;
  std::string mailto;
  std::string fullname;
  std::string tmp = "/tmp";
  int lines = 25;
  int serverdel = 0;
  // Days after its receiving that a stored message left on the server is
  // deleted there; 0 keeps it for ever.
  int keepdays = 0;
  int headlist = 1;
  int Logdisp = 0;
  std::string pager;
  int Reciveheadlong = 0;
  int smtpServerGiven = 0;
  std::string passwd;
  // A shell command whose first output line is the POP3 password (or
  // access token); it wins over passwd. SMTPpasswdcmd does the same for SMTP.
  std::string passwdcmd;
  std::string SMTPpasswdcmd;
  PopAuth POPauth = PopAuth::kUser;
  // Seconds to wait for a connection or for reply bytes; 0 waits for ever.
  int timeout = 60;
  HeaderSetting headers = HeaderSetting::kShort;
  TlsMode POPtls = TlsMode::kNone;
  TlsMode SMTPtls = TlsMode::kNone;
  SmtpAuth SMTPauth = SmtpAuth::kNone;
  // The SMTP account; empty ones fall back to POPLogin and passwd.
  std::string SMTPLogin;
  std::string SMTPpasswd;
  // A PEM file of certificates trusted besides the system's; "" for none.
  std::string cafile;
  // The terminal's character set: "auto" (from the locale), "sjis" or "utf-8".
  std::string console = "auto";
};

// The name of a TLS mode as the settings file writes it ("none", "starttls", "tls").
const char* TlsModeName(TlsMode mode);

// The SMTP login name and password in force: SMTPLogin and SMTPpasswd, or
// where they are empty POPLogin and passwd.
const std::string& SmtpLoginName();
const std::string& SmtpPassword();

// The SASL method names as servers list them ("PLAIN", "XOAUTH2", ...);
// "" for USER/PASS and for no login at all.
const char* SaslName(PopAuth auth);
const char* SaslName(SmtpAuth auth);

// The one Settings record of the process.
Settings& GetSettings();

constexpr const char* kSettingsFileName = "quillo.ini";

// Where the settings file may be, in the order it is looked for: the current
// directory, $QUILLO, the program's own directory, then
// $XDG_CONFIG_HOME/quillo (default ~/.config/quillo).
std::vector<std::string> SettingsFileCandidates(const char* programPath);

// Why the settings file at `path` is not to be trusted: "" when it is. A
// file owned by another user (root aside), or writable by its group or by
// everyone, could have been written by someone else.
std::string SettingsFileDistrust(const std::string& path);

// The first candidate that exists and is trusted, or "" when none does; a
// candidate passed over for distrust is reported on standard error.
std::string FindSettingsFile(const char* programPath);

// Fills GetSettings() from defaults, the environment and the settings file,
// checks the required values and has `ensureFolder` check (or create) "inbox",
// "outbox" and "trash". Returns 0 when complete, 1 after writing a message to
// standard error.
int LoadSettings(const char* programPath, const std::function<int(const std::string&)>& ensureFolder);

// The console charset a `console` value asks for ("auto" takes the locale's
// choice); nothing when the value names none.
std::optional<ConsoleCharset> ConsoleCharsetSetting(std::string_view value);

}  // namespace quillo
