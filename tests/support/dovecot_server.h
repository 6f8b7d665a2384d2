// A private Dovecot POP3 server for the integration tests: its own
// configuration in a temporary directory, one passwd-file user, a maildir the
// test fills, and a free port on 127.0.0.1. The system's own configuration and
// services are never touched. The destructor stops the server and everything
// it started, and removes the directory; should the test process die first,
// the server is told to end as well.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace quillo::test {

// A certificate and its key (PEM files) for a DovecotServer that speaks TLS.
// Empty: the server speaks plain POP3 only (ssl = no).
struct DovecotTls {
  std::string certFile;
  std::string keyFile;
};

// An OAuth2 password database for a DovecotServer: XOAUTH2 and OAUTHBEARER
// logins are checked against this token introspection endpoint (a POST of
// the token). Empty: PLAIN logins against the password file only.
struct DovecotOauth {
  std::string introspectionUrl;
};

class DovecotServer {
 public:
  static constexpr const char* kUser = "user";
  static constexpr const char* kPassword = "secret";

  // With `tls` the server runs with ssl = required: its plain port offers
  // STLS, and a second port speaks TLS from the first byte.
  explicit DovecotServer(const DovecotTls& tls = {}, const DovecotOauth& oauth = {});
  ~DovecotServer();
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  // Whether the server runs; Error() says why not.
  bool Ok() const { return pid_ > 0; }
  const std::string& Error() const { return error_; }
  int Port() const { return port_; }
  // The POPserver setting that reaches it.
  std::string Setting() const { return "127.0.0.1:" + std::to_string(port_); }
  // The port that speaks TLS at once, and the setting that reaches it (on
  // `host`); 0 and nothing sensible without TLS.
  int TlsPort() const { return tlsPort_; }
  std::string TlsSetting(const std::string& host = "127.0.0.1") const {
    return host + ":" + std::to_string(tlsPort_);
  }

  // Delivers a message (LF or CR LF line ends) as the next one of the
  // maildrop. False when it cannot be written.
  bool AddMessage(const std::string& content);
  // Removes the message whose file holds `needle` (the server renames files
  // as it goes, so they are found by content). False when none does.
  bool RemoveMessageContaining(const std::string& needle);

  // A separate POP3 session: the messages now on the server, as RETR gives
  // them (CR LF line ends, byte-stuffing undone). Nothing when the session
  // fails.
  std::optional<std::vector<std::string>> Messages() const;

  // What the server logged about its finished POP3 sessions, in order.
  struct Session {
    int top = 0;
    int retr = 0;
    int deleted = 0;
  };
  // Waits until at least `count` sessions have been logged (the log line may
  // come a moment after the client has gone), then returns them all.
  std::vector<Session> Sessions(size_t count, int timeoutMs = 5000) const;
  std::string Log() const;

 private:
  bool Prepare();
  bool Launch();
  void Stop();
  std::string ConfigText() const;
  std::string SslText() const;
  std::string AuthText() const;

  DovecotTls tls_;
  DovecotOauth oauth_;
  std::string dir_;
  std::string error_;
  int port_ = 0;
  int tlsPort_ = 0;
  pid_t pid_ = -1;
  uid_t mailUid_ = 0;
  gid_t mailGid_ = 0;
  int delivered_ = 0;
};

// True when the dovecot program is installed.
bool DovecotInstalled();

}  // namespace quillo::test
