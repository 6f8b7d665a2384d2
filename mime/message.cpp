#include "mime/message.h"

#include <memory>

#include "mime/content_type.h"
#include "mime/field_text.h"
#include "mime/flowed.h"
#include "mime/header_decode.h"
#include "mime/html_text.h"
#include "mime/text_charset.h"
#include "mime/transfer.h"
#include "platform/charset.h"
#include "platform/strings.h"
#include "platform/text_file.h"

namespace quillo {

namespace {

// Bounds on what one message may make the reader keep: the header of a
// part, all headers, the text shown, the parts told apart. Past them the rest
// is read and dropped.
constexpr size_t kMaxHeaderBytes = 256 * 1024;
constexpr size_t kMaxAllHeaderBytes = 4 * 1024 * 1024;
constexpr size_t kMaxTextBytes = 8 * 1024 * 1024;
constexpr int kMaxParts = 5000;
// Nesting past this is read as the body of the part that goes too deep.
constexpr int kMaxDepth = 40;
constexpr size_t kPieceBytes = 16 * 1024;
constexpr size_t kWriteBytes = 64 * 1024;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == '\n' || text.front() == '\r')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\n' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The line break a piece ends with ("\n" or "\r\n"), or "" when the line goes on.
std::string_view LineBreak(std::string_view piece) {
  if (piece.empty() || piece.back() != '\n') return {};
  return piece.size() >= 2 && piece[piece.size() - 2] == '\r' ? "\r\n" : "\n";
}

bool IsEmptyLine(std::string_view piece) { return piece == "\n" || piece == "\r\n"; }

struct Entity {
  std::vector<HeaderField> fields;
  std::string type = "text/plain";
  std::string charset;
  bool flowed = false;  // text/plain; format=flowed
  bool delSp = false;   // with delsp=yes
  std::string boundary;
  std::string encoding;  // lower case; "" for none
  bool attachment = false;  // Content-Disposition: attachment
  std::string fileName;
  int number = 0;  // leaf parts only
  std::string body;  // the raw body of a part that may be shown, while transfer-encoded
  std::uint64_t encodedBytes = 0;  // of the body, line breaks not counted
  std::uint64_t padding = 0;       // '=' ending its lines (base64 padding)
  std::uint64_t bodyBytes = 0;     // of the body, line breaks counted
  std::vector<Entity> children;  // of a multipart; the one message of a message/rfc822

  bool IsMultipart() const { return type.rfind("multipart/", 0) == 0 && !boundary.empty(); }
  bool IsMessage() const {
    return (type == "message/rfc822" || type == "message/global") && encoding != "base64" &&
           encoding != "quoted-printable";
  }
  bool MayShowAsText() const {
    if (attachment) return false;
    if (type == "text/plain" || type == "text/html") return true;
    const bool textual = type.rfind("text/", 0) == 0 || type == "message/delivery-status" ||
                         type == "message/disposition-notification";
    return textual && fileName.empty();
  }
};

// How a part ends: at a delimiter line of the boundary `level` levels down
// the stack (its close delimiter when `close`), or at the end of the file.
struct End {
  int level = -1;  // -1: the end of the file
  bool close = false;
};

// Writes the decoded bytes of the part being saved, in blocks.
class PartSink {
 public:
  PartSink(const PartWriter& write, std::string_view encoding) : write_(write), encoding_(encoding) {}
  void Feed(std::string_view raw) {
    if (encoding_ == "base64") base64_.Feed(raw, buffer_);
    else if (encoding_ == "quoted-printable") qp_.Feed(raw, buffer_);
    else buffer_.append(raw);
    if (buffer_.size() >= kWriteBytes) Flush();
  }
  void Finish() {
    if (encoding_ == "base64") base64_.Finish(buffer_);
    else if (encoding_ == "quoted-printable") qp_.Finish(buffer_);
    Flush();
  }
  bool Failed() const { return failed_; }

 private:
  void Flush() {
    if (!buffer_.empty() && !failed_ && !write_(buffer_)) failed_ = true;
    buffer_.clear();
  }
  const PartWriter& write_;
  std::string encoding_;
  Base64Decoder base64_;
  QuotedPrintableDecoder qp_;
  std::string buffer_;
  bool failed_ = false;
};

// "type/subtype" made of token characters, as the view may show it.
bool IsMediaType(std::string_view type) {
  const size_t slash = type.find('/');
  if (slash == 0 || slash == std::string_view::npos || slash + 1 == type.size() || type.size() > 127) return false;
  for (size_t i = 0; i < type.size(); ++i) {
    const char c = type[i];
    const bool token = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       std::string_view("!#$&-^_.+").find(c) != std::string_view::npos;
    if (!token && i != slash) return false;
  }
  return true;
}

void Interpret(Entity& entity, const std::string& defaultType) {
  const std::string_view contentType = FindField(entity.fields, "Content-Type");
  const ParameterField type = ParseParameterField(contentType);
  // A type that cannot be read is taken as text, as RFC 2045 says.
  entity.type = IsMediaType(type.value) ? type.value : contentType.empty() ? defaultType : "text/plain";
  entity.charset = ParameterValue(type, "charset");
  entity.flowed = entity.type == "text/plain" && EqualsIgnoreCase(ParameterValue(type, "format"), "flowed");
  entity.delSp = EqualsIgnoreCase(ParameterValue(type, "delsp"), "yes");
  entity.boundary = ParameterValue(type, "boundary");
  // A multipart without a boundary cannot be taken apart; its text is shown.
  if (entity.type.rfind("multipart/", 0) == 0 && entity.boundary.empty()) entity.type = "text/plain";
  entity.encoding = Lowered(Trimmed(FindField(entity.fields, "Content-Transfer-Encoding")));
  const ParameterField disposition = ParseParameterField(FindField(entity.fields, "Content-Disposition"));
  entity.attachment = disposition.value == "attachment";
  entity.fileName = ParameterText(disposition, "filename");
  if (entity.fileName.empty()) entity.fileName = ParameterText(type, "name");
}

// Goes through a message once. In a view, the bodies of parts that may be
// shown are kept; when saving, the one part asked for is decoded on the way.
class Reader {
 public:
  Reader(InputFile& in, int saveNumber, const PartWriter* write)
      : in_(in), saveNumber_(saveNumber), write_(write) {}

  void Read(Entity& root) { ReadEntity(root, 0, "text/plain"); }
  void ReadTopHeader(Entity& root) {
    End end;
    ReadHeader(root, end);
  }
  bool Saved() const { return saved_; }
  bool WriteFailed() const { return writeFailed_; }
  bool ReadFailed() const { return in_.HadError(); }

 private:
  // The next piece of a line; `lineStart_` says whether it begins one.
  bool Next(std::string_view& piece) {
    if (held_) {
      held_ = false;
      piece = heldPiece_;
      lineStart_ = heldLineStart_;
      return true;
    }
    lineStart_ = afterBreak_;
    if (!in_.ReadPieceView(piece, kPieceBytes)) return false;
    afterBreak_ = !LineBreak(piece).empty();
    return true;
  }

  void Unread(std::string_view piece) {
    heldPiece_ = std::string(piece);
    heldLineStart_ = lineStart_;
    held_ = true;
  }

  // The level of the boundary whose delimiter `piece` is, innermost first;
  // -1 when it is none.
  int Delimiter(std::string_view piece, bool& close) const {
    if (!lineStart_ || piece.size() < 3 || piece[0] != '-' || piece[1] != '-') return -1;
    for (int level = static_cast<int>(boundaries_.size()) - 1; level >= 0; --level) {
      const std::string& boundary = boundaries_[static_cast<size_t>(level)];
      if (piece.compare(2, boundary.size(), boundary) != 0) continue;
      std::string_view rest = piece.substr(2 + boundary.size());
      close = rest.substr(0, 2) == "--";
      if (close) rest.remove_prefix(2);
      while (!rest.empty() && (IsBlank(rest.front()) || rest.front() == '\r' || rest.front() == '\n')) {
        rest.remove_prefix(1);
      }
      if (rest.empty()) return level;
    }
    return -1;
  }

  // Reads header lines up to the empty line. A delimiter line ends the part
  // there and then; a line that is no field begins the body.
  bool ReadHeader(Entity& entity, End& end) {
    size_t kept = 0;
    bool inField = false;  // a piece continues the field last begun
    std::string_view piece;
    while (Next(piece)) {
      bool close = false;
      if (const int level = Delimiter(piece, close); level >= 0) {
        end = {level, close};
        return false;
      }
      if (lineStart_ && IsEmptyLine(piece)) return true;
      std::string_view content = piece.substr(0, piece.size() - LineBreak(piece).size());
      kept += piece.size();
      headerBytes_ += piece.size();
      const bool keep = kept <= kMaxHeaderBytes && headerBytes_ <= kMaxAllHeaderBytes;
      if (!lineStart_) {
        if (keep && inField) entity.fields.back().value.append(content);
        continue;
      }
      if (IsBlank(piece[0]) && inField) {
        if (keep) entity.fields.back().value.append("\n").append(content);
        continue;
      }
      const size_t colon = content.find(':');
      const std::string_view name = colon == std::string_view::npos ? content : Trimmed(content.substr(0, colon));
      const bool fieldName = colon != std::string_view::npos && !name.empty() &&
                             name.find_first_of(" \t") == std::string_view::npos;
      if (!fieldName) {
        if (entity.fields.empty() && IsBlank(piece[0])) continue;  // stray white space before any field
        Unread(piece);
        return true;
      }
      inField = keep;
      if (keep) entity.fields.push_back({std::string(name), std::string(content.substr(colon + 1))});
    }
    end = {};
    return false;
  }

  End ReadEntity(Entity& entity, int depth, const std::string& defaultType) {
    End end;
    const bool hasBody = ReadHeader(entity, end);
    Interpret(entity, defaultType);
    if (!hasBody) {
      // A part that ends with its header is an empty part, and can be saved as
      // one; an attached message without its own header is listed as one.
      if (!entity.IsMultipart()) {
        entity.number = nextNumber_++;
        saved_ = saved_ || (write_ != nullptr && saveNumber_ == entity.number);
      }
      return end;
    }
    if (depth < kMaxDepth && entity.IsMultipart()) return ReadMultipart(entity, depth);
    if (depth < kMaxDepth && entity.IsMessage()) {
      entity.children.emplace_back();
      return ReadEntity(entity.children.back(), depth + 1, "text/plain");
    }
    entity.number = nextNumber_++;
    return ReadBody(entity);
  }

  End ReadMultipart(Entity& entity, int depth) {
    boundaries_.push_back(entity.boundary);
    const int own = static_cast<int>(boundaries_.size()) - 1;
    const std::string childType = entity.type == "multipart/digest" ? "message/rfc822" : "text/plain";
    End end = Skip(own);  // the preamble
    while (end.level == own && !end.close) {
      if (++parts_ > kMaxParts) {
        end = Skip(own - 1);  // the rest is read as epilogue
        break;
      }
      entity.children.emplace_back();
      end = ReadEntity(entity.children.back(), depth + 1, childType);
    }
    if (end.level == own) end = Skip(own - 1);  // the epilogue
    boundaries_.pop_back();
    return end;
  }

  // Reads up to a delimiter of a boundary at `deepest` or further out.
  End Skip(int deepest) {
    std::string_view piece;
    while (Next(piece)) {
      bool close = false;
      const int level = Delimiter(piece, close);
      if (level >= 0 && level <= deepest) return {level, close};
    }
    return {};
  }

  End ReadBody(Entity& entity) {
    const bool keep = saveNumber_ == 0 && entity.MayShowAsText();
    std::unique_ptr<PartSink> sink;
    if (saveNumber_ == entity.number && write_ != nullptr) {
      sink = std::make_unique<PartSink>(*write_, entity.encoding);
      saved_ = true;
    }
    const auto emit = [&](std::string_view bytes) {
      entity.bodyBytes += bytes.size();
      if (sink) sink->Feed(bytes);
      if (keep && textBytes_ < kMaxTextBytes) {
        const std::string_view kept = bytes.substr(0, kMaxTextBytes - textBytes_);
        entity.body.append(kept);
        textBytes_ += kept.size();
      }
    };
    // The line break before a delimiter belongs to the delimiter, so each
    // break waits until the next line shows it is not one.
    std::string pendingBreak;
    End end;
    std::string_view piece;
    while (Next(piece)) {
      bool close = false;
      if (const int level = Delimiter(piece, close); level >= 0) {
        end = {level, close};
        break;
      }
      emit(pendingBreak);
      const std::string_view lineBreak = LineBreak(piece);
      const std::string_view content = piece.substr(0, piece.size() - lineBreak.size());
      entity.encodedBytes += content.size();
      for (size_t i = content.size(); i > 0 && content[i - 1] == '='; --i) ++entity.padding;
      emit(content);
      pendingBreak = lineBreak;
    }
    if (end.level < 0) emit(pendingBreak);  // the last line of the file keeps its break
    if (sink) {
      sink->Finish();
      writeFailed_ = sink->Failed();
    }
    return end;
  }

  InputFile& in_;
  int saveNumber_;
  const PartWriter* write_;
  std::vector<std::string> boundaries_;
  int nextNumber_ = 1;
  int parts_ = 0;
  size_t headerBytes_ = 0;  // kept, in all headers
  size_t textBytes_ = 0;    // kept, in all parts
  bool lineStart_ = true;
  bool afterBreak_ = true;
  bool held_ = false;
  std::string heldPiece_;
  bool heldLineStart_ = false;
  bool saved_ = false;
  bool writeFailed_ = false;
};

// ---- the view -------------------------------------------------------------

std::string SizeText(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  if (bytes < 1024 * 1024) return std::to_string((bytes + 1023) / 1024) + " KB";
  const std::uint64_t tenths = (bytes * 10 + 512 * 1024) / (1024 * 1024);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}

std::uint64_t DecodedSize(const Entity& entity) {
  if (entity.encoding == "base64") return (entity.encodedBytes - entity.padding) * 3 / 4;
  return entity.bodyBytes;
}

// Text from a stored file, read as the stored header is.
void AppendStoredText(std::string_view bytes, std::string& out) {
  if (IsValidUtf8(bytes)) out.append(bytes);
  else ConvertToUtf8("shift_jis", bytes, out);
}

bool NeedsDecoding(const HeaderField& field) { return field.value.find("=?") != std::string::npos; }

void AppendHeaderBlock(const Entity& entity, HeaderMode mode, std::string& out) {
  if (mode == HeaderMode::kAll) {
    for (const HeaderField& field : entity.fields) {
      if (NeedsDecoding(field)) {
        AppendStoredText(field.name, out);
        out += ": " + DecodeHeaderValue(field.value) + "\n";
      } else {
        // As stored, folding and all: a message without MIME shows what it always did.
        AppendStoredText(field.name + ":" + field.value, out);
        out += '\n';
      }
    }
    return;
  }
  for (const char* name : {"Date", "From", "To", "Cc", "Subject"}) {
    for (const HeaderField& field : entity.fields) {
      if (!EqualsIgnoreCase(field.name, name)) continue;
      out += std::string(name) + ": " + DecodeHeaderValue(field.value) + "\n";
      break;
    }
  }
}

// The transfer-decoded text of a part, in UTF-8, its lines ending in LF.
std::string PartText(const Entity& entity) {
  std::string bytes;
  if (entity.encoding == "base64") bytes = DecodeBase64Text(entity.body);
  else if (entity.encoding == "quoted-printable") bytes = DecodeQuotedPrintableText(entity.body);
  else bytes = entity.body;
  std::string label = entity.charset;
  // Text sent as 7-bit ISO-2022-JP was turned into Shift_JIS when it was stored.
  const bool stored = entity.encoding != "base64" && entity.encoding != "quoted-printable";
  if (stored && CanonicalCharset(label) == "iso-2022-jp" && bytes.find('\x1B') == std::string::npos) {
    label = "shift_jis";
  }
  std::string text;
  AppendDecodedText(label, bytes, text);
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] == '\n')) continue;
    lines += text[i];
  }
  if (entity.type == "text/html") return HtmlToText(lines);
  if (entity.flowed) return UnflowText(lines, entity.delSp);
  return lines;
}

class ViewBuilder {
 public:
  explicit ViewBuilder(MessageView& view) : view_(view), start_(view.text.size()) {}

  void Add(const Entity& entity) {
    if (entity.IsMessage() && !entity.children.empty()) {
      Separate();
      AppendHeaderBlock(entity.children.front(), HeaderMode::kShort, view_.text);
      view_.text += '\n';
      Add(entity.children.front());
      return;
    }
    if (entity.IsMultipart()) {
      if (entity.type == "multipart/alternative" && !entity.children.empty()) {
        Add(entity.children[Preferred(entity.children)]);
        return;
      }
      for (const Entity& child : entity.children) Add(child);
      return;
    }
    if (entity.MayShowAsText()) {
      std::string text = PartText(entity);
      if (!text.empty() && text.back() != '\n') text += '\n';
      view_.text += text;
      return;
    }
    MessagePart part;
    part.number = entity.number;
    part.type = entity.type;
    part.fileName = entity.fileName;
    part.size = DecodedSize(entity);
    view_.attachments.push_back(std::move(part));
  }

  void AttachmentLines() {
    view_.attachmentLinesAt = view_.text.size();
    if (view_.attachments.empty()) return;
    Separate();
    for (const MessagePart& part : view_.attachments) {
      view_.text += "[" + std::to_string(part.number) + "] ";
      if (!part.fileName.empty()) view_.text += part.fileName + " ";
      view_.text += "(" + part.type + ", " + SizeText(part.size) + ")\n";
    }
  }

 private:
  // The alternative to show: plain text, else HTML, else a structure, else the last.
  static size_t Preferred(const std::vector<Entity>& children) {
    for (const char* type : {"text/plain", "text/html"}) {
      for (size_t i = 0; i < children.size(); ++i) {
        if (children[i].type == type && children[i].MayShowAsText()) return i;
      }
    }
    for (size_t i = 0; i < children.size(); ++i) {
      if (children[i].IsMultipart()) return i;
    }
    return children.size() - 1;
  }

  // An empty line between the text and what follows it, unless there is one.
  void Separate() {
    std::string& text = view_.text;
    if (text.size() == start_ || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\n\n") == 0)) return;
    if (text.back() != '\n') text += '\n';
    text += '\n';
  }

  MessageView& view_;
  size_t start_;  // where the text begins, after the header block
};

// Stored text is Shift_JIS: ISO-2022-JP was turned into it when it was saved.
bool IsStoredCharset(std::string_view label) {
  const std::string charset = CanonicalCharset(label);
  return charset.empty() || charset == "us-ascii" || charset == "iso-2022-jp" || charset == "shift_jis";
}

bool CarriesNoMime(const Entity& root) {
  const bool plainEncoding = root.encoding.empty() || root.encoding == "7bit" || root.encoding == "8bit" ||
                             root.encoding == "binary";
  if (!plainEncoding || root.type != "text/plain" || !IsStoredCharset(root.charset)) return false;
  for (const HeaderField& field : root.fields) {
    if (NeedsDecoding(field)) return false;
  }
  return true;
}

bool ReadMessage(InputFile& in, Entity& root) {
  Reader reader(in, 0, nullptr);
  reader.Read(root);
  return !reader.ReadFailed();
}

void BuildView(const Entity& root, HeaderMode mode, MessageView& view, bool withHeader) {
  view = MessageView{};
  if (withHeader) {
    AppendHeaderBlock(root, mode, view.text);
    view.text += '\n';
  }
  ViewBuilder builder(view);
  builder.Add(root);
  builder.AttachmentLines();
  view.storedAsShown = CarriesNoMime(root);
}

int Save(InputFile& in, int number, const PartWriter& write) {
  if (number <= 0) return -2;
  Reader reader(in, number, &write);
  Entity root;
  reader.Read(root);
  if (reader.ReadFailed()) return -1;
  if (!reader.Saved()) return -2;
  return reader.WriteFailed() ? -3 : 0;
}

}  // namespace

int BuildMessageView(const std::string& path, HeaderMode mode, MessageView& view) {
  InputFile in;
  if (!in.Open(path, false)) return -1;
  Entity root;
  if (!ReadMessage(in, root)) return -1;
  BuildView(root, mode, view, true);
  return 0;
}

void BuildMessageViewFromText(std::string_view message, HeaderMode mode, MessageView& view) {
  InputFile in;
  in.OpenText(message, false);
  Entity root;
  ReadMessage(in, root);
  BuildView(root, mode, view, true);
}

int SavePart(const std::string& path, int number, const PartWriter& write) {
  InputFile in;
  if (!in.Open(path, false)) return -1;
  return Save(in, number, write);
}

int SavePartFromText(std::string_view message, int number, const PartWriter& write) {
  InputFile in;
  in.OpenText(message, false);
  return Save(in, number, write);
}

std::string QuotableText(const std::string& path) {
  InputFile in;
  if (!in.Open(path, false)) return {};
  Entity root;
  if (!ReadMessage(in, root)) return {};
  // Only what was written is quoted: no header block, no attachment lines.
  MessageView view;
  ViewBuilder(view).Add(root);
  return view.text;
}

int ReadHeaderFields(const std::string& path, std::vector<HeaderField>& fields) {
  InputFile in;
  if (!in.Open(path, false)) return -1;
  Entity root;
  Reader reader(in, 0, nullptr);
  reader.ReadTopHeader(root);
  fields = std::move(root.fields);
  return reader.ReadFailed() ? -1 : 0;
}

std::string_view FindField(const std::vector<HeaderField>& fields, std::string_view name) {
  for (const HeaderField& field : fields) {
    if (EqualsIgnoreCase(field.name, name)) return field.value;
  }
  return {};
}

}  // namespace quillo
