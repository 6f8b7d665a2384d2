// Sending through a real SMTP server: the exact bytes on the wire, the
// envelope, the filed copy, and the drafting jobs that lead there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/shell_scripts.h"
#include "tests/support/smtp_server.h"

namespace quillo::test {
namespace {

const std::string kMailer =
    std::string("X-Mailer: kelvaro Quillo Ver.0.61[") + (TestingWindowsBuild() ? "WinSock" : "POSIX") + "] ";
const std::string kLong = std::string(980, 'a') + ".not stuffed";  // 992 bytes: one wire line
const std::string kPlainMime =
    "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n"
    "[stamp]\r\n";

// `wire` with its Date and Message-ID lines as "[stamp]".
std::string WithoutStamp(const std::string& wire) {
  static const std::regex kStamp("\r\nDate: [^\r]+\r\nMessage-ID: <[^>\r]+@example\\.com>\r\n");
  return std::regex_replace(wire, kStamp, "\r\n[stamp]\r\n", std::regex_constants::format_first_only);
}

class ComposeSendE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(smtp.Started()) << "the capturing SMTP server (python3-aiosmtpd) did not start:\n" << smtp.Log();
    box.MakeMailbox();
    box.WriteIni("fullname=Me Myself\nSMTPserver=" + smtp.Address() + "\n" + extraIni);
  }
  // The only captured transaction.
  CapturedMessage Only() {
    std::vector<CapturedMessage> all = smtp.Messages();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? CapturedMessage{} : all[0];
  }
  std::string extraIni;
  SmtpCaptureServer smtp;
  Sandbox box;
};

TEST_F(ComposeSendE2E, TheWireCarriesJisDotsLongLinesAndNoBcc) {
  box.WriteFile("mbox/outbox/0000.TXT",
                "From: whoever <x@y>\n"
                "To: Taro <taro@example.jp>\n"
                "Cc: \n"
                "Bcc: hidden@example.jp,\n"
                " second@example.jp\n"
                "Subject: \x93\xfa\x96{\x8c\xea test\n"
                "Date: Mon, 1 Jan 2024 00:00:00 +0900\n"
                "----------\n"
                "\n"
                "first\n"
                ".\n"
                ".leading\n" +
                    kLong + "\n"
                "\x82\xa0 body\n");
  RunResult r = box.Run({"-s"}, "s\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  CapturedMessage m = Only();
  EXPECT_EQ(m.mailFrom, "user@example.com");
  EXPECT_EQ(m.rcptTo, (std::vector<std::string>{"taro@example.jp", "hidden@example.jp", "second@example.jp"}));
  EXPECT_EQ(WithoutStamp(m.wire),
            "From: Me Myself <user@example.com>\r\n"
            "To: Taro <taro@example.jp>\r\n"
            "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= test\r\n" +
                kPlainMime + kMailer + "\r\n"
                "\r\n"
                "first\r\n"
                "..\r\n"
                "..leading\r\n" +
                kLong + "\r\n"
                "\x1b$B$\"\x1b(B body\r\n"
                ".\r\n");

  // The filed copy: a fresh Date line first, the user's Date line gone, Bcc kept.
  EXPECT_TRUE(box.List("mbox/outbox").empty());
  const std::string filed = box.ReadFile("mbox/inbox/0000.TXT");
  const size_t dateEnd = filed.find('\n');
  EXPECT_TRUE(std::regex_match(filed.substr(0, dateEnd),
                               std::regex(R"(Date: \w{3}, \d{1,2} \w{3} \d{4} \d\d:\d\d:\d\d \+0000 \(\w*\))")))
      << filed.substr(0, dateEnd);
  EXPECT_NE(m.wire.find("\r\n" + filed.substr(0, dateEnd) + "\r\n"), std::string::npos) << "the Date of the wire";
  const std::string filedRest = filed.substr(dateEnd + 1);
  const size_t idStart = filedRest.find("Message-ID: <");
  ASSERT_NE(idStart, std::string::npos) << filedRest;
  // The same Message-ID as on the wire.
  const std::string idLine = filedRest.substr(idStart, filedRest.find('\n', idStart) - idStart);
  EXPECT_NE(m.wire.find("\r\n" + idLine + "\r\n"), std::string::npos) << idLine;
  EXPECT_EQ(filedRest,
            "From: Me Myself <user@example.com>\n"
            "To: Taro <taro@example.jp>\n"
            "Bcc: hidden@example.jp,\n"
            " second@example.jp\n"
            "Subject: \x93\xfa\x96{\x8c\xea test\n"
            "MIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n" +
                idLine + "\n" + kMailer + "\n"
                "\n"
                "first\n"
                ".\n"
                ".leading\n" +
                kLong + "\n"
                "\x82\xa0 body\n");
  EXPECT_NE(r.out.find("Send File Moveing "), std::string::npos);
}

TEST_F(ComposeSendE2E, ADraftFromTheTemplateWaitsThenGoesOut) {
  box.WriteFile("insert.txt", "inserted text\n");
  box.WriteFile("sig.txt", "-- \nMe\n");
  box.WriteIni("fullname=Me Myself\nSMTPserver=" + smtp.Address() + "\nsignature=" + box.Path("sig.txt") + "\n");
  RunResult draft = box.Run({"-e1", "-w", "bob@example.com", "-i", box.Path("insert.txt")});
  ASSERT_EQ(draft.exitCode, 0) << draft.err;
  EXPECT_TRUE(smtp.Messages().empty());
  EXPECT_EQ(box.ReadFile("mbox/outbox/0000.TXT"),
            "From: Me Myself <user@example.com>\nTo: bob@example.com\nCc: \nBcc: \nSubject: \n----------\n\n"
            "inserted text\n\n-- \nMe\n");

  RunResult sent = box.Run({"-s"}, "\n");
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  EXPECT_NE(sent.out.find("Send to:bob@example.com\nMail Send?(send[s]/Abort[a]/Edit[e]):"), std::string::npos)
      << sent.out;
  CapturedMessage m = Only();
  EXPECT_EQ(m.rcptTo, std::vector<std::string>{"bob@example.com"});
  EXPECT_EQ(WithoutStamp(m.wire), "From: Me Myself <user@example.com>\r\nTo: bob@example.com\r\n" + kPlainMime +
                                      kMailer + "\r\n\r\ninserted text\r\n\r\n-- \r\nMe\r\n.\r\n");
  EXPECT_EQ(box.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"});
}

TEST_F(ComposeSendE2E, EditedInTheEditorAndSentAtOnce) {
  box.WriteFile("editor.sh",
                "#!/bin/sh\n"
                "{ pwd; echo \"$#\"; echo \"[$1]\"; } >> '" + box.Path("editor.log") + "'\n"
                "sed -i 's/^Subject: $/Subject: edited/' \"$1\"\n");
  chmod(box.Path("editor.sh").c_str(), 0755);
  box.WriteIni("fullname=Me Myself\nSMTPserver=" + smtp.Address() + "\neditor=" + box.Path("editor.sh") + "\n");
  RunResult r = box.Run({"-w", "bob@example.com"}, "y\ns\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(box.ReadFile("editor.log"), box.Path("mbox/outbox") + "\n1\n[" + box.Path("mbox/outbox/0000.TXT") + "]\n");
  CapturedMessage m = Only();
  EXPECT_NE(m.wire.find("\r\nSubject: edited\r\n"), std::string::npos) << m.wire;
  EXPECT_TRUE(box.List("mbox/outbox").empty());
  EXPECT_EQ(box.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"});
}

TEST_F(ComposeSendE2E, TheAddressBookFillsAnEmptyAnswer) {
  box.WriteFile("mbox/mailidx.txt", "2\nTaro <taro@example.jp>\nhanako@example.jp\n");
  RunResult r = box.Run({"-e1", "-w"}, "\n1\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Send to:\r\nSerching mailidx.txt..\n"), std::string::npos) << r.out;
  EXPECT_TRUE(box.ReadFile("mbox/outbox/0000.TXT")
                  .starts_with("From: Me Myself <user@example.com>\nTo: Taro <taro@example.jp>\nCc: \n"));
}

TEST_F(ComposeSendE2E, AFollowUpQuotesAndIsSentLater) {
  box.WriteFile("mbox/inbox/0000.TXT",
                "Return-Path: <taro@example.jp>\nFrom: Taro <taro@example.jp>\nSubject: lunch\n"
                "Date: Mon, 15 Jan 2024 10:30:00 +0900\nMessage-Id: <1@example.jp>\n\nshall we?\n");
  RunResult r = box.Run({"-e1", "-f", box.Path("mbox/inbox/0000.TXT")}, "y\n\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string draft = box.ReadFile("mbox/outbox/0000.TXT");
  EXPECT_EQ(draft.substr(0, draft.find("----------")),
            "From: Me Myself <user@example.com>\nTo: <taro@example.jp>\nSubject: Re: lunch\n"
            "In-Reply-To: Your message of \" Mon, 15 Jan 2024 10:30:00 +0900\"\n              <1@example.jp>\n"
            "References: <1@example.jp>\n");
  EXPECT_NE(draft.find("\n>From: Taro <taro@example.jp>\n"), std::string::npos);

  RunResult sent = box.Run({"-s"}, "s\n");
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  CapturedMessage m = Only();
  EXPECT_EQ(m.rcptTo, std::vector<std::string>{"taro@example.jp"});
  // Threaded on the wire: the bare id, and the References.
  EXPECT_NE(m.wire.find("\r\nIn-Reply-To: <1@example.jp>\r\nReferences: <1@example.jp>\r\n"), std::string::npos)
      << m.wire;
  EXPECT_NE(m.wire.find("\r\n>shall we?\r\n"), std::string::npos);
}

TEST_F(ComposeSendE2E, BothSendsFirstThenReceives) {
  box.WriteFile("mbox/outbox/0000.TXT", "To: bob@example.com\n\nhello\n");
  // Nothing listens at the POP3 port: receiving fails after the message went out.
  box.WriteIni("SMTPserver=" + smtp.Address() + "\npasswd=secret\n");
  std::string ini = box.ReadFile("quillo.ini");
  ini.replace(ini.find("POPserver=127.0.0.1"), 19, "POPserver=127.0.0.1:9");
  box.WriteFile("quillo.ini", ini);
  RunResult r = box.Run({"-b"}, "s\n");
  EXPECT_EQ(r.exitCode, 0);
  const size_t send = r.out.find("Send mail\n");
  const size_t get = r.out.find("Get mail\n");
  ASSERT_NE(send, std::string::npos);
  ASSERT_NE(get, std::string::npos);
  EXPECT_LT(send, get);
  EXPECT_EQ(Only().rcptTo, std::vector<std::string>{"bob@example.com"});
  EXPECT_EQ(box.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"});
}

}  // namespace
}  // namespace quillo::test
