#include "compose/wire_form.h"

#include "compose/message_lines.h"
#include "compose/prepare_send.h"
#include "encoding/date_header.h"
#include "encoding/header_words.h"
#include "encoding/jis.h"
#include "platform/clock.h"
#include "platform/console_charset.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr std::string_view kCrLf = "\r\n";
// An outbox file is text someone typed or quoted: far below this.
constexpr size_t kMaxOutboxBytes = 32 * 1024 * 1024;
constexpr int kBoundaryAttempts = 8;

// One header field of the outbox file: its lines as they are, and its value
// unfolded (continuation lines joined, line ends gone, bare CR a blank).
struct Field {
  std::string name;
  std::string lines;
  std::string value;
};

struct OutboxParts {
  std::vector<Field> header;
  std::string_view body;
};

std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  return line;
}

void AppendValue(std::string& value, std::string_view text) {
  for (char c : text) value += c == '\r' ? ' ' : c;
}

OutboxParts SplitOutbox(std::string_view text) {
  OutboxParts parts;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    const size_t next = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(pos, next - pos);
    pos = next;
    if (IsHeaderEnd(line)) {
      parts.body = text.substr(pos);
      // The empty line that drafts put after their separator parts header
      // and body on the wire.
      if (parts.body.starts_with("\n")) parts.body.remove_prefix(1);
      break;
    }
    const std::string_view bare = WithoutLineEnd(line);
    if (IsContinuationLine(line) && !parts.header.empty()) {
      parts.header.back().lines.append(bare).push_back('\n');
      AppendValue(parts.header.back().value, bare);
      continue;
    }
    Field f;
    const size_t colon = bare.find(':');
    f.name = std::string(bare.substr(0, colon == std::string_view::npos ? 0 : colon));
    AppendValue(f.value, colon == std::string_view::npos ? bare : bare.substr(colon + 1));
    f.lines.append(bare).push_back('\n');
    parts.header.push_back(std::move(f));
  }
  return parts;
}

// The body's lines without their ends; a bare CR ends a line as LF does, so
// no CR or LF is ever sent inside a line.
std::vector<std::string_view> BodyLines(std::string_view body) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\n' && body[i] != '\r') continue;
    lines.push_back(body.substr(start, i - start));
    start = i + 1;
  }
  if (start < body.size()) lines.push_back(body.substr(start));
  return lines;
}

bool Is(const Field& f, std::string_view name) { return EqualsIgnoreCase(f.name, name); }

// Fields the wire never carries: blind copies, the file list, and what the
// sending writes itself.
bool StaysHome(const Field& f) {
  for (std::string_view name : {"Bcc", "X-Mailer", "Attach", "Date", "MIME-Version", "Content-Type",
                                "Content-Transfer-Encoding"}) {
    if (Is(f, name)) return true;
  }
  return false;
}

bool IsAddressField(const Field& f) {
  return Is(f, "From") || Is(f, "To") || Is(f, "Cc") || Is(f, "Reply-To") || Is(f, "Sender");
}

// The message-id an "In-Reply-To: Your message of ..." line names; empty for
// any other form.
std::string_view RepliedId(const Field& f) {
  if (!Is(f, "In-Reply-To") || f.value.find("Your message of") == std::string::npos) return {};
  const std::vector<std::string_view> ids = MessageIdTokens(f.value);
  return ids.empty() ? std::string_view{} : ids.back();
}

class Composer {
 public:
  Composer(const std::vector<Attachment>& files, const WireStamp& stamp) : files_(files), stamp_(stamp) {}
  bool Run(std::string_view outbox, OutgoingMessage& message);

 private:
  bool Header(const OutboxParts& parts);
  bool WireField(const Field& f);
  bool Text(std::string_view body);
  void Multipart();
  std::string TextPartHeader(std::string_view lineEnd) const;

  const std::vector<Attachment>& files_;
  const WireStamp& stamp_;
  std::string wireHeader_, filedHeader_, filedMailer_;
  std::string wireText_, filedText_;
  bool jisText_ = true;
  std::string ownId_;  // the Message-ID the outbox file has
  std::string wireBody_, filedBody_;
  std::string mimeWire_, mimeFiled_;
  size_t textEnd_ = 0;  // where the files begin in wireBody_
};

bool Composer::WireField(const Field& f) {
  WordCharset charset = WordCharset::kIso2022Jp;
  std::string text = f.value;
  if (!FitsIso2022Jp(f.value)) {
    if (!SjisToUtf8Exact(f.value, text)) return false;
    charset = WordCharset::kUtf8;
  }
  HeaderFolder folder(f.name + ":");
  if (const std::string_view id = RepliedId(f); !id.empty()) {
    folder.Add(id, true);
  } else if (IsAddressField(f)) {
    AddAddressList(folder, text, charset);
  } else {
    AddUnstructured(folder, text, charset);
  }
  wireHeader_ += folder.Finish();
  return true;
}

bool Composer::Header(const OutboxParts& parts) {
  for (const Field& f : parts.header) {
    // The id goes where a new one would, after the Date.
    if (Is(f, "Message-ID")) {
      ownId_ = TrimBlanks(f.value);
      continue;
    }
    if (Is(f, "Attach") || Is(f, "Date")) continue;
    const std::string_view id = RepliedId(f);
    // The X-Mailer line goes last, where the wire has it.
    std::string& filed = Is(f, "X-Mailer") ? filedMailer_ : filedHeader_;
    filed += id.empty() ? f.lines : "In-Reply-To: " + std::string(id) + "\n";
    if (StaysHome(f)) continue;
    if (!WireField(f)) return false;
  }
  return true;
}

bool Composer::Text(std::string_view body) {
  const std::vector<std::string_view> lines = BodyLines(body);
  for (std::string_view line : lines) {
    if (!FitsIso2022Jp(line) || line.find('\0') != std::string_view::npos) jisText_ = false;
  }
  if (jisText_) {
    std::string jis;
    for (std::string_view line : lines) {
      SjisToJis(line, jis);
      if (jis.size() > kMaxWireLine) {
        jisText_ = false;
        break;
      }
      wireText_.append(jis).append(kCrLf);
      filedText_.append(line).push_back('\n');
    }
    if (jisText_) return true;
  }
  // Characters JIS cannot carry, or a line too long for the wire: the text
  // goes as UTF-8 in base64, and is filed so, as received mail would be.
  std::string utf8;
  std::string all;
  for (std::string_view line : lines) {
    if (!SjisToUtf8Exact(line, utf8)) return false;
    all.append(utf8).append(kCrLf);
  }
  wireText_ = Base64Lines(all, kCrLf);
  filedText_ = Base64Lines(all, "\n");
  return true;
}

std::string Composer::TextPartHeader(std::string_view lineEnd) const {
  const std::string end(lineEnd);
  if (jisText_) return "Content-Type: text/plain; charset=ISO-2022-JP" + end + "Content-Transfer-Encoding: 7bit" + end;
  return "Content-Type: text/plain; charset=UTF-8" + end + "Content-Transfer-Encoding: base64" + end;
}

void Composer::Multipart() {
  UniqueSeed seed = stamp_.seed;
  std::string boundary = FormatBoundary(seed);
  // Base64 never holds "=_"; text might, by a chance worth one look.
  for (int i = 0; i < kBoundaryAttempts && wireText_.find(boundary) != std::string::npos; ++i) {
    ++seed.random;
    boundary = FormatBoundary(seed);
  }
  for (std::string_view end : {kCrLf, std::string_view("\n")}) {
    const bool wire = end == kCrLf;
    const std::string e(end);
    std::string mime = "MIME-Version: 1.0" + e + "Content-Type: multipart/mixed;" + e + " boundary=\"" + boundary +
                       "\"" + e + "Content-Transfer-Encoding: 7bit" + e;
    // The line end before a boundary belongs to the boundary: one more keeps
    // the text's own last line end.
    std::string body = "--" + boundary + e + TextPartHeader(end) + e + (wire ? wireText_ : filedText_) + e;
    if (wire) textEnd_ = body.size();
    for (const Attachment& file : files_) {
      body += "--" + boundary + e + AttachmentHeader(NameAsUtf8(BaseName(file.path)), end) + e +
              Base64Lines(file.bytes, end);
    }
    body += "--" + boundary + "--" + e;
    (wire ? mimeWire_ : mimeFiled_) = std::move(mime);
    (wire ? wireBody_ : filedBody_) = std::move(body);
  }
}

bool Composer::Run(std::string_view outbox, OutgoingMessage& message) {
  const OutboxParts parts = SplitOutbox(outbox);
  if (!Header(parts) || !Text(parts.body)) return false;
  if (files_.empty()) {
    mimeWire_ = "MIME-Version: 1.0\r\n" + TextPartHeader(kCrLf);
    mimeFiled_ = "MIME-Version: 1.0\n" + TextPartHeader("\n");
    wireBody_ = std::move(wireText_);
    filedBody_ = std::move(filedText_);
  } else {
    Multipart();
  }
  const std::string id = !ownId_.empty()
                             ? ownId_
                             : FormatMessageId(stamp_.seed, MessageIdDomain(GetSettings().mailto, stamp_.hostName));
  const std::string idLine = "Message-ID: " + id;
  message.wire = wireHeader_ + mimeWire_ + "Date: " + stamp_.date + "\r\n" + idLine + "\r\n" + FormatXMailer() +
                 "\r\n\r\n" + wireBody_;
  message.textEnd = message.wire.size() - wireBody_.size() + (files_.empty() ? wireBody_.size() : textEnd_);
  message.filed = "Date: " + stamp_.date + "\n" + filedHeader_ + mimeFiled_ + idLine + "\n" + filedMailer_ + "\n" +
                  filedBody_;
  return true;
}

// The outbox file as text (CR LF read as LF), at most kMaxOutboxBytes.
bool ReadOutbox(const std::string& path, std::string& text) {
  InputFile in(path);
  if (!in.IsOpen()) {
    PrintErr("TMP file(%s) read error!\a\n", path.c_str());
    return false;
  }
  std::string line;
  while (ReadWholeLine(in, line)) {
    if (text.size() + line.size() > kMaxOutboxBytes) {
      PrintErr("mail file(%s) too large!\a\n", path.c_str());
      return false;
    }
    text += line;
  }
  if (in.HadError()) {
    PrintErr("TMP file(%s) read error!\a\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

WireStamp StampNow(const std::string& hostName) {
  const Moment now = Now();
  const LocalTime local = LocalTimeAt(static_cast<std::time_t>(now.seconds));
  WireStamp stamp;
  stamp.date = FormatDateHeader(local.calendar, local.offsetSecondsEast, local.zoneName);
  stamp.seed = {now.seconds, now.microseconds, ProcessId(), RandomBits()};
  stamp.hostName = hostName;
  return stamp;
}

int ComposeOutgoing(std::string_view outbox, const std::vector<Attachment>& files, const WireStamp& stamp,
                    OutgoingMessage& message) {
  Composer composer(files, stamp);
  if (composer.Run(outbox, message)) return 1;
  WriteErr("mail text holds bytes that are no Shift_JIS characters!\a\n");
  return 0;
}

int BuildOutgoingMessage(const std::string& path, const WireStamp& stamp, OutgoingMessage& message) {
  std::string text;
  if (!ReadOutbox(path, text)) return 0;
  std::vector<Attachment> files;
  long long room = kMaxAttachedBytes;
  for (size_t pos = 0; pos < text.size();) {
    const size_t end = text.find('\n', pos);
    const std::string_view line(text.data() + pos, (end == std::string::npos ? text.size() : end + 1) - pos);
    pos += line.size();
    if (IsHeaderEnd(line)) break;
    const std::string attached = AttachedPath(line);
    if (attached.empty()) continue;
    Attachment file;
    if (!ReadAttachment(attached, room, file)) return 0;
    room -= static_cast<long long>(file.bytes.size());
    files.push_back(std::move(file));
  }
  return ComposeOutgoing(text, files, stamp, message);
}

}  // namespace quillo
