// Reading the user's keys one at a time.
//
// On a terminal each key is read in raw mode (no echo, no line editing,
// signals off so Ctrl+C arrives as code 3); the terminal's mode is restored
// after every key, and on the way out if a signal ends the process meanwhile.
// When standard input is not a terminal its bytes are the keys, so scripts can
// pipe answers in.
#pragma once

#include <string>

namespace quillo {

constexpr int kKeyEnter = 13;
constexpr int kKeyBackspace = 8;
constexpr int kKeyEscape = 27;
constexpr int kEndOfInput = -1;
// Results of ReadConsoleChar beyond the byte codes.
constexpr int kKeyText = 0x100;     // a character of several bytes, in Shift_JIS
constexpr int kKeyRefused = 0x101;  // a character Shift_JIS cannot hold

// Returns the next key code (0-255), or kEndOfInput once input has ended (and
// for every call after that). Enter arrives as 13 whether CR or LF was typed;
// a LF right after a CR is swallowed; DEL arrives as Backspace (8). Keys that
// produce no character (cursor and function keys) arrive as 0.
// Anything written to standard output without a line end is flushed first.
// On a UTF-8 console a character typed as several bytes is one key: its
// first Shift_JIS byte, or 0 when Shift_JIS cannot hold it.
int ReadConsoleKey();

// Like ReadConsoleKey, but a character typed as several bytes on a UTF-8
// console arrives whole: kKeyText with its Shift_JIS bytes in `text`, or
// kKeyRefused when it is broken or Shift_JIS has no place for it. `text` is
// empty for every other result.
int ReadConsoleChar(std::string& text);

// True when a key has been typed and not yet read (terminals only: a script's
// piped answers are never "typed ahead").
bool KeyWaiting();

// Writes one character at the cursor (the line editor's echo).
void EchoChar(char c);

bool StdinIsTerminal();

// The height of the terminal standard output shows, when it is one and says
// its size; 0 otherwise.
int TerminalRows();

// True once standard input has ended: every loop that waits for keys then
// ends as if the user had quit.
bool InputEnded();

// Keeps the terminal in raw mode for its lifetime, so keys typed while a
// password is entered are never echoed by the terminal itself.
class RawModeScope {
 public:
  RawModeScope();
  ~RawModeScope();
  RawModeScope(const RawModeScope&) = delete;
  RawModeScope& operator=(const RawModeScope&) = delete;
};

// Forgets that input ended and any key read ahead (for tests that feed
// several inputs to one process).
void ResetConsoleKeys();

}  // namespace quillo
