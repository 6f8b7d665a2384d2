#include "compose/follow_up.h"

#include "compose/draft.h"
#include "compose/message_lines.h"
#include "compose/prepare_send.h"
#include "console/line_input.h"
#include "encoding/byte_classes.h"
#include "encoding/header_words.h"
#include "encoding/message_id.h"
#include "mime/field_text.h"
#include "mime/header_decode.h"
#include "mime/message.h"
#include "platform/charset.h"
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

// A value that is not yet what a reader sees: encoded-words, or UTF-8 sent
// raw. Anything else was stored as Shift_JIS and is taken byte for byte.
bool NeedsDecoding(std::string_view value) {
  if (value.find("=?") != std::string_view::npos) return true;
  return AsciiPrefixLength(value) != value.size() && IsValidUtf8(value);
}

// A display name that must be quoted to stay one name in an address list.
bool NeedsQuotes(std::string_view name) {
  return name.find_first_of("()<>[]:;@\\,.\"") != std::string_view::npos;
}

// The mailboxes of an address field, decoded, written back as one list.
std::string DecodedAddresses(std::string_view raw) {
  const std::vector<Mailbox> mailboxes = ParseAddressList(raw);
  if (mailboxes.empty()) return DecodeHeaderValue(raw);
  std::string out;
  for (const Mailbox& m : mailboxes) {
    if (!out.empty()) out += ", ";
    if (m.name.empty()) {
      out += m.address;
      continue;
    }
    out += NeedsQuotes(m.name) ? QuotedString(m.name) : m.name;
    out += " <" + m.address + ">";
  }
  return out;
}

// Replaces `field` with the decoded value of `raw` (folding undone) when the
// stored value still needs decoding; the draft is Shift_JIS, what Shift_JIS
// cannot hold becomes the geta mark.
void TakeDecoded(std::string_view raw, bool addresses, std::string& field, size_t capacity) {
  const std::string unfolded = UnfoldHeaderValue(raw);
  if (!NeedsDecoding(unfolded)) {
    // The line reader took only the first line of a folded value: the
    // whole value, in its stored bytes, replaces it.
    if (WithoutLineEnds(raw).find('\n') != std::string_view::npos) {
      field = FieldValue(" " + std::string(TrimmedBlanks(unfolded)), capacity);
    }
    return;
  }
  const std::string decoded = addresses ? DecodedAddresses(unfolded) : DecodeHeaderValue(unfolded);
  field = FieldValue(" " + Utf8ToSjis(decoded), capacity);
}

// The field the reply goes to, as TakeField picks it: the last Reply-To,
// else the first From or Return-Path.
const HeaderField* ReplyAddressField(const std::vector<HeaderField>& fields) {
  const HeaderField* found = nullptr;
  for (const HeaderField& field : fields) {
    if (EqualsIgnoreCase(field.name, "Reply-To")) found = &field;
  }
  if (found != nullptr) return found;
  for (const HeaderField& field : fields) {
    if (EqualsIgnoreCase(field.name, "From") || EqualsIgnoreCase(field.name, "Return-Path")) return &field;
  }
  return nullptr;
}

const HeaderField* LastField(const std::vector<HeaderField>& fields, std::string_view name) {
  const HeaderField* found = nullptr;
  for (const HeaderField& field : fields) {
    if (EqualsIgnoreCase(field.name, name)) found = &field;
  }
  return found;
}

// Sender, Cc and Subject as the reader saw them in the view.
void DecodeReplyFields(const std::string& path, ReplyFields& f) {
  std::vector<HeaderField> fields;
  if (ReadHeaderFields(path, fields) != 0) return;
  if (const HeaderField* to = ReplyAddressField(fields)) TakeDecoded(to->value, true, f.replyTo, cap::kReplyTo);
  if (const HeaderField* cc = LastField(fields, "Cc")) TakeDecoded(cc->value, true, f.cc, cap::kReplyCc);
  if (const HeaderField* subject = LastField(fields, "Subject")) {
    TakeDecoded(subject->value, false, f.subject, cap::kReplySubject);
  }
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

// `text` (UTF-8) in Shift_JIS, every line after `prefix`.
void QuoteText(OutputFile& draft, std::string_view text, const std::string& prefix) {
  const std::string sjis = Utf8ToSjis(text);
  size_t start = 0;
  while (start < sjis.size()) {
    size_t end = sjis.find('\n', start);
    end = end == std::string::npos ? sjis.size() : end + 1;
    std::string line = prefix + sjis.substr(start, end - start);
    if (line.back() != '\n') line += '\n';
    draft.Write(line);
    start = end;
  }
}

// A message without MIME is quoted as it is stored, header and all; any other
// as its view shows it: the short header and the decoded text, never its
// transfer encoding, markup or boundaries.
bool QuoteOriginal(OutputFile& draft, const std::string& path, const std::string& prefix) {
  MessageView view;
  if (BuildMessageView(path, HeaderMode::kShort, view) != 0) {
    PrintErr("originalmail(%s) open error!\a\n", path.c_str());
    return false;
  }
  if (!view.storedAsShown) {
    std::string_view text = std::string_view(view.text).substr(0, view.attachmentLinesAt);
    while (text.size() >= 2 && text.substr(text.size() - 2) == "\n\n") text.remove_suffix(1);
    QuoteText(draft, text, prefix);
    return true;
  }
  InputFile original(path);
  if (!original.IsOpen()) {
    PrintErr("originalmail(%s) open error!\a\n", path.c_str());
    return false;
  }
  CopyLines(original, draft, prefix);
  return true;
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
  return QuoteOriginal(draft, path, prefix);
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
  DecodeReplyFields(path, f);
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
