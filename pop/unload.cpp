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

bool InList(const HeaderList& list, int number) {
  return number >= 1 && static_cast<size_t>(number) <= list.size();
}

void DeleteOne(HeaderList& list, int number) {
  WriteOut("Unloading mail\n");
  if (ConfirmDelete(list, number) == 1 && InList(list, number)) list[static_cast<size_t>(number - 1)].size = kSizeTaken;
  WriteOut("\n");
}

}  // namespace

int ConfirmDelete(const HeaderList& list, int number) {
  const HeaderEntry* entry = InList(list, number) ? &list[static_cast<size_t>(number - 1)] : nullptr;
  WriteOut(SanitizeForConsole(entry ? ShownLine(*entry) : std::string()) + "\n");
  WriteOut("Realy?(y/[n]):");
  std::string answer;
  LineInput(answer, kAnswerMax, ' ', false);
  if (!EqualsIgnoreCase(answer, "y")) return 0;
  // The id the user saw must still be the message's, or another one goes.
  if (entry && !StillTheListedMessage(number, entry->uidl)) return 0;
  return PopDelete(number);
}

int UnloadMail(const std::string& password) {
  if (!PopConversationOpened(password, false)) return 0;
  const int count = PopStat();
  if (count == kStatFailed) {
    // Said already: this is no empty maildrop.
  } else if (count == 0) {
    WriteOut("no new mail\n");
  } else if (HeaderList list; BuildHeaderList(list, count) == 0) {
    MarkReceivedBefore(list);
    // No delete-all: "a" only separates numbers here.
    SelectFromHeaderList(list, count, "Select Delete mail.\n", "0123456789+-qQ",
                         [&list](int number) { DeleteOne(list, number); }, AllAction());
  }
  PopQuit();
  return 1;
}

}  // namespace quillo
