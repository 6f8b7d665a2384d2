#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "mime/content_type.h"
#include "mime/message.h"
#include "mime/text_charset.h"
#include "mime/transfer.h"
#include "platform/text_file.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

struct DecodeCase {
  const char* name;
  std::string encoded;
  std::string decoded;
};

const DecodeCase kBase64Cases[] = {
    {"Plain", "YWJj", "abc"},
    {"Padded", "YQ==", "a"},
    {"MissingPadding", "YWI", "ab"},
    {"LineBreaksAndJunk", "YW\r\nJj*!ZA==\n", "abcd"},
    {"PaddingThenMore", "YQ==Yg==", "ab"},
    {"LoneSextetDropped", "YWJjZ", "abc"},
    {"Empty", "", ""},
};

const DecodeCase kQpCases[] = {
    {"Plain", "abc\n", "abc\n"},
    {"HexBothCases", "=E3=81=82=e3=81=82\n", "\xE3\x81\x82\xE3\x81\x82\n"},
    {"SoftBreak", "abc=\ndef\n", "abcdef\n"},
    {"SoftBreakWithBlanks", "abc= \t\r\ndef\n", "abcdef\n"},
    {"TrailingBlanksDropped", "abc  \r\n", "abc\n"},
    {"StrayEquals", "a=b =\x80 x=\n", "a=b =\x80 x"},
    {"EqualsAtEndOfText", "a=", "a"},
    {"BadHex", "=G1=4", "=G1=4"},
    {"NoFinalBreak", "abc", "abc"},
};

TEST(MimeTransferTest, Base64) {
  for (const DecodeCase& c : kBase64Cases) EXPECT_EQ(DecodeBase64Text(c.encoded), c.decoded) << c.name;
}

TEST(MimeTransferTest, QuotedPrintable) {
  for (const DecodeCase& c : kQpCases) EXPECT_EQ(DecodeQuotedPrintableText(c.encoded), c.decoded) << c.name;
}

// Fed a byte at a time, the decoders give what they give for the whole text.
TEST(MimeTransferTest, PiecesDecodeAsTheWhole) {
  for (const DecodeCase& c : kBase64Cases) {
    Base64Decoder decoder;
    std::string out;
    for (char ch : c.encoded) decoder.Feed(std::string_view(&ch, 1), out);
    decoder.Finish(out);
    EXPECT_EQ(out, c.decoded) << c.name;
  }
  for (const DecodeCase& c : kQpCases) {
    QuotedPrintableDecoder decoder;
    std::string out;
    for (char ch : c.encoded) decoder.Feed(std::string_view(&ch, 1), out);
    decoder.Finish(out);
    EXPECT_EQ(out, c.decoded) << c.name;
  }
}

struct ParameterCase {
  const char* name;
  std::string raw;
  std::string value;
  std::string parameter;
  std::string text;
};

const ParameterCase kParameterCases[] = {
    {"Token", "text/plain; charset=ISO-2022-JP", "text/plain", "charset", "ISO-2022-JP"},
    {"UpperCaseTypeAndName", "TEXT/Plain; CHARSET=\"utf-8\"", "text/plain", "charset", "utf-8"},
    {"Folded", "multipart/mixed;\r\n\tboundary=\"----=_Part_1\"", "multipart/mixed", "boundary", "----=_Part_1"},
    {"Comment", "text/plain (a comment); charset=us-ascii (more)", "text/plain", "charset", "us-ascii"},
    {"QuotedSemicolon", "attachment; filename=\"a;b.txt\"", "attachment", "filename", "a;b.txt"},
    {"Rfc2231", "attachment; filename*=UTF-8''%E8%A6%8B%E7%A9%8D.pdf", "attachment", "filename",
     "\xE8\xA6\x8B\xE7\xA9\x8D.pdf"},
    {"Rfc2231Sections",
     "attachment;\r\n filename*0*=ISO-2022-JP''%1B%24B%38%2B%40%51%3D%71%1B%28B;\r\n filename*1=.pdf",
     "attachment", "filename", "\xE8\xA6\x8B\xE7\xA9\x8D\xE6\x9B\xB8.pdf"},
    {"Rfc2231SectionsOutOfOrder", "attachment; name*1=\"def\"; name*0=\"abc\"", "attachment", "name", "abcdef"},
    {"Rfc2231WinsOverPlain", "attachment; filename=\"x.bin\"; filename*=utf-8'ja'%E3%81%82", "attachment",
     "filename", "\xE3\x81\x82"},
    {"EncodedWordInQuotes", "application/pdf; name=\"=?UTF-8?B?6KaL56mN5pu4LnBkZg==?=\"", "application/pdf", "name",
     "\xE8\xA6\x8B\xE7\xA9\x8D\xE6\x9B\xB8.pdf"},
    {"ShiftJisNameWithBackslashTrail", "application/octet-stream; name=\"\x83\x5C.txt\"", "application/octet-stream",
     "name", "\xE3\x82\xBD.txt"},
    {"EscapedQuote", "attachment; filename=\"a\\\"b\"", "attachment", "filename", "a\"b"},
    {"Missing", "text/plain", "text/plain", "charset", ""},
    {"NoValue", "text/plain; charset; format=flowed", "text/plain", "format", "flowed"},
    {"ValueWithoutName", "text/plain; =x; charset=utf-8", "text/plain", "charset", "utf-8"},
    {"SectionWithoutName", "attachment; *=utf-8''%41; filename=a", "attachment", "filename", "a"},
};

TEST(MimeContentTypeTest, Parameters) {
  for (const ParameterCase& c : kParameterCases) {
    const ParameterField field = ParseParameterField(c.raw);
    EXPECT_EQ(field.value, c.value) << c.name;
    EXPECT_EQ(ParameterText(field, c.parameter), c.text) << c.name;
  }
}

struct ViewCase {
  const char* name;
  std::string message;
  std::string view;
  HeaderMode mode = HeaderMode::kShort;
};

// "44GC44GE" is "あい" in UTF-8 base64; "GyRCJCIkJBsoQg==" is the same in ISO-2022-JP.
const ViewCase kViewCases[] = {
    {"PlainShiftJis",
     "From: a@x\nSubject: \x82\xA0\nX-Other: y\n\n\x82\xA0\x82\xA2\n",
     "From: a@x\nSubject: \xE3\x81\x82\n\n\xE3\x81\x82\xE3\x81\x84\n"},
    {"ShortHeaderOrder",
     "Subject: s\nCc: c@x\nTo: t@x\nFrom: f@x\nDate: Mon, 1 Jan 2024 00:00:00 +0900\nReceived: r\n\nbody\n",
     "Date: Mon, 1 Jan 2024 00:00:00 +0900\nFrom: f@x\nTo: t@x\nCc: c@x\nSubject: s\n\nbody\n"},
    {"AllHeadersStoredAsTheyAre",
     "Received: from a\n\tby b\nSubject: \x82\xA0\n\nbody\n",
     "Received: from a\n\tby b\nSubject: \xE3\x81\x82\n\nbody\n", HeaderMode::kAll},
    {"AllHeadersDecodedWhereEncoded",
     "Subject: =?utf-8?B?44GC?=\n =?utf-8?B?44GE?=\nX-A:  b\n\nbody\n",
     "Subject: \xE3\x81\x82\xE3\x81\x84\nX-A:  b\n\nbody\n", HeaderMode::kAll},
    {"Base64Utf8",
     "Subject: =?UTF-8?B?44GC?=\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64\n\n"
     "44GC44GE\n",
     "Subject: \xE3\x81\x82\n\n\xE3\x81\x82\xE3\x81\x84\n"},
    {"QuotedPrintableJis",
     "Content-Type: text/plain; charset=iso-2022-jp\nContent-Transfer-Encoding: quoted-printable\n\n"
     "=1B$B$\"$$=1B(B\n",
     "\n\xE3\x81\x82\xE3\x81\x84\n"},
    {"SevenBitJisStoredAsShiftJis",
     "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n\n\x82\xA0\n",
     "\n\xE3\x81\x82\n"},
    {"LabelledJisButUtf8",
     "Content-Type: text/plain; charset=iso-2022-jp\nContent-Transfer-Encoding: 8bit\n\n\xE3\x81\x82\n",
     "\n\xE3\x81\x82\n"},
    {"NoLabelEucJp", "Content-Type: text/plain\n\n\xA4\xA2\xA4\xA4\xB4\xC1\xBB\xFA\n",
     "\n\xE3\x81\x82\xE3\x81\x84\xE6\xBC\xA2\xE5\xAD\x97\n"},
    {"AlternativeGivesPlain",
     "Content-Type: multipart/alternative; boundary=\"b1\"\n\npreamble\n--b1\n"
     "Content-Type: text/plain; charset=utf-8\n\nplain text\n--b1\nContent-Type: text/html\n\n<p>html</p>\n"
     "--b1--\nepilogue\n",
     "\nplain text\n"},
    {"AlternativeWithoutPlainGivesHtml",
     "Content-Type: multipart/alternative; boundary=b1\n\n--b1\nContent-Type: text/html; charset=utf-8\n\n"
     "<p>Hello <b>world</b></p>\n--b1--\n",
     "\nHello world\n"},
    {"MixedWithAttachment",
     "Subject: s\nContent-Type: multipart/mixed; boundary=\"outer\"\n\n--outer\n"
     "Content-Type: multipart/alternative; boundary=\"inner\"\n\n--inner\nContent-Type: text/plain\n\nhello\n"
     "--inner\nContent-Type: text/html\n\n<p>hello</p>\n--inner--\n--outer\n"
     "Content-Type: application/pdf; name=\"=?UTF-8?B?6KaL56mN5pu4LnBkZg==?=\"\n"
     "Content-Disposition: attachment\nContent-Transfer-Encoding: base64\n\nJVBERi0xLjQK\n--outer--\n",
     "Subject: s\n\nhello\n\n[3] \xE8\xA6\x8B\xE7\xA9\x8D\xE6\x9B\xB8.pdf (application/pdf, 9 B)\n"},
    {"MissingFinalBoundary",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nfirst\n--b\nContent-Type: image/png\n\nxx\n",
     "\nfirst\n\n[2] (image/png, 3 B)\n"},
    {"InnerCloseMissing",
     "Content-Type: multipart/mixed; boundary=o\n\n--o\nContent-Type: multipart/alternative; boundary=i\n\n"
     "--i\n\none\n--o\n\ntwo\n--o--\n",
     "\none\ntwo\n"},
    {"TwoInlineTextParts",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nbody\n--b\nContent-Type: text/plain\n\n-- \nfooter\n--b--\n",
     "\nbody\n-- \nfooter\n"},
    {"ForwardedMessage",
     "Subject: Fwd\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\nsee below\n--b\n"
     "Content-Type: message/rfc822\n\nFrom: inner@x\nSubject: =?utf-8?B?44GC?=\nX-Hidden: h\n\ninner text\n--b--\n",
     "Subject: Fwd\n\nsee below\n\nFrom: inner@x\nSubject: \xE3\x81\x82\n\ninner text\n"},
    {"TextAttachmentListed",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nbody\n--b\nContent-Type: text/csv\n"
     "Content-Disposition: attachment; filename=\"a.csv\"\n\n1,2\n--b--\n",
     "\nbody\n\n[2] a.csv (text/csv, 3 B)\n"},
    {"CrLfFile",
     "Subject: s\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nline one\r\nline two\r\n--b--\r\n",
     "Subject: s\n\nline one\nline two\n"},
    {"BoundaryLookalikeInBody",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\n\n--bb\n--b x\n--b--\n",
     "\n--bb\n--b x\n"},
    {"UnknownTypeAlone", "Content-Type: application/zip\nContent-Transfer-Encoding: base64\n\nUEsDBA==\n",
     "\n[1] (application/zip, 4 B)\n"},
    {"NoBoundaryParameterIsText", "Content-Type: multipart/mixed\n\n--x\nabc\n", "\n--x\nabc\n"},
    {"UnreadableTypeIsText", "Content-Type: te\x82xt/plain\n\nabc\n", "\nabc\n"},
    {"EightBitFieldNameShown", "X-\x82\xA0: =?utf-8?B?44GC?=\n\nabc\n", "X-\xE3\x81\x82: \xE3\x81\x82\n\nabc\n",
     HeaderMode::kAll},
    {"HeaderWithoutBlankLine", "Subject: s\nnot a header line\nmore\n", "Subject: s\n\nnot a header line\nmore\n"},
    {"FlowedJapanese",
     "Content-Type: text/plain; charset=utf-8; Format=Flowed; DelSp=Yes\nContent-Transfer-Encoding: base64\n\n"
     "5pel5pysIAroqp4KPiDlvJXnlKgg\nCj4g44Gn44GZCg==\n",
     "\n\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n> \xE5\xBC\x95\xE7\x94\xA8\xE3\x81\xA7\xE3\x81\x99\n"},
    {"FlowedOnlyForPlainText",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/html; format=flowed\n\n<p>a \nb</p>\n--b--\n",
     "\na b\n"},
    {"Utf16Part",
     "Content-Type: text/plain; charset=utf-16\nContent-Transfer-Encoding: base64\n\n//5CMEQw\n",
     "\n\xE3\x81\x82\xE3\x81\x84\n"},
};

TEST(MimeMessageViewTest, Views) {
  for (const ViewCase& c : kViewCases) {
    MessageView view;
    BuildMessageViewFromText(c.message, c.mode, view);
    EXPECT_EQ(view.text, c.view) << c.name;
  }
}

// Whether the stored bytes are the whole view: the file pager shows them as
// it always did.
TEST(MimeMessageViewTest, StoredAsShownOnlyWithoutMime) {
  const struct {
    const char* name;
    std::string message;
    bool stored;
  } cases[] = {
      {"NoMimeAtAll", "From: a@x\nSubject: \x82\xA0\n----------\nbody\n", true},
      {"DeclaredPlainJis", "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n\nb\n", true},
      {"DeclaredShiftJis8bit", "Content-Type: text/plain; charset=x-sjis\nContent-Transfer-Encoding: 8BIT\n\nb\n", true},
      {"AsciiNoEncoding", "Content-Type: text/plain; charset=us-ascii\n\nb\n", true},
      {"EncodedWordInSubject", "Subject: =?utf-8?B?44GC?=\n\nb\n", false},
      {"EncodedWordInFrom", "From: =?utf-8?Q?a?= <a@x>\n\nb\n", false},
      {"Utf8Charset", "Content-Type: text/plain; charset=utf-8\n\nb\n", false},
      {"Base64", "Content-Transfer-Encoding: base64\n\nYg==\n", false},
      {"QuotedPrintable", "Content-Transfer-Encoding: quoted-printable\n\nb=\n\n", false},
      {"Html", "Content-Type: text/html\n\n<p>b</p>\n", false},
      {"Multipart", "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nb\n--b--\n", false},
      {"Attachment", "Content-Type: application/pdf\n\n%PDF\n", false},
  };
  for (const auto& c : cases) {
    MessageView view;
    BuildMessageViewFromText(c.message, HeaderMode::kAll, view);
    EXPECT_EQ(view.storedAsShown, c.stored) << c.name;
  }
}

TEST(MimeMessageViewTest, AttachmentsListed) {
  MessageView view;
  BuildMessageViewFromText(kViewCases[11].message, HeaderMode::kShort, view);
  ASSERT_EQ(view.attachments.size(), 1u);
  EXPECT_EQ(view.attachments[0].number, 3);
  EXPECT_EQ(view.attachments[0].type, "application/pdf");
  EXPECT_EQ(view.attachments[0].fileName, "\xE8\xA6\x8B\xE7\xA9\x8D\xE6\x9B\xB8.pdf");
  EXPECT_FALSE(view.attachments[0].shownAsText);
}

struct SaveCase {
  const char* name;
  int number;
  int result;
  std::string bytes;
};

const std::string kSaveMessage =
    "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nbody text\n--b\n"
    "Content-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n\nAAEC\n/f7/\n--b\n"
    "Content-Type: text/plain\nContent-Transfer-Encoding: quoted-printable\n\na=3Db=\nc\nend\n--b\n"
    "Content-Type: application/x-raw\n\nline1\nline2\n\n--b--\n";

const SaveCase kSaveCases[] = {
    {"TextPart", 1, 0, "body text"},
    {"Base64Binary", 2, 0, std::string("\x00\x01\x02\xFD\xFE\xFF", 6)},
    {"QuotedPrintable", 3, 0, "a=bc\nend"},
    {"RawKeepsInnerBlankLine", 4, 0, "line1\nline2\n"},
    {"NoSuchPart", 5, -2, ""},
    {"ZeroIsNoPart", 0, -2, ""},
};

TEST(MimeSavePartTest, ExactDecodedBytes) {
  for (const SaveCase& c : kSaveCases) {
    std::string saved;
    const int result = SavePartFromText(kSaveMessage, c.number, [&](std::string_view bytes) {
      saved.append(bytes);
      return true;
    });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(saved, c.bytes) << c.name;
  }
}

TEST(MimeSavePartTest, PartWithoutBodySavedEmpty) {
  struct Case {
    const char* name;
    std::string message;
    std::string type;
  };
  const std::vector<Case> cases = {
      {"a leaf", "Content-Type: image/png\n", "image/png"},
      {"an attached message that ends within its header",
       "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: message/rfc822\n", "message/rfc822"},
  };
  for (const Case& c : cases) {
    MessageView view;
    BuildMessageViewFromText(c.message, HeaderMode::kShort, view);
    ASSERT_EQ(view.attachments.size(), 1u) << c.name;
    EXPECT_EQ(view.attachments[0].number, 1) << c.name;
    EXPECT_EQ(view.attachments[0].type, c.type) << c.name;
    // Nothing to write: a writer that always fails is never called.
    EXPECT_EQ(SavePartFromText(c.message, 1, [](std::string_view) { return false; }), 0) << c.name;
  }
}

TEST(MimeSavePartTest, WriteFailureReported) {
  EXPECT_EQ(SavePartFromText(kSaveMessage, 2, [](std::string_view) { return false; }), -3);
}

struct GuessCase {
  const char* name;
  std::string bytes;
  const char* charset;
};

// "あいうえお、漢字です。" in each form.
const GuessCase kGuessCases[] = {
    {"Escapes", "\x1B$B$\"$$\x1B(B", "iso-2022-jp"},
    {"Utf8", "\xE3\x81\x82\xE3\x81\x84", "utf-8"},
    {"Ascii", "plain", "utf-8"},
    {"ShiftJis", "\x82\xA0\x82\xA2\x82\xA4\x81\x41\x8A\xBF\x8E\x9A\x82\xC5\x82\xB7\x81\x42", "shift_jis"},
    {"EucJp", "\xA4\xA2\xA4\xA4\xA4\xA6\xA1\xA2\xB4\xC1\xBB\xFA\xA4\xC7\xA4\xB9\xA1\xA3", "euc-jp"},
    {"EucJpKanjiOnly", "\xB4\xC1\xBB\xFA\xC5\xEC\xB5\xFE", "euc-jp"},
    {"ShiftJisHalfWidthKana", "\xB1\xB2\xB3 \x83\x65\x83\x58\x83\x67", "shift_jis"},
};

TEST(MimeTextCharsetTest, Guesses) {
  for (const GuessCase& c : kGuessCases) EXPECT_EQ(GuessJapaneseCharset(c.bytes), c.charset) << c.name;
}

TEST(MimeTextCharsetTest, LabelFirstWhenValid) {
  std::string out;
  AppendDecodedText("iso-8859-1", "\xE9t\xE9", out);  // valid UTF-8 never, Latin-1 always
  EXPECT_EQ(out, "\xC3\xA9t\xC3\xA9");
  out.clear();
  AppendDecodedText("koi8-r", "\xE3\x81\x82", out);  // valid in the label: the label wins
  EXPECT_EQ(out, "\xD0\xA6\xE2\x94\x82\xE2\x94\x8C");
  out.clear();
  AppendDecodedText("us-ascii", "\x82\xA0", out);  // not ASCII at all: guessed
  EXPECT_EQ(out, "\xE3\x81\x82");
}

// A message of very many parts keeps only so many apart; the rest is read
// through, and the reader's memory stays bounded.
TEST(MimeMessageViewTest, PartsBounded) {
  std::string message = "Content-Type: multipart/mixed; boundary=b\n\n";
  for (int i = 0; i < 6000; ++i) message += "--b\n\nx\n";
  message += "--b--\n";
  MessageView view;
  BuildMessageViewFromText(message, HeaderMode::kShort, view);
  size_t shown = 0;
  for (size_t at = view.text.find("x\n"); at != std::string::npos; at = view.text.find("x\n", at + 1)) ++shown;
  EXPECT_EQ(shown, 5000u);
}

TEST(MimeMessageFileTest, UnreadableFile) {
  MessageView view;
  EXPECT_EQ(BuildMessageView("/nonexistent/quillo/1.txt", HeaderMode::kShort, view), -1);
  EXPECT_EQ(SavePart("/nonexistent/quillo/1.txt", 1, [](std::string_view) { return true; }), -1);
  std::vector<HeaderField> fields;
  EXPECT_EQ(ReadHeaderFields("/nonexistent/quillo/1.txt", fields), -1);
  EXPECT_EQ(QuotableText("/nonexistent/quillo/1.txt"), "");
}

// A 10 MB message whose attachment is 9 MB of base64 in one part: the view
// is built without decoding it, and quickly; saving gives every byte.
TEST(MimeMessageFileTest, LargeAttachmentNotDecodedForTheView) {
  test::Sandbox box;
  const std::string path = box.Path("1.txt");
  std::string message =
      "From: a@x\nSubject: big\nContent-Type: multipart/mixed; boundary=zz\n\n--zz\n"
      "Content-Type: text/plain; charset=utf-8\n\nsee the file\n--zz\n"
      "Content-Type: application/octet-stream; name=big.bin\nContent-Transfer-Encoding: base64\n\n";
  const std::string line = std::string(76, 'A') + "\n";  // 57 zero bytes a line
  const size_t lines = 9 * 1024 * 1024 / line.size();
  message.reserve(message.size() + lines * line.size() + 16);
  for (size_t i = 0; i < lines; ++i) message += line;
  message += "--zz--\n";
  {
    OutputFile out;
    ASSERT_TRUE(out.Open(path));
    ASSERT_TRUE(out.Write(message));
    ASSERT_TRUE(out.Close());
  }
  MessageView view;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(BuildMessageView(path, HeaderMode::kShort, view), 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(250));  // well under 0.1 s on a quiet machine
  EXPECT_EQ(view.text, "From: a@x\nSubject: big\n\nsee the file\n\n[2] big.bin (application/octet-stream, 6.7 MB)\n");
  ASSERT_EQ(view.attachments.size(), 1u);
  EXPECT_EQ(view.attachments[0].size, lines * 57);
  std::uint64_t saved = 0;
  bool allZero = true;
  ASSERT_EQ(SavePart(path, 2, [&](std::string_view bytes) {
              saved += bytes.size();
              allZero = allZero && bytes.find_first_not_of('\0') == std::string_view::npos;
              return true;
            }),
            0);
  EXPECT_EQ(saved, lines * 57);
  EXPECT_TRUE(allZero);
  EXPECT_EQ(QuotableText(path), "see the file\n");
}

TEST(MimeMessageFileTest, HeaderFieldsRaw) {
  test::Sandbox box;
  box.WriteFile("2.txt", "Subject: a\n b\nReply-To: r@x\n\nbody: not a field\n");
  const std::string path = box.Path("2.txt");
  std::vector<HeaderField> fields;
  ASSERT_EQ(ReadHeaderFields(path, fields), 0);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].value, " a\n b");
  EXPECT_EQ(FindField(fields, "reply-to"), " r@x");
  EXPECT_EQ(FindField(fields, "body"), "");
}

}  // namespace
}  // namespace quillo
