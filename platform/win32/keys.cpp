#include "platform/keys.h"

#include <windows.h>

#include <deque>
#include <string>

#include "platform/console_charset.h"
#include "platform/output.h"
#include "platform/win32/wide.h"

namespace quillo {
namespace {

struct KeyState {
  bool ended = false;
  bool lastWasCr = false;
  std::deque<int> pending;  // bytes of a character read ahead
};

KeyState& State() {
  static KeyState state;
  return state;
}

HANDLE Input() { return ::GetStdHandle(STD_INPUT_HANDLE); }

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

int g_rawDepth = 0;
DWORD g_savedMode = 0;
bool g_rawActive = false;

// Raw: no line editing, no echo, and Ctrl+C arrives as a key (code 3)
// instead of ending the program.
void EnterRaw() {
  if (g_rawDepth++ > 0) return;
  const HANDLE in = Input();
  if (!IsConsole(in) || !::GetConsoleMode(in, &g_savedMode)) return;
  const DWORD raw = g_savedMode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
  g_rawActive = ::SetConsoleMode(in, raw) != 0;
}

void LeaveRaw() {
  if (--g_rawDepth > 0) return;
  if (g_rawActive) ::SetConsoleMode(Input(), g_savedMode);
  g_rawActive = false;
}

class RawMode {
 public:
  RawMode() { EnterRaw(); }
  ~RawMode() { LeaveRaw(); }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
};

bool IsModifierOnly(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
    case VK_KANA:
    case VK_KANJI:
    case VK_CONVERT:
    case VK_NONCONVERT:
      return true;
    default:
      return false;
  }
}

// One key from the console: a character as its Shift_JIS bytes in `text`
// (empty for a key without a character), or false when input ended.
bool ReadConsoleKeyEvent(std::wstring& text) {
  const HANDLE in = Input();
  text.clear();
  for (;;) {
    INPUT_RECORD record{};
    DWORD got = 0;
    if (!::ReadConsoleInputW(in, &record, 1, &got)) return false;
    if (got == 0 || record.EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (!key.bKeyDown || IsModifierOnly(key.wVirtualKeyCode)) continue;
    const wchar_t c = key.uChar.UnicodeChar;
    if (c >= 0xD800 && c <= 0xDBFF) {
      // The other half of the pair follows in the next event.
      text.push_back(c);
      continue;
    }
    if (c != 0) text.push_back(c);
    return true;
  }
}

// One byte of piped input, or -1 at its end.
int ReadPipedByte() {
  unsigned char b = 0;
  DWORD got = 0;
  if (!::ReadFile(Input(), &b, 1, &got, nullptr) || got == 0) return -1;
  return b;
}

int TranslateByte(int b) {
  KeyState& st = State();
  if (b == '\n' && st.lastWasCr) {
    st.lastWasCr = false;
    return -2;
  }
  st.lastWasCr = (b == '\r');
  if (b == '\r' || b == '\n') return kKeyEnter;
  if (b == 0x7F) return kKeyBackspace;
  return b;
}

// The rest of a UTF-8 character in piped input, made Shift_JIS.
int GatherUtf8(int first, std::string& text) {
  const size_t length = Utf8SequenceLength(static_cast<unsigned char>(first));
  if (length == 0) return kKeyRefused;
  std::string utf8(1, static_cast<char>(first));
  while (utf8.size() < length) {
    const int b = ReadPipedByte();
    if (b < 0) return kKeyRefused;
    if ((b & 0xC0) != 0x80) {
      State().pending.push_back(b);
      return kKeyRefused;
    }
    utf8 += static_cast<char>(b);
  }
  return Utf8CharToSjis(utf8, text) ? kKeyText : kKeyRefused;
}

int ReadPiped(std::string& text) {
  KeyState& st = State();
  for (;;) {
    int b;
    if (!st.pending.empty()) {
      b = st.pending.front();
      st.pending.pop_front();
    } else {
      b = ReadPipedByte();
    }
    if (b >= 0) b = TranslateByte(b);
    if (b == -2) continue;
    if (b < 0) {
      st.ended = true;
      return kEndOfInput;
    }
    if (b >= 0x80 && GetConsoleCharset() == ConsoleCharset::kUtf8) return GatherUtf8(b, text);
    return b;
  }
}

int ReadFromConsole(std::string& text) {
  KeyState& st = State();
  if (!st.pending.empty()) {
    const int b = st.pending.front();
    st.pending.pop_front();
    return b;
  }
  std::wstring wide;
  if (!ReadConsoleKeyEvent(wide)) {
    st.ended = true;
    return kEndOfInput;
  }
  if (wide.empty()) return 0;  // a cursor or function key
  if (wide.size() == 1 && wide[0] < 0x80) {
    const int c = wide[0];
    if (c == '\r' || c == '\n') return kKeyEnter;
    if (c == 0x7F) return kKeyBackspace;
    return c;
  }
  // The console gives UTF-16 whatever its code page; the program reads Shift_JIS.
  std::string sjis;
  if (!Utf8CharToSjis(win32::Narrow(wide, CP_UTF8), sjis)) return kKeyRefused;
  if (GetConsoleCharset() == ConsoleCharset::kUtf8 && sjis.size() > 1) {
    text = sjis;
    return kKeyText;
  }
  for (size_t i = 1; i < sjis.size(); ++i) st.pending.push_back(static_cast<unsigned char>(sjis[i]));
  return static_cast<unsigned char>(sjis[0]);
}

}  // namespace

bool StdinIsTerminal() { return IsConsole(Input()); }

int TerminalRows() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Bottom - info.srWindow.Top + 1;
}

int ReadConsoleChar(std::string& text) {
  text.clear();
  KeyState& st = State();
  if (st.ended) {
    FlushOut();
    return kEndOfInput;
  }
  RawMode raw;
  FlushOut();
  return StdinIsTerminal() ? ReadFromConsole(text) : ReadPiped(text);
}

bool KeyWaiting() {
  KeyState& st = State();
  if (st.ended || !StdinIsTerminal()) return false;
  if (!st.pending.empty()) return true;
  // Events that are no key press (focus, mouse, key releases) are dropped.
  for (;;) {
    INPUT_RECORD record{};
    DWORD got = 0;
    if (!::PeekConsoleInputW(Input(), &record, 1, &got) || got == 0) return false;
    const bool press = record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
                       !IsModifierOnly(record.Event.KeyEvent.wVirtualKeyCode);
    if (press) return true;
    ::ReadConsoleInputW(Input(), &record, 1, &got);
  }
}

bool InputEnded() { return State().ended; }

RawModeScope::RawModeScope() { EnterRaw(); }
RawModeScope::~RawModeScope() { LeaveRaw(); }

void ResetConsoleKeys() { State() = KeyState{}; }

}  // namespace quillo
