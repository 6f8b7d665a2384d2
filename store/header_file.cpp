#include "store/header_file.h"

#include "encoding/header_decoder.h"
#include "platform/output.h"

namespace quillo {

namespace {

int Fail(const char* message) {
  WriteErr(message);
  return 1;
}

// `write` takes each decoded piece and says whether it could be stored.
template <typename Write>
int CopyDecoding(InputFile& in, Write write) {
  HeaderDecoder decoder;
  std::string_view piece;
  while (in.ReadPieceView(piece)) {
    if (!write(decoder.Next(piece))) return Fail("tmpfile write error!\r\n");
  }
  if (in.HadError()) return Fail("infile read error!\r\n");
  return 0;
}

}  // namespace

int DecodeHeaderStream(InputFile& in, OutputFile& out) {
  return CopyDecoding(in, [&out](std::string_view text) { return out.Write(text); });
}

int DecodeHeaderFile(const std::string& inPath, const std::string& outPath) {
  OutputFile out;
  if (!out.Open(outPath)) return Fail("tmpfile open error!\r\n");
  InputFile in(inPath);
  if (!in.IsOpen()) return Fail("infile open error!\r\n");
  int result = DecodeHeaderStream(in, out);
  // The close flushes what is still buffered: a full disk often shows only
  // here, and must not pass for a whole file.
  if (!out.Close() && result == 0) result = Fail("tmpfile write error!\r\n");
  return result;
}

std::string DecodeHeaderText(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  InputFile in;
  in.OpenText(text);
  CopyDecoding(in, [&decoded](std::string_view piece) {
    decoded += piece;
    return true;
  });
  return decoded;
}

}  // namespace quillo
