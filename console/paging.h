// Paging through a numbered list with "+" and "-": every list the console
// shows a page at a time (the menu, the folder chooser, the address book,
// the server's header list) turns its pages alike.
#pragma once

#include <string_view>

namespace quillo {

// When `answer` is "+" or "-", moves `first` (the list position at the top of
// the page) one page of `rows` forward or back within a list of `count`
// entries, never past the last entry nor before the first, and returns true.
// Returns false (nothing changed) for any other answer.
bool TurnPage(std::string_view answer, long& first, long rows, long count);

}  // namespace quillo
