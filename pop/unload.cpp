#include "pop/unload.h"

#include "console/line_input.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "pop/conversation.h"
#include "pop/header_list.h"
#include "pop/pop_commands.h"
#include "pop/select.h"
#include "pop/uidl.h"

namespace quillo {

namespace {

constexpr size_t kAnswerMax = 5;

bool InList(int number) { return number >= 1 && static_cast<size_t>(number) <= GetHeaderList().size(); }

void DeleteOne(int number) {
  WriteOut("Unloading mail\n");
  if (ConfirmDelete(number) == 1 && InList(number)) GetHeaderList()[static_cast<size_t>(number - 1)].size = kSizeTaken;
  WriteOut("\n");
}

}  // namespace

int ConfirmDelete(int number) {
  WriteOut(SanitizeForConsole(InList(number) ? ShownLine(GetHeaderList()[static_cast<size_t>(number - 1)]) : std::string()) +
           "\n");
  WriteOut("Realy?(y/[n]):");
  std::string answer;
  LineInput(answer, kAnswerMax, ' ', false);
  if (!EqualsIgnoreCase(answer, "y")) return 0;
  // The id the user saw must still be the message's, or another one goes.
  if (InList(number) && !StillTheListedMessage(number, GetHeaderList()[static_cast<size_t>(number - 1)].uidl)) return 0;
  return PopDelete(number);
}

int UnloadMail(const std::string& password) {
  if (!PopConversationOpened(password, false)) return 0;
  const int count = PopStat();
  if (count == kStatFailed) {
    // Said already: this is no empty maildrop.
  } else if (count == 0) {
    WriteOut("no new mail\n");
  } else if (BuildHeaderList(count) == 0) {
    MarkReceivedBefore();
    // No delete-all: "a" only separates numbers here.
    SelectFromHeaderList(count, "Select Delete mail.\n", "0123456789+-qQ", DeleteOne, AllAction());
  }
  PopQuit();
  return 1;
}

}  // namespace quillo
