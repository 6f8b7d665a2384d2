// SMTP servers for the sending tests, both on 127.0.0.1 and bounded in time.
//
// SmtpCaptureServer runs a real SMTP server (Debian's python3-aiosmtpd through
// tests/support/smtp_capture.py) that accepts every message and keeps each
// transaction's envelope and the exact bytes of its message data.
//
// ScriptedSmtpServer is a one-connection server on a thread whose replies a
// test chooses, for the conversations a real server will not hold (refusals,
// a server that stops answering).
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillo::test {

struct CapturedMessage {
  std::string mailFrom;
  std::vector<std::string> rcptTo;
  std::string wire;  // everything sent after the 354 reply, the final ".\r\n" included
  bool secured = false;  // the transaction came through TLS
  std::string login;     // who logged in; "" without AUTH
  std::string sni;       // the server name the client sent in its TLS handshake
};

// What a mail system stores for the message data of `wire`: the final
// ".\r\n" removed and the dot-stuffing undone.
std::string DeliveredForm(const std::string& wire);

// How a SmtpCaptureServer is reached. The defaults give plain SMTP without
// authentication.
struct SmtpCaptureOptions {
  enum class Tls { kNone, kStartTls, kImplicit };
  Tls tls = Tls::kNone;
  // The server's certificate and key (PEM), for kStartTls and kImplicit.
  std::string certFile;
  std::string keyFile;
  // Non-empty: AUTH PLAIN and LOGIN are offered and required.
  std::string user;
  std::string password;
  // Non-empty: AUTH XOAUTH2 and OAUTHBEARER (only) are offered and required,
  // and this access token of `oauthUser` is the one taken.
  std::string oauthUser{};
  std::string oauthToken{};
};

class SmtpCaptureServer {
 public:
  // Starts the server and waits (at most 10 s) until it listens.
  explicit SmtpCaptureServer(const SmtpCaptureOptions& options = {});
  // Stops the server, whatever state it is in, and removes its files.
  ~SmtpCaptureServer();
  SmtpCaptureServer(const SmtpCaptureServer&) = delete;
  SmtpCaptureServer& operator=(const SmtpCaptureServer&) = delete;

  bool Started() const { return port_ > 0; }
  int Port() const { return port_; }
  // "127.0.0.1:PORT", for the SMTPserver setting.
  std::string Address() const;
  // The transactions accepted so far, in order.
  std::vector<CapturedMessage> Messages() const;
  // What the server wrote on its standard error (for failure messages).
  std::string Log() const;

 private:
  void Stop();
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// The replies a ScriptedSmtpServer gives. Each is sent with CR LF added; an
// empty text means no reply at all: the server closes the connection instead.
struct SmtpScript {
  std::vector<std::string> greeting{"220 scripted.test ready"};
  std::string helo = "250 scripted.test";
  // Replies to EHLO and AUTH; lines of a multi-line reply joined by "\r\n".
  std::string ehlo = "500 unknown command";
  std::string auth = "500 unknown command";
  std::string mailFrom = "250 ok";
  // Reply to the n-th RCPT TO; those beyond the list get rcptDefault.
  std::vector<std::string> rcpt;
  std::string rcptDefault = "250 ok";
  std::string data = "354 go ahead";
  std::string endOfData = "250 queued";
  std::string quit = "221 bye";
  // Run on the server's thread when DATA arrives, before the reply.
  std::function<void()> onData;
};

class ScriptedSmtpServer {
 public:
  // Listens on 127.0.0.1 and serves one connection on a thread; the thread
  // gives up after `limitMs` whatever happens.
  explicit ScriptedSmtpServer(SmtpScript script, int limitMs = 10000);
  ~ScriptedSmtpServer();
  ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
  ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

  int Port() const { return port_; }
  std::string Address() const;
  // Waits for the conversation to end (at most the limit), then returns the
  // command lines received (without CR LF) and the message data.
  std::vector<std::string> Commands();
  std::string Data();
  // True when the client closed the connection while the server still
  // expected message data.
  bool ClosedInData();

 private:
  void Serve();
  void Finish();
  SmtpScript script_;
  int limitMs_;
  int listenFd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> commands_;
  std::string data_;
  bool closedInData_ = false;
};

}  // namespace quillo::test
