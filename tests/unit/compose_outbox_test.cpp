// The send job over the outbox, the copy over the outbox file, and the filing
// of sent mail into inbox.
#include "compose/outbox.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "tests/support/smtp_server.h"
#include "tests/unit/compose_fixture.h"

namespace quillo::composetest {
namespace {

class ComposeOutbox : public ComposeFixture {};

TEST_F(ComposeOutbox, CopyFileReplacesTheDestinationOrLeavesItAlone) {
  std::string bytes = "a\r\nb\0c\n";
  bytes += std::string(70000, 'x');
  box.WriteFile("tmp/src", bytes);
  box.WriteFile("mbox/outbox/0000.TXT", "old");
  Outcome ok = Call([&] { return CopyFile(box.Path("tmp/src"), box.Path("mbox/outbox/0000.TXT")); });
  EXPECT_EQ(ok.result, 0);
  EXPECT_EQ(box.ReadFile("mbox/outbox/0000.TXT"), bytes);

  box.WriteFile("mbox/outbox/0000.TXT", "old");
  Outcome missing = Call([&] { return CopyFile(box.Path("tmp/none"), box.Path("mbox/outbox/0000.TXT")); });
  EXPECT_EQ(missing.result, 1);
  EXPECT_EQ(missing.out, "mail move error!(" + box.Path("tmp/none") + ")\n");
  EXPECT_EQ(box.ReadFile("mbox/outbox/0000.TXT"), "old");

  Outcome noDir = Call([&] { return CopyFile(box.Path("tmp/src"), box.Path("nodir/0000.TXT")); });
  EXPECT_EQ(noDir.result, 1);
  EXPECT_EQ(box.List("mbox/outbox"), std::vector<std::string>{"0000.TXT"});
}

TEST_F(ComposeOutbox, TheFiledCopyIsWhatWasSentAndTheOutboxFileGoes) {
  box.WriteFile("mbox/outbox/0007.TXT", "To: a@x\n\nas typed\n");
  const std::string filed = "Date: now\nTo: a@x\nMIME-Version: 1.0\n\nas sent\n";
  Outcome o = Call([&] { return FileSentMessage(box.Path("mbox/outbox/0007.TXT"), "inbox", filed); });
  ASSERT_EQ(o.result, 0) << o.out;
  EXPECT_EQ(o.out, "Send File Moveing " + box.Path("mbox/outbox/0007.TXT") + "->" + box.Path("mbox/inbox/0007.TXT") +
                       "\n");
  EXPECT_FALSE(box.Exists("mbox/outbox/0007.TXT"));
  EXPECT_EQ(box.ReadFile("mbox/inbox/0007.TXT"), filed);
}

TEST_F(ComposeOutbox, ATakenNameInInboxGetsTheNextNumber) {
  box.WriteFile("mbox/inbox/0000.txt", "a\n");
  box.WriteFile("mbox/inbox/0001.TXT", "b\n");
  box.WriteFile("mbox/outbox/0000.TXT", "To: a@x\n\nbody\n");
  Outcome o = Call([&] { return FileSentMessage(box.Path("mbox/outbox/0000.TXT"), "inbox", "x\n"); });
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(box.List("mbox/inbox"), (std::vector<std::string>{"0000.txt", "0001.TXT", "0002.TXT"}));
}

TEST_F(ComposeOutbox, AFilingThatFailsKeepsTheOutboxFile) {
  box.WriteFile("mbox/outbox/0000.TXT", "To: a@x\n\nbody\n");
  std::filesystem::remove(box.Path("mbox/inbox"));
  Outcome o = Call([&] { return FileSentMessage(box.Path("mbox/outbox/0000.TXT"), "inbox", "x\n"); });
  EXPECT_EQ(o.result, 1);
  EXPECT_NE(o.out.find("mail move error!(" + box.Path("mbox/outbox/0000.TXT") + ")\n"), std::string::npos);
  EXPECT_NE(o.err.find("stays in the outbox"), std::string::npos);
  EXPECT_TRUE(box.Exists("mbox/outbox/0000.TXT"));
}

TEST_F(ComposeOutbox, AHalfWrittenCopyIsRemovedAndTheOutboxFileStays) {
  const std::string big = "To: a@x\n\n" + std::string(20000, 'b') + "\n";
  box.WriteFile("mbox/outbox/0000.TXT", big);
  // A child whose file size limit cuts the copy short, as a full disk would.
  std::fflush(nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    int result = FileSentMessage(box.Path("mbox/outbox/0000.TXT"), "inbox", big);
    std::fflush(nullptr);
    _exit(result == 1 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "FileSentMessage did not report the failure";
  EXPECT_TRUE(box.List("mbox/inbox").empty());
  EXPECT_EQ(box.ReadFile("mbox/outbox/0000.TXT"), big);
}

class ComposeSendJob : public ComposeFixture {
 protected:
  // The files whose "Sending" lines were printed, in order.
  std::vector<std::string> Offered(const std::string& out) const {
    std::vector<std::string> names;
    const std::string mark = "Sending " + box.Path("mbox/outbox/");
    for (size_t pos = out.find(mark); pos != std::string::npos; pos = out.find(mark, pos + 1)) {
      names.push_back(out.substr(pos + mark.size(), 8));
    }
    return names;
  }
};

TEST_F(ComposeSendJob, AnEmptyOutboxHasNothingToSend) {
  Outcome o = Call([&] { return SendOutbox(LocalHostName()); });
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.out, "no send mails\n");
}

TEST_F(ComposeSendJob, AbortingOffersTheNextFileAndAFailedCheckStopsTheRun) {
  for (const char* name : {"0000.TXT", "0001.TXT", "0002.TXT"}) box.WriteFile(std::string("mbox/outbox/") + name, "To: a@x\n\nb\n");
  box.WriteFile("mbox/outbox/notes.doc", "not a message\n");
  Outcome all = Call([&] { return SendOutbox(LocalHostName()); }, "a\na\nA\n");
  EXPECT_EQ(all.result, 1);
  std::vector<std::string> offered = Offered(all.out);
  std::sort(offered.begin(), offered.end());
  EXPECT_EQ(offered, (std::vector<std::string>{"0000.TXT", "0001.TXT", "0002.TXT"}));
  EXPECT_EQ(box.List("mbox/outbox").size(), 4u);

  box.WriteFile("mbox/outbox/0001.TXT", "Subject: no address\n\nb\n");
  Outcome stopped = Call([&] { return SendOutbox(LocalHostName()); }, "a\na\na\n");
  EXPECT_EQ(stopped.result, 0);
  offered = Offered(stopped.out);
  ASSERT_FALSE(offered.empty());
  EXPECT_EQ(offered.back(), "0001.TXT") << "the run goes on after the failed check";
  EXPECT_NE(stopped.out.find("unknown \"To:\"!\n"), std::string::npos);
}

TEST_F(ComposeSendJob, EditingRunsTheEditorAndAsksAgain) {
  WriteRecordingEditor(box, "editor.sh", "editor.log");
  GetSettings().editor = box.Path("editor.sh");
  box.WriteFile("mbox/outbox/0000.TXT", "To: a@x\n\nb\n");
  Outcome o = Call([&] { return SendOutbox(LocalHostName()); }, "e\nE\na\n");
  EXPECT_EQ(o.result, 1);
  const std::string once = box.Path("mbox/outbox") + "\n1\n[" + box.Path("mbox/outbox/0000.TXT") + "]\n";
  EXPECT_EQ(box.ReadFile("editor.log"), once + once);
  EXPECT_EQ(box.ReadFile("mbox/outbox/0000.TXT"), "To: a@x\n\nb\nedited\nedited\n");

  GetSettings().editor = box.Path("no-such-editor");
  Outcome failed = Call([&] { return SendOutbox(LocalHostName()); }, "e\n");
  EXPECT_EQ(failed.result, 0);
  EXPECT_TRUE(failed.err.ends_with("no execute Editor!(" + box.Path("no-such-editor") + " '" +
                                   box.Path("mbox/outbox/0000.TXT") + "')\a\n"))
      << failed.err;
}

TEST_F(ComposeSendJob, EnterSendsAndTheEndOfInputDoesNot) {
  test::ScriptedSmtpServer server(test::SmtpScript{});
  GetSettings().SMTPserver = server.Address();
  box.WriteFile("mbox/outbox/0000.TXT", "To: a@x\n\nb\n");
  Outcome none = Call([&] { return SendOutbox(LocalHostName()); }, "");
  EXPECT_EQ(none.result, 0);
  EXPECT_TRUE(box.Exists("mbox/outbox/0000.TXT"));

  Outcome sent = Call([&] { return SendOutbox(LocalHostName()); }, "\n");
  EXPECT_EQ(sent.result, 1) << sent.out << sent.err;
  EXPECT_TRUE(box.List("mbox/outbox").empty());
  EXPECT_EQ(box.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"});
  EXPECT_EQ(server.Commands().back(), "QUIT");
}

}  // namespace
}  // namespace quillo::composetest
