#include "compose/follow_up.h"

#include "compose/draft.h"
#include "compose/message_lines.h"
#include "compose/prepare_send.h"
#include "console/line_input.h"
#include "encoding/byte_classes.h"
#include "encoding/header_words.h"
#include "encoding/message_id.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr size_t kQuoteAnswer = 1;
constexpr size_t kPrefixAnswer = 10;
// Room for the References ids of a long thread on a 998-byte line.
constexpr size_t kReferencesLimit = 900;

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

// Gathers the References value, continuation lines included, up to its cap.
class ReferencesReader {
 public:
  // True when `line` belonged to the References field.
  bool Take(std::string_view line, std::string& value) {
    if (StartsWithIgnoreCase(line, "References:")) {
      value.clear();
      line.remove_prefix(11);
    } else if (!inField_ || !IsContinuationLine(line)) {
      inField_ = false;
      return false;
    }
    inField_ = true;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (value.size() + line.size() + 1 <= cap::kReplyReferences) value.append(line).push_back(' ');
    return true;
  }

 private:
  bool inField_ = false;
};

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

// "References:" with the ids, folded before an id that would pass the 78th
// column.
void WriteReferences(OutputFile& draft, const ReplyFields& f) {
  const std::string value = ReferencesValue(f.references, f.messageId, kReferencesLimit);
  if (value.empty()) return;
  std::string line = "References:";
  size_t start = 0;
  while (start < value.size()) {
    size_t end = value.find(' ', start);
    if (end == std::string::npos) end = value.size();
    const std::string_view id(value.data() + start, end - start);
    if (line.size() > 11 && line.size() + 1 + id.size() > kFoldColumn) {
      draft.Write(line + "\n");
      line.clear();
    }
    line.append(" ").append(id);
    start = end + 1;
  }
  draft.Write(line + "\n");
}

void WriteReplyHeader(OutputFile& draft, const ReplyFields& f) {
  draft.Write(FormatFromLine() + "\n");
  draft.Write("To:" + f.replyTo);
  if (!f.cc.empty()) draft.Write("Cc:" + f.cc);
  draft.Write(f.subject.empty() ? std::string("Subject:\n") : "Subject: Re:" + f.subject);
  if (!f.messageId.empty() && !f.date.empty()) {
    draft.Write("In-Reply-To: Your message of \"" + WithoutLineEnd(f.date) + "\"\n");
    draft.Write("             " + f.messageId);
  }
  if (!f.messageId.empty()) WriteReferences(draft, f);
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

int ReadReplyFields(const std::string& path, ReplyFields& f) {
  InputFile in(path);
  if (!in.IsOpen()) {
    PrintErr("File not fonund!(%s)\a\n", path.c_str());
    return 0;
  }
  f = ReplyFields{};
  ReferencesReader references;
  std::string line;
  // The header ends at its empty line.
  while (ReadWholeLine(in, line) && line.size() != 1) {
    if (!references.Take(line, f.references)) TakeField(line, f);
  }
  return 1;
}

int DraftFollowUp(const std::string& path, std::string& localHostName) {
  ReplyFields f;
  if (ReadReplyFields(path, f) == 0) return 0;
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
