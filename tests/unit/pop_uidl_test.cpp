// Unique ids and the record of stored messages kept beside the mailbox.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pop/header_cache.h"
#include "pop/received_state.h"
#include "pop/uidl.h"
#include "settings/key_value_file.h"
#include "tests/unit/pop_fixture.h"

namespace quillo::test {
namespace {

constexpr std::int64_t kDay = 24 * 60 * 60;

TEST(PopUniqueId, OnlyPrintableAsciiOfOneToSeventyBytes) {
  struct Case {
    const char* name;
    std::string text;
    bool sound;
  };
  const std::vector<Case> cases = {
      {"one byte", "a", true},
      {"lowest printable", "!", true},
      {"highest printable", "~", true},
      {"as Dovecot gives them", "00000001641f6c5e", true},
      {"seventy bytes", std::string(70, 'x'), true},
      {"empty", "", false},
      {"seventy-one bytes", std::string(71, 'x'), false},
      {"a blank inside", "ab cd", false},
      {"a trailing blank", "abcd ", false},
      {"a tab", "ab\tcd", false},
      {"a CR", "abcd\r", false},
      {"DEL", "ab\x7f", false},
      {"a high byte", "ab\x80", false},
      {"Shift_JIS", "\x93\xfa\x96{", false},
      {"an escape", "\x1b[2J", false},
      {"NUL", std::string("ab\0cd", 5), false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsUniqueId(c.text), c.sound) << c.name;
}

class PopReceivedState : public PopFixture {
 protected:
  std::string StatePath() const { return box_.Path("mbox/uidlist.txt"); }
  // The file's lines under its heading, as a save writes them.
  std::string Body(const ReceivedState& state) const {
    const std::string text = state.Text();
    const size_t heading = text.find('\n');
    return heading == std::string::npos ? text : text.substr(heading + 1);
  }
  void WriteMessage(const std::string& folder, int number, const std::string& content) {
    box_.WriteFile("mbox/" + folder + "/" + Format4(number) + ".TXT", content);
  }
  static std::string Format4(int n) {
    std::string digits = std::to_string(n);
    return std::string(digits.size() < 4 ? 4 - digits.size() : 0, '0') + digits;
  }
  PendingMessage PendingFor(const std::string& uidl, const std::string& content, const std::string& folder,
                            int number) {
    return {uidl, static_cast<long long>(content.size()), MessageChecksum(content), folder, number};
  }
};

// What a load keeps of each line: only whole, sound records.
TEST_F(PopReceivedState, LoadKeepsSoundRecordsOnly) {
  const std::string longId(70, 'i');
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::pair<std::string, std::int64_t>> received;
    std::vector<std::string> notReceived;
    bool pending;
    std::string saved;  // the lines a save writes back
  };
  const std::vector<Case> cases = {
      {"good lines", "R 100 abc\nR 200 def\n", {{"abc", 100}, {"def", 200}}, {"ab", "abcd"}, false,
       "R 100 abc\nR 200 def\n"},
      {"CR LF lines and the heading", "# any words\r\nR 5 x\r\n", {{"x", 5}}, {"x\r"}, false, "R 5 x\n"},
      {"a last line without its end", "R 1 a\nR 2 b", {{"a", 1}, {"b", 2}}, {}, false, "R 1 a\nR 2 b\n"},
      {"truncated records", "R 1\nR\nR 7 \nP a 1 2 3\nP a 1 2\n", {}, {"1", "7"}, false, ""},
      {"junk", "X 1 a\nr 1 b\nR -5 c\nR 1x d\nR 3 e f\n\n \nRR 1 g\n", {}, {"a", "b", "c", "d", "e", "e f", "g"},
       false, ""},
      {"times past 2038", "R 4102444800 y\nR 9223372036854775807 z\n", {{"y", 4102444800}, {"z", INT64_MAX}}, {}, false,
       "R 4102444800 y\nR 9223372036854775807 z\n"},
      {"signs and blanks are no digits", "R +5 a\nR 5\t b\nR 0x5 c\n", {}, {"a", "b", "c"}, false, ""},
      {"a time that fits no number", "R 99999999999999999999999 a\nR 4 b\n", {{"b", 4}}, {"a"}, false, "R 4 b\n"},
      {"an id too long", "R 1 " + longId + "i\nR 2 " + longId + "\n", {{longId, 2}}, {longId + "i"}, false,
       "R 2 " + longId + "\n"},
      {"an over-long line between good ones", "R 1 a\nR 2 " + std::string(1 << 20, 'z') + "\nR 3 b\n",
       {{"a", 1}, {"b", 3}}, {}, false, "R 1 a\nR 3 b\n"},
      {"a control byte in an id", "R 1 a\x1b[2Jb\nR 2 c\x7f\n", {}, {"a\x1b[2Jb", "c\x7f"}, false, ""},
      {"the last record of an id wins", "R 1 a\nR 9 a\n", {{"a", 9}}, {}, false, "R 9 a\n"},
      {"a pending record, folder with blanks", "R 1 a\nP p 12 ab 3 my folder\n", {{"a", 1}}, {"p"}, true,
       "R 1 a\nP p 12 ab 3 my folder\n"},
      {"pending: checksum not hex", "P p 12 xyz 3 inbox\n", {}, {"p"}, false, ""},
      {"pending: upper-case or signed checksum", "P p 12 AB 3 inbox\nP q 12 -ab 3 inbox\n", {}, {"p", "q"}, false,
       ""},
      {"pending: size with junk", "P p 12k ab 3 inbox\n", {}, {"p"}, false, ""},
      {"pending: checksum over 64 bits", "P p 12 10000000000000000 3 inbox\n", {}, {"p"}, false, ""},
      {"pending: negative size", "P p -1 ab 3 inbox\n", {}, {"p"}, false, ""},
      {"pending: number past int", "P p 1 ab 4294967296 inbox\n", {}, {"p"}, false, ""},
      {"pending: unsound id", "P \x01 1 ab 3 inbox\n", {}, {}, false, ""},
  };
  for (const Case& c : cases) {
    box_.WriteFile("mbox/uidlist.txt", c.file);
    ReceivedState state(StatePath());
    ASSERT_TRUE(state.Load()) << c.name;
    for (const auto& [uidl, time] : c.received) {
      EXPECT_TRUE(state.Received(uidl)) << c.name << " " << uidl;
      EXPECT_EQ(state.ReceivedAt(uidl), time) << c.name << " " << uidl;
    }
    for (const std::string& uidl : c.notReceived) EXPECT_FALSE(state.Received(uidl)) << c.name << " " << uidl;
    EXPECT_EQ(state.HasPending(), c.pending) << c.name;
    EXPECT_EQ(Body(state), c.saved) << c.name;
    // What a save writes loads back the same.
    ASSERT_TRUE(state.Save()) << c.name;
    ReceivedState again(StatePath());
    ASSERT_TRUE(again.Load()) << c.name;
    EXPECT_EQ(again.Text(), state.Text()) << c.name;
  }
}

// A file that cannot be such a record is neither read nor ever written over.
TEST_F(PopReceivedState, AFileItCannotReadIsNeverWrittenOver) {
  struct Case {
    const char* name;
    long long size;  // of a sparse file made at the path
    mode_t kind;
  };
  const std::vector<Case> cases = {
      {"one byte over the bound", (128LL << 20) + 1, S_IFREG},
      {"far over the bound", 1LL << 34, S_IFREG},
      {"a directory", 0, S_IFDIR},
      {"a FIFO no one writes to", 0, S_IFIFO},
  };
  for (const Case& c : cases) {
    const std::string path = StatePath();
    std::remove(path.c_str());
    rmdir(path.c_str());
    if (c.kind == S_IFDIR) {
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << c.name;
    } else if (c.kind == S_IFIFO) {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << c.name;
    } else {
      box_.WriteFile("mbox/uidlist.txt", "R 1 a\n");
      ASSERT_EQ(truncate(path.c_str(), c.size), 0) << c.name;
    }
    ReceivedState state(path);
    EXPECT_FALSE(state.Load()) << c.name;
    EXPECT_FALSE(state.Received("a")) << c.name;
    EXPECT_FALSE(state.RecordReceived("b", 1)) << c.name;
    EXPECT_FALSE(state.RecordPending({"c", 1, 2, "inbox", 0})) << c.name;
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0) << c.name;
    EXPECT_EQ(st.st_mode & S_IFMT, c.kind) << c.name;
    if (c.kind == S_IFREG) {
      EXPECT_EQ(st.st_size, c.size) << c.name;
    }
  }
  rmdir(StatePath().c_str());
  std::remove(StatePath().c_str());
}

// A killed run's pending record counts as received only when the folder
// holds exactly that message from the number it was to have on.
TEST_F(PopReceivedState, APendingRecordIsReceivedOnlyWhenItsMessageIsStored) {
  const std::string message = "From: a@example.jp\nSubject: one\n\nbody\n";
  const std::string sameSize = "From: a@example.jp\nSubject: two\n\nbody\n";
  ASSERT_EQ(message.size(), sameSize.size());
  box_.MakeDir("mbox/other");
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, int>> files;  // folder and number of `message`
    std::vector<std::pair<std::string, int>> others;  // of `sameSize`
    std::string pendingFolder;
    int pendingNumber;
    bool received;
  };
  const std::vector<Case> cases = {
      {"stored at its number", {{"inbox", 2}}, {}, "inbox", 2, true},
      {"stored a few numbers on", {{"inbox", 5}}, {{"inbox", 2}}, "inbox", 2, true},
      {"absent", {}, {}, "inbox", 2, false},
      {"same size, other bytes", {}, {{"inbox", 2}}, "inbox", 2, false},
      {"only below its number", {{"inbox", 1}}, {}, "inbox", 2, false},
      {"in another folder than the record's", {{"inbox", 2}}, {}, "other", 2, false},
      {"in the record's other folder", {{"other", 0}}, {}, "other", 0, true},
      {"a folder that is gone", {{"inbox", 0}}, {}, "gone", 0, false},
  };
  for (const Case& c : cases) {
    for (const char* folder : {"inbox", "other"}) {
      for (const std::string& name : box_.List(std::string("mbox/") + folder)) {
        std::remove(box_.Path(std::string("mbox/") + folder + "/" + name).c_str());
      }
    }
    for (const auto& [folder, number] : c.files) WriteMessage(folder, number, message);
    for (const auto& [folder, number] : c.others) WriteMessage(folder, number, sameSize);
    ReceivedState state(StatePath());
    std::remove(StatePath().c_str());
    ASSERT_TRUE(state.Load()) << c.name;
    ASSERT_TRUE(state.RecordPending(PendingFor("pid", message, c.pendingFolder, c.pendingNumber))) << c.name;
    ASSERT_TRUE(state.RecordReceived("earlier", 7)) << c.name;

    ReceivedState next(StatePath());
    ASSERT_TRUE(next.Load()) << c.name;
    ASSERT_TRUE(next.HasPending()) << c.name;
    next.ResolvePending(1000);
    EXPECT_FALSE(next.HasPending()) << c.name;
    EXPECT_EQ(next.Received("pid"), c.received) << c.name;
    EXPECT_EQ(next.ReceivedAt("pid"), c.received ? 1000 : 0) << c.name;
    EXPECT_EQ(next.ReceivedAt("earlier"), 7) << c.name;
    // Settled on the disk too.
    ReceivedState reread(StatePath());
    ASSERT_TRUE(reread.Load()) << c.name;
    EXPECT_EQ(reread.Text(), next.Text()) << c.name;
  }
}

TEST_F(PopReceivedState, ExpiresOnlyKeepdaysAfterItsReceiving) {
  const std::int64_t now = 1'800'000'000;
  struct Case {
    const char* name;
    int days;
    std::int64_t age;  // seconds before now it was received
    bool known;
    bool expired;
  };
  const std::vector<Case> cases = {
      {"keepdays 0 keeps for ever", 0, 3650 * kDay, true, false},
      {"a negative keepdays too", -1, 3650 * kDay, true, false},
      {"exactly one day", 1, kDay, true, true},
      {"a second short of a day", 1, kDay - 1, true, false},
      {"thirty days of seven", 7, 30 * kDay, true, true},
      {"six of seven", 7, 6 * kDay, true, false},
      {"received in the future", 1, -5 * kDay, true, false},
      {"never received", 1, 30 * kDay, false, false},
      {"the largest keepdays", 2147483647, 3650 * kDay, true, false},
  };
  for (const Case& c : cases) {
    std::remove(StatePath().c_str());
    ReceivedState state(StatePath());
    ASSERT_TRUE(state.Load());
    if (c.known) {
      ASSERT_TRUE(state.RecordReceived("m1", now - c.age)) << c.name;
    }
    EXPECT_EQ(state.Expired("m1", c.days, now), c.expired) << c.name;
    EXPECT_FALSE(state.Expired("", c.days, now)) << c.name;
  }
}

// The ids the server no longer gives go; an id that comes back later is new.
TEST_F(PopReceivedState, ForgetsWhatTheServerNoLongerLists) {
  struct Case {
    const char* name;
    std::vector<std::string> listed;
    std::vector<std::string> kept;
    std::vector<std::string> gone;
  };
  const std::vector<Case> cases = {
      {"all listed", {"a", "b", "c"}, {"a", "b", "c"}, {}},
      {"one gone", {"a", "", "c"}, {"a", "c"}, {"b"}},
      {"none listed", {}, {}, {"a", "b", "c"}},
      {"others listed", {"x", "y"}, {}, {"a", "b", "c"}},
  };
  for (const Case& c : cases) {
    box_.WriteFile("mbox/uidlist.txt", "R 1 a\nR 2 b\nR 3 c\n");
    ReceivedState state(StatePath());
    ASSERT_TRUE(state.Load()) << c.name;
    state.Forget(c.listed);
    for (const std::string& uidl : c.kept) EXPECT_TRUE(state.Received(uidl)) << c.name << " " << uidl;
    for (const std::string& uidl : c.gone) EXPECT_FALSE(state.Received(uidl)) << c.name << " " << uidl;
    // Listing an id records nothing.
    EXPECT_FALSE(state.Received("x")) << c.name;
  }
}

TEST_F(PopReceivedState, ChecksumOfAFileIsThatOfItsBytes) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string big;
  for (int i = 0; i < 200'000; ++i) big += static_cast<char>(i * 7 + i / 256);
  const std::vector<Case> cases = {
      {"empty", ""}, {"text", "From: a\n\nbody\n"}, {"NUL and CR", std::string("a\0b\r\n", 5)}, {"past one block", big}};
  for (const Case& c : cases) {
    box_.WriteFile("f.bin", c.bytes);
    long long size = -1;
    std::uint64_t checksum = 0;
    ASSERT_TRUE(FileChecksum(box_.Path("f.bin"), size, checksum)) << c.name;
    EXPECT_EQ(size, static_cast<long long>(c.bytes.size())) << c.name;
    EXPECT_EQ(checksum, MessageChecksum(c.bytes)) << c.name;
  }
  // FNV-1a's published values: the empty input and "a".
  EXPECT_EQ(MessageChecksum(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(MessageChecksum("a"), 0xaf63dc4c8601ec8cull);
  // One changed bit changes it.
  EXPECT_NE(MessageChecksum(big), MessageChecksum(big.substr(0, big.size() - 1) + static_cast<char>(big.back() ^ 1)));
  long long size = 0;
  std::uint64_t checksum = 0;
  EXPECT_FALSE(FileChecksum(box_.Path("missing.bin"), size, checksum));
}

class PopCachedSlots : public PopFixture {};

// A slot is trusted by the message's id and size, wherever it was.
TEST_F(PopCachedSlots, TrustsASlotByIdAndSizeWhateverItsNumber) {
  const std::string withIds =
      "Mail0001=10\nHead0001=   1 first\nUidl0001=AAA\n"
      "Mail0002=20\nHead0002=   2 second\nUidl0002=BBB\n"
      "Mail0003=30\nHead0003=   3 third\nUidl0003=CCC\noldmax=3\n";
  const std::string withoutIds = "Mail0001=10\nHead0001=   1 first\nMail0002=20\nHead0002=   2 second\noldmax=2\n";
  struct Case {
    const char* name;
    std::string file;
    int number;
    std::string uidl;
    long size;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"same id, same number", withIds, 2, "BBB", 20, "   2 second"},
      {"same id at another number", withIds, 1, "BBB", 20, "   2 second"},
      {"same id, size changed", withIds, 2, "BBB", 21, ""},
      {"a new id where a slot's size fits", withIds, 2, "NEW", 20, ""},
      {"a server without ids: by number", withIds, 3, "", 30, "   3 third"},
      {"no ids, size changed", withIds, 3, "", 31, ""},
      {"a file without ids: by number", withoutIds, 2, "XYZ", 20, "   2 second"},
      {"a file without ids, size changed", withoutIds, 2, "XYZ", 10, ""},
      {"key in other letter case", "mail0004=40\nhead0004=   4 four\nuidl0004=DDD\n", 1, "DDD", 40, "   4 four"},
      {"the last id of a slot wins", "Mail0001=10\nHead0001=   1 a\nUidl0001=OLD\nUidl0001=NEW\n", 1, "OLD", 10, ""},
      {"the last id of a slot, found", "Mail0001=10\nHead0001=   1 a\nUidl0001=OLD\nUidl0001=NEW\n", 5, "NEW", 10,
       "   1 a"},
      {"an unsound id is no id", "Mail0001=10\nHead0001=   1 a\nUidl0001=a b\n", 1, "a b", 10, "   1 a"},
      {"an id on a cleared slot", "Mail0001=0\nHead0001=\nUidl0001=AAA\n", 1, "AAA", 0, ""},
      {"a slot number too long", "Mail0001=10\nHead0001=   1 a\nUidl00000000001=AAA\n", 1, "AAA", 10, "   1 a"},
  };
  for (const Case& c : cases) {
    box_.WriteFile("mbox/poplist.ini", c.file);
    KeyValueFile cache(box_.Path("mbox/poplist.ini"));
    ASSERT_TRUE(cache.Load()) << c.name;
    const CachedSlots slots(cache);
    EXPECT_EQ(slots.TrustedLine(c.number, c.uidl, c.size), c.line) << c.name;
  }
}

}  // namespace
}  // namespace quillo::test
