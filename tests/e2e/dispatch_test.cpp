#include <gtest/gtest.h>

#include "tests/support/harness.h"

namespace quillo::test {
namespace {

const std::string kBanner = "Quillo Ver.0.61 - console mail client\n";
const std::string kProbeFailed = "\r\nNetwork Driver not detect!\r\n";
const Env kOffline = {{"QUILLO_OFFLINE", "1"}};

class DispatchE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    box.WriteIni();
    box.MakeMailbox();
  }
  Sandbox box;
};

TEST_F(DispatchE2E, NetworkJobsAreRefusedWithoutANetwork) {
  struct Case {
    std::string option;
    std::string refusal;
  };
  const std::vector<Case> cases = {
      {"-s", "Network Driver not detect!\r\ncannot sending!\r\n"},
      // "b" stops after the send refusal: nothing is received.
      {"-b", "Network Driver not detect!\r\ncannot sending!\r\n"},
      {"-g", "Network Driver not detect!\r\ncannot getting!\r\n"},
      {"-u", "Network Driver not detect!\r\ncannot getting!\r\n"},
  };
  for (const Case& c : cases) {
    RunResult r = box.Run({c.option}, "secret\n", kOffline);
    EXPECT_EQ(r.exitCode, 0) << c.option;
    EXPECT_EQ(r.err, kBanner + kProbeFailed + c.refusal) << c.option;
    EXPECT_EQ(r.out, "\n") << c.option;
  }
}

TEST_F(DispatchE2E, HeaderListWithoutANetworkAsksNoPassword) {
  RunResult r = box.Run({"-h"}, "secret\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.find("Password:"), std::string::npos);
}

// With a network the jobs run; the POP3 server on 127.0.0.1 is absent, so
// they fail quickly after the dispatcher's own part.
TEST_F(DispatchE2E, PasswordIsAskedOnlyWhenMissing) {
  const std::string prompt = "Login Host & Name : 127.0.0.1(user)\nPassword:";
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> inOrder;  // pieces of standard output, in this order
    bool asks;
  };
  const std::vector<Case> cases = {
      {{"-b"}, {"\nSend mail\n", "Get mail\n", prompt + "******\r\n"}, true},
      {{"-g"}, {"\nGet mail\n", prompt}, true},
      {{"-g", "-p", "given"}, {"\nGet mail\n"}, false},
      {{"-u"}, {"\nUnload mail\n", prompt}, true},
      {{"-h"}, {prompt}, true},
      {{"-s"}, {"\nSend mail\n"}, false},
  };
  for (const Case& c : cases) {
    RunResult r = box.Run(c.args, "secret\n", {}, 20);
    EXPECT_FALSE(r.timedOut) << c.args[0];
    size_t at = 0;
    for (const std::string& piece : c.inOrder) {
      const size_t found = r.out.find(piece, at);
      EXPECT_NE(found, std::string::npos) << c.args[0] << " lacks " << piece << " in\n" << r.out;
      if (found != std::string::npos) at = found + piece.size();
    }
    EXPECT_EQ(r.out.find("Password:") != std::string::npos, c.asks) << c.args[0];
    // Only one password question per run.
    EXPECT_EQ(r.out.find("Password:"), r.out.rfind("Password:")) << c.args[0];
  }
}

TEST_F(DispatchE2E, WordsOfTheJobsWithoutTheirWork) {
  struct Case {
    std::vector<std::string> args;
    std::string outStart;
  };
  const std::vector<Case> cases = {
      {{"-f", "mbox/inbox/0000.TXT"}, "\nFollow mail\n"},
      {{"-w", "taro@example.jp"}, "[taro@example.jp]\n\nCreate send mail\nSend to:taro@example.jp\n"},
      {{"-w"}, "[]\n\nCreate send mail\nSend to:"},
  };
  for (const Case& c : cases) {
    RunResult r = box.Run(c.args, "", kOffline, 20);
    EXPECT_EQ(r.out.substr(0, c.outStart.size()), c.outStart) << c.args[0];
  }
}

// Showing or saving a message file tells a script whether it worked.
TEST_F(DispatchE2E, ViewAndSaveEndWithTheirStatus) {
  box.WriteFile("mbox/inbox/0000.TXT", "From: a@example.jp\nSubject: plain\n\ntext\n");
  box.WriteFile("mbox/inbox/0001.TXT",
                "From: a@example.jp\nSubject: files\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                "--b\nContent-Type: text/plain\n\ntext\n--b\nContent-Type: application/octet-stream; name=a.bin\n"
                "Content-Transfer-Encoding: base64\n\nAAEC\n--b--\n");
  box.MakeDir("saved");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // what the standard error holds, "" for nothing
  };
  const std::vector<Case> cases = {
      {{"-v", box.Path("mbox/inbox/0000.TXT")}, 0, ""},
      {{"-v", box.Path("mbox/inbox/none.TXT")}, 1, "none.TXT"},
      {{"-x", box.Path("mbox/inbox/0001.TXT"), box.Path("saved")}, 0, ""},
      {{"-x", box.Path("mbox/inbox/0000.TXT"), box.Path("saved")}, 0, ""},
      {{"-x", box.Path("mbox/inbox/none.TXT"), box.Path("saved")}, 1, "none.TXT"},
      {{"-x", box.Path("mbox/inbox/0001.TXT"), box.Path("missing")}, 1, "missing"},
  };
  for (const Case& c : cases) {
    RunResult r = box.Run(c.args, "", kOffline, 20);
    EXPECT_EQ(r.exitCode, c.status) << c.args[0] << " " << c.args[1] << "\n" << r.err;
    if (c.err.empty()) {
      EXPECT_EQ(r.err, kBanner + kProbeFailed) << c.args[1];
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(box.ReadFile("saved/a.bin"), std::string("\0\1\2", 3));
}

}  // namespace
}  // namespace quillo::test
