#include "mime/flowed.h"

namespace quillo {

namespace {

struct FlowedLine {
  size_t depth = 0;       // the '>' marks before the text
  std::string_view text;  // without the marks, the stuffed space or the line end
  bool flows = false;     // continued on the next line
};

FlowedLine ParseLine(std::string_view line, bool delSp) {
  FlowedLine parsed;
  while (parsed.depth < line.size() && line[parsed.depth] == '>') ++parsed.depth;
  line.remove_prefix(parsed.depth);
  if (line.starts_with(' ')) line.remove_prefix(1);
  // The signature separator ends in a space but is a line of its own.
  parsed.flows = line.ends_with(' ') && line != "-- ";
  if (parsed.flows && delSp) line.remove_suffix(1);
  parsed.text = line;
  return parsed;
}

void StartLine(size_t depth, std::string& out) {
  if (depth == 0) return;
  out.append(depth, '>');
  out += ' ';
}

}  // namespace

std::string UnflowText(std::string_view text, bool delSp) {
  std::string out;
  out.reserve(text.size() + 1);
  bool open = false;  // the last line written flowed and awaits its continuation
  size_t openDepth = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const FlowedLine line = ParseLine(text.substr(pos, end - pos), delSp);
    pos = end + 1;
    // A flowed line followed by one of another depth ends its paragraph there.
    if (open && line.depth != openDepth) out += '\n';
    if (!open || line.depth != openDepth) StartLine(line.depth, out);
    out.append(line.text);
    open = line.flows;
    openDepth = line.depth;
    if (!open) out += '\n';
  }
  if (open) out += '\n';
  return out;
}

}  // namespace quillo
