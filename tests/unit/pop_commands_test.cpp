#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "pop/header_list.h"
#include "pop/pop_commands.h"
#include "platform/text_file.h"
#include "tests/unit/pop_fixture.h"

namespace quillo::test {
namespace {

using Reply = ScriptedPopServer::Reply;

std::string Repeated(std::string_view text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::string ReadFileBytes(const std::string& path) {
  std::string content;
  ReadWholeFile(path, content);
  return content;
}

void WriteBytes(const std::string& path, const std::string& content) {
  OutputFile out;
  ASSERT_TRUE(out.Open(path));
  out.Write(content);
  ASSERT_TRUE(out.Close());
}

std::vector<std::string> ListOf(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  return names;
}

struct BodyCase {
  std::string name;
  std::string wire;      // the response after "+OK\r\n"
  bool closes;           // the server hangs up after sending it
  int result;
  std::string stored;
  std::string dots;      // what PopSaveBody writes to standard output
};

class PopSaveBodyTest : public PopFixture {};

TEST_F(PopSaveBodyTest, StoresWhatTheServerMeantLineByLine) {
  std::string forty;
  for (int i = 0; i < 40; ++i) forty += "line\r\n";
  const std::vector<BodyCase> cases = {
      {"stuffed dots lose one", "a\r\n..b\r\n...\r\n.\r\n", false, 1, "a\r\n.b\r\n..\r\n", "....\n"},
      {"a dot and a blank is a line", ". \r\nx\r\n.\r\n", false, 1, ". \r\nx\r\n", "...\n"},
      {"40 lines give 41 dots", forty + ".\r\n", false, 1, forty, std::string(41, '.') + "\n"},
      {"JIS becomes Shift_JIS", "\x1b$B$3$s\x1b(B\r\n.\r\n", false, 1, "\x82\xb1\x82\xf1\r\n", "..\n"},
      // The NUL begins the line, so the dots after it are not at its start;
      // it is stored like any other byte.
      {"a NUL at a line start", std::string("x\r\n\0..y\r\n.\r\n", 12), false, 1, std::string("x\r\n\0..y\r\n", 9),
       "....\n"},
      {"NUL bytes inside a line", std::string("a\0b\0\0c\r\n.\r\n", 11), false, 1, std::string("a\0b\0\0c\r\n", 8),
       ".....\n"},
      {"half-width katakana after ESC ( I", "\x1b(I\x36\x37\x1b(B\r\n.\r\n", false, 1, "\xb6\xb7\r\n", "..\n"},
      {"JIS mode across the pieces of a long line",
       "\x1b$B" + std::string(1200, '$') + "\x1b(B\r\n.\r\n", false, 1, Repeated("\x82\xa2", 600) + "\r\n", "...\n"},
      {"JIS mode across lines until an escape", "\x1b$B$3\r\n$s\x1b(B\r\nz\r\n.\r\n", false, 1,
       "\x82\xb1\r\n\x82\xf1\r\nz\r\n", "....\n"},
      {"the body starts in ASCII", "Subject: \x1b$B$3\r\n\r\n$s\r\n.\r\n", false, 1,
       "Subject: \x82\xb1\r\n\r\n$s\r\n", "....\n"},
      {"a hang-up keeps what came", "a\r\nhalf", true, 0, "a\r\nhalf", "...\n"},
  };
  for (const BodyCase& c : cases) {
    ScriptedPopServer server;
    server.Override("RETR", {"+OK\r\n" + c.wire, c.closes ? Reply::Then::kClose : Reply::Then::kGoOn});
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    const std::string path = box_.Path("tmp/body.txt");
    int result = -1;
    std::string out = WithPipedKeys("", [&] {
      NetSendLine("RETR 1\r\n");
      std::string reply;
      PopReadReply(reply);
      LogSwitch(true);
      result = PopSaveBody(path);
    });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(ReadFileBytes(path), c.stored) << c.name;
    // The message lines themselves are never logged.
    EXPECT_EQ(out, "S:RETR 1\nR:+OK\n" + c.dots) << c.name;
    EXPECT_TRUE(GetNetSession().logOn) << c.name;
    NetClose();
  }
}

TEST_F(PopSaveBodyTest, AFailedWriteFailsButReadsTheWholeResponse) {
  ScriptedPopServer server;
  server.Override("RETR", {"+OK\r\nsome\r\nlines\r\n.\r\n"});
  ASSERT_TRUE(server.Start(20));
  Connect(server);
  int result = -1;
  testing::internal::CaptureStderr();
  WithPipedKeys("", [&] {
    NetSendLine("RETR 1\r\n");
    std::string reply;
    PopReadReply(reply);
    result = PopSaveBody("/dev/full");
  });
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "savefile(/dev/full) write error!\a\n");
  EXPECT_EQ(result, 0);
  // The conversation is still in step: the next reply is STAT's own.
  int count = -1;
  WithPipedKeys("", [&] { count = PopStat(); });
  EXPECT_EQ(count, 0);
  EXPECT_EQ(server.Commands().back(), "STAT");
}

class PopLoginTest : public PopFixture {};

TEST_F(PopLoginTest, ThePasswordIsMaskedOrNotLoggedAtAll) {
  for (int logdisp : {0, 1}) {
    GetSettings().Logdisp = logdisp;
    ScriptedPopServer server({}, "sesame");
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    int result = -1;
    std::string out = WithPipedKeys("", [&] { result = PopLogin("user", "sesame"); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, logdisp ? "" : "S:USER user\nR:+OK\nS:PASS ******\nR:+OK logged in\n");
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER user", "PASS sesame"}));
    NetClose();
  }
}

class PopStatTest : public PopFixture {};

// A count that is negative or too large to hold is no count: it is
// reported like a refusal, never clamped into a list size.
TEST_F(PopStatTest, TheCountComesFromThePositiveReplyOnly) {
  struct Case {
    std::string reply;
    int expected;
    bool reported;
  };
  const std::vector<Case> cases = {
      {"+OK 3 1200\r\n", 3, false},                    {"+OK\r\n", 0, false},
      {"+OK -2 0\r\n", kStatFailed, true},             {"-ERR 3 1200\r\n", kStatFailed, true},
      {"+OK 99999999999 1\r\n", kStatFailed, true},    {"+OK 2147483647 1\r\n", INT_MAX, false},
      {"+OK 2147483648 1\r\n", kStatFailed, true},
  };
  for (const auto& [reply, expected, reported] : cases) {
    ScriptedPopServer server;
    server.Override("STAT", {reply});
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    int count = -1;
    testing::internal::CaptureStderr();
    WithPipedKeys("", [&] { count = PopStat(); });
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count, expected) << reply;
    EXPECT_EQ(err, reported ? "POP Protcol error!(STAT)[" + reply + "]\a\n" : "") << reply;
    NetClose();
  }
}

class PopRetrieveTest : public PopFixture {};

TEST_F(PopRetrieveTest, ANumberTakenMeanwhileMovesOnToTheNextFreeOne) {
  ScriptedPopServer server({"From: a@b.c\r\nSubject: s\r\n\r\nbody\r\n"});
  ASSERT_TRUE(server.Start(20));
  Connect(server);
  box_.WriteFile("mbox/inbox/0003.txt", "another run's\n");
  int result = -1;
  FoldersToSync toSync;
  std::string out = WithPipedKeys("", [&] { result = PopRetrieve("inbox", 1, 3, 0, toSync); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0003.txt"), "another run's\n");
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0004.TXT"), "From: a@b.c\nSubject: s\n\nbody\n");
  EXPECT_NE(out.find("   1" + std::string(18, ' ') + "a@b.c s\n"), std::string::npos) << out;
}

// Messages up to a megabyte are decoded and summarised from memory, larger
// ones from the temporary file: the stored bytes, the temporary file and the
// summary must not show which way a message went. The temporary file is
// written over a longer one from an earlier message.
TEST_F(PopRetrieveTest, BigAndSmallMessagesAreStoredAlike) {
  const std::string word = "=?ISO-2022-JP?B?GyRCJEgbKEI=?=";
  const std::string header =
      "Date: Mon, 7 Dec 2026 10:00:00 +0900\r\nFrom: a@b.c\r\nX-Word: " + word + "\r\nSubject: hello\r\n\r\n";
  const std::string decodedHeader = "Date: Mon, 7 Dec 2026 10:00:00 +0900\nFrom: a@b.c\nX-Word: \x82\xc6\nSubject: hello\n\n";
  for (size_t bodyLines : {size_t{2}, size_t{30000}}) {
    std::string body;
    for (size_t i = 0; i < bodyLines; ++i) body += "line " + word + " \x1b$B$H\x1b(B " + std::to_string(i) + "\r\n";
    ScriptedPopServer server({header + body});
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    WriteBytes(TemporaryPath("tmp.txt"), std::string(header.size() + body.size() + 5000, 'z'));
    const std::string folder = "f" + std::to_string(bodyLines);
    box_.MakeDir("mbox/" + folder);
    int result = -1;
    FoldersToSync toSync;
    std::string out = WithPipedKeys("", [&] { result = PopRetrieve(folder, 1, 0, 0, toSync); });
    EXPECT_EQ(result, 1) << bodyLines;
    std::string bodyInSjis;
    for (size_t i = 0; i < bodyLines; ++i) bodyInSjis += "line " + word + " \x82\xc6 " + std::to_string(i) + "\r\n";
    // Compared as a whole: a megabyte of difference is no message to print.
    EXPECT_TRUE(ReadFileBytes(TemporaryPath("tmp.txt")) == header + bodyInSjis) << bodyLines;
    std::string stored = bodyInSjis;
    for (size_t at = 0; (at = stored.find("\r\n", at)) != std::string::npos;) stored.erase(at, 1);
    EXPECT_TRUE(ReadFileBytes(box_.Path("mbox/" + folder + "/0000.TXT")) == decodedHeader + stored) << bodyLines;
    EXPECT_NE(out.find("\n   1  12/07           a@b.c hello\n"), std::string::npos) << bodyLines;
    WithPipedKeys("", [] { NetClose(); });
  }
}

// The server deletes at QUIT, so QUIT waits until the files of the messages
// it deletes are on the disk; when they cannot be put there (here: their
// folder is gone), the conversation ends without QUIT and the server keeps
// them.
TEST_F(PopRetrieveTest, QuitOnlyOnceDeletedMessagesAreOnTheDisk) {
  struct Case {
    const char* name;
    int deleteFlag;
    bool folderLost;
    bool quit;
  };
  const std::vector<Case> cases = {
      {"deleted, folder kept", 1, false, true},
      {"deleted, folder lost", 1, true, false},
      {"kept on the server, folder lost", 0, true, true},
  };
  for (const Case& c : cases) {
    ScriptedPopServer server({"From: a@b.c\r\nSubject: s\r\n\r\nbody\r\n"});
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    const std::string folder = std::string("f") + std::to_string(&c - cases.data());
    box_.MakeDir("mbox/" + folder);
    int result = -1;
    testing::internal::CaptureStderr();
    FoldersToSync toSync;
    WithPipedKeys("", [&] {
      result = PopRetrieve(folder, 1, 0, c.deleteFlag, toSync);
      if (c.folderLost) std::filesystem::remove_all(box_.Path("mbox/" + folder));
      PopQuit(toSync);
    });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 1) << c.name;
    EXPECT_EQ(server.CountCommands("DELE"), c.deleteFlag) << c.name;
    EXPECT_EQ(server.CountCommands("QUIT"), c.quit ? 1 : 0) << c.name;
    EXPECT_EQ(err, c.quit ? "" : "disk write error!(" + box_.Path("mbox/" + folder) + ") mail is kept on the server\a\n")
        << c.name;
  }
}

// A message that cannot be stored is never deleted on the server.
TEST_F(PopRetrieveTest, NoFileNoDeletion) {
  ScriptedPopServer server({"From: a@b.c\r\nSubject: s\r\n\r\nbody\r\n"});
  ASSERT_TRUE(server.Start(20));
  Connect(server);
  int result = -1;
  testing::internal::CaptureStderr();
  FoldersToSync toSync;
  WithPipedKeys("", [&] { result = PopRetrieve("missing", 1, 0, 1, toSync); });
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "savefile(" + box_.Path("mbox/missing/0000.TXT") + ") open error!\a\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(server.CountCommands("DELE"), 0);
}

class PopHeaderListTest : public PopFixture {};

// Slot 1 matches; slot 2 has the size but no line; slot 3 a different size;
// slot 4 a line from a five-digit number. Only 2 and 3 cost a TOP.
TEST_F(PopHeaderListTest, OnlyTrustedSlotsSpareTheTop) {
  const std::vector<std::string> messages = {
      "From: one@example.com\r\nSubject: first\r\n\r\nb\r\n",
      "From: two@example.com\r\nSubject: second\r\n\r\nb\r\n",
      "From: ten@example.com\r\nSubject: third\r\n\r\nb\r\n",
      "From: six@example.com\r\nSubject: fourth\r\n\r\nb\r\n",
  };
  auto size = [&](int k) { return std::to_string(messages[static_cast<size_t>(k - 1)].size()); };
  box_.WriteFile("mbox/poplist.ini", "Mail0001=" + size(1) + "\nHead0001=   9 cached one\nMail0002=" + size(2) +
                                         "\nHead0002=\nMail0003=1\nHead0003=   3 stale\nMail0004=" + size(4) +
                                         "\nHead0004=12345 cached four\noldmax=4\n");
  ScriptedPopServer server(messages);
  ASSERT_TRUE(server.Start(20));
  Connect(server);
  int result = -1;
  HeaderList list;
  std::string out = WithPipedKeys("", [&] { result = BuildHeaderList(list, 4); });
  ASSERT_EQ(result, 0);
  EXPECT_EQ(server.CountCommands("TOP"), 2);
  EXPECT_NE(out.find("Getting header 2/4\nS:TOP 2 4\n"), std::string::npos);
  EXPECT_NE(out.find("Getting header 3/4\nS:TOP 3 4\n"), std::string::npos);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].line, "   1 cached one");
  EXPECT_EQ(list[1].line, "   2 two@example.com second");
  EXPECT_EQ(list[2].line, "   3 ten@example.com third");
  EXPECT_EQ(list[3].line, "   4 cached four");
  EXPECT_EQ(list[2].size, static_cast<long>(messages[2].size()));
  // The TOP downloads leave nothing behind.
  EXPECT_TRUE(ListOf(RunDirectory()).empty());
}

TEST_F(PopHeaderListTest, AnAbsurdCountIsRefusedBeforeAnyCommand) {
  ScriptedPopServer server;
  ASSERT_TRUE(server.Start(20));
  Connect(server);
  int result = -1;
  HeaderList list;
  std::string out = WithPipedKeys("", [&] { result = BuildHeaderList(list, INT_MAX); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out, "Not memory!\n");
  EXPECT_TRUE(server.Commands().empty());
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace quillo::test
