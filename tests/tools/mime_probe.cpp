// Stores each wire-form message of a directory as a received message is
// stored (JIS turned into Shift_JIS, header words decoded), then writes what
// the message layer reads from the stored file, for the differential test
// (tests/mime_differential.py) to hold against Python's email package.
//   mime_probe DIR   (reads DIR/*.eml; writes DIR/<name>.{stored,subject,sender,text,parts,part<N>})
#include <cstdio>
#include <string>
#include <vector>

#include "encoding/jis.h"
#include "mime/header_decode.h"
#include "mime/message.h"
#include "platform/files.h"
#include "platform/text_file.h"
#include "store/header_file.h"

namespace quillo {
namespace {

// The received bytes as they reach the file: JIS modes start over where the
// header ends, as they do when mail is received.
std::string Received(const std::string& wire) {
  JisStreamToSjis jis;
  std::string stored, piece;
  bool inHeader = true;
  size_t start = 0;
  while (start < wire.size()) {
    size_t end = wire.find('\n', start);
    end = end == std::string::npos ? wire.size() : end + 1;
    const std::string line = wire.substr(start, end - start);
    jis.Convert(line, piece);
    stored += piece;
    if (inHeader && (line == "\r\n" || line == "\n")) {
      inHeader = false;
      jis = JisStreamToSjis();
    }
    start = end;
  }
  jis.Finish(piece);
  stored += piece;
  return DecodeHeaderText(stored);
}

bool Write(const std::string& path, std::string_view bytes) {
  OutputFile out;
  return out.Open(path) && out.Write(bytes) && out.Close();
}

bool Probe(const std::string& dir, const std::string& name) {
  std::string wire;
  if (!ReadWholeFile(dir + "/" + name, wire)) return false;
  const std::string base = dir + "/" + name.substr(0, name.size() - 4);
  const std::string stored = base + ".stored";
  if (!Write(stored, Received(wire))) return false;
  std::vector<HeaderField> fields;
  if (ReadHeaderFields(stored, fields) != 0) return false;
  MessageView view;
  if (BuildMessageView(stored, HeaderMode::kShort, view) != 0) return false;
  std::string parts;
  for (const MessagePart& part : view.attachments) {
    parts += std::to_string(part.number) + "\t" + part.type + "\t" + part.fileName + "\n";
    OutputFile out;
    if (!out.Open(base + ".part" + std::to_string(part.number))) return false;
    if (SavePart(stored, part.number, [&](std::string_view bytes) { return out.Write(bytes); }) != 0) return false;
    if (!out.Close()) return false;
  }
  return Write(base + ".subject", DecodeHeaderValue(FindField(fields, "Subject"))) &&
         Write(base + ".sender", ListSender(FindField(fields, "From"))) &&
         Write(base + ".text", QuotableText(stored)) && Write(base + ".view", view.text) &&
         Write(base + ".parts", parts);
}

}  // namespace
}  // namespace quillo

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mime_probe DIR\n");
    return 2;
  }
  std::vector<quillo::DirEntry> entries;
  if (!quillo::ListDirectory(argv[1], entries)) return 1;
  int failed = 0;
  for (const quillo::DirEntry& entry : entries) {
    if (entry.name.size() > 4 && entry.name.substr(entry.name.size() - 4) == ".eml" &&
        !quillo::Probe(argv[1], entry.name)) {
      std::fprintf(stderr, "mime_probe: %s failed\n", entry.name.c_str());
      ++failed;
    }
  }
  return failed == 0 ? 0 : 1;
}
