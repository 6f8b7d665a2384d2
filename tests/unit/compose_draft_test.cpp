// New drafts, follow-ups, the edit-and-send dialogue and the editor launch.
#include "compose/draft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "compose/follow_up.h"
#include "console/external.h"
#include "platform/files.h"
#include "platform/output.h"
#include "tests/support/smtp_server.h"
#include "tests/unit/compose_fixture.h"
#include "platform/socket.h"

namespace quillo::composetest {
namespace {

const std::string kTemplate =
    "From: Me Myself <me@example.com>\nTo: bob@example.com\nCc: \nBcc: \nSubject: \n----------\n\n";

class ComposeDraft : public ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    GetJobOptions().skipEditDialog = 1;
  }
  Outcome Draft(const std::string& to, const std::string& insert = "", const std::string& keys = "") {
    return Call([&] { return DraftNewMessage(to, LocalHostName(), insert); }, keys);
  }
};

TEST_F(ComposeDraft, TemplateInsertFileAndSignature) {
  box.WriteFile("insert.txt", "inserted 1\r\ninserted 2\n");
  box.WriteFile("sig.txt", "-- \nMe\n");
  struct Case {
    const char* name;
    std::string insert, signature;
    std::string draft, out, err;
  };
  const std::vector<Case> cases = {
      {"template only", "", "", kTemplate, "", ""},
      {"insert and signature", box.Path("insert.txt"), box.Path("sig.txt"),
       kTemplate + "inserted 1\ninserted 2\n\n-- \nMe\n", "including \"" + box.Path("insert.txt") + "\"\n", ""},
      {"missing insert file", box.Path("none.txt"), box.Path("sig.txt"), kTemplate + "\n-- \nMe\n", "",
       "orginal file(" + box.Path("none.txt") + ") open error!\a\n"},
      {"missing signature", "", "nosig.txt", kTemplate, "", "Signature file(nosig.txt) open error!\a\n"},
  };
  int number = 0;
  for (const Case& c : cases) {
    GetSettings().signature = c.signature;
    Outcome o = Draft("bob@example.com", c.insert);
    const std::string path = box.Path(Format("mbox/outbox/%04d.TXT", number++));
    EXPECT_EQ(o.result, 0) << c.name;
    EXPECT_EQ(box.ReadFile(path.substr(box.dir().size() + 1)), c.draft) << c.name;
    EXPECT_EQ(o.out, "Create mail file \"" + path + "\"\n" + c.out) << c.name;
    EXPECT_EQ(o.err, c.err) << c.name;
  }
}

TEST_F(ComposeDraft, AnEmptyAddressAndAMissingOutbox) {
  Draft("");
  EXPECT_EQ(box.ReadFile("mbox/outbox/0000.TXT").substr(0, 40), "From: Me Myself <me@example.com>\nTo: \nCc");
  std::filesystem::remove_all(box.Path("mbox/outbox"));
  Outcome o = Draft("bob@example.com");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.err, "TMP file(" + box.Path("mbox/outbox/0000.TXT") + ") create error!\a\n");
}

TEST_F(ComposeDraft, HeaderSeparatorIsTenHyphensEightOrAnEmptyLine) {
  struct Case {
    std::string text;
    int result;
  };
  const std::vector<Case> cases = {
      {"To: a\n----------\nbody\n", 1}, {"To: a\n--------x\n", 1}, {"To: a\n\nbody\n", 1},
      {"To: a\r\n\r\nbody\r\n", 1},     {"To: a\n-------\nbody\n", 0}, {"To: a\n \n", 0},
  };
  for (const Case& c : cases) {
    box.WriteFile("d.txt", c.text);
    Outcome o = Call([&] { return HasHeaderSeparator(box.Path("d.txt")); });
    EXPECT_EQ(o.result, c.result) << c.text;
    EXPECT_EQ(o.err, c.result ? "" : "Mailheader separator not found!\a\n") << c.text;
  }
  Outcome missing = Call([&] { return HasHeaderSeparator(box.Path("none.txt")); });
  EXPECT_EQ(missing.result, 0);
  EXPECT_EQ(missing.err, "TMP file(" + box.Path("none.txt") + ") read error!\a\n");
}

class ComposeEditAndSend : public ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    WriteRecordingEditor(box, "editor.sh", "editor.log");
    GetSettings().editor = box.Path("editor.sh");
    box.WriteFile("mbox/outbox/0000.TXT", "To: a@x\n----------\n\nbody\n");
  }
  Outcome Dialogue(const std::string& keys) {
    return Call([&] { return EditAndSend(box.Path("mbox/outbox/0000.TXT"), LocalHostName()); }, keys);
  }
  int EditorRuns() const {
    const std::string log = box.ReadFile("editor.log");
    return static_cast<int>(std::count(log.begin(), log.end(), '['));
  }
};

TEST_F(ComposeEditAndSend, AnswersThatLeaveTheDraftInTheOutbox) {
  struct Case {
    const char* name;
    std::string keys;
    int editorRuns;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"no edit", "n\n", 0, ""},
      {"edit, edit again twice, abort", "y\ne\nE\nA\n", 3, ""},
      {"input ends at the send question", "Y\n", 1, ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(box.Path("editor.log"));
    Outcome o = Dialogue(c.keys);
    EXPECT_EQ(o.result, 0) << c.name;
    EXPECT_EQ(EditorRuns(), c.editorRuns) << c.name;
    EXPECT_EQ(o.err, c.err) << c.name;
    EXPECT_TRUE(box.Exists("mbox/outbox/0000.TXT")) << c.name;
  }
}

TEST_F(ComposeEditAndSend, TheEditDialogueIsSkippedWithE1) {
  GetJobOptions().skipEditDialog = 1;
  Outcome o = Dialogue("y\ns\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(EditorRuns(), 0);
}

TEST_F(ComposeEditAndSend, EnterSendsUnlessTheNetworkOrTheSeparatorIsMissing) {
  GetJobOptions().networkUnavailable = 1;
  Outcome offline = Dialogue("y\n\n");
  EXPECT_EQ(offline.result, 0);
  EXPECT_EQ(offline.err, "Network Driver not detect!\r\ncannot sending!\r\n");
  GetJobOptions().networkUnavailable = 0;

  // The editor's "edited" line keeps the draft without separator or empty line.
  box.WriteFile("mbox/outbox/0000.TXT", "To: a@x\n");
  Outcome broken = Dialogue("y\ns\n");
  EXPECT_EQ(broken.result, 0);
  EXPECT_EQ(broken.err, "Mailheader separator not found!\a\n");

  box.WriteFile("mbox/outbox/0000.TXT", "To: a@x\n----------\n\nbody\n");
  test::ScriptedSmtpServer server(test::SmtpScript{});
  GetSettings().SMTPserver = server.Address();
  Outcome sent = Dialogue("y\n\n");
  EXPECT_EQ(sent.result, 1) << sent.out << sent.err;
  EXPECT_EQ(sent.out.substr(0, 16), "Mail Edit?(y/n):");
  EXPECT_NE(sent.out.find("Mail Send?(send[s]/Abort[a]/Edit[e]):"), std::string::npos);
  EXPECT_EQ(WithoutStamp(server.Data()), "From: Me Myself <me@example.com>\r\nTo: a@x\r\n" + kPlainMime +
                                            "X-Mailer: kelvaro Quillo Ver.0.61[" + std::string(kSocketLayerName) + "] \r\n\r\nbody\r\nedited\r\n.\r\n");
  EXPECT_TRUE(box.List("mbox/outbox").empty());
}

TEST_F(ComposeEditAndSend, TheEditorGetsOneQuotedArgumentInTheFilesDirectory) {
  const std::string dir = "mbox/it's a $(touch pwned) dir;";
  const std::string file = dir + "/0000 `x`.TXT";
  box.WriteFile(file, "To: a@x\n");
  const std::string before = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(box.dir()));
  // A relative path still names the file once the editor runs in its directory.
  const int status = EditFile(file);
  const std::string after = CurrentDirectory();
  ChangeDirectory(before);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(after, box.dir());
  EXPECT_EQ(box.ReadFile("editor.log"), box.Path(dir) + "\n1\n[" + box.Path(file) + "]\n");
  EXPECT_EQ(box.ReadFile(file), "To: a@x\nedited\n");
  EXPECT_FALSE(box.Exists("pwned"));
  EXPECT_FALSE(box.Exists(dir + "/pwned"));

  GetSettings().editor.clear();
  EXPECT_EQ(EditFile(box.Path(file)), -1);
}

class ComposeFollowUp : public ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    GetJobOptions().skipEditDialog = 1;
  }
  Outcome FollowUp(const std::string& original, const std::string& keys) {
    box.WriteFile("mbox/inbox/0004.TXT", original);
    return Call([&] { return DraftFollowUp(box.Path("mbox/inbox/0004.TXT"), LocalHostName()); }, keys);
  }
  std::string DraftText() const { return box.ReadFile("mbox/outbox/0000.TXT"); }
};

TEST_F(ComposeFollowUp, FieldsComeFromTheHeaderOnly) {
  struct Case {
    const char* name;
    std::string header;
    ReplyFields fields;
  };
  const std::vector<Case> cases = {
      {"return-path first", "Return-Path: <rp@x>\nFrom: f@x\nSubject: one\nSubject: two\n\nSubject: body\n",
       {" <rp@x>\n", "", " two\n", "", "", ""}},
      {"reply-to wins anywhere", "from: f@x\nCC: c@x\nREPLY-TO: r@x\nReturn-Path: <rp@x>\nDate: d\nMessage-ID: <m@x>\n",
       {" r@x\n", " c@x\n", "", " d\n", " <m@x>\n", ""}},
      {"CR LF lines", "From: f@x\r\nSubject: s\r\n\r\n", {" f@x\n", "", " s\n", "", "", ""}},
      {"a last line without line end", "From: f@x", {" f@x\n", "", "", "", "", ""}},
      {"cut to the field", "Subject: " + std::string(200, 's') + "\nDate: " + std::string(100, 'd') + "\n",
       {"", "", " " + std::string(158, 's') + "\n", " " + std::string(77, 'd') + "\n", "", ""}},
      {"cut before a double-byte character",
       "Date: " + std::string(76, 'd') + "\x93\xfa\x96{\n", {"", "", "", " " + std::string(76, 'd') + "\n", "", ""}},
      {"references with their continuation lines, the last one wins; the subject keeps its own",
       "References: <old@x>\nReferences: <a@x>\r\n\t<b@x>\n <c@x>\nSubject: s\n <not@x>\n",
       {"", "", " s <not@x>\n", "", "", " <a@x> \t<b@x>  <c@x> "}},
  };
  for (const Case& c : cases) {
    box.WriteFile("m.txt", c.header);
    ReplyFields f;
    ASSERT_EQ(ReadReplyFields(box.Path("m.txt"), f), 1);
    EXPECT_EQ(f.replyTo, c.fields.replyTo) << c.name;
    EXPECT_EQ(f.cc, c.fields.cc) << c.name;
    EXPECT_EQ(f.subject, c.fields.subject) << c.name;
    EXPECT_EQ(f.date, c.fields.date) << c.name;
    EXPECT_EQ(f.messageId, c.fields.messageId) << c.name;
    EXPECT_EQ(f.references, c.fields.references) << c.name;
  }
}

TEST_F(ComposeFollowUp, DraftsWithAndWithoutQuoting) {
  const std::string original =
      "Return-Path: <taro@x.jp>\nFrom: Taro <taro@x.jp>\nCc: c@x\nSubject: Re: lunch\n"
      "Date: Mon, 15 Jan 2024 10:30:00 +0900\r\nMessage-Id: <1@x.jp>\n\nhello\n";
  const std::string header =
      "From: Me Myself <me@example.com>\nTo: <taro@x.jp>\nCc: c@x\nSubject: Re: Re: lunch\n"
      "In-Reply-To: Your message of \" Mon, 15 Jan 2024 10:30:00 +0900\"\n"
      // thirteen blanks, then the field with its own leading blank
      "              <1@x.jp>\nReferences: <1@x.jp>\n----------\n\n";
  struct Case {
    const char* name;
    std::string keys;
    std::string draft;
    std::string prompts;
  };
  const std::vector<Case> cases = {
      {"no quote", "n\n", header, "Quote from original mail?(Y/N):n\r\n"},
      {"quote with the default prefix", "y\n\n",
       header + ">Return-Path: <taro@x.jp>\n>From: Taro <taro@x.jp>\n>Cc: c@x\n>Subject: Re: lunch\n"
                ">Date: Mon, 15 Jan 2024 10:30:00 +0900\n>Message-Id: <1@x.jp>\n>\n>hello\n",
       "Quote from original mail?(Y/N):y\r\nPrefix(\">\"):\r\n"},
      {"quote with a typed prefix", "Y\n| \n", header + "| Return-Path: <taro@x.jp>\n", "Prefix(\">\"):| \r\n"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(box.Path("mbox/outbox/0000.TXT"));
    GetSettings().quotePrefix = "old";
    Outcome o = FollowUp(original, c.keys);
    EXPECT_EQ(o.result, 0) << c.name;
    EXPECT_EQ(DraftText().substr(0, c.draft.size()), c.draft) << c.name;
    EXPECT_NE(o.out.find(c.prompts), std::string::npos) << c.name << ": " << o.out;
  }
}

TEST_F(ComposeFollowUp, MissingFieldsAndFiles) {
  struct Case {
    const char* name;
    std::string original;
    std::string draft;
  };
  const std::vector<Case> cases = {
      {"no subject, no message id", "From: f@x\nDate: d\n\nb\n",
       "From: Me Myself <me@example.com>\nTo: f@x\nSubject:\n----------\n\n"},
      {"no date: references only", "From: f@x\nMessage-Id: <m>\n\nb\n",
       "From: Me Myself <me@example.com>\nTo: f@x\nSubject:\nReferences: <m>\n----------\n\n"},
      {"a long thread: folded, the oldest id kept, the middle dropped",
       "From: f@x\nMessage-Id: <last@x>\nReferences: <first@x>" + [] {
         std::string ids;
         for (int i = 0; i < 60; ++i) ids += "\n <middle" + std::to_string(100 + i) + "@example.jp>";
         return ids;
       }() + "\n\nb\n",
       [] {
         // 900 bytes hold the first id, the last 38 middle ids and the own id.
         std::string lines = "References: <first@x>";
         std::string line = lines;
         std::string out;
         for (int i = 22; i < 60; ++i) {
           const std::string id = "<middle" + std::to_string(100 + i) + "@example.jp>";
           if (line.size() + 1 + id.size() > 78) {
             out += line + "\n";
             line.clear();
           }
           line += " " + id;
         }
         line += " <last@x>";
         return "From: Me Myself <me@example.com>\nTo: f@x\nSubject:\n" + out + line + "\n----------\n\n";
       }()},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(box.Path("mbox/outbox/0000.TXT"));
    Outcome o = FollowUp(c.original, "n\n");
    EXPECT_EQ(DraftText(), c.draft) << c.name;
  }
  Outcome noSender = FollowUp("Subject: s\n\nFrom: body@x\n", "n\n");
  EXPECT_EQ(noSender.result, 0);
  EXPECT_EQ(noSender.err, "Unkoun 'To:'!\a\n");

  Outcome missing = Call([&] { return DraftFollowUp(box.Path("none.TXT"), LocalHostName()); });
  EXPECT_EQ(missing.err, "File not fonund!(" + box.Path("none.TXT") + ")\a\n");

  GetSettings().signature = box.Path("nosig");
  std::filesystem::remove(box.Path("mbox/outbox/0000.TXT"));
  Outcome noSig = FollowUp("From: f@x\n\nb\n", "n\n");
  EXPECT_EQ(noSig.err, "signature(" + box.Path("nosig") + ") open error!\a\n");
}

// Mail as senders write it today: the reply takes the sender, Cc and Subject
// decoded and quotes what the view shows, all in Shift_JIS. "5bGx55Sw" is
// "山田" in UTF-8 base64.
TEST_F(ComposeFollowUp, TheDecodedFieldsAndTextAreTaken) {
  const std::string yamada = "\x8eR\x93\x63", nihon = "\x93\xfa\x96{", geta = "\x81\xac";
  const std::string head = "From: Me Myself <me@example.com>\n";
  const std::string tail = "----------\n\n";
  struct Case {
    const char* name;
    std::string original;
    std::string keys;
    std::string draft;
  };
  const std::vector<Case> cases = {
      {"encoded sender and subject, folded over two words",
       "From: =?UTF-8?B?5bGx55Sw?= <y@x.jp>\nSubject: =?UTF-8?B?5pel?=\n =?UTF-8?B?5pys?=\n\nb\n", "n\n",
       head + "To: " + yamada + " <y@x.jp>\nSubject: Re: " + nihon + "\n" + tail},
      {"reply-to wins, decoded; cc decoded as a list",
       "From: a@x\nReply-To: =?iso-2022-jp?B?GyRCOzNFRBsoQg==?= <r@x>\nCc: =?utf-8?Q?=E6=97=A5?= <c@x>, d@x\n"
       "Subject: s\n\nb\n",
       "n\n", head + "To: " + yamada + " <r@x>\nCc: " + "\x93\xfa" + " <c@x>, d@x\nSubject: Re: s\n" + tail},
      {"a decoded name with a comma is quoted", "From: =?UTF-8?Q?Yamada=2C_Taro?= <t@x>\n\nb\n", "n\n",
       head + "To: \"Yamada, Taro\" <t@x>\nSubject:\n" + tail},
      {"raw UTF-8 and what Shift_JIS cannot hold",
       "From: \xE5\xB1\xB1\xE7\x94\xB0 <y@x>\nSubject: \xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC\n\nb\n", "n\n",
       head + "To: " + yamada + " <y@x>\nSubject: Re: " + geta + " " + nihon + "\n" + tail},
      {"stored Shift_JIS stays byte for byte", "From: " + yamada + " <y@x>\nSubject: \x87\x40\n\nb\n", "n\n",
       head + "To: " + yamada + " <y@x>\nSubject: Re: \x87\x40\n" + tail},
      {"base64 alternative: the plain text quoted, never the encoding or the html",
       "From: y@x\nSubject: =?UTF-8?B?5pel?=\nContent-Type: multipart/alternative; boundary=b\n\n--b\n"
       "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64\n\n5pel5pysCuacrA==\n--b\n"
       "Content-Type: text/html\n\n<p>html</p>\n--b--\n",
       "y\n\n",
       head + "To: y@x\nSubject: Re: \x93\xfa\n" + tail + ">From: y@x\n>Subject: \x93\xfa\n>\n>" + nihon + "\n>\x96{\n"},
      {"html only: reduced, attachment lines left out",
       "From: y@x\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/html; charset=utf-8\n\n"
       "<p>a<br>b &amp; c</p>\n--b\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n\niVBORw==\n--b--\n",
       "y\n| \n", head + "To: y@x\nSubject:\n" + tail + "| From: y@x\n| \n| a\n| b & c\n"},
      {"folded plain subject and cc: every line, bytes kept",
       "From: y@x\nCc: a@x,\n b@x,\n\tc@x\nSubject: " + nihon + " meeting\n  on Monday\n\nb\n", "n\n",
       head + "To: y@x\nCc: a@x, b@x,\tc@x\nSubject: Re: " + nihon + " meeting  on Monday\n" + tail},
      {"a message without MIME is quoted as stored",
       "Received: r\nFrom: y@x\nSubject: " + nihon + "\n\n" + nihon + "\n", "y\n\n",
       head + "To: y@x\nSubject: Re: " + nihon + "\n" + tail + ">Received: r\n>From: y@x\n>Subject: " + nihon +
           "\n>\n>" + nihon + "\n"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(box.Path("mbox/outbox/0000.TXT"));
    Outcome o = FollowUp(c.original, c.keys);
    EXPECT_EQ(o.result, 0) << c.name;
    EXPECT_EQ(DraftText(), c.draft) << c.name;
  }
}

}  // namespace
}  // namespace quillo::composetest
