// Temporary and user files stay private: the shared `tmp` directory holds
// nothing of a run but its own 0700 directory, planted names there are never
// written through, new files and folders are the user's alone whatever the
// umask, and a settings file someone else could have written is not read.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/scripted_pop_server.h"

namespace quillo::test {
namespace {

const std::string kMessage = "From: one@example.com\r\nSubject: first\r\n\r\nsecret body\r\n";
constexpr uid_t kOtherUser = 65534;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// The umask the program starts with, for one scope.
class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : previous_(umask(mask)) {}
  ~UmaskScope() { umask(previous_); }
  UmaskScope(const UmaskScope&) = delete;
  UmaskScope& operator=(const UmaskScope&) = delete;

 private:
  mode_t previous_;
};

class PrivateFiles : public ::testing::Test {
 protected:
  void SetUp() override { box_.MakeMailbox(); }
  void Use(ScriptedPopServer& server, const std::string& extra = "") {
    ASSERT_TRUE(server.Start(30));
    box_.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=5\nheadlist=0\n" + extra);
  }
  Sandbox box_;
};

struct PlantCase {
  std::string name;
  std::vector<std::string> args;
  std::string keys;
  std::string planted;  // the fixed name planted in tmp
};

// Another user's symbolic links under the fixed names point at a file of
// the victim's: no job writes through them, and each job still does its work.
TEST_F(PrivateFiles, PlantedLinksInTheSharedTmpAreNeverWrittenThrough) {
  const std::vector<PlantCase> cases = {
      {"receive", {"-g", "-a"}, "", "tmp.txt"},
      {"header list", {"-h"}, "", "TMP.TXT"},
      {"decoded header", {"-h"}, "", "tmp2.txt"},
  };
  for (const PlantCase& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    ScriptedPopServer server({kMessage});
    ASSERT_TRUE(server.Start(30));
    box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=5\n");
    box.WriteFile("victim", "ssh-ed25519 AAAA victim\n");
    ASSERT_EQ(symlink(box.Path("victim").c_str(), box.Path("tmp/" + c.planted).c_str()), 0);
    RunResult r = box.Run(c.args, c.keys);
    EXPECT_EQ(box.ReadFile("victim"), "ssh-ed25519 AAAA victim\n") << c.name;
    EXPECT_FALSE(r.timedOut) << c.name;
    EXPECT_TRUE(Contains(r.out, "first")) << c.name << r.out << r.err;
    // The planted link is left as it was, and nothing of the run remains.
    EXPECT_EQ(box.List("tmp"), std::vector<std::string>{c.planted}) << c.name;
  }
}

// A FIFO or a file of someone else's, mode 0666, under the fixed name: the
// receive neither hangs on the FIFO nor leaves the message in that file.
TEST_F(PrivateFiles, PlantedFifoAndOpenFileCollectNothing) {
  for (const bool fifo : {true, false}) {
    Sandbox box;
    box.MakeMailbox();
    ScriptedPopServer server({kMessage});
    ASSERT_TRUE(server.Start(30));
    box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=5\nheadlist=0\n");
    const std::string planted = box.Path("tmp/tmp.txt");
    if (fifo) {
      ASSERT_EQ(mkfifo(planted.c_str(), 0666), 0);
    } else {
      box.WriteFile("tmp/tmp.txt", "");
      ASSERT_EQ(chmod(planted.c_str(), 0666), 0);
    }
    RunResult r = box.Run({"-g", "-a"}, "", {}, 20);
    EXPECT_FALSE(r.timedOut) << fifo;
    EXPECT_EQ(box.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"}) << fifo << r.err;
    if (!fifo) {
      EXPECT_EQ(box.ReadFile("tmp/tmp.txt"), "");
    }
  }
}

// With the umask at 0, what Quillo makes for the user is still theirs alone.
TEST_F(PrivateFiles, NewFilesAndFoldersArePrivateWhateverTheUmask) {
  ScriptedPopServer server({kMessage});
  Use(server);
  RunResult r;
  {
    UmaskScope open(0);
    r = box_.Run({"-g", "-a"});
  }
  ASSERT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"}) << r.err;
  EXPECT_EQ(ModeOf(box_.Path("mbox/inbox/0000.TXT")), 0600u);
  // A new mailbox and its folders, made after asking.
  box_.WriteIni("mailbox=" + box_.Path("fresh") + "\nPOPserver=" + server.Setting() + "\npasswd=secret\n");
  {
    UmaskScope open(0);
    r = box_.Run({"-l"}, "y\ny\ny\ny\n", {{"QUILLO_OFFLINE", "1"}});
  }
  for (const char* dir : {"fresh", "fresh/inbox", "fresh/outbox", "fresh/trash"}) {
    EXPECT_EQ(ModeOf(box_.Path(dir)), 0700u) << dir << r.out << r.err;
  }
}

// The external pager is given the decoded view in a file of the run's own,
// private and gone afterwards; a message without MIME under headers=all, and
// "t" always, give it the stored file itself.
TEST_F(PrivateFiles, TheExternalPagerGetsAPrivateViewRemovedAfterwards) {
  const std::string mime =
      "From: a@x\nSubject: =?UTF-8?B?5pel5pys?=\nContent-Type: text/plain; charset=UTF-8\n"
      "Content-Transfer-Encoding: base64\n\n5pys5paH\n";
  const std::string plain = "From: a@x\nSubject: \x93\xfa\x96{\n\n\x96{\x95\xb6\n";
  const struct {
    const char* name;
    std::string message, headers, key;
    bool temporary;
    std::string shown;
  } cases[] = {
      {"decoded, short header", mime, "short", "1", true, "From: a@x\nSubject: \x93\xfa\x96{\n\n\x96{\x95\xb6\n"},
      {"decoded, every field", mime, "all", "1", true,
       "From: a@x\nSubject: \x93\xfa\x96{\nContent-Type: text/plain; charset=UTF-8\n"
       "Content-Transfer-Encoding: base64\n\n\x96{\x95\xb6\n"},
      {"no MIME, every field", plain, "all", "1", false, plain},
      {"no MIME, short header", plain, "short", "1", true, plain},
      {"stored form", mime, "short", "t", false, mime},
  };
  for (const auto& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    box.WriteFile("mbox/inbox/0000.TXT", c.message);
    box.WriteFile("bin/look", "#!/bin/sh\nprintf '%s' \"$1\" > \"$HOME/path\"\ncat \"$1\" > \"$HOME/shown\"\n"
                              "stat -c %a \"$1\" \"$(dirname \"$1\")\" > \"$HOME/modes\"\n");
    ASSERT_EQ(chmod(box.Path("bin/look").c_str(), 0700), 0);
    box.WriteIni("pager=" + box.Path("bin/look") + "\nheaders=" + c.headers + "\n");
    RunResult r = box.Run({}, c.key + "\nq\n", {{"QUILLO_OFFLINE", "1"}});
    ASSERT_EQ(r.exitCode, 0) << c.name << r.err;
    EXPECT_EQ(box.ReadFile("shown"), c.shown) << c.name;
    const std::string path = box.ReadFile("path");
    if (c.temporary) {
      EXPECT_EQ(path.rfind(box.Path("tmp") + "/", 0), 0u) << c.name << " " << path;
      EXPECT_EQ(box.ReadFile("modes"), "600\n700\n") << c.name;
      EXPECT_EQ(ModeOf(path), 0u) << c.name << " left behind: " << path;
      EXPECT_TRUE(box.List("tmp").empty()) << c.name;
    } else {
      EXPECT_EQ(path, box.Path("mbox/inbox/0000.TXT")) << c.name;
    }
  }
}

// Saved attachments are the user's alone, whatever the umask.
TEST_F(PrivateFiles, SavedAttachmentsArePrivateWhateverTheUmask) {
  box_.WriteFile("m.txt", "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nhi\n--b\n"
                          "Content-Type: image/png; name=a.png\nContent-Transfer-Encoding: base64\n\niVBORw==\n--b--\n");
  box_.WriteIni();
  box_.MakeDir("out");
  RunResult r;
  {
    UmaskScope open(0);
    r = box_.Run({"-x", box_.Path("m.txt"), box_.Path("out")});
  }
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(box_.ReadFile("out/a.png"), "\x89PNG");
  EXPECT_EQ(ModeOf(box_.Path("out/a.png")), 0600u);
}

// The run's directory goes with the run: after a job, after an error and
// after a signal, the shared directory is as it was.
TEST_F(PrivateFiles, TheRunDirectoryIsRemovedAfterErrorsAndSignals) {
  ScriptedPopServer server({kMessage});
  server.Override("RETR", {"-ERR busy\r\n"});
  Use(server);
  RunResult r = box_.Run({"-g", "-a"});
  EXPECT_TRUE(Contains(r.err, "POP Protcol error!(RETR)")) << r.err;
  EXPECT_TRUE(box_.List("tmp").empty());

  for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
    PtySession menu(box_, {}, {{"QUILLO_OFFLINE", "1"}});
    ASSERT_TRUE(menu.WaitFor("(inbox):")) << menu.Output();
    // While the menu waits, its directory is there, private.
    std::vector<std::string> during = box_.List("tmp");
    ASSERT_EQ(during.size(), 1u) << sig;
    EXPECT_EQ(ModeOf(box_.Path("tmp/" + during[0])), 0700u);
    menu.Signal(sig);
    menu.Finish();
    EXPECT_TRUE(box_.List("tmp").empty()) << sig;
  }
}

struct TmpCase {
  std::string name;
  std::function<void(const Sandbox&)> make;
  std::string why;  // "" when the directory is fine
};

TEST_F(PrivateFiles, ASharedTmpThatCannotStayPrivateIsRefused) {
  const std::vector<TmpCase> cases = {
      {"sticky and open to all", [](const Sandbox& b) { chmod(b.Path("tmp").c_str(), 01777); }, ""},
      {"open to all without the sticky bit", [](const Sandbox& b) { chmod(b.Path("tmp").c_str(), 0777); },
       "writable by others without the sticky bit"},
      {"a file", [](const Sandbox& b) {
         rmdir(b.Path("tmp").c_str());
         b.WriteFile("tmp", "");
       },
       "not a directory"},
      {"another user's", [](const Sandbox& b) { chown(b.Path("tmp").c_str(), kOtherUser, kOtherUser); },
       "owned by another user"},
  };
  for (const TmpCase& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    box.WriteIni();
    c.make(box);
    RunResult r = box.Run({"-l"}, "", {{"QUILLO_OFFLINE", "1"}});
    if (c.why.empty()) {
      EXPECT_EQ(r.exitCode, 0) << c.name << r.err;
      EXPECT_FALSE(Contains(r.err, "tmp directory")) << c.name;
    } else {
      EXPECT_EQ(r.exitCode, 1) << c.name;
      EXPECT_TRUE(Contains(r.err, "tmp directory(" + box.Path("tmp") + ") error!(" + c.why + ")\a\n"))
          << c.name << r.err;
    }
  }
}

struct IniCase {
  std::string name;
  std::function<void(const std::string&)> spoil;  // applied to the first quillo.ini
  std::string why;
};

// A quillo.ini in the current directory that another user could have
// written names an editor: it is passed over, said so, and the user's own
// file further on is read instead.
TEST_F(PrivateFiles, ASettingsFileOthersCouldHaveWrittenIsNotRead) {
  const std::vector<IniCase> cases = {
      {"another user's", [](const std::string& p) { chown(p.c_str(), kOtherUser, kOtherUser); },
       "owned by another user"},
      {"group-writable", [](const std::string& p) { chmod(p.c_str(), 0664); }, "writable by group or others"},
      {"writable by all", [](const std::string& p) { chmod(p.c_str(), 0646); }, "writable by group or others"},
      {"the user's own", [](const std::string& p) { chmod(p.c_str(), 0644); }, ""},
  };
  for (const IniCase& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    box.WriteIni("editor=touch " + box.Path("ran") + " &&\n");
    box.WriteFile("own/quillo.ini", "mailbox=" + box.Path("mbox") + "\ntmp=" + box.Path("tmp") +
                                        "\nPOPserver=127.0.0.1\nPOPLogin=own\nmailto=own@example.com\neditor=true\n");
    c.spoil(box.Path("quillo.ini"));
    RunResult r = box.Run({"-w", "a@example.com"}, "y\na\n", {{"QUILLO", box.Path("own")}, {"QUILLO_OFFLINE", "1"}});
    const std::string message = "setupfile(quillo.ini) not read: " + c.why + "!\a\n";
    EXPECT_EQ(Contains(r.err, message), !c.why.empty()) << c.name << r.err;
    EXPECT_EQ(box.Exists("ran"), c.why.empty()) << c.name;
  }
}

// What a run killed outright left in tmp is removed by the next run; what
// may still be in use, or is not a private directory of this user's, stays.
TEST_F(PrivateFiles, DirectoriesOfKilledRunsAreRemovedByTheNextRun) {
  struct Left {
    const char* name;
    std::function<void(const Sandbox&, const std::string&)> make;  // makes tmp/<name>
    bool removed;
  };
  const auto privateDir = [](const Sandbox& b, const std::string& name) {
    b.MakeDir("tmp/" + name);
    chmod(b.Path("tmp/" + name).c_str(), 0700);
    b.WriteFile("tmp/" + name + "/tmp.txt", "a message\n");
  };
  const auto age = [](const Sandbox& b, const std::string& name) {
    const timespec old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    utimensat(AT_FDCWD, b.Path("tmp/" + name).c_str(), old, AT_SYMLINK_NOFOLLOW);
  };
  int heldFd = -1;
  const std::vector<Left> cases = {
      {"quillo-Kild01", [&](const Sandbox& b, const std::string& n) { privateDir(b, n); age(b, n); }, true},
      {"quillo-Fresh1", privateDir, false},
      {"quillo-Held01",
       [&](const Sandbox& b, const std::string& n) {
         privateDir(b, n);
         age(b, n);
         heldFd = open(b.Path("tmp/" + n).c_str(), O_RDONLY | O_DIRECTORY);
         flock(heldFd, LOCK_EX);
       },
       false},
      {"quillo-Open01",
       [&](const Sandbox& b, const std::string& n) {
         privateDir(b, n);
         chmod(b.Path("tmp/" + n).c_str(), 0755);
         age(b, n);
       },
       false},
      {"quillo-Other1",
       [&](const Sandbox& b, const std::string& n) {
         privateDir(b, n);
         chown(b.Path("tmp/" + n).c_str(), kOtherUser, kOtherUser);
         age(b, n);
       },
       false},
      {"quillo-Link01",
       [&](const Sandbox& b, const std::string& n) {
         privateDir(b, "target");
         age(b, "target");
         symlink(b.Path("tmp/target").c_str(), b.Path("tmp/" + n).c_str());
         age(b, n);
       },
       false},
      {"quillo-Short", [&](const Sandbox& b, const std::string& n) { privateDir(b, n); age(b, n); }, false},
  };
  box_.WriteIni("timeout=5\n");
  for (const Left& c : cases) c.make(box_, c.name);
  RunResult r = box_.Run({"-l"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  if (heldFd >= 0) close(heldFd);
  std::vector<std::string> left = box_.List("tmp");
  for (const Left& c : cases) {
    const bool gone = std::find(left.begin(), left.end(), c.name) == left.end();
    EXPECT_EQ(gone, c.removed) << c.name;
  }
  // Through the link nothing was touched.
  EXPECT_EQ(box_.ReadFile("tmp/target/tmp.txt"), "a message\n");
}

}  // namespace
}  // namespace quillo::test
