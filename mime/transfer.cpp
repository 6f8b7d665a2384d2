#include "mime/transfer.h"

#include <array>

namespace quillo {

namespace {

constexpr std::array<signed char, 256> MakeSextets() {
  std::array<signed char, 256> table{};
  for (auto& value : table) value = -1;
  constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i < kAlphabet.size(); ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
  return table;
}
constexpr std::array<signed char, 256> kSextets = MakeSextets();

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

void Base64Decoder::Feed(std::string_view text, std::string& out) {
  for (char c : text) {
    if (c == '=') {
      Finish(out);
      continue;
    }
    const int value = kSextets[static_cast<unsigned char>(c)];
    if (value < 0) continue;
    bits_ = (bits_ << 6) | static_cast<unsigned>(value);
    if (++count_ == 4) {
      out += static_cast<char>((bits_ >> 16) & 0xFF);
      out += static_cast<char>((bits_ >> 8) & 0xFF);
      out += static_cast<char>(bits_ & 0xFF);
      bits_ = 0;
      count_ = 0;
    }
  }
}

void Base64Decoder::Finish(std::string& out) {
  // Two sextets hold one byte, three hold two; a lone one holds nothing.
  if (count_ == 2) {
    out += static_cast<char>((bits_ >> 4) & 0xFF);
  } else if (count_ == 3) {
    out += static_cast<char>((bits_ >> 10) & 0xFF);
    out += static_cast<char>((bits_ >> 2) & 0xFF);
  }
  bits_ = 0;
  count_ = 0;
}

void QuotedPrintableDecoder::Feed(std::string_view text, std::string& out) {
  while (!text.empty()) {
    const size_t lf = text.find('\n');
    if (lf == std::string_view::npos) {
      line_.append(text);
      return;
    }
    if (line_.empty()) {
      DecodeLine(text.substr(0, lf), true, out);
    } else {
      line_.append(text.substr(0, lf));
      DecodeLine(line_, true, out);
      line_.clear();
    }
    text.remove_prefix(lf + 1);
  }
}

void QuotedPrintableDecoder::Finish(std::string& out) {
  if (!line_.empty()) DecodeLine(line_, false, out);
  line_.clear();
}

void QuotedPrintableDecoder::DecodeLine(std::string_view line, bool ended, std::string& out) const {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  bool soft = false;
  if (!line.empty() && line.back() == '=') {
    soft = true;
    line.remove_suffix(1);
  }
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '=') {
      const int high = i + 1 < line.size() ? HexValue(line[i + 1]) : -1;
      const int low = i + 2 < line.size() ? HexValue(line[i + 2]) : -1;
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high << 4 | low);
        i += 2;
        continue;
      }
    }
    out += line[i];
  }
  if (ended && !soft) out += '\n';
}

std::string DecodeBase64Text(std::string_view text) {
  std::string out;
  Base64Decoder decoder;
  decoder.Feed(text, out);
  decoder.Finish(out);
  return out;
}

std::string DecodeQuotedPrintableText(std::string_view text) {
  std::string out;
  QuotedPrintableDecoder decoder;
  decoder.Feed(text, out);
  decoder.Finish(out);
  return out;
}

}  // namespace quillo
