// The paged selection over the header list, shared by receiving (pick the
// messages to get) and unloading (pick the messages to delete).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pop/header_list.h"

namespace quillo {

using NumberAction = std::function<void(int number)>;
using AllAction = std::function<void()>;

// The tokens of a typed selection line: the longest runs of characters of
// `keySet`; every other character only separates them.
std::vector<std::string> SelectionTokens(std::string_view line, std::string_view keySet);

// A token's number: an optional sign and the digits at its start (12a is 12,
// +3 is 3, -2 is -2, a is 0).
int TokenNumber(std::string_view token);

// Pages `list` (`lines` - 3 entries a page, taken ones left out) and runs
// `numberAction` for every non-zero number typed, `allAction` (when given)
// for "a". "+" and "-" turn the page, "q" ends at once, a line whose last
// token is "0" ends after acting. The actions change `list` as they take
// messages. The cache is saved and the list emptied when the selection ends.
void SelectFromHeaderList(HeaderList& list, int count, const char* prompt, std::string_view keySet,
                          const NumberAction& numberAction, const AllAction& allAction);

}  // namespace quillo
