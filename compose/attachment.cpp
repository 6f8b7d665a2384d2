#include "compose/attachment.h"

#include <array>

#include "encoding/encoded_words.h"
#include "encoding/header_words.h"
#include "platform/charset.h"
#include "platform/console_charset.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "platform/text_file.h"

namespace quillo {

namespace {

constexpr size_t kBase64Line = 76;
constexpr size_t kReadBlock = 65536;

struct MediaType {
  std::string_view extension;
  std::string_view type;
};

constexpr std::array<MediaType, 28> kMediaTypes{{
    {"txt", "text/plain"},
    {"csv", "text/csv"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"pdf", "application/pdf"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"png", "image/png"},
    {"gif", "image/gif"},
    {"bmp", "image/bmp"},
    {"webp", "image/webp"},
    {"svg", "image/svg+xml"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
    {"tar", "application/x-tar"},
    {"json", "application/json"},
    {"xml", "application/xml"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"mp3", "audio/mpeg"},
    {"wav", "audio/wav"},
    {"mp4", "video/mp4"},
    {"ics", "text/calendar"},
    {"rtf", "application/rtf"},
}};

bool IsAttributeChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
}

// RFC 2231 percent encoding, one string per character so a cut never splits one.
std::vector<std::string> PercentEncoded(std::string_view utf8) {
  std::vector<std::string> pieces;
  for (char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    // A continuation byte belongs with the bytes before it.
    const bool joins = u >= 0x80 && u < 0xC0 && !pieces.empty();
    std::string piece = IsAttributeChar(c) ? std::string(1, c) : Format("%%%02X", u);
    if (joins) pieces.back() += piece;
    else pieces.push_back(piece);
  }
  return pieces;
}

bool IsPrintableAscii(std::string_view text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// ";" NAME "=" followed by encoded-words inside quotes, folded.
std::string EncodedNameParameter(std::string_view utf8, std::string_view lineEnd) {
  std::string out = ";" + std::string(lineEnd) + " name=\"";
  const std::vector<std::string> words = EncodeWords(utf8, WordCharset::kUtf8, kFoldColumn - 9);
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += std::string(lineEnd) + " ";
    out += words[i];
  }
  return out + "\"";
}

// filename*=UTF-8''... on one line, or as numbered sections of at most one
// line each.
std::string ExtendedFileName(std::string_view utf8, std::string_view lineEnd) {
  const std::vector<std::string> pieces = PercentEncoded(utf8);
  std::string whole = "UTF-8''";
  for (const std::string& p : pieces) whole += p;
  const std::string single = " filename*=" + whole;
  if (single.size() <= kFoldColumn - 1) return ";" + std::string(lineEnd) + single;
  std::string out;
  std::string section = "UTF-8''";
  int number = 0;
  const auto flush = [&] {
    out += ";" + std::string(lineEnd) + Format(" filename*%d*=", number++) + section;
    section.clear();
  };
  for (const std::string& p : pieces) {
    const size_t head = Format(" filename*%d*=", number).size();
    if (!section.empty() && head + section.size() + p.size() > kFoldColumn - 1) flush();
    section += p;
  }
  flush();
  return out;
}

}  // namespace

bool ReadAttachment(const std::string& path, long long limit, Attachment& file) {
  file.path = path;
  file.bytes.clear();
  const std::string shown = SanitizeForConsole(path);
  InputFile in;
  if (StatPath(path) != PathKind::kFile || !in.Open(path, false)) {
    PrintErr("attach file(%s) open error!\a\n", shown.c_str());
    return false;
  }
  std::string block;
  while (in.ReadBlock(block, kReadBlock)) {
    if (static_cast<long long>(file.bytes.size() + block.size()) > limit) {
      PrintErr("attach file(%s) too large!\a\n", shown.c_str());
      return false;
    }
    file.bytes += block;
  }
  if (in.HadError()) {
    PrintErr("attach file(%s) read error!\a\n", shown.c_str());
    return false;
  }
  return true;
}

std::string_view MediaTypeFor(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return "application/octet-stream";
  const std::string_view extension = fileName.substr(dot + 1);
  for (const MediaType& m : kMediaTypes) {
    if (EqualsIgnoreCase(extension, m.extension)) return m.type;
  }
  return "application/octet-stream";
}

std::string NameAsUtf8(std::string_view fileName) {
  if (IsValidUtf8(fileName)) return std::string(fileName);
  std::string utf8;
  return SjisToUtf8Exact(fileName, utf8) ? utf8 : std::string();
}

std::string AttachmentHeader(std::string_view fileName, std::string_view lineEnd) {
  std::string name(fileName);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  }
  if (name.empty()) name = "attachment";
  const std::string end(lineEnd);
  std::string header = "Content-Type: " + std::string(MediaTypeFor(name));
  std::string disposition = "Content-Disposition: attachment";
  if (IsPrintableAscii(name) && name.size() < kFoldColumn - 20) {
    header += ";" + end + " name=" + QuotedString(name);
    disposition += ";" + end + " filename=" + QuotedString(name);
  } else {
    header += EncodedNameParameter(name, lineEnd);
    disposition += ExtendedFileName(name, lineEnd);
  }
  return header + end + disposition + end + "Content-Transfer-Encoding: base64" + end;
}

std::string Base64Lines(std::string_view bytes, std::string_view lineEnd) {
  const std::string encoded = EncodeBase64(bytes);
  std::string out;
  out.reserve(encoded.size() + encoded.size() / kBase64Line * lineEnd.size() + lineEnd.size());
  for (size_t i = 0; i < encoded.size(); i += kBase64Line) {
    out.append(encoded, i, kBase64Line);
    out += lineEnd;
  }
  return out;
}

}  // namespace quillo
