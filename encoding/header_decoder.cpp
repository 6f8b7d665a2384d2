#include "encoding/header_file.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "encoding/encoded_words.h"
#include "encoding/jis.h"

namespace quillo {

namespace {

constexpr size_t kLinePiece = 999;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads text in text mode (CR LF becomes LF, a lone CR stays) in pieces of
// at most kLinePiece bytes, each ending at its line feed when one fits: from
// a file block by block, or from text already in memory.
class PieceReader {
 public:
  // The block is filled before it is read, so it is not cleared first.
  explicit PieceReader(std::FILE* file) : file_(file), block_(std::make_unique_for_overwrite<char[]>(kBlockSize)) {}
  explicit PieceReader(std::string_view text) : data_(text.data()), len_(text.size()) {}

  bool Next(std::string& piece) {
    piece.clear();
    while (piece.size() < kLinePiece) {
      if (pos_ == len_ && !Refill()) break;
      // Bytes other than line ends go over as a run.
      const size_t room = std::min(kLinePiece - piece.size(), len_ - pos_);
      size_t run = 0;
      while (run < room && data_[pos_ + run] != '\n' && data_[pos_ + run] != '\r') ++run;
      piece.append(data_ + pos_, run);
      pos_ += run;
      if (run == room) continue;
      int c = Get();
      if (c == '\r' && Peek() == '\n') c = Get();
      piece.push_back(static_cast<char>(c));
      if (c == '\n') break;
    }
    return !piece.empty();
  }

  bool Failed() const { return file_ && std::ferror(file_) != 0; }

 private:
  int Peek() {
    if (pos_ == len_ && !Refill()) return EOF;
    return static_cast<unsigned char>(data_[pos_]);
  }
  int Get() {
    int c = Peek();
    if (c != EOF) ++pos_;
    return c;
  }
  bool Refill() {
    if (!file_) return false;
    len_ = std::fread(block_.get(), 1, kBlockSize, file_);
    data_ = block_.get();
    pos_ = 0;
    return len_ > 0;
  }

  static constexpr size_t kBlockSize = 64 * 1024;
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> block_;
  const char* data_ = nullptr;
  size_t pos_ = 0;
  size_t len_ = 0;
};

bool WriteAll(std::FILE* out, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

int Fail(const char* message) {
  std::fputs(message, stderr);
  return 1;
}

// Copies the pieces, decoding those of the header. A line feed that arrives
// as a piece of its own after a full 999-byte piece ends that long line; it
// is not the empty line that ends the header.
// `write` takes each decoded piece and says whether it could be stored.
template <typename Write>
int CopyDecoding(PieceReader& reader, Write write) {
  std::string piece;
  std::string words;
  std::string sjis;
  bool inHeader = true;
  bool lineOpen = false;
  while (reader.Next(piece)) {
    if (inHeader && piece == "\n" && !lineOpen) inHeader = false;
    std::string_view text = piece;
    if (inHeader) {
      DecodeEncodedWords(piece, words);
      JisToSjis(words, sjis);
      text = sjis;
    }
    if (!write(text)) return Fail("tmpfile write error!\r\n");
    lineOpen = piece.back() != '\n';
  }
  if (reader.Failed()) return Fail("infile read error!\r\n");
  return 0;
}

}  // namespace

int DecodeHeaderFile(const std::string& inPath, const std::string& outPath) {
  FilePtr out(std::fopen(outPath.c_str(), "w"));
  if (!out) return Fail("tmpfile open error!\r\n");
  FilePtr in(std::fopen(inPath.c_str(), "r"));
  if (!in) return Fail("infile open error!\r\n");

  PieceReader reader(in.get());
  int result = CopyDecoding(reader, [&out](std::string_view text) { return WriteAll(out.get(), text); });
  // The close flushes what is still buffered: a full disk often shows only
  // here, and must not pass for a whole file.
  if (std::fclose(out.release()) != 0 && result == 0) result = Fail("tmpfile write error!\r\n");
  return result;
}

std::string DecodeHeaderText(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  PieceReader reader(text);
  CopyDecoding(reader, [&decoded](std::string_view piece) {
    decoded += piece;
    return true;
  });
  return decoded;
}

}  // namespace quillo
