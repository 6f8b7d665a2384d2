// Content-Transfer-Encoding decoders that take the text in pieces of any
// size, so that a part is decoded as it is read, never held whole.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// Base64 as mailers write it: characters outside the alphabet (line breaks,
// junk) are skipped; "=" closes the group it ends, and decoding goes on
// after it; a group cut short at the end gives the bytes it holds.
class Base64Decoder {
 public:
  void Feed(std::string_view text, std::string& out);
  void Finish(std::string& out);

 private:
  unsigned bits_ = 0;
  int count_ = 0;  // sextets held in bits_
};

// Quoted-printable: "=XX" in either letter case, "=" at the end of a line (a
// soft break, white space after it allowed), white space at the end of a
// line dropped, a stray "=" kept as it is. Line breaks come out as LF.
class QuotedPrintableDecoder {
 public:
  void Feed(std::string_view text, std::string& out);
  void Finish(std::string& out);

 private:
  void DecodeLine(std::string_view line, bool ended, std::string& out) const;
  std::string line_;  // the line being read, until its LF comes
};

std::string DecodeBase64Text(std::string_view text);
std::string DecodeQuotedPrintableText(std::string_view text);

}  // namespace quillo
