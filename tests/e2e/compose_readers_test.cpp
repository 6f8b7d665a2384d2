// Sent mail read back by independent readers: every message that leaves
// through the real SMTP server is parsed by Python's email package as a
// strict reader (no defect may be registered, the attachment name form for
// old readers aside), and shows the subject, names, text and attachment
// bytes of its draft; nmh's mhshow shows the same subject and text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/smtp_server.h"

namespace quillo::test {
namespace {

constexpr const char* kChecker = QUILLO_SOURCE_DIR "/tests/support/mail_check.py";
constexpr const char* kMhshow = "/usr/bin/mh/mhshow";
// The RFC 2047 name= for old readers: Python notes it and reads it.
const std::string kOldReaderName = "Content-Type:InvalidHeaderDefect";

struct Case {
  const char* name;
  std::string draft;   // Shift_JIS, as the user leaves it in the outbox
  std::string report;  // what Python's reader shows (UTF-8)
  std::string defects = "none";
};

class ComposeReaders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(smtp.Started()) << smtp.Log();
    box.MakeMailbox();
    // 山田 太郎 as the full name, in Shift_JIS like the rest of the file.
    box.WriteIni("fullname=\x8eR\x93\x63 \x91\xbe\x98Y\nSMTPserver=" + smtp.Address() + "\n");
    box.WriteFile("report.pdf", std::string("%PDF-1.4 \0\xff\x10" "binary", 18));
    box.WriteFile("\xe5\xa0\xb1\xe5\x91\x8a.txt", "\xe5\xa0\xb1\xe5\x91\x8a\xe3\x81\xa7\xe3\x81\x99\n");
  }
  // Sends `draft` and gives the delivered form of what the server got.
  std::string Send(const std::string& draft) {
    box.WriteFile("mbox/outbox/0000.TXT", draft);
    const size_t before = smtp.Messages().size();
    RunResult r = box.Run({"-s"}, "s\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<CapturedMessage> all = smtp.Messages();
    EXPECT_EQ(all.size(), before + 1) << r.out << r.err;
    if (all.size() != before + 1) return {};
    return DeliveredForm(all.back().wire);
  }
  std::string Read(const std::string& program, const std::vector<std::string>& args, const Env& env) {
    RunResult r = RunProgram(program, args, box.Path(""), env, "", 30);
    EXPECT_EQ(r.exitCode, 0) << program << ": " << r.err;
    return r.out;
  }

  SmtpCaptureServer smtp;
  Sandbox box;
};

TEST_F(ComposeReaders, PythonsStrictReaderSeesWhatWasDrafted) {
  std::string longSubject;
  for (int i = 0; i < 30; ++i) longSubject += "\x93\xfa\x96{\x8c\xea ";  // 日本語
  std::string longSubjectUtf8;
  for (int i = 0; i < 30; ++i) longSubjectUtf8 += "日本語 ";
  const std::string me = "from: 山田 太郎 <user@example.com>\n";
  const std::vector<Case> cases = {
      {"ascii only", "To: bob@example.com\nSubject: hello\n----------\n\nplain text\n.\n",
       "subject: hello\n" + me + "to:  <bob@example.com>\ntext: 'plain text\\n.\\n'\n"},
      {"japanese subject and display names",
       "To: \x89\xd4\x8eq <hanako@example.jp>, bob@example.com (Bob)\nSubject: \x93\xfa\x96{\x8c\xea\x82\xcc\x8c\x8f\x96\xbc\n"
       "----------\n\n\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\n",
       "subject: 日本語の件名\n" + me + "to: 花子 <hanako@example.jp>,  <bob@example.com>\ntext: 'こんにちは\\n'\n"},
      {"a subject long enough to fold", "To: bob@example.com\nSubject: " + longSubject + "end\n\nb\n",
       "subject: " + longSubjectUtf8 + "end\n" + me + "to:  <bob@example.com>\ntext: 'b\\n'\n"},
      {"characters JIS X 0208 lacks go as UTF-8",
       "To: bob@example.com\nSubject: \x87@\x82\xc6\xee\xe0\n\n\x87@\x87\x41 \xee\xe0\xfb\xfc\n",
       "subject: ①と髙\n" + me + "to:  <bob@example.com>\ntext: '①② 髙髙\\n'\n"},
      {"a long line goes in base64", "To: bob@example.com\nSubject: long\n\n" + std::string(1200, 'x') + "\nend\n",
       "subject: long\n" + me + "to:  <bob@example.com>\ntext: '" + std::string(1200, 'x') + "\\nend\\n'\n"},
      {"two attachments, one with a japanese name",
       "To: bob@example.com\nSubject: files\nAttach: " + box.Path("report.pdf") + "\nAttach: " +
           box.Path("\xe5\xa0\xb1\xe5\x91\x8a.txt") + "\n----------\n\nsee attached\n",
       "subject: files\n" + me + "to:  <bob@example.com>\ntext: 'see attached\\n'\n"
       "attachment: report.pdf application/pdf "
       "e2f1de97ff171e07e7388af8363b36c514108ca7f237c2eafd37080de9f2ede9\n"
       "attachment: 報告.txt text/plain 22594c32ccc2f416431a80ccfd07d6a47509f2bdd8f7d03701f36aa025a1c757\n",
       kOldReaderName + " " + kOldReaderName},
  };
  const Env env = BaseEnv(box.Path(""));
  for (const Case& c : cases) {
    const std::string delivered = Send(c.draft);
    ASSERT_FALSE(delivered.empty()) << c.name;
    box.WriteFile("delivered.eml", delivered);
    const std::string report = Read("/usr/bin/python3", {kChecker, box.Path("delivered.eml")}, env);
    EXPECT_EQ(report, "defects: " + c.defects + "\n" + c.report) << c.name << "\n" << delivered;
  }
}

TEST_F(ComposeReaders, ARepliedMessageThreads) {
  box.WriteFile("mbox/inbox/0000.TXT", "From: Taro <taro@example.jp>\nSubject: lunch\nDate: Mon, 15 Jan 2024 10:30:00 +0900\n"
                                       "Message-Id: <2@example.jp>\nReferences: <1@example.jp>\n\nshall we?\n");
  RunResult drafted = box.Run({"-e1", "-f", box.Path("mbox/inbox/0000.TXT")}, "n\n");
  ASSERT_EQ(drafted.exitCode, 0) << drafted.err;
  const std::string delivered = Send(box.ReadFile("mbox/outbox/0000.TXT"));
  box.WriteFile("delivered.eml", delivered);
  const std::string script =
      "import email, email.policy, sys\n"
      "m = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)\n"
      "print(m['In-Reply-To'], '|', m['References'], '|', m['Subject'], '|', sum(len(p.defects) for p in m.walk()))\n";
  const std::string out = Read("/usr/bin/python3", {"-c", script, box.Path("delivered.eml")}, BaseEnv(box.Path("")));
  EXPECT_EQ(out, "<2@example.jp> | <1@example.jp> <2@example.jp> | Re: lunch | 0\n") << delivered;
}

TEST_F(ComposeReaders, NmhShowsTheSameSubjectAndText) {
  if (access(kMhshow, X_OK) != 0) GTEST_SKIP() << "nmh is not installed (scripts/setup installs it)";
  struct Shown {
    const char* name;
    std::string draft;
    std::string subject;
    std::string text;
  };
  const std::vector<Shown> cases = {
      {"ISO-2022-JP", "To: bob@example.com\nSubject: \x93\xfa\x96{\x8c\xea test\n\n\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\n",
       "Subject: 日本語 test", "こんにちは"},
      {"UTF-8", "To: bob@example.com\nSubject: \x87@ memo\n\n\x87@ \xee\xe0\n", "Subject: ① memo", "① 髙"},
  };
  box.WriteFile("mh/profile", "Path: " + box.Path("mh/Mail") + "\n");
  box.WriteFile("mh/Mail/.keep", "");
  Env env = BaseEnv(box.Path(""));
  env["MH"] = box.Path("mh/profile");
  env["LC_ALL"] = "C.UTF-8";
  env["MHPAGER"] = "cat";
  for (const Shown& c : cases) {
    std::string delivered = Send(c.draft);
    // A file on the disk has LF line ends.
    for (size_t at = delivered.find("\r\n"); at != std::string::npos; at = delivered.find("\r\n", at)) {
      delivered.erase(at, 1);
    }
    box.WriteFile("delivered.eml", delivered);
    const std::string shown = Read(kMhshow, {"-file", box.Path("delivered.eml")}, env);
    EXPECT_NE(shown.find(c.subject), std::string::npos) << c.name << "\n" << shown;
    EXPECT_NE(shown.find(c.text), std::string::npos) << c.name << "\n" << shown;
    EXPECT_NE(shown.find("山田 太郎"), std::string::npos) << c.name << "\n" << shown;
  }
}

}  // namespace
}  // namespace quillo::test
