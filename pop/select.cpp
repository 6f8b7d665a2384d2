#include "pop/select.h"

#include <climits>

#include "console/line_input.h"
#include "console/paging.h"
#include "platform/keys.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "pop/header_cache.h"
#include "pop/header_list.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr size_t kSelectionInputMax = 40;

enum class LineOutcome { kShowAgain, kEnd };

struct Page {
  long first = 0;
  long height = 0;
  long count = 0;
};

// Writes the heading and the page's entries that are not taken; their number.
int ShowPage(const HeaderList& list, const Page& page) {
  WriteOut(HeaderColumnHeading());
  int shown = 0;
  for (long i = page.first; i < page.first + page.height && i < page.count; ++i) {
    if (static_cast<size_t>(i) >= list.size()) break;
    const HeaderEntry& entry = list[static_cast<size_t>(i)];
    if (entry.Done()) continue;
    // The line quotes the message's header, or a cache file's text.
    WriteOut(SanitizeForConsole(ShownLine(entry)) + "\n");
    ++shown;
  }
  return shown;
}

LineOutcome RunTokens(const std::vector<std::string>& tokens, Page& page, const NumberAction& numberAction,
                      const AllAction& allAction) {
  std::string_view last;
  for (const std::string& token : tokens) {
    last = token;
    if (int number = TokenNumber(token); number != 0) {
      numberAction(number);
      continue;
    }
    if (TurnPage(token, page.first, page.height, page.count)) continue;
    if (EqualsIgnoreCase(token, "q")) return LineOutcome::kEnd;
    if (EqualsIgnoreCase(token, "a") && allAction) {
      allAction();
      return LineOutcome::kShowAgain;
    }
  }
  return last == "0" ? LineOutcome::kEnd : LineOutcome::kShowAgain;
}

}  // namespace

std::vector<std::string> SelectionTokens(std::string_view line, std::string_view keySet) {
  std::vector<std::string> tokens;
  std::string current;
  for (char c : line) {
    if (keySet.find(c) != std::string_view::npos) {
      current += c;
    } else if (!current.empty()) {
      tokens.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) tokens.push_back(std::move(current));
  return tokens;
}

int TokenNumber(std::string_view token) {
  // Only the token's own start counts: no blanks are skipped.
  if (token.empty() || token[0] == ' ') return 0;
  long value = DecimalValue(token);
  if (value > INT_MAX) return INT_MAX;
  if (value < -INT_MAX) return -INT_MAX;
  return static_cast<int>(value);
}

void SelectFromHeaderList(HeaderList& list, int count, const char* prompt, std::string_view keySet,
                          const NumberAction& numberAction, const AllAction& allAction) {
  Page page{0, static_cast<long>(GetSettings().lines) - 3, count};
  while (ShowPage(list, page) > 0) {
    WriteOut(prompt);
    WriteOut("Select:");
    std::string input;
    if (LineInput(input, kSelectionInputMax, ' ', false) < 0 && InputEnded()) break;
    if (RunTokens(SelectionTokens(input, keySet), page, numberAction, allAction) == LineOutcome::kEnd) break;
  }
  SaveHeaderCache(list, count);
  HeaderList().swap(list);
}

}  // namespace quillo
