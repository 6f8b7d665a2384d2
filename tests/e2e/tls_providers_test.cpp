// Secured conversations against real servers: Dovecot with ssl = required
// (TLS at once and STLS) and an SMTP server with STARTTLS or TLS at once and
// AUTH, all with certificates the tests make themselves.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/dovecot_server.h"
#include "tests/support/harness.h"
#include "tests/support/scripted_pop_server.h"
#include "tests/support/smtp_server.h"
#include "tests/support/test_certificates.h"

namespace quillo::test {
namespace {

const std::string kMessage =
    "From: hanako@example.jp\n"
    "Subject: over tls\n"
    "Date: Tue, 16 Jan 2024 08:00:00 +0900\n"
    "\n"
    "secured body\n";

const std::string kDraft = "To: bob@example.com\nSubject: hello\n----------\n\nsecured text\n";

// Base64 of the credentials, as AUTH PLAIN and AUTH LOGIN would send them.
const char* const kCredentialForms[] = {"AHVzZXIAc2VjcmV0", "dXNlcg==", "c2VjcmV0"};

void ExpectNoSecrets(const RunResult& r, const std::string& password) {
  EXPECT_EQ(r.out.find(password), std::string::npos) << r.out;
  for (const char* form : kCredentialForms) EXPECT_EQ(r.out.find(form), std::string::npos) << form;
}

#ifdef QUILLO_HAVE_TLS

// One authority the client trusts (through cafile) and one it does not.
class TlsCertificates {
 public:
  TlsCertificates() : trusted(box.dir(), "trusted"), stranger(box.dir(), "stranger") {}
  bool Ok() const { return trusted.Ok() && stranger.Ok(); }
  Sandbox box;
  TestAuthority trusted;
  TestAuthority stranger;
};

class TlsPop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotInstalled()) GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    ASSERT_TRUE(certs_.Ok());
    // Issued for the address only: reached as "localhost" it is for the wrong host.
    IssuedCertificate good = certs_.trusted.Issue("pop", "IP:127.0.0.1");
    ASSERT_FALSE(good.certFile.empty());
    server_ = std::make_unique<DovecotServer>(DovecotTls{good.certFile, good.keyFile});
    ASSERT_TRUE(server_->Ok()) << server_->Error();
    ASSERT_TRUE(server_->AddMessage(kMessage));
    box_.MakeMailbox();
  }
  RunResult Receive(const std::string& popServer, const std::string& extra) {
    box_.WriteIni("POPserver=" + popServer + "\npasswd=secret\ntimeout=10\n" + extra);
    return box_.Run({"-g", "-a"});
  }
  std::string Trust() const { return "cafile=" + certs_.trusted.CaFile() + "\n"; }

  TlsCertificates certs_;
  std::unique_ptr<DovecotServer> server_;
  Sandbox box_;
};

TEST_F(TlsPop, MailIsReceivedOverImplicitTlsAndOverStls) {
  struct Case {
    const char* mode;
    bool implicit;
    const char* upgrade;  // what the log shows before the handshake
  };
  for (const Case& c : {Case{"tls", true, "NetOpen"}, Case{"starttls", false, "S:STLS\nR:+OK"}}) {
    SCOPED_TRACE(c.mode);
    for (const std::string& f : box_.List("mbox/inbox")) std::remove(box_.Path("mbox/inbox/" + f).c_str());
    // Each way in receives the message anew, not as one stored before.
    std::remove(box_.Path("mbox/uidlist.txt").c_str());
    const std::string where = c.implicit ? server_->TlsSetting() : server_->Setting();
    RunResult r = Receive(where, Trust() + "POPtls=" + c.mode + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
    EXPECT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"}) << r.out;
    EXPECT_EQ(box_.ReadFile("mbox/inbox/0000.TXT"), kMessage);
    // The handshake comes before USER, and only after the upgrade's reply.
    const size_t handshake = r.out.find("StartTLS(hostname:127.0.0.1)\nTLS:TLSv1.");
    ASSERT_NE(handshake, std::string::npos) << r.out;
    EXPECT_LT(r.out.find(c.upgrade), handshake);
    EXPECT_LT(handshake, r.out.find("S:USER user"));
    EXPECT_NE(r.out.find("S:PASS ******\n"), std::string::npos);
    ExpectNoSecrets(r, "secret");
  }
  // The server saw both logins come through TLS.
  const std::string log = server_->Log();
  size_t logins = 0;
  for (size_t at = log.find("Login: user=<user>"); at != std::string::npos; at = log.find("Login: user=<user>", at + 1)) {
    ++logins;
    const std::string line = log.substr(at, log.find('\n', at) - at);
    // Dovecot says "TLS" here for a secured session ("secured" for a plain one on loopback).
    EXPECT_NE(line.find(", TLS, "), std::string::npos) << line;
  }
  EXPECT_EQ(logins, 2u) << log;
}

TEST_F(TlsPop, BadCertificatesEndTheJobBeforeTheLogin) {
  IssuedCertificate expired = certs_.trusted.Issue("expired", "IP:127.0.0.1", -30, -1);
  ASSERT_FALSE(expired.certFile.empty());
  DovecotServer expiredServer(DovecotTls{expired.certFile, expired.keyFile});
  ASSERT_TRUE(expiredServer.Ok()) << expiredServer.Error();
  struct Case {
    const char* what;
    std::string popServer;
    std::string extra;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"wrong host", server_->TlsSetting("localhost"), Trust() + "POPtls=tls\n", "hostname mismatch"},
      {"untrusted", server_->TlsSetting(), "cafile=" + certs_.stranger.CaFile() + "\nPOPtls=tls\n",
       "unable to get local issuer certificate"},
      {"no cafile", server_->Setting(), "POPtls=starttls\n", "unable to get local issuer certificate"},
      {"expired", expiredServer.TlsSetting(), Trust() + "POPtls=tls\n", "certificate has expired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult r = Receive(c.popServer, c.extra);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("POPserver(" + c.popServer + ") TLS error!(certificate refused: " + c.reason + ")\a\n"),
              std::string::npos)
        << r.err;
    // Nothing after the failed handshake: no login in plain text, no mail.
    EXPECT_EQ(r.out.find("S:USER"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("NetClose"), std::string::npos);
    EXPECT_TRUE(box_.List("mbox/inbox").empty());
  }
}

TEST_F(TlsPop, StarttlsToAServerWithoutStlsIsRefused) {
  DovecotServer plain;
  ASSERT_TRUE(plain.Ok()) << plain.Error();
  ASSERT_TRUE(plain.AddMessage(kMessage));
  RunResult r = Receive(plain.Setting(), Trust() + "POPtls=starttls\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("POPserver(" + plain.Setting() + ") does not offer STLS!\a\n"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("S:CAPA\n"), std::string::npos);
  EXPECT_EQ(r.out.find("S:USER"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("S:QUIT"), std::string::npos);
  EXPECT_TRUE(box_.List("mbox/inbox").empty());
}

// Takes connections into its backlog and never says a word.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&sin), len) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) != 0)
      return;
    port_ = ntohs(sin.sin_port);
  }
  ~SilentListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST(TlsPopScripted, AServerSilentInTheHandshakeIsNotWaitedForLong) {
  SilentListener silent;
  ASSERT_GT(silent.Port(), 0);
  Sandbox box;
  box.MakeMailbox();
  const std::string where = "127.0.0.1:" + std::to_string(silent.Port());
  box.WriteIni("POPserver=" + where + "\npasswd=secret\ntimeout=1\nPOPtls=tls\n");
  const auto start = std::chrono::steady_clock::now();
  RunResult r = box.Run({"-g", "-a"}, "", {}, 20);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(Scaled(10)));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("POPserver(" + where + ") TLS error!(the server stopped answering)\a\n"), std::string::npos)
      << r.err;
}

// What no real server does on request: refuse CAPA or STLS, answer TLS in
// plain text.
TEST(TlsPopScripted, BrokenUpgradesEndTheJobWithoutALogin) {
  using Reply = ScriptedPopServer::Reply;
  struct Case {
    const char* what;
    const char* mode;
    const char* greeting;
    std::vector<std::pair<std::string, Reply>> overrides;
    std::string message;  // on standard error, after "POPserver(<address>)" where it begins with a blank
    std::vector<std::string> commands;
  };
  const std::vector<Case> cases = {
      {"plain text for TLS", "tls", "+OK plain ready\r\n", {}, " TLS error!(", {}},
      {"CAPA refused", "starttls", "+OK ready\r\n", {{"CAPA", Reply{"-ERR what\r\n"}}},
       " does not offer STLS!\a\n", {"CAPA", "QUIT"}},
      {"STLS refused", "starttls", "+OK ready\r\n",
       {{"CAPA", Reply{"+OK\r\nUSER\r\nSTLS\r\n.\r\n"}}, {"STLS", Reply{"-ERR not now\r\n"}}},
       "POP Protcol error!(STLS)[-ERR not now", {"CAPA", "STLS", "QUIT"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPopServer server;
    server.SetGreeting(c.greeting);
    for (const auto& [command, reply] : c.overrides) server.Override(command, reply);
    ASSERT_TRUE(server.Start(20));
    Sandbox box;
    box.MakeMailbox();
    box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=1\nPOPtls=" + c.mode + "\n");
    RunResult r = box.Run({"-g", "-a"}, "", {}, 20);
    EXPECT_EQ(r.exitCode, 0);
    const std::string expected = c.message[0] == ' ' ? "POPserver(" + server.Setting() + ")" + c.message : c.message;
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("S:USER"), std::string::npos) << r.out;
    if (c.mode == std::string("starttls")) {
      EXPECT_EQ(server.Commands(), c.commands);
    }
  }
}

class TlsSmtp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(certs_.Ok());
    box_.MakeMailbox();
  }
  // A server secured with a certificate of the trusted authority for `names`.
  std::unique_ptr<SmtpCaptureServer> Start(SmtpCaptureOptions::Tls tls, const std::string& names = "IP:127.0.0.1",
                                           bool auth = true) {
    IssuedCertificate cert = certs_.trusted.Issue("smtp" + std::to_string(++issued_), names);
    EXPECT_FALSE(cert.certFile.empty());
    SmtpCaptureOptions options{tls, cert.certFile, cert.keyFile, auth ? "user" : "", auth ? "secret" : ""};
    auto server = std::make_unique<SmtpCaptureServer>(options);
    EXPECT_TRUE(server->Started()) << server->Log();
    return server;
  }
  RunResult Send(const std::string& smtpServer, const std::string& extra, const std::string& input = "s\n") {
    box_.WriteFile("mbox/outbox/0000.TXT", kDraft);
    box_.WriteIni("SMTPserver=" + smtpServer + "\ntimeout=10\ncafile=" + certs_.trusted.CaFile() + "\n" + extra);
    return box_.Run({"-s"}, input);
  }

  TlsCertificates certs_;
  Sandbox box_;
  int issued_ = 0;
};

TEST_F(TlsSmtp, MailGoesOutSecuredAndAuthenticated) {
  using Tls = SmtpCaptureOptions::Tls;
  struct Case {
    const char* what;
    Tls tls;
    std::string extra;
    const char* host;
    std::string log;  // the log from the handshake to MAIL FROM
  };
  const std::vector<Case> cases = {
      {"starttls, plain", Tls::kStartTls, "SMTPtls=starttls\nSMTPauth=plain\nSMTPpasswd=secret\n", "127.0.0.1",
       "S:STARTTLS\nR:220 Ready to start TLS\nStartTLS(hostname:127.0.0.1)\nTLS:TLSv1."},
      {"starttls, login", Tls::kStartTls, "SMTPtls=STARTTLS\nSMTPauth=login\nSMTPLogin=user\nSMTPpasswd=secret\n",
       "127.0.0.1", "S:AUTH LOGIN\nR:334 VXNlciBOYW1lAA==\nS:****\nR:334 UGFzc3dvcmQA\nS:****\nR:235 "},
      // By name: the name is checked (and sent) instead of the address.
      {"tls by name, plain from passwd", Tls::kImplicit, "SMTPtls=tls\nSMTPauth=plain\npasswd=secret\n", "localhost",
       "StartTLS(hostname:localhost)\nTLS:TLSv1."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto server = Start(c.tls, c.host == std::string("localhost") ? "DNS:localhost" : "IP:127.0.0.1");
    const std::string where = std::string(c.host) + ":" + std::to_string(server->Port());
    RunResult r = Send(where, c.extra);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
    std::vector<CapturedMessage> sent = server->Messages();
    ASSERT_EQ(sent.size(), 1u) << r.out << server->Log();
    EXPECT_TRUE(sent[0].secured);
    EXPECT_EQ(sent[0].login, "user");
    // A name goes out in the handshake; an address does not.
    EXPECT_EQ(sent[0].sni, c.host == std::string("localhost") ? "localhost" : "");
    EXPECT_NE(sent[0].wire.find("\r\nsecured text\r\n"), std::string::npos);
    EXPECT_TRUE(box_.List("mbox/outbox").empty());
    EXPECT_NE(r.out.find(c.log), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("S:EHLO "), std::string::npos);
    EXPECT_EQ(r.out.find("S:HELO"), std::string::npos);
    if (c.extra.find("plain") != std::string::npos) {
      EXPECT_NE(r.out.find("\nS:AUTH PLAIN ****\nR:235 "), std::string::npos) << r.out;
    }
    ExpectNoSecrets(r, "secret");
  }
}

TEST_F(TlsSmtp, ThePasswordIsAskedForWhenNoneIsSet) {
  auto server = Start(SmtpCaptureOptions::Tls::kStartTls);
  RunResult r = Send(server->Address(), "SMTPtls=starttls\nSMTPauth=login\n", "s\nsecret\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Login Host & Name : " + server->Address() + "(user)\nPassword:"), std::string::npos) << r.out;
  std::vector<CapturedMessage> sent = server->Messages();
  ASSERT_EQ(sent.size(), 1u) << r.out;
  EXPECT_EQ(sent[0].login, "user");
  ExpectNoSecrets(r, "secret");
}

TEST_F(TlsSmtp, RefusalsKeepTheMessageInTheOutbox) {
  using Tls = SmtpCaptureOptions::Tls;
  struct Case {
    const char* what;
    Tls tls;
    const char* names;
    bool auth;
    std::string extra;
    std::string message;  // on standard error, after "SMTPserver(<address>)" where it begins with a blank
  };
  const std::vector<Case> cases = {
      {"wrong credentials", Tls::kStartTls, "IP:127.0.0.1", true,
       "SMTPtls=starttls\nSMTPauth=plain\nSMTPpasswd=wrongpass\n",
       "SMTP Login error!(user)[535 5.7.8 Authentication credentials invalid]\a\n"},
      {"wrong login name", Tls::kImplicit, "IP:127.0.0.1", true,
       "SMTPtls=tls\nSMTPauth=login\nSMTPLogin=nobody\nSMTPpasswd=secret\n",
       "SMTP Login error!(nobody)[535 5.7.8 Authentication credentials invalid]\a\n"},
      {"wrong host", Tls::kImplicit, "DNS:localhost", true, "SMTPtls=tls\nSMTPauth=plain\nSMTPpasswd=secret\n",
       " TLS error!(certificate refused: IP address mismatch)\a\n"},
      {"no starttls offered", Tls::kNone, "IP:127.0.0.1", false, "SMTPtls=starttls\n",
       " does not offer STARTTLS!\a\n"},
      {"no auth offered", Tls::kNone, "IP:127.0.0.1", false, "SMTPauth=login\nSMTPpasswd=secret\n",
       " does not offer AUTH LOGIN!\a\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto server = Start(c.tls, c.names, c.auth);
    RunResult r = Send(server->Address(), c.extra);
    EXPECT_EQ(r.exitCode, 0);
    const std::string expected = c.message[0] == ' ' ? "SMTPserver(" + server->Address() + ")" + c.message : c.message;
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err << r.out;
    EXPECT_TRUE(server->Messages().empty());
    EXPECT_EQ(r.out.find("S:MAIL FROM"), std::string::npos) << r.out;
    EXPECT_EQ(box_.List("mbox/outbox"), std::vector<std::string>{"0000.TXT"});
    ExpectNoSecrets(r, "secret");
    EXPECT_EQ(r.out.find("wrongpass"), std::string::npos);
  }
}

#else  // a build without TLS

TEST(TlsUnavailable, TlsSettingsSayThatThisBuildHasNone) {
  Sandbox box;
  box.MakeMailbox();
  box.WriteFile("mbox/outbox/0000.TXT", kDraft);
  // Nothing listens at port 9: a connection attempt would show as a different error.
  box.WriteIni("POPserver=127.0.0.1:9\nSMTPserver=127.0.0.1:9\npasswd=secret\nPOPtls=starttls\nSMTPtls=tls\n");
  RunResult r = box.Run({"-b"}, "s\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("SMTPtls=tls: this build of Quillo has no TLS!\a\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("POPtls=starttls: this build of Quillo has no TLS!\a\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("NetOpen"), std::string::npos) << r.out;
  ExpectNoSecrets(r, "secret");
}

#endif

}  // namespace
}  // namespace quillo::test
