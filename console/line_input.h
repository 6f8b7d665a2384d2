// The one line editor behind every question the program asks.
#pragma once

#include <string>

namespace quillo {

// Reads a line of at most `max` bytes into `line`, echoing each stored byte
// (or '*' when `masked`). Backspace removes a whole double-byte character.
// On a UTF-8 console a typed character is stored in Shift_JIS (whole, when
// it fits), and one Shift_JIS cannot hold is refused with a bell.
// Returns the length on Enter, or -1 on Escape and at the end of input (the
// bytes typed so far stay in `line`).
int LineInput(std::string& line, size_t max, char eraseChar = ' ', bool masked = false);

// Discards keys typed ahead, shows "-Hit Any Key-" and waits for one key.
void WaitAnyKey();

// Writes `prompt`, reads a one-character answer and tells whether it was Y or y.
bool AskYes(const std::string& prompt, size_t max = 1);

}  // namespace quillo
