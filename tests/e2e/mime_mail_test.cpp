// Mail as today's senders write it, received from the real Dovecot, then
// listed, viewed, answered and its attachments saved. The stored files are
// the bytes Quillo has always stored, but for the half-width katakana of
// ESC ( I, which used to be destroyed.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/menu_fixture.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/harness.h"

namespace quillo::test {
namespace {

using namespace std::string_literals;

// Gmail: UTF-8 base64, an alternative with HTML.
const std::string kGmail =
    "From: =?UTF-8?B?5bGx55Sw5aSq6YOO?= <taro.yamada@gmail.com>\n"
    "To: hanako@example.jp\n"
    "Subject: =?UTF-8?B?5piO5pel44Gu5Lya6K2w44Gr44Gk44GE44Gm?=\n"
    "Date: Mon, 15 Jan 2024 10:30:00 +0900\n"
    "Message-ID: <CAF1abc@mail.gmail.com>\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/alternative; boundary=\"000000000000abc\"\n"
    "\n"
    "--000000000000abc\n"
    "Content-Type: text/plain; charset=\"UTF-8\"\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "6Iqx5a2Q44GV44KTCgrmmI7ml6Xjga7kvJrorbDjga8xMOaZguOBi+OCieOBp+OBmeOAggrjgojj\n"
    "go3jgZfjgY/jgYrpoZjjgYTjgZfjgb7jgZnjgIIK\n"
    "--000000000000abc\n"
    "Content-Type: text/html; charset=\"UTF-8\"\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "PGRpdiBkaXI9Imx0ciI+6Iqx5a2Q44GV44KTPGRpdj48YnI+PC9kaXY+PGRpdj7mmI7ml6Xjga7k\n"
    "vJrorbDjga88Yj4xMOaZgjwvYj7jgYvjgonjgafjgZnjgII8L2Rpdj48ZGl2PuOCiOOCjeOBl+OB\n"
    "j+OBiumhmOOBhOOBl+OBvuOBmeOAgjwvZGl2PjwvZGl2Pgo=\n"
    "--000000000000abc--\n";

// Outlook: ISO-2022-JP in quoted-printable; its header words are decoded
// when the message is stored, as they always were.
const std::string kOutlookHead = "Subject: =?iso-2022-jp?B?GyRCOCtAUT1xJE43bxsoQg==?=\n"
                                 "From: =?iso-2022-jp?B?GyRCOjRGIzwhTzobKEI=?= <sato@example.co.jp>\n";
const std::string kOutlookHeadStored = "Subject: \x8c\xa9\x90\xcf\x8f\x91\x82\xcc\x8c\x8f\n"
                                       "From: \x8d\xb2\x93\xa1\x8e\x9f\x98Y <sato@example.co.jp>\n";
const std::string kOutlookTail =
    "To: <hanako@example.jp>\n"
    "Date: Tue, 16 Jan 2024 09:00:00 +0900\n"
    "MIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=\"iso-2022-jp\"\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "=1B$B$$$D$b$*@$OC$K$J$C$F$*$j$^$9!#=1B(B\n"
    "=1B$B8+@Q=3Dq$r$*Aw$j$7$^$9!#=1B(B\n";
const std::string kOutlook = kOutlookHead + kOutlookTail;
const std::string kOutlookStored = kOutlookHeadStored + kOutlookTail;

// iPhone: 7bit ISO-2022-JP with half-width katakana by ESC ( I.
const std::string kIphoneHead =
    "From: hanako@icloud.com\n"
    "Subject: iPhone\n"
    "Date: Wed, 17 Jan 2024 12:00:00 +0900\n"
    "Content-Type: text/plain; charset=iso-2022-jp\n"
    "Content-Transfer-Encoding: 7bit\n"
    "Mime-Version: 1.0 (1.0)\n"
    "\n";
const std::string kIphone = kIphoneHead + "\x1b$B$*4j$$$7$^$9\x1b(B \x1b(I\x31\x32\x33\x1b(B end\n";
const std::string kIphoneStored = kIphoneHead + "\x82\xa8\x8a\xe8\x82\xa2\x82\xb5\x82\xdc\x82\xb7 \xb1\xb2\xb3 end\n";

// A carrier's mail: 8-bit Shift_JIS with a pictograph of the carrier's own.
const std::string kCarrier =
    "From: jiro@docomo.ne.jp\n"
    "Subject: =?Shift_JIS?B?lnuT+oLMgqiSbYLngrk=?=\n"
    "Date: Thu, 18 Jan 2024 18:00:00 +0900\n"
    "Content-Type: text/plain; charset=Shift_JIS\n"
    "Content-Transfer-Encoding: 8bit\n"
    "\n"
    "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\xf8\x9f\n";

// An attachment whose name is given the RFC 2231 way, beside the 2047 one.
const std::string kAttachmentBytes = "%PDF-1.4\n\x00\x01\x02\xff\xfe binary\r\n\x1b end"s;
const std::string kAttachmentHead =
    "From: sato@example.co.jp\n"
    "Subject: attachment\n"
    "Date: Fri, 19 Jan 2024 08:00:00 +0900\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\n"
    "\n"
    "--b1\n"
    "Content-Type: text/plain; charset=ISO-2022-JP\n"
    "Content-Transfer-Encoding: 7bit\n"
    "\n";
const std::string kAttachmentTail =
    "--b1\n"
    "Content-Type: application/pdf; name=\"=?UTF-8?B?6KaL56mN5pu4?=.pdf\"\n"
    "Content-Disposition: attachment; filename*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8.pdf\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "JVBERi0xLjQKAAEC//4gYmluYXJ5DQobIGVuZA==\n"
    "--b1\n"
    "Content-Type: image/png\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "iVBORw0KGgo=\n"
    "--b1--\n";
const std::string kAttachment = kAttachmentHead + "\x1b$B$*4j$$$7$^$9\x1b(B\n" + kAttachmentTail;
const std::string kAttachmentStored = kAttachmentHead + "\x82\xa8\x8a\xe8\x82\xa2\x82\xb5\x82\xdc\x82\xb7\n" + kAttachmentTail;

// A newsletter in HTML only.
const std::string kNewsletter =
    "From: \"Shop News\" <news@shop.example.jp>\n"
    "Subject: =?UTF-8?Q?=E7=A7=8B=E3=81=AE=E3=82=BB=E3=83=BC=E3=83=AB?=\n"
    "Date: Sat, 20 Jan 2024 07:00:00 +0900\n"
    "MIME-Version: 1.0\n"
    "Content-Type: text/html; charset=UTF-8\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "<html><head><style>p{color:red}</style></head><body><table><tr><td>=E5=95=86=\n"
    "=E5=93=81</td><td>=EF=BF=A51,000</td></tr></table><p>=E8=A9=B3=E3=81=97=E3=81=8F=\n"
    "=E3=81=AF<a href=3D\"https://shop.example.jp/sale?a=3D1&amp;b=3D2\">=E3=81=93=E3=81=A1=E3=82=89</a>&hellip;</p></body></html>\n";

// What the previous release stored for each, received in this order.
const std::vector<std::string> kMail = {kGmail, kOutlook, kIphone, kCarrier, kAttachment, kNewsletter};
const std::vector<std::string> kStored = {kGmail, kOutlookStored, kIphoneStored, kCarrier, kAttachmentStored,
                                          kNewsletter};

const Env kUtf8 = {{"LC_ALL", ""}, {"LANG", "C.UTF-8"}};

std::string Sjis(const std::string& utf8);

// Shift_JIS of the few texts the checks look for (the tests' files are UTF-8).
const std::pair<const char*, const char*> kSjisOf[] = {
    {"山田太郎", "\x8eR\x93\x63\x91\xbe\x98Y"},
    {"明日の会議について", "\x96\xbe\x93\xfa\x82\xcc\x89\xef\x8b\x63\x82\xc9\x82\xc2\x82\xa2\x82\xc4"},
    {"明日の会議は10時からです。", "\x96\xbe\x93\xfa\x82\xcc\x89\xef\x8b\x63\x82\xcd" "10\x8e\x9e\x82\xa9\x82\xe7\x82\xc5\x82\xb7\x81\x42"},
    {"見積書をお送りします。", "\x8c\xa9\x90\xcf\x8f\x91\x82\xf0\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7\x81\x42"},
    {"ｱｲｳ", "\xb1\xb2\xb3"},
    {"本日のお知らせ", "\x96{\x93\xfa\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9"},
    {"こんにちは", "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd"},
    {"秋のセール", "\x8fH\x82\xcc\x83Z\x81[\x83\x8b"},
    {"商品 ￥1,000", "\x8f\xa4\x95i \x81\x8f" "1,000"},
    {"詳しくはこちら <https://shop.example.jp/sale?a=1&b=2>…",
     "\x8f\xda\x82\xb5\x82\xad\x82\xcd\x82\xb1\x82\xbf\x82\xe7 <https://shop.example.jp/sale?a=1&b=2>\x81\x63"},
    {"見積書.pdf", "\x8c\xa9\x90\xcf\x8f\x91.pdf"},
};

std::string Sjis(const std::string& utf8) {
  for (const auto& [u, s] : kSjisOf)
    if (utf8 == u) return s;
  ADD_FAILURE() << "no Shift_JIS form for " << utf8;
  return utf8;
}

class MimeMail : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotInstalled()) GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    ASSERT_TRUE(server_.Ok()) << server_.Error();
    box_.MakeMailbox();
    for (const std::string& m : kMail) ASSERT_TRUE(server_.AddMessage(m));
    box_.WriteIni("POPserver=" + server_.Setting() + "\npasswd=secret\ntimeout=10\n");
    RunResult r = box_.Run({"-g", "-a"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  std::string File(size_t n) const { return box_.Path("mbox/inbox/000" + std::to_string(n) + ".TXT"); }

  DovecotServer server_;
  Sandbox box_;
};

// The files under tests/e2e/mime-mail-stored/ were written by the release
// before the message view, receiving these messages from Dovecot.
std::string ExpectedStored(size_t n) {
  std::ifstream in(std::string(QUILLO_SOURCE_DIR) + "/tests/e2e/mime-mail-stored/000" + std::to_string(n) + ".TXT",
                   std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST_F(MimeMail, StoredAsThePreviousReleaseStoredThem) {
  ASSERT_EQ(box_.List("mbox/inbox").size(), kStored.size());
  for (size_t i = 0; i < kStored.size(); ++i) {
    const std::string stored = box_.ReadFile("mbox/inbox/000" + std::to_string(i) + ".TXT");
    EXPECT_EQ(stored, ExpectedStored(i)) << i;
    // The bytes as this file spells them out, for a reader of the test.
    EXPECT_EQ(stored, kStored[i]) << i;
  }
}

TEST_F(MimeMail, ListedWithDecodedSendersAndSubjects) {
  RunResult r = box_.Run({"-t", "inbox", "-l"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* text : {"山田太郎", "明日の会議について", "本日のお知らせ", "秋のセール"})
    EXPECT_NE(r.out.find(Sjis(text)), std::string::npos) << text << "\n" << r.out;
  EXPECT_NE(r.out.find("Shop News"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("=?"), std::string::npos) << r.out;
}

// The view on a Shift_JIS console (the harness's C locale) and on a UTF-8
// one: the text, never the transfer encoding, the markup or the boundaries.
TEST_F(MimeMail, ViewedOnBothConsoles) {
  struct Case {
    size_t file;
    std::vector<std::string> shown;
  };
  const std::vector<Case> cases = {
      {0, {"山田太郎", "明日の会議について", "明日の会議は10時からです。"}},
      {1, {"見積書をお送りします。"}},
      {2, {"ｱｲｳ"}},
      {3, {"本日のお知らせ", "こんにちは"}},
      {4, {"見積書.pdf"}},
      {5, {"秋のセール", "商品 ￥1,000", "詳しくはこちら <https://shop.example.jp/sale?a=1&b=2>…"}},
  };
  for (const Case& c : cases) {
    RunResult sjis = box_.Run({"-v", File(c.file)});
    RunResult utf8 = box_.Run({"-v", File(c.file)}, "", kUtf8);
    ASSERT_EQ(sjis.exitCode, 0) << sjis.err;
    ASSERT_EQ(utf8.exitCode, 0) << utf8.err;
    for (const std::string& text : c.shown) {
      EXPECT_NE(sjis.out.find(Sjis(text)), std::string::npos) << c.file << " " << text << "\n" << sjis.out;
      EXPECT_NE(utf8.out.find(text), std::string::npos) << c.file << " " << text << "\n" << utf8.out;
    }
    for (const char* never : {"base64", "quoted-printable", "--b1", "--000000000000abc", "<div", "<td", "=1B", "=E5",
                              "\x1b"}) {
      EXPECT_EQ(utf8.out.find(never), std::string::npos) << c.file << " " << never << "\n" << utf8.out;
    }
  }
}

TEST_F(MimeMail, AttachmentsSavedWithTheirDecodedNames) {
  box_.MakeDir("saved");
  RunResult first = box_.Run({"-x", File(4), box_.Path("saved")}, "", kUtf8);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(box_.ReadFile("saved/見積書.pdf"), kAttachmentBytes);
  EXPECT_EQ(box_.ReadFile("saved/part-3.png"), "\x89PNG\r\n\x1a\n");
  // Saved again: nothing is written over.
  RunResult second = box_.Run({"-x", File(4), box_.Path("saved")}, "", kUtf8);
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(box_.List("saved"),
            (std::vector<std::string>{"part-3-1.png", "part-3.png", "見積書-1.pdf", "見積書.pdf"}));
  EXPECT_EQ(box_.ReadFile("saved/見積書-1.pdf"), kAttachmentBytes);
}

// On a Shift_JIS console a saved name is Shift_JIS, like every name Quillo
// makes.
TEST_F(MimeMail, AttachmentNamesFollowAShiftJisConsole) {
  box_.MakeDir("saved");
  RunResult r = box_.Run({"-x", File(4), box_.Path("saved")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(box_.List("saved"), (std::vector<std::string>{"part-3.png", Sjis("見積書.pdf")}));
  EXPECT_EQ(box_.ReadFile("saved/" + Sjis("見積書.pdf")), kAttachmentBytes);
  EXPECT_NE(r.out.find("[2] " + Sjis("見積書.pdf") + "\n"), std::string::npos) << r.out;
}

TEST_F(MimeMail, AFollowUpTakesTheDecodedFields) {
  RunResult r = box_.Run({"-e1", "-f", File(0)}, "y\n\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string draft = box_.ReadFile("mbox/outbox/0000.TXT");
  EXPECT_NE(draft.find("To: " + Sjis("山田太郎") + " <taro.yamada@gmail.com>\n"), std::string::npos) << draft;
  EXPECT_NE(draft.find("Subject: Re: " + Sjis("明日の会議について") + "\n"), std::string::npos) << draft;
  EXPECT_NE(draft.find("\n>" + Sjis("明日の会議は10時からです。") + "\n"), std::string::npos) << draft;
  EXPECT_EQ(draft.find("6Iqx5a2Q"), std::string::npos) << draft;
  EXPECT_EQ(draft.find("<div"), std::string::npos) << draft;
}

// The menu through a terminal: a number opens the view, "t" the message as
// stored, "x" asks where to save.
TEST_F(MimeMail, MenuViewStoredFormAndSaving) {
  box_.MakeDir("menu-saved");
  PtySession pty(box_, {}, {{"LC_ALL", ""}, {"LANG", "C.UTF-8"}, {"QUILLO_OFFLINE", "1"}});
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("1\r");
  ASSERT_TRUE(pty.WaitFor("明日の会議は10時からです。")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("-Hit Any Key-")) << pty.Output();
  pty.Send("x");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("t\r");
  ASSERT_TRUE(pty.WaitFor("Content-Transfer-Encoding: base64")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("-Hit Any Key-")) << pty.Output();
  pty.Send("x");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("5\r");
  ASSERT_TRUE(pty.WaitFor("-Hit Any Key-")) << pty.Output();
  pty.Send("x");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("x\r");
  ASSERT_TRUE(pty.WaitFor("Save to:")) << pty.Output();
  pty.Send(box_.Path("menu-saved") + "\r");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("q\r");
  EXPECT_EQ(pty.Finish(), 0);
  EXPECT_EQ(box_.ReadFile("menu-saved/見積書.pdf"), kAttachmentBytes);
}

// The same through a terminal whose console is Shift_JIS: the view's
// characters arrive as Shift_JIS bytes, what it cannot hold as the geta mark.
TEST_F(MimeMail, MenuViewOnAShiftJisConsole) {
  PtySession pty(box_, {}, {{"LC_ALL", "C"}, {"QUILLO_OFFLINE", "1"}});
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  const struct {
    const char* number;
    std::vector<std::string> shown;
  } cases[] = {
      {"1", {"From: " + Sjis("山田太郎") + " <taro.yamada@gmail.com>", Sjis("明日の会議は10時からです。")}},
      {"3", {Sjis("ｱｲｳ")}},
      {"6", {"Subject: " + Sjis("秋のセール"), Sjis("商品 ￥1,000")}},
  };
  for (const auto& c : cases) {
    const size_t before = pty.Output().size();
    pty.Send(std::string(c.number) + "\r");
    ASSERT_TRUE(pty.WaitFor("-Hit Any Key-")) << c.number << pty.Output();
    const std::string screen = pty.Output().substr(before);
    for (const std::string& text : c.shown) EXPECT_NE(screen.find(text), std::string::npos) << c.number << screen;
    for (const char* never : {"base64", "quoted-printable", "--000000000000abc", "<td", "=E5", "\x1b("}) {
      EXPECT_EQ(screen.find(never), std::string::npos) << c.number << " " << never;
    }
    pty.Send("x");
    ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  }
  pty.Send("q\r");
  EXPECT_EQ(pty.Finish(), 0);
}

}  // namespace
}  // namespace quillo::test
