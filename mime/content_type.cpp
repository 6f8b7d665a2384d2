#include "mime/content_type.h"

#include <algorithm>
#include <map>

#include "encoding/byte_classes.h"
#include "mime/field_text.h"
#include "mime/header_decode.h"
#include "mime/text_charset.h"
#include "platform/charset.h"

namespace quillo {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) << 4 | HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct RawParameter {
  std::string name;  // lower case, with its RFC 2231 "*" marks
  std::string value;
};

class FieldScanner {
 public:
  explicit FieldScanner(std::string_view text) : text_(text), sjis_(!IsValidUtf8(text)) {}

  // The field's own value: up to the first ';' outside quotes, comments and
  // white space dropped.
  std::string MainValue() {
    std::string value;
    while (i_ < text_.size() && text_[i_] != ';') {
      const char c = text_[i_];
      if (c == '(') {
        SkipComment();
      } else if (c == '"') {
        ++i_;
        value += Quoted();
      } else {
        if (!IsBlank(c)) value += c;
        ++i_;
      }
    }
    return Lowered(value);
  }

  bool NextParameter(RawParameter& parameter) {
    while (i_ < text_.size()) {
      while (i_ < text_.size() && (IsBlank(text_[i_]) || text_[i_] == ';')) ++i_;
      if (i_ < text_.size() && text_[i_] == '(') {
        SkipComment();
        continue;
      }
      if (i_ == text_.size()) return false;
      const size_t nameStart = i_;
      while (i_ < text_.size() && text_[i_] != '=' && text_[i_] != ';') ++i_;
      const std::string_view name = TrimmedBlanks(text_.substr(nameStart, i_ - nameStart));
      if (i_ == text_.size() || text_[i_] == ';') continue;  // no value: nothing to keep
      if (name.empty()) {
        while (i_ < text_.size() && text_[i_] != ';') ++i_;  // "=value" without a name
        continue;
      }
      ++i_;
      while (i_ < text_.size() && IsBlank(text_[i_])) ++i_;
      parameter.name = Lowered(name);
      if (i_ < text_.size() && text_[i_] == '"') {
        ++i_;
        parameter.value = Quoted();
        while (i_ < text_.size() && text_[i_] != ';') ++i_;  // junk after the closing quote
      } else {
        const size_t start = i_;
        while (i_ < text_.size() && text_[i_] != ';') ++i_;
        std::string_view value = TrimmedBlanks(text_.substr(start, i_ - start));
        // "us-ascii (the default)": a comment after a token goes.
        if (const size_t comment = value.rfind(" ("); comment != std::string_view::npos && value.back() == ')') {
          value = TrimmedBlanks(value.substr(0, comment));
        }
        parameter.value = std::string(value);
      }
      return true;
    }
    return false;
  }

 private:
  // The content of a quoted string whose opening quote was consumed.
  std::string Quoted() {
    std::string content;
    while (i_ < text_.size() && text_[i_] != '"') {
      if (sjis_ && IsSjisLeadByte(text_[i_]) && i_ + 1 < text_.size()) {
        content += text_[i_++];  // its trail byte may look like '\\'
      } else if (text_[i_] == '\\' && i_ + 1 < text_.size()) {
        ++i_;
      }
      content += text_[i_++];
    }
    if (i_ < text_.size()) ++i_;
    return content;
  }

  void SkipComment() {
    int depth = 0;
    while (i_ < text_.size()) {
      const char c = text_[i_++];
      if (c == '\\' && i_ < text_.size()) {
        ++i_;
      } else if (c == '(') {
        ++depth;
      } else if (c == ')' && --depth == 0) {
        return;
      }
    }
  }

  std::string_view text_;
  bool sjis_;
  size_t i_ = 0;
};

struct Section {
  int index = 0;
  bool encoded = false;
  std::string value;
};

// Puts the RFC 2231 sections of each parameter together: "name*0*=utf-8''%E3%81",
// "name*1*=%82" and the like become one value in UTF-8.
void JoinExtended(std::map<std::string, std::vector<Section>>& sectioned, ParameterField& field) {
  for (auto& entry : sectioned) {
    // Named, not bound: clang 14 lets no lambda capture a structured binding.
    const std::string& name = entry.first;
    std::vector<Section>& sections = entry.second;
    std::stable_sort(sections.begin(), sections.end(),
                     [](const Section& a, const Section& b) { return a.index < b.index; });
    std::string charset;
    std::string bytes;
    bool anyEncoded = false;
    for (size_t i = 0; i < sections.size(); ++i) {
      std::string_view value = sections[i].value;
      if (sections[i].encoded) {
        anyEncoded = true;
        if (i == 0) {
          const size_t first = value.find('\'');
          const size_t second = first == std::string_view::npos ? first : value.find('\'', first + 1);
          if (second != std::string_view::npos) {
            charset = std::string(value.substr(0, first));
            value.remove_prefix(second + 1);
          }
        }
        bytes += PercentDecoded(value);
      } else {
        bytes += value;
      }
    }
    std::string text;
    if (anyEncoded) {
      AppendDecodedText(charset, bytes, text);
    } else {
      text = std::move(bytes);
    }
    auto same = std::find_if(field.parameters.begin(), field.parameters.end(),
                             [&](const auto& p) { return p.first == name; });
    if (same != field.parameters.end()) same->second = std::move(text);
    else field.parameters.emplace_back(name, std::move(text));
  }
}

}  // namespace

ParameterField ParseParameterField(std::string_view raw) {
  const std::string unfolded = UnfoldHeaderValue(raw);
  FieldScanner scanner(unfolded);
  ParameterField field;
  field.value = scanner.MainValue();
  std::map<std::string, std::vector<Section>> sectioned;
  RawParameter parameter;
  while (scanner.NextParameter(parameter)) {
    const size_t star = parameter.name.find('*');
    if (star == std::string::npos) {
      const bool seen = std::any_of(field.parameters.begin(), field.parameters.end(),
                                    [&](const auto& p) { return p.first == parameter.name; });
      if (!seen) field.parameters.emplace_back(parameter.name, parameter.value);
      continue;
    }
    if (star == 0) continue;  // "*=...": a section of no parameter
    Section section;
    std::string_view marks = std::string_view(parameter.name).substr(star);
    section.encoded = marks.back() == '*';
    if (section.encoded) marks.remove_suffix(1);
    if (!marks.empty()) {
      // "*N": the section number; anything else is no RFC 2231 name.
      marks.remove_prefix(1);
      if (marks.empty() || marks.size() > 3 || !std::all_of(marks.begin(), marks.end(), [](char c) {
            return c >= '0' && c <= '9';
          })) {
        continue;
      }
      section.index = std::stoi(std::string(marks));
    }
    section.value = parameter.value;
    sectioned[parameter.name.substr(0, star)].push_back(std::move(section));
  }
  JoinExtended(sectioned, field);
  return field;
}

std::string ParameterValue(const ParameterField& field, std::string_view name) {
  for (const auto& [key, value] : field.parameters) {
    if (key == name) return value;
  }
  return {};
}

std::string ParameterText(const ParameterField& field, std::string_view name) {
  // RFC 2231 values are UTF-8 by now, which reads the same.
  return DecodeHeaderValue(ParameterValue(field, name));
}

}  // namespace quillo
