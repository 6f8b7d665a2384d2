// The key reading that is the same on every system, above ReadConsoleChar.
#include <string>
#include <string_view>

#include "platform/keys.h"
#include "platform/output.h"

namespace quillo {

int ReadConsoleKey() {
  std::string text;
  const int key = ReadConsoleChar(text);
  if (key == kKeyText) return static_cast<unsigned char>(text[0]);
  if (key == kKeyRefused) return 0;
  return key;
}

void EchoChar(char c) { WriteOut(std::string_view(&c, 1)); }

}  // namespace quillo
