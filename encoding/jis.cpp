#include "encoding/jis.h"

#include <array>
#include <cstring>

#include "encoding/byte_classes.h"

namespace quillo {

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kShiftOut = 0x0E;  // half-width katakana on
constexpr unsigned char kShiftIn = 0x0F;   // half-width katakana off
// The half-width katakana of JIS X 0201 after ESC ( I; Shift_JIS has them at
// the same codes with the top bit set.
constexpr unsigned char kFirstKana = 0x21;
constexpr unsigned char kLastKana = 0x5F;

// A line end never pairs with the byte before it, so a broken double-byte
// character at the end of a line cannot swallow the line feed and merge two
// lines.
constexpr bool IsLineEnd(unsigned char c) { return c == '\n' || c == '\r'; }

// Byte-indexed tables for the arithmetic mapping, so the inner loops do two
// lookups per character instead of branching on ranges.
struct JisTables {
  std::array<unsigned char, 256> lead{};       // JIS first byte -> Shift_JIS lead
  std::array<unsigned char, 256> trailOdd{};   // JIS second byte, odd first byte
  std::array<unsigned char, 256> trailEven{};  // JIS second byte, even first byte
};

constexpr JisTables MakeJisTables() {
  JisTables t;
  for (unsigned j = 0x21; j <= 0x7E; ++j) {
    t.lead[j] = static_cast<unsigned char>((j + 1) / 2 + (j <= 0x5E ? 0x70 : 0xB0));
    t.trailOdd[j] = static_cast<unsigned char>(j + (j < 0x60 ? 0x1F : 0x20));
    t.trailEven[j] = static_cast<unsigned char>(j + 0x7E);
  }
  return t;
}

// For Shift_JIS: the odd JIS row that a lead byte starts from, and for a
// second byte its JIS column with bit 7 set when the row is the even one.
struct SjisTables {
  std::array<unsigned char, 256> oddRow{};
  std::array<unsigned char, 256> column{};
};

constexpr SjisTables MakeSjisTables() {
  SjisTables t;
  for (unsigned s = 0x81; s <= 0x9F; ++s) t.oddRow[s] = static_cast<unsigned char>((s - 0x70) * 2 - 1);
  for (unsigned s = 0xE0; s <= 0xEF; ++s) t.oddRow[s] = static_cast<unsigned char>((s - 0xB0) * 2 - 1);
  for (unsigned s = 0x40; s <= 0x7E; ++s) t.column[s] = static_cast<unsigned char>(s - 0x1F);
  for (unsigned s = 0x80; s <= 0x9E; ++s) t.column[s] = static_cast<unsigned char>(s - 0x20);
  for (unsigned s = 0x9F; s <= 0xFC; ++s) t.column[s] = static_cast<unsigned char>(0x80 | (s - 0x7E));
  return t;
}

constexpr JisTables kJis = MakeJisTables();
constexpr SjisTables kSjis = MakeSjisTables();

// The Shift_JIS code of a JIS pair, 0 when the pair is none.
constexpr std::uint16_t MappedPair(unsigned char j1, unsigned char j2) {
  const unsigned char lead = kJis.lead[j1];
  const unsigned char trail = (j1 & 1) ? kJis.trailOdd[j2] : kJis.trailEven[j2];
  return lead == 0 || trail == 0 ? 0 : static_cast<std::uint16_t>(lead << 8 | trail);
}

constexpr std::uint16_t PairCode(unsigned char j1, unsigned char j2) {
  const std::uint16_t code = MappedPair(j1, j2);
  return code ? code : kSjisGeta;
}

// Every double-byte character in one look-up: for a first byte 0x21-0x7F and
// any second byte, its Shift_JIS code (the geta mark where there is none), or
// 0 when the second byte is a line end, which no character takes.
constexpr unsigned char kFirstPairByte = 0x21;
constexpr unsigned char kLastPairByte = 0x7F;
using PairTable = std::array<std::uint16_t, (kLastPairByte - kFirstPairByte + 1) * 256>;

constexpr PairTable MakePairTable() {
  PairTable t{};
  for (unsigned j1 = kFirstPairByte; j1 <= kLastPairByte; ++j1) {
    for (unsigned j2 = 0; j2 < 256; ++j2) {
      const auto first = static_cast<unsigned char>(j1);
      const auto second = static_cast<unsigned char>(j2);
      t[(j1 - kFirstPairByte) * 256 + j2] = IsLineEnd(second) ? 0 : PairCode(first, second);
    }
  }
  return t;
}

constexpr PairTable kPairs = MakePairTable();

// Output is gathered in a stack block and handed to the string in pieces, so
// a byte costs a store rather than a capacity check. Callers reserve room for
// the few bytes of one step before writing them.
class ByteSink {
 public:
  explicit ByteSink(std::string& out) : out_(out) {}
  ~ByteSink() { Flush(); }
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  void Room(size_t n) {
    if (used_ + n > kSize) Flush();
  }
  void Put(unsigned char c) { block_[used_++] = static_cast<char>(c); }
  void Put(unsigned char a, unsigned char b, unsigned char c) {
    Put(a);
    Put(b);
    Put(c);
  }
  void PutCode(std::uint16_t code) {
    Put(static_cast<unsigned char>(code >> 8));
    Put(static_cast<unsigned char>(code & 0xFF));
  }
  void Append(const unsigned char* p, size_t n) {
    if (n > kSize - used_) {
      Flush();
      if (n > kSize / 2) {
        out_.append(reinterpret_cast<const char*>(p), n);
        return;
      }
    }
    std::memcpy(block_ + used_, p, n);
    used_ += n;
  }
  void Flush() {
    out_.append(block_, used_);
    used_ = 0;
  }

 private:
  static constexpr size_t kSize = 4096;
  std::string& out_;
  char block_[kSize];
  size_t used_ = 0;
};

class JisDecoder {
 public:
  // With `holdTail`, a character or escape that the end of `jis` cuts short
  // is left unread: the next piece of the same line completes it.
  JisDecoder(std::string_view jis, std::string& out, JisMode& mode, bool holdTail)
      : p_(reinterpret_cast<const unsigned char*>(jis.data())), n_(jis.size()), mode_(mode), holdTail_(holdTail),
        sink_(out) {}

  // The bytes read; the rest was held back.
  size_t Run() {
    while (i_ < n_) {
      if (holdTail_ && CutShort()) break;
      sink_.Room(4);
      if (p_[i_] == kEsc) {
        Escape();
      } else if (!mode_.doubleByte && !mode_.shiftedKana && !mode_.kanaSet) {
        CopyPlainRun();
      } else if (!mode_.doubleByte || !CopyDoubleByteRun()) {
        Ordinary();
      }
    }
    return i_;
  }

 private:
  bool CutShort() const {
    const size_t rest = n_ - i_;
    if (p_[i_] == kEsc) return rest < 3;
    return rest == 1 && mode_.doubleByte && p_[i_] >= 0x21 && p_[i_] <= 0x7F;
  }
  unsigned char Shifted(unsigned char c) const { return mode_.shiftedKana ? static_cast<unsigned char>(c | 0x80) : c; }
  void PutEsc() { sink_.Put(Shifted(kEsc)); }

  void Escape() {
    size_t rest = n_ - i_;
    unsigned char next = rest > 1 ? p_[i_ + 1] : 0;
    if (next == '$') {
      if (rest == 2) {
        PutEsc();
        i_ += 1;  // the '$' follows as an ordinary byte
      } else if (p_[i_ + 2] == '@' || p_[i_ + 2] == 'B') {
        mode_.doubleByte = true;
        mode_.kanaSet = false;
        i_ += 3;
      } else {
        i_ += 2;  // ESC $ dropped; the byte after it is taken as it is
        Ordinary();
      }
    } else if (next == '(') {
      if (rest > 2 && (p_[i_ + 2] == 'B' || p_[i_ + 2] == 'J' || p_[i_ + 2] == 'H' || p_[i_ + 2] == 'I')) {
        mode_.doubleByte = false;
        mode_.kanaSet = p_[i_ + 2] == 'I';
        i_ += 3;
      } else {
        PutEsc();
        i_ += 1;  // the '(' follows as an ordinary byte
      }
    } else {
      i_ += 1;  // a lone ESC is dropped
    }
  }

  // Text outside any mode is copied as it is up to the next control byte
  // that changes a mode.
  void CopyPlainRun() {
    size_t j = i_;
    while (j < n_ && p_[j] != kEsc && p_[j] != kShiftOut && p_[j] != kShiftIn) ++j;
    if (j == i_) {
      Ordinary();
      return;
    }
    sink_.Append(p_ + i_, j - i_);
    i_ = j;
  }

  // Whole double-byte characters one after the other, without the checks
  // each byte would otherwise pass through; false when there was none.
  bool CopyDoubleByteRun() {
    const size_t start = i_;
    while (i_ + 1 < n_) {
      const unsigned row = p_[i_] - kFirstPairByte;
      if (row > kLastPairByte - kFirstPairByte) break;
      const std::uint16_t code = kPairs[row * 256 + p_[i_ + 1]];
      if (code == 0) break;
      sink_.Room(2);
      sink_.PutCode(code);
      i_ += 2;
    }
    return i_ != start;
  }

  void Ordinary() {
    unsigned char c = p_[i_];
    if (mode_.doubleByte && c >= 0x21 && c <= 0x7F) {
      if (i_ + 1 == n_ || IsLineEnd(p_[i_ + 1])) {
        sink_.Put(Shifted(c));  // half a character: kept as it came
        i_ += 1;
        return;
      }
      std::uint16_t code = JisCodeToSjis(c, p_[i_ + 1]);
      sink_.PutCode(code ? code : kSjisGeta);
      i_ += 2;
      return;
    }
    if (c == kShiftOut) {
      mode_.shiftedKana = true;
    } else if (c == kShiftIn) {
      mode_.shiftedKana = false;
    } else if (mode_.kanaSet && !mode_.shiftedKana && c >= kFirstKana && c <= kLastKana) {
      sink_.Put(static_cast<unsigned char>(c | 0x80));
    } else {
      sink_.Put(IsLineEnd(c) ? c : Shifted(c));
    }
    i_ += 1;
  }

  const unsigned char* p_;
  size_t n_;
  size_t i_ = 0;
  JisMode& mode_;
  bool holdTail_;
  ByteSink sink_;
};

}  // namespace

std::uint16_t JisCodeToSjis(unsigned char j1, unsigned char j2) { return MappedPair(j1, j2); }

std::uint16_t SjisCodeToJis(unsigned char s1, unsigned char s2) {
  unsigned char row = kSjis.oddRow[s1];
  unsigned char column = kSjis.column[s2];
  if (row == 0 || column == 0) return 0;
  if (column & 0x80) ++row;
  return static_cast<std::uint16_t>(row << 8 | (column & 0x7F));
}

bool IsJisX0208Code(unsigned char j1, unsigned char j2) {
  struct Cells {
    unsigned char row, first, last;
  };
  // The assigned cells of the rows that are not full (JIS X 0208:1990).
  static constexpr std::array<Cells, 19> kPartial{{{0x22, 0x21, 0x2E},
                                                   {0x22, 0x3A, 0x41},
                                                   {0x22, 0x4A, 0x50},
                                                   {0x22, 0x5C, 0x6A},
                                                   {0x22, 0x72, 0x79},
                                                   {0x22, 0x7E, 0x7E},
                                                   {0x23, 0x30, 0x39},
                                                   {0x23, 0x41, 0x5A},
                                                   {0x23, 0x61, 0x7A},
                                                   {0x24, 0x21, 0x73},
                                                   {0x25, 0x21, 0x76},
                                                   {0x26, 0x21, 0x38},
                                                   {0x26, 0x41, 0x58},
                                                   {0x27, 0x21, 0x41},
                                                   {0x27, 0x51, 0x71},
                                                   {0x28, 0x21, 0x40},
                                                   {0x4F, 0x21, 0x53},
                                                   {0x74, 0x21, 0x26},
                                                   {0x21, 0x21, 0x7E}}};
  if (j2 < 0x21 || j2 > 0x7E) return false;
  if ((j1 >= 0x30 && j1 <= 0x4E) || (j1 >= 0x50 && j1 <= 0x73)) return true;
  for (const Cells& c : kPartial) {
    if (c.row == j1 && j2 >= c.first && j2 <= c.last) return true;
  }
  return false;
}

bool FitsIso2022Jp(std::string_view sjis) {
  for (size_t i = 0; i < sjis.size(); ++i) {
    const auto c = static_cast<unsigned char>(sjis[i]);
    if (c < 0x80) continue;
    if (!IsSjisLeadByte(c) || i + 1 >= sjis.size()) return false;
    const std::uint16_t code = SjisCodeToJis(c, static_cast<unsigned char>(sjis[++i]));
    if (code == 0 || !IsJisX0208Code(static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code & 0xFF))) {
      return false;
    }
  }
  return true;
}

void SjisToJis(std::string_view sjis, std::string& out) {
  out.clear();
  // Room for the worst case (a mode change before every byte) up front: the
  // pages are only touched as they are written, and the string never moves.
  out.reserve(sjis.size() * 3 + 3);
  const auto* p = reinterpret_cast<const unsigned char*>(sjis.data());
  const size_t n = sjis.size();
  ByteSink sink(out);
  bool doubleByte = false;
  size_t i = 0;
  while (i < n) {
    sink.Room(5);
    unsigned char c = p[i];
    if (IsSjisLeadByte(c)) {
      if (!doubleByte) {
        sink.Put(kEsc, '$', 'B');
        doubleByte = true;
      }
      std::uint16_t code = 0;
      if (i + 1 < n && !IsLineEnd(p[i + 1])) {
        code = SjisCodeToJis(c, p[i + 1]);
        i += 2;
      } else {
        i += 1;  // half a character at the end of the text or line
      }
      sink.PutCode(code ? code : kJisGeta);
      continue;
    }
    if (doubleByte) {
      sink.Put(kEsc, '(', 'B');
      doubleByte = false;
    }
    if (c < 0x80) {
      size_t j = i + 1;
      while (j < n && p[j] < 0x80) ++j;
      sink.Append(p + i, j - i);
      i = j;
    } else {
      sink.Put(static_cast<unsigned char>(c & 0x7F));
      ++i;
    }
  }
  if (doubleByte) {
    sink.Room(3);
    sink.Put(kEsc, '(', 'J');
  }
}

std::string SjisToJis(std::string_view sjis) {
  std::string out;
  SjisToJis(sjis, out);
  return out;
}

void JisToSjis(std::string_view jis, std::string& out) {
  out.clear();
  out.reserve(jis.size());
  JisMode mode;
  JisDecoder(jis, out, mode, false).Run();
}

std::string JisToSjis(std::string_view jis) {
  std::string out;
  JisToSjis(jis, out);
  return out;
}

void JisStreamToSjis::Convert(std::string_view piece, std::string& out) {
  out.clear();
  // Half-width katakana shifted in with SO end with their line.
  if (atLineStart_) mode_.shiftedKana = false;
  if (!piece.empty()) atLineStart_ = IsLineEnd(static_cast<unsigned char>(piece.back()));
  std::string_view text = piece;
  if (!held_.empty()) {
    held_.append(piece);
    text = held_;
  }
  out.reserve(text.size());
  size_t read = 0;
  {
    JisDecoder decoder(text, out, mode_, !atLineStart_);
    read = decoder.Run();
  }
  held_ = std::string(text.substr(read));
}

void JisStreamToSjis::Finish(std::string& out) {
  out.clear();
  if (held_.empty()) return;
  {
    JisDecoder decoder(held_, out, mode_, false);
    decoder.Run();
  }
  held_.clear();
  atLineStart_ = true;
}

}  // namespace quillo
