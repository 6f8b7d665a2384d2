#include "console/paging.h"

#include <algorithm>

namespace quillo {

bool TurnPage(std::string_view answer, long& first, long rows, long count) {
  if (answer == "+") {
    first = std::max(std::min(first + rows, count - 1), 0L);
  } else if (answer == "-") {
    first = std::max(first - rows, 0L);
  } else {
    return false;
  }
  return true;
}

}  // namespace quillo
