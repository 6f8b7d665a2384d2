// The wire form and the filed copy of outgoing mail, built from outbox text
// with a fixed stamp: MIME header lines, encoded-words and their folding, the
// UTF-8 fallback, replies, line ends and attachments.
#include "compose/wire_form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoding/encoded_words.h"
#include "encoding/jis.h"
#include "tests/unit/compose_fixture.h"
#include "platform/socket.h"

namespace quillo::composetest {
namespace {

const std::string kMailer = "X-Mailer: kelvaro Quillo Ver.0.61[" + std::string(kSocketLayerName) + "] ";
const std::string kDate = "Wed, 9 Dec 2026 12:00:00 +0900 (JST)";
const std::string kId = "<1796526307.000002.3.0000000000000abc@example.com>";
const std::string kJisText = "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
                             "Content-Transfer-Encoding: 7bit\r\n";
const std::string kUtf8Text = "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                              "Content-Transfer-Encoding: base64\r\n";
const std::string kTrailer = "Date: " + kDate + "\r\nMessage-ID: " + kId + "\r\n" + kMailer + "\r\n\r\n";

class ComposeWireForm : public ComposeFixture {
 protected:
  OutgoingMessage Compose(const std::string& outbox, const std::vector<Attachment>& files = {}) {
    WireStamp stamp;
    stamp.date = kDate;
    stamp.seed = {1796526307, 2, 3, 0xabc};
    stamp.hostName = "host.example";
    OutgoingMessage m;
    Outcome o = Call([&] { return ComposeOutgoing(outbox, files, stamp, m); });
    EXPECT_EQ(o.result, 1) << o.err;
    return m;
  }
};

// The header of a wire message, and checks every wire message must pass.
std::string WireHeader(const std::string& wire) {
  const size_t end = wire.find("\r\n\r\n");
  EXPECT_NE(end, std::string::npos);
  return wire.substr(0, end + 2);
}

void ExpectSoundWire(const std::string& wire, const std::string& name) {
  size_t pos = 0;
  const std::string header = WireHeader(wire);
  while (pos < wire.size()) {
    const size_t end = wire.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << name << ": the data does not end with CR LF";
    const std::string line = wire.substr(pos, end - pos);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << name << ": a bare CR or LF in " << line;
    EXPECT_LE(line.size(), kMaxWireLine) << name;
    for (unsigned char c : line) EXPECT_LT(c, 0x80) << name << ": an 8-bit byte in " << line;
    if (pos < header.size()) {
      EXPECT_LE(line.size(), 78u) << name << ": " << line;
    }
    pos = end + 2;
  }
}

TEST_F(ComposeWireForm, HeaderLinesAndText) {
  struct Case {
    const char* name;
    std::string outbox;
    std::string wire;
  };
  const std::vector<Case> cases = {
      {"ascii only", "From: Me Myself <me@example.com>\nTo: a@x, b@y\nSubject: hi\n" + kMailer + "\n\n\nbody\n.\n",
       "From: Me Myself <me@example.com>\r\nTo: a@x, b@y\r\nSubject: hi\r\n" + kJisText + kTrailer + "body\r\n.\r\n"},
      {"japanese subject between ascii words", "To: a@x\nSubject: Re: \x93\xfa\x96{\x8c\xea test\n\n\x93\xfa\n",
       "To: a@x\r\nSubject: Re: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= test\r\n" + kJisText + kTrailer +
           "\x1b$BF|\x1b(J\r\n"},
      {"japanese display names, addresses as they are",
       "From: \x8eR\x93\x63 \x91\xbe\x98Y <me@example.com>\nTo: \"\x8eR\x93\x63 \x91\xbe\x98Y\" <t@x>, b@y (\x93\xfa)\n\nb\n",
       "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <me@example.com>\r\n"
       "To: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <t@x>,\r\n =?ISO-2022-JP?B?GyRCRnwbKEI=?= <b@y>\r\n" +
           kJisText + kTrailer + "b\r\n"},
      {"an ascii name with specials is quoted", "From: J. Doe <j@x>\nTo: a@x\n\nb\n",
       "From: \"J. Doe\" <j@x>\r\nTo: a@x\r\n" + kJisText + kTrailer + "b\r\n"},
      {"blind copies, the file list and dates stay home",
       "To: a@x\nBcc: h@x,\n i@x\nAttach: \nDate: then\n" + kMailer + "\n\nb\n", "To: a@x\r\n" + kJisText + kTrailer + "b\r\n"},
      {"a reply: In-Reply-To as the bare id, References as they are",
       "To: a@x\nIn-Reply-To: Your message of \" Mon, 15 Jan 2024 10:30:00 +0900\"\n              <1@x.jp>\n"
       "References: <0@x.jp> <1@x.jp>\n\nb\n",
       "To: a@x\r\nIn-Reply-To: <1@x.jp>\r\nReferences: <0@x.jp> <1@x.jp>\r\n" + kJisText + kTrailer + "b\r\n"},
      {"another In-Reply-To form is kept", "To: a@x\nIn-Reply-To: <9@x>\n\nb\n",
       "To: a@x\r\nIn-Reply-To: <9@x>\r\n" + kJisText + kTrailer + "b\r\n"},
      {"a Message-ID of the outbox file is kept", "Message-ID: <mine@x>\nTo: a@x\n\nb\n",
       "To: a@x\r\n" + kJisText + "Date: " + kDate + "\r\nMessage-ID: <mine@x>\r\n" + kMailer + "\r\n\r\nb\r\n"},
      {"bare CR: a blank in the header, a line end in the text, never sent raw",
       "To: a@x\nSubject: a\rb\n\nx\ry\n.\rz\n",
       "To: a@x\r\nSubject: a b\r\n" + kJisText + kTrailer + "x\r\ny\r\n.\r\nz\r\n"},
      {"a last line without line end gets one; an empty text stays empty", "To: a@x\n\nend",
       "To: a@x\r\n" + kJisText + kTrailer + "end\r\n"},
      {"no body at all", "To: a@x\n\n", "To: a@x\r\n" + kJisText + kTrailer},
      {"an encoded-word in a replied subject passes, a lone =? is encoded",
       "To: a@x\nSubject: Re: =?UTF-8?B?4pGg?= a=?b\n\nb\n",
       "To: a@x\r\nSubject: Re: =?UTF-8?B?4pGg?= =?ISO-2022-JP?B?YT0/Yg==?=\r\n" + kJisText + kTrailer + "b\r\n"},
      {"characters JIS X 0208 lacks: UTF-8 words and a base64 text",
       "To: a@x\nSubject: \x87@\n\n\x87@\x82\xc6\xee\xe0\n",
       "To: a@x\r\nSubject: =?UTF-8?B?4pGg?=\r\n" + kUtf8Text + kTrailer + "4pGg44Go6auZDQo=\r\n"},
  };
  for (const Case& c : cases) {
    OutgoingMessage m = Compose(c.outbox);
    EXPECT_EQ(m.wire, c.wire) << c.name;
    ExpectSoundWire(m.wire, c.name);
  }
}

TEST_F(ComposeWireForm, LongHeaderTextFoldsIntoWholeCharacterWordsThatDecodeBack) {
  struct Case {
    const char* name;
    std::string value;  // Shift_JIS
    std::string charset;
  };
  std::string kanji;
  for (int i = 0; i < 60; ++i) kanji += "\x93\xfa\x96{";  // 日本
  std::string mixed;
  for (int i = 0; i < 30; ++i) mixed += (i ? " \x8c\xea" : "\x8c\xea") + std::string("ab");
  const std::vector<Case> cases = {
      {"sixty pairs of kanji", kanji, "ISO-2022-JP"},
      {"ascii and kanji in turns", mixed, "ISO-2022-JP"},
      {"kanji with a vendor character", kanji + "\x87@", "UTF-8"},
  };
  for (const Case& c : cases) {
    OutgoingMessage m = Compose("To: a@x\nSubject: " + c.value + "\n\nb\n");
    ExpectSoundWire(m.wire, c.name);
    const std::string header = WireHeader(m.wire);
    const size_t start = header.find("Subject:");
    const std::string field = header.substr(start, header.find("\r\nMIME-Version") - start);
    // Every word whole on its line, at most 75 characters, of one charset.
    std::string decoded;
    size_t words = 0;
    for (size_t pos = field.find("=?"); pos != std::string::npos; pos = field.find("=?", pos + 1)) {
      const size_t end = field.find("?=", pos + 2 + c.charset.size() + 3);
      ASSERT_NE(end, std::string::npos);
      const std::string word = field.substr(pos, end + 2 - pos);
      EXPECT_LE(word.size(), 75u) << c.name;
      EXPECT_TRUE(word.starts_with("=?" + c.charset + "?B?")) << c.name << ": " << word;
      std::string bytes;
      DecodeBase64(word.substr(c.charset.size() + 5, word.size() - c.charset.size() - 7), bytes);
      if (c.charset == "ISO-2022-JP") {
        // Each word begins in ASCII and returns to it.
        const size_t lastEscape = bytes.rfind('\x1b');
        EXPECT_TRUE(lastEscape == std::string::npos || bytes.compare(lastEscape, 3, "\x1b(B") == 0) << c.name;
        decoded += JisToSjis(bytes);
      } else {
        decoded += bytes;
      }
      ++words;
      pos = end;
    }
    EXPECT_GT(words, 2u) << c.name;
    if (c.charset == "ISO-2022-JP") {
      EXPECT_EQ(decoded, c.value) << c.name;
    }
  }
}

TEST_F(ComposeWireForm, TheFiledCopyHoldsWhatWasSentInShiftJis) {
  const std::string outbox =
      "From: Me <me@example.com>\nTo: a@x\nBcc: h@x\nSubject: \x93\xfa\nIn-Reply-To: Your message of \"d\"\n"
      "              <1@x>\nDate: old\n" + kMailer + "\n\nline\n";
  OutgoingMessage m = Compose(outbox);
  EXPECT_EQ(m.filed, "Date: " + kDate + "\nFrom: Me <me@example.com>\nTo: a@x\nBcc: h@x\nSubject: \x93\xfa\n"
                     "In-Reply-To: <1@x>\nMIME-Version: 1.0\n"
                     "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n"
                     "Message-ID: " + kId + "\n" + kMailer + "\n\nline\n");
  OutgoingMessage utf8 = Compose("To: a@x\n\n\x87@\n");
  EXPECT_TRUE(utf8.filed.ends_with("Content-Transfer-Encoding: base64\nMessage-ID: " + kId + "\n\n4pGgDQo=\n"))
      << utf8.filed;
}

TEST_F(ComposeWireForm, ALineTooLongForTheWireGoesInBase64) {
  const std::string longLine(999, 'a');
  OutgoingMessage m = Compose("To: a@x\n\n" + longLine + "\nshort\n");
  ExpectSoundWire(m.wire, "long line");
  ASSERT_NE(m.wire.find(kUtf8Text), std::string::npos);
  std::string text;
  DecodeBase64(m.wire.substr(m.wire.find("\r\n\r\n") + 4), text);
  EXPECT_EQ(text, longLine + "\r\nshort\r\n");
  // JIS escapes count: 332 kanji and their escapes pass 998 bytes.
  std::string kanji;
  for (int i = 0; i < 498; ++i) kanji += "\x93\xfa";
  EXPECT_NE(Compose("To: a@x\n\n" + kanji + "\n").wire.find("charset=UTF-8"), std::string::npos);
  EXPECT_NE(Compose("To: a@x\n\n" + kanji.substr(0, 990) + "\n").wire.find("charset=ISO-2022-JP"), std::string::npos);
}

TEST_F(ComposeWireForm, AttachmentsMakeAMultipartMessage) {
  const std::vector<Attachment> files = {{"/d/report.pdf", std::string("%PDF\0\xff", 6)},
                                         {"/d/\xe5\xa0\xb1\xe5\x91\x8a.txt", "hello"}};
  OutgoingMessage m = Compose("To: a@x\nAttach: /d/report.pdf\nAttach: /d/x\nSubject: s\n\ntext\n", files);
  ExpectSoundWire(m.wire, "attachments");
  const std::string b = "=_6b14d0e3_2_3_0000000000000abc";
  EXPECT_EQ(m.wire,
            "To: a@x\r\nSubject: s\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n boundary=\"" + b +
                "\"\r\nContent-Transfer-Encoding: 7bit\r\n" + kTrailer + "--" + b +
                "\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                "text\r\n\r\n--" + b +
                "\r\nContent-Type: application/pdf;\r\n name=\"report.pdf\"\r\n"
                "Content-Disposition: attachment;\r\n filename=\"report.pdf\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\nJVBERgD/\r\n--" + b +
                "\r\nContent-Type: text/plain;\r\n name=\"=?UTF-8?B?5aCx5ZGKLnR4dA==?=\"\r\n"
                "Content-Disposition: attachment;\r\n filename*=UTF-8''%E5%A0%B1%E5%91%8A.txt\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\naGVsbG8=\r\n--" + b + "--\r\n");
  EXPECT_EQ(m.textEnd, m.wire.find("--" + b + "\r\nContent-Type: application/pdf"));
  // Filed: the same parts, LF lines.
  EXPECT_NE(m.filed.find("\n\n--" + b + "\nContent-Type: text/plain; charset=ISO-2022-JP\n"), std::string::npos);
  EXPECT_NE(m.filed.find("\n\nJVBERgD/\n--" + b + "\n"), std::string::npos);
  EXPECT_EQ(m.filed.find("Attach:"), std::string::npos);
}

TEST_F(ComposeWireForm, ALongJapaneseFileNameIsCutIntoSectionsOfWholeCharacters) {
  std::string name;
  for (int i = 0; i < 20; ++i) name += "\xe5\xa0\xb1";  // 報, three UTF-8 bytes
  const std::string header = AttachmentHeader(name + ".pdf", "\r\n");
  EXPECT_TRUE(header.starts_with("Content-Type: application/pdf;\r\n name=\"=?UTF-8?B?")) << header;
  EXPECT_NE(header.find("Content-Disposition: attachment;\r\n filename*0*=UTF-8''%E5%A0%B1"), std::string::npos);
  EXPECT_NE(header.find(";\r\n filename*1*=%E5%A0%B1"), std::string::npos) << header;
  size_t pos = 0;
  while (pos < header.size()) {
    const size_t end = header.find("\r\n", pos);
    EXPECT_LE(end - pos, 78u) << header.substr(pos, end - pos);
    pos = end + 2;
  }
}

TEST_F(ComposeWireForm, MediaTypesAndNames) {
  struct Case {
    std::string name;
    std::string type;
  };
  const std::vector<Case> cases = {{"a.PDF", "application/pdf"}, {"photo.jpeg", "image/jpeg"},
                                   {"x.tar.gz", "application/gzip"}, {"noext", "application/octet-stream"},
                                   {"a.unknown", "application/octet-stream"}, {".txt", "text/plain"}};
  for (const Case& c : cases) EXPECT_EQ(MediaTypeFor(c.name), c.type) << c.name;
  EXPECT_EQ(NameAsUtf8("\xe5\xa0\xb1.txt"), "\xe5\xa0\xb1.txt");
  EXPECT_EQ(NameAsUtf8("\x95\xf1.txt"), "\xe5\xa0\xb1.txt");  // 報 typed in Shift_JIS
  EXPECT_EQ(NameAsUtf8("\xff\xfe"), "");
}

TEST_F(ComposeWireForm, TextThatIsNoShiftJisIsRefused) {
  WireStamp stamp;
  OutgoingMessage m;
  Outcome o = Call([&] { return ComposeOutgoing("To: a@x\n\n\xff\xfe\n", {}, stamp, m); });
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.err, "mail text holds bytes that are no Shift_JIS characters!\a\n");
}

}  // namespace
}  // namespace quillo::composetest
