#include "mime/attachment_name.h"

#include <algorithm>
#include <cstdint>

namespace quillo {

namespace {

struct TypeExtension {
  std::string_view type;
  std::string_view extension;
};

constexpr TypeExtension kTypeExtensions[] = {
    {"text/plain", "txt"},
    {"text/html", "html"},
    {"text/csv", "csv"},
    {"text/calendar", "ics"},
    {"text/vcard", "vcf"},
    {"text/x-vcard", "vcf"},
    {"text/xml", "xml"},
    {"text/rfc822-headers", "txt"},
    {"message/rfc822", "eml"},
    {"message/delivery-status", "txt"},
    {"message/global", "eml"},
    {"image/jpeg", "jpg"},
    {"image/jpg", "jpg"},
    {"image/pjpeg", "jpg"},
    {"image/png", "png"},
    {"image/gif", "gif"},
    {"image/bmp", "bmp"},
    {"image/webp", "webp"},
    {"image/heic", "heic"},
    {"image/tiff", "tif"},
    {"image/svg+xml", "svg"},
    {"audio/mpeg", "mp3"},
    {"audio/wav", "wav"},
    {"video/mp4", "mp4"},
    {"video/quicktime", "mov"},
    {"application/pdf", "pdf"},
    {"application/zip", "zip"},
    {"application/x-zip-compressed", "zip"},
    {"application/gzip", "gz"},
    {"application/x-gzip", "gz"},
    {"application/json", "json"},
    {"application/xml", "xml"},
    {"application/ics", "ics"},
    {"application/msword", "doc"},
    {"application/vnd.ms-excel", "xls"},
    {"application/vnd.ms-powerpoint", "ppt"},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "docx"},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "xlsx"},
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation", "pptx"},
    {"application/pkcs7-signature", "p7s"},
    {"application/x-pkcs7-signature", "p7s"},
    {"application/pgp-signature", "asc"},
};

constexpr bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }

// The length of the UTF-8 character at `s[i]`; 1 for a byte that begins none.
size_t CharLength(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  if (i + n > s.size()) return 1;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  return n;
}

// Control characters of both ranges (C0 with DEL, and C1 as UTF-8), and
// the direction overrides that make a name read as something else.
bool IsUnsafeChar(std::string_view ch) {
  const unsigned char c = static_cast<unsigned char>(ch[0]);
  if (ch.size() == 1) return c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c >= 0x80;
  if (ch.size() == 2 && c == 0xC2) return static_cast<unsigned char>(ch[1]) < 0xA0;
  if (ch.size() == 3 && c == 0xE2 && static_cast<unsigned char>(ch[1]) == 0x80) {
    const unsigned char d = static_cast<unsigned char>(ch[2]);
    return d == 0xA8 || d == 0xA9 || (d >= 0xAA && d <= 0xAE);
  }
  if (ch.size() == 3 && c == 0xE2 && static_cast<unsigned char>(ch[1]) == 0x81) {
    const unsigned char d = static_cast<unsigned char>(ch[2]);
    return d >= 0xA6 && d <= 0xA9;
  }
  return false;
}

std::string Cleaned(std::string_view name) {
  while (!name.empty() && IsBlank(static_cast<unsigned char>(name.front()))) name.remove_prefix(1);
  while (!name.empty() && IsBlank(static_cast<unsigned char>(name.back()))) name.remove_suffix(1);
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const size_t n = CharLength(name, i);
    const std::string_view ch = name.substr(i, n);
    out += IsUnsafeChar(ch) ? std::string_view("_") : ch;
    i += n;
  }
  for (char& c : out) {
    if (c != '.') break;
    c = '_';
  }
  return out;
}

// Where the extension of `name` starts (at its dot), or npos.
size_t ExtensionStart(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? std::string_view::npos : dot;
}

// The bytes of `s` up to `most`, not cutting a character.
std::string_view CutAtCharacter(std::string_view s, size_t most) {
  size_t end = 0;
  while (end < s.size()) {
    const size_t n = CharLength(s, end);
    if (end + n > most) break;
    end += n;
  }
  return s.substr(0, end);
}

// At most `most` bytes, the extension kept when it is short enough to be one.
std::string Shortened(const std::string& name, size_t most) {
  if (name.size() <= most) return name;
  constexpr size_t kLongestExtension = 16;
  const size_t dot = ExtensionStart(name);
  const std::string_view extension =
      dot != std::string::npos && name.size() - dot <= kLongestExtension ? std::string_view(name).substr(dot) : "";
  return std::string(CutAtCharacter(name, most - extension.size())) + std::string(extension);
}

}  // namespace

std::string_view ExtensionForType(std::string_view type) {
  for (const TypeExtension& t : kTypeExtensions)
    if (t.type == type) return t.extension;
  return "bin";
}

std::string SafePartName(std::string_view decodedName, int number, std::string_view type) {
  std::string name = Cleaned(decodedName);
  if (std::all_of(name.begin(), name.end(), [](char c) { return c == '_' || c == ' '; }))
    name = "part-" + std::to_string(number) + "." + std::string(ExtensionForType(type));
  return Shortened(name, kLongestPartName);
}

std::string NumberedPartName(std::string_view name, int n) {
  const std::string suffix = "-" + std::to_string(n);
  const size_t dot = ExtensionStart(name);
  const std::string_view stem = dot == std::string_view::npos ? name : name.substr(0, dot);
  const std::string_view extension = dot == std::string_view::npos ? "" : name.substr(dot);
  // The numbered name stays within the limit too.
  const size_t room = kLongestPartName > suffix.size() + extension.size()
                          ? kLongestPartName - suffix.size() - extension.size()
                          : 0;
  return std::string(CutAtCharacter(stem, room)) + suffix + std::string(extension);
}

}  // namespace quillo
