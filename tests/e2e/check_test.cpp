// `quillo --check` against the real servers: plain and secured, with a good
// and with an expired certificate, with the right and a wrong password. It
// must report what a user needs, change nothing, and exit 0 only when both
// logins work.
#include <gtest/gtest.h>

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

const std::string kMessage = "From: hanako@example.jp\nSubject: checked\n\nstays on the server\n";

// The value of the report line `label` ("login:") in the section of `title`.
std::string ReportValue(const std::string& out, const std::string& title, const std::string& label) {
  const size_t section = out.find(title + " server ");
  if (section == std::string::npos) return "(no section)";
  const size_t at = out.find("  " + label, section);
  if (at == std::string::npos) return "(no line)";
  size_t start = at + 2 + label.size();
  while (start < out.size() && out[start] == ' ') ++start;
  return out.substr(start, out.find('\n', start) - start);
}

class Check : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotInstalled()) GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    box_.MakeMailbox();
  }
  RunResult RunCheck(const std::string& ini) {
    box_.WriteIni(ini + "timeout=10\n");
    return box_.Run({"--check"});
  }
  Sandbox box_;
};

TEST_F(Check, PlainServersReportedAndLeftAsTheyWere) {
  DovecotServer pop;
  ASSERT_TRUE(pop.Ok()) << pop.Error();
  ASSERT_TRUE(pop.AddMessage(kMessage));
  SmtpCaptureServer smtp(SmtpCaptureOptions{SmtpCaptureOptions::Tls::kNone, "", "", "user", "secret"});
  ASSERT_TRUE(smtp.Started()) << smtp.Log();
  struct Case {
    const char* name;
    std::string ini;
    int exitCode;
    const char* popLogin;
    const char* smtpLogin;
  };
  const Case cases[] = {
      {"both good", "passwd=secret\nSMTPauth=plain\n", 0, "ok", "ok"},
      // No login asked for: greeting and EHLO are all there is to check.
      {"SMTP without AUTH", "passwd=secret\n", 0, "ok", "none asked for"},
      {"wrong POP3 password", "passwd=wrong\nSMTPpasswd=secret\nSMTPauth=login\n", 1, "failed", "ok"},
      {"SASL PLAIN", "passwd=secret\nPOPauth=plain\nSMTPauth=plain\n", 0, "ok", "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult r = RunCheck("POPserver=" + pop.Setting() + "\nSMTPserver=" + smtp.Address() + "\n" + c.ini);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_EQ(ReportValue(r.out, "POP3", "address:"), "127.0.0.1 port " + std::to_string(pop.Port()));
    EXPECT_EQ(ReportValue(r.out, "SMTP", "address:"), "127.0.0.1 port " + std::to_string(smtp.Port()));
    EXPECT_EQ(ReportValue(r.out, "POP3", "TLS:"), "none");
    EXPECT_EQ(ReportValue(r.out, "POP3", "login:"), c.popLogin) << r.out;
    EXPECT_EQ(ReportValue(r.out, "SMTP", "login:"), c.smtpLogin) << r.out;
    const std::string popCapabilities = ReportValue(r.out, "POP3", "capabilities:");
    EXPECT_NE(popCapabilities.find("UIDL"), std::string::npos) << popCapabilities;
    EXPECT_NE(popCapabilities.find("SASL PLAIN"), std::string::npos) << popCapabilities;
    const std::string smtpCapabilities = ReportValue(r.out, "SMTP", "capabilities:");
    EXPECT_NE(smtpCapabilities.find("8BITMIME"), std::string::npos) << smtpCapabilities;
    EXPECT_NE(smtpCapabilities.find("AUTH LOGIN PLAIN"), std::string::npos) << smtpCapabilities;
    if (std::string(c.popLogin) == "ok") {
      EXPECT_EQ(ReportValue(r.out, "POP3", "messages:"), "1");
    }
    // Neither a message fetched nor one sent.
    EXPECT_EQ(r.out.find("S:RETR"), std::string::npos);
    EXPECT_EQ(r.out.find("S:DELE"), std::string::npos);
    EXPECT_EQ(r.out.find("S:MAIL FROM"), std::string::npos);
    EXPECT_EQ(r.out.find("secret"), std::string::npos);
  }
  EXPECT_TRUE(smtp.Messages().empty());
  const auto left = pop.Messages();
  ASSERT_TRUE(left);
  EXPECT_EQ(left->size(), 1u);
  EXPECT_TRUE(box_.List("mbox/inbox").empty());
}

TEST_F(Check, NoServerListeningIsAFailedCheck) {
  RunResult r = RunCheck("POPserver=127.0.0.1:" + std::to_string(UnusedLocalPort()) + "\npasswd=x\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReportValue(r.out, "POP3", "address:"), "(not connected)");
  EXPECT_EQ(ReportValue(r.out, "POP3", "login:"), "failed");
  EXPECT_NE(r.err.find("connect error to POP server!"), std::string::npos) << r.err;
}

#ifdef QUILLO_HAVE_TLS

TEST_F(Check, SecuredServersShowTheirCertificatesTrustedOrNot) {
  Sandbox certs;
  TestAuthority authority(certs.dir(), "checkca");
  ASSERT_TRUE(authority.Ok());
  IssuedCertificate good = authority.Issue("good", "IP:127.0.0.1");
  IssuedCertificate expired = authority.Issue("expired", "IP:127.0.0.1", -30, -1);
  ASSERT_FALSE(good.certFile.empty());
  ASSERT_FALSE(expired.certFile.empty());
  DovecotServer pop(DovecotTls{good.certFile, good.keyFile});
  ASSERT_TRUE(pop.Ok()) << pop.Error();
  DovecotServer stale(DovecotTls{expired.certFile, expired.keyFile});
  ASSERT_TRUE(stale.Ok()) << stale.Error();
  SmtpCaptureServer smtp(
      SmtpCaptureOptions{SmtpCaptureOptions::Tls::kStartTls, good.certFile, good.keyFile, "user", "secret"});
  ASSERT_TRUE(smtp.Started()) << smtp.Log();
  const std::string common = "cafile=" + authority.CaFile() + "\npasswd=secret\nSMTPauth=plain\nSMTPtls=starttls\n" +
                             "SMTPserver=" + smtp.Address() + "\n";

  RunResult r = RunCheck(common + "POPserver=" + pop.TlsSetting() + "\nPOPtls=tls\n");
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const char* title : {"POP3", "SMTP"}) {
    SCOPED_TRACE(title);
    EXPECT_EQ(ReportValue(r.out, title, "TLS:").rfind("TLSv1.", 0), 0u) << r.out;
    EXPECT_NE(ReportValue(r.out, title, "issuer:").find("checkca"), std::string::npos) << r.out;
    EXPECT_NE(ReportValue(r.out, title, "expires:").find("GMT"), std::string::npos) << r.out;
    EXPECT_EQ(ReportValue(r.out, title, "trusted:"), "yes");
    EXPECT_EQ(ReportValue(r.out, title, "login:"), "ok");
  }
  // STARTTLS is asked for before TLS; what is reported is the list after it.
  EXPECT_NE(ReportValue(r.out, "SMTP", "capabilities:").find("AUTH"), std::string::npos);

  RunResult e = RunCheck(common + "POPserver=" + stale.TlsSetting() + "\nPOPtls=tls\n");
  EXPECT_EQ(e.exitCode, 1);
  EXPECT_NE(e.err.find("TLS error!(certificate refused: certificate has expired)"), std::string::npos) << e.err;
  EXPECT_EQ(ReportValue(e.out, "POP3", "TLS:"), "failed");
  EXPECT_EQ(ReportValue(e.out, "POP3", "trusted:"), "no") << e.out;
  EXPECT_NE(ReportValue(e.out, "POP3", "certificate:"), "(no line)");
  EXPECT_EQ(ReportValue(e.out, "POP3", "login:"), "failed");
  EXPECT_EQ(e.out.find("S:USER"), std::string::npos);
  // The SMTP server was checked all the same.
  EXPECT_EQ(ReportValue(e.out, "SMTP", "login:"), "ok");
}

#endif

}  // namespace
}  // namespace quillo::test
