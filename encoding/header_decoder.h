// Decoding the header of a message as its lines pass by.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// Turns every header line, up to the first empty line, from encoded-words
// and JIS into Shift_JIS; the empty line and the body pass unchanged. Lines
// arrive in the pieces a line reader cuts them into: at most a fixed number
// of bytes, LF included when it fits. A line feed that arrives as a piece of
// its own after a cut piece ends that long line; it is not the empty line
// that ends the header.
class HeaderDecoder {
 public:
  // The text to store for `piece`; valid until the next call.
  std::string_view Next(std::string_view piece);
  bool InHeader() const { return inHeader_; }

 private:
  std::string words_;
  std::string sjis_;
  bool inHeader_ = true;
  bool lineOpen_ = false;  // the last piece did not end its line
};

}  // namespace quillo
