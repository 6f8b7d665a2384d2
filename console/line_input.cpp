#include "console/line_input.h"

#include <string_view>

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

namespace {

// Stores a typed character of one or two bytes when all of it fits, echoing
// each stored byte (or '*'); a character that would not fit is dropped
// whole, without a sound.
void Store(std::string& line, std::string_view bytes, size_t max, bool masked) {
  if (line.size() + bytes.size() > max) return;
  for (char c : bytes) {
    EchoChar(masked ? '*' : c);
    line.push_back(c);
  }
}

}  // namespace

int LineInput(std::string& line, size_t max, char eraseChar, bool masked) {
  line.clear();
  // The terminal stays raw for the whole line: keys typed while the previous
  // one is being echoed must not be echoed by the terminal itself (a
  // password least of all) nor edited by its own line editing.
  RawModeScope hold;
  std::string typed;
  for (;;) {
    const int key = ReadConsoleChar(typed);
    if (key == kEndOfInput || key == kKeyEscape) return -1;
    if (key == kKeyRefused) {
      WriteOut("\a");
      continue;
    }
    if (key == kKeyText) {
      Store(line, typed, max, masked);
      continue;
    }
    const char c = static_cast<char>(key & 0xFF);
    if (c == kKeyEnter) {
      WriteOut("\r\n");
      FlushOut();
      return static_cast<int>(line.size());
    }
    if (c == kKeyBackspace) {
      Erase(line, eraseChar);
      continue;
    }
    if (static_cast<unsigned char>(c) < 32) continue;
    Store(line, std::string_view(&c, 1), max, masked);
  }
}

void WaitAnyKey() {
  // Raw from here on, so that keys typed before the prompt can be seen (a
  // cooked terminal holds them back until Enter) and are thrown away.
  RawModeScope hold;
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

