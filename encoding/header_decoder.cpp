#include "encoding/header_decoder.h"

#include "encoding/encoded_words.h"
#include "encoding/jis.h"

namespace quillo {

std::string_view HeaderDecoder::Next(std::string_view piece) {
  if (piece.empty()) return piece;
  if (inHeader_ && piece == "\n" && !lineOpen_) inHeader_ = false;
  lineOpen_ = piece.back() != '\n';
  if (!inHeader_) return piece;
  DecodeEncodedWords(piece, words_);
  JisToSjis(words_, sjis_);
  return sjis_;
}

}  // namespace quillo
