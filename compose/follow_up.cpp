#include "compose/follow_up.h"

#include "compose/draft.h"
#include "compose/message_lines.h"
#include "console/line_input.h"
#include "encoding/byte_classes.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr size_t kQuoteAnswer = 1;
constexpr size_t kPrefixAnswer = 10;

// `value` without its line end, cut to fit `capacity` together with a line
// feed and the terminator (never inside a double-byte character), and with
// the line feed put back, so a cut value still ends its line in the draft.
std::string FieldValue(std::string_view value, size_t capacity) {
  value = WithoutLineEnds(value);
  const size_t room = capacity - 2;
  if (value.size() > room) {
    size_t cut = 0;
    for (size_t i = 0; i < room;) {
      const size_t width = IsSjisLeadByte(value[i]) ? 2 : 1;
      if (i + width > room) break;
      i += width;
      cut = i;
    }
    value = value.substr(0, cut);
  }
  return std::string(value) + "\n";
}

// Stores the part of `line` after `name` into `field` when `line` begins
// with `name`; tells whether it did begin with it.
bool Take(std::string_view line, std::string_view name, std::string& field, size_t capacity, bool onlyIfEmpty) {
  if (!StartsWithIgnoreCase(line, name)) return false;
  if (!onlyIfEmpty || field.empty()) field = FieldValue(line.substr(name.size()), capacity);
  return true;
}

void TakeField(const std::string& line, ReplyFields& f) {
  Take(line, "From:", f.replyTo, cap::kReplyTo, true) || Take(line, "Reply-To:", f.replyTo, cap::kReplyTo, false) ||
      Take(line, "Return-Path:", f.replyTo, cap::kReplyTo, true) || Take(line, "Cc:", f.cc, cap::kReplyCc, false) ||
      Take(line, "Subject:", f.subject, cap::kReplySubject, false) ||
      Take(line, "Date:", f.date, cap::kReplyDate, false) ||
      Take(line, "Message-Id:", f.messageId, cap::kReplyMessageId, false);
}

std::string WithoutLineEnd(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

void WriteReplyHeader(OutputFile& draft, const ReplyFields& f) {
  const Settings& s = GetSettings();
  draft.Write(Format("From: %s <%s>\n", s.fullname.c_str(), s.mailto.c_str()));
  draft.Write("To:" + f.replyTo);
  if (!f.cc.empty()) draft.Write("Cc:" + f.cc);
  draft.Write(f.subject.empty() ? std::string("Subject:\n") : "Subject: Re:" + f.subject);
  if (!f.messageId.empty() && !f.date.empty()) {
    draft.Write("In-Reply-To: Your message of \"" + WithoutLineEnd(f.date) + "\"\n");
    draft.Write("             " + f.messageId);
  }
  draft.Write("----------\n\n");
}

// Asks whether to quote and with which prefix, and quotes. False when the
// message could not be opened again.
bool OfferQuote(OutputFile& draft, const std::string& path) {
  WriteOut("Quote from original mail?(Y/N):");
  std::string answer;
  LineInput(answer, kQuoteAnswer);
  if (answer.empty() || (answer[0] != 'Y' && answer[0] != 'y')) return true;
  std::string& prefix = GetSettings().quotePrefix;
  prefix = std::string(">");  // built apart: g++ 12 at -O3 warns falsely on a literal assigned
  PrintOut("Prefix(\"%s\"):", prefix.c_str());
  std::string typed;
  LineInput(typed, kPrefixAnswer);
  if (!typed.empty()) prefix = typed;
  InputFile original(path);
  if (!original.IsOpen()) {
    PrintErr("originalmail(%s) open error!\a\n", path.c_str());
    return false;
  }
  CopyLines(original, draft, prefix);
  return true;
}

}  // namespace

ReplyFields& GetReplyFields() {
  static ReplyFields fields;
  return fields;
}

int ReadReplyFields(const std::string& path) {
  InputFile in(path);
  if (!in.IsOpen()) {
    PrintErr("File not fonund!(%s)\a\n", path.c_str());
    return 0;
  }
  ReplyFields& f = GetReplyFields();
  f = ReplyFields{};
  std::string line;
  // The header ends at its empty line.
  while (ReadWholeLine(in, line) && line.size() != 1) TakeField(line, f);
  return 1;
}

int DraftFollowUp(const std::string& path, std::string& localHostName) {
  if (ReadReplyFields(path) == 0) return 0;
  const ReplyFields& f = GetReplyFields();
  if (f.replyTo.empty()) {
    WriteErr("Unkoun 'To:'!\a\n");
    return 0;
  }
  OutputFile draft;
  std::string draftPath;
  if (!CreateDraftFile(draft, draftPath)) return 0;
  WriteReplyHeader(draft, f);
  if (!OfferQuote(draft, path)) {
    FinishDraft(draft, draftPath);
    return 0;
  }
  AppendSignature(draft, "signature(%s) open error!\a\n");
  if (!FinishDraft(draft, draftPath)) return 0;
  return EditAndSend(draftPath, localHostName) != 0 ? 1 : 0;
}

}  // namespace quillo
