// Text sent as "format=flowed" (RFC 3676): the sender broke its paragraphs
// into short lines that a reader joins again.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// `text` (lines ending in "\n") with its flowed lines joined: a line that
// ends in a space continues on the next line of the same quote depth; with
// `delSp` that space was added by the sender and is dropped (how text
// without spaces, such as Japanese, is flowed). A leading stuffed space is
// removed, quoted lines are written back as ">" marks, one space and their
// text, and the signature line "-- " never flows. The work and the result
// are linear in `text`.
std::string UnflowText(std::string_view text, bool delSp);

}  // namespace quillo
