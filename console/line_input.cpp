#include "console/line_input.h"

#include <optional>

#include "encoding/byte_classes.h"
#include "platform/keys.h"
#include "platform/output.h"

namespace quillo {

namespace {

// True when the last byte of `line` is the second half of a double-byte
// character; only a walk from the start can tell.
bool EndsWithDoubleByte(const std::string& line) {
  size_t i = 0;
  bool lastWasPair = false;
  while (i < line.size()) {
    if (IsSjisLeadByte(line[i]) && i + 1 < line.size()) {
      lastWasPair = true;
      i += 2;
    } else {
      lastWasPair = false;
      i += 1;
    }
  }
  return lastWasPair;
}

void Erase(std::string& line, char eraseChar) {
  if (line.empty()) return;
  if (EndsWithDoubleByte(line)) {
    WriteOut(std::string{'\b', '\b', eraseChar, eraseChar, '\b', '\b'});
    line.resize(line.size() - 2);
  } else {
    WriteOut(std::string{'\b', eraseChar, '\b'});
    line.pop_back();
  }
}

}  // namespace

int LineInput(std::string& line, size_t max, char eraseChar, bool masked) {
  line.clear();
  // A password typed faster than it is read must not be echoed by the terminal.
  std::optional<RawModeScope> hold;
  if (masked) hold.emplace();
  for (;;) {
    int key = ReadConsoleKey();
    if (key == kEndOfInput || key == kKeyEscape) return -1;
    int c = key & 0xFF;
    if (c == kKeyEnter) {
      WriteOut("\r\n");
      FlushOut();
      return static_cast<int>(line.size());
    }
    if (c == kKeyBackspace) {
      Erase(line, eraseChar);
      continue;
    }
    if (c < 32) continue;
    if (line.size() < max) {
      EchoChar(masked ? '*' : static_cast<char>(c));
      line.push_back(static_cast<char>(c));
    }
  }
}

void WaitAnyKey() {
  while (KeyWaiting()) ReadConsoleKey();
  WriteOut("-Hit Any Key-");
  ReadConsoleKey();
  WriteOut("\r\n");
}

bool AskYes(const std::string& prompt, size_t max) {
  WriteOut(prompt);
  std::string answer;
  LineInput(answer, max);
  return !answer.empty() && (answer[0] == 'Y' || answer[0] == 'y');
}

}  // namespace quillo

