#include "pop/receive.h"

#include <algorithm>
#include <vector>

#include "console/folder_prompts.h"
#include "console/line_input.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "pop/conversation.h"
#include "pop/header_cache.h"
#include "pop/header_list.h"
#include "pop/pop_commands.h"
#include "pop/received_state.h"
#include "pop/select.h"
#include "pop/uidl.h"
#include "settings/job_options.h"
#include "settings/settings.h"
#include "store/folders.h"
#include "store/summary.h"

namespace quillo {

namespace {

// Picked mail always lands in the inbox.
constexpr const char* kPickFolder = "inbox";

// A message left on the server keeps its place in the server's numbering:
// the cache must not move the later ones up over it.
void MarkTaken(HeaderList& list, int number) {
  if (number < 1 || static_cast<size_t>(number) > list.size()) return;
  HeaderEntry& entry = list[static_cast<size_t>(number - 1)];
  if (GetSettings().serverdel) {
    entry.size = kSizeTaken;
  } else {
    entry.retrieved = true;
  }
}

const HeaderEntry* EntryOf(const HeaderList& list, int number) {
  if (number < 1 || static_cast<size_t>(number) > list.size()) return nullptr;
  return &list[static_cast<size_t>(number - 1)];
}

// The received state, when the server gave ids: loaded, a killed run's
// pending record settled, and the ids the server no longer lists
// forgotten. nullptr when there is none to keep (no ids, or a file that
// cannot be read, which is then never written over).
ReceivedState* OpenReceivedState(ReceivedState& state, const std::vector<std::string>& uidls) {
  if (std::all_of(uidls.begin(), uidls.end(), [](const std::string& u) { return u.empty(); })) return nullptr;
  if (!state.Load()) return nullptr;
  state.ResolvePending(Now().seconds);
  state.Forget(uidls);
  return &state;
}

// A message an earlier run stored goes from the server when serverdel asks
// for it, or once it was received keepdays days ago.
bool DueForDeletion(const ReceivedState& state, const std::string& uidl) {
  const Settings& settings = GetSettings();
  return state.Received(uidl) && (settings.serverdel || state.Expired(uidl, settings.keepdays, Now().seconds));
}

bool DeleteStored(int number, const std::string& uidl) {
  return StillTheListedMessage(number, uidl) && PopDelete(number) == 1;
}

// What the retrievals of one pick share: the list they take messages from,
// the record of stored ids (none: nullptr) and the folders to sync.
struct PickJob {
  HeaderList& list;
  ReceivedState* state;
  FoldersToSync& toSync;
};

int RetrieveNext(PickJob& job, int number) {
  const HeaderEntry* entry = EntryOf(job.list, number);
  // The size LIST gave bounds the download; none without a list.
  const long size = entry ? entry->size : 0;
  const std::string uidl = entry ? entry->uidl : std::string();
  return PopRetrieve(kPickFolder, number, NextMessageNumber(kPickFolder), GetSettings().serverdel, job.toSync, size,
                     uidl, job.state);
}

// Every message in server order that no earlier run stored; the first
// failure ends the loop.
void ReceiveEverything(const std::string& folder, int count, FoldersToSync& toSync) {
  std::vector<std::string> uidls;
  if (PopUidlList(count, uidls) == UidlListing::kBroken) return;
  ReceivedState state(ReceivedStatePath());
  ReceivedState* record = OpenReceivedState(state, uidls);
  PrintReceivedHeading();
  for (int i = 1; i <= count; ++i) {
    const std::string& uidl = uidls[static_cast<size_t>(i - 1)];
    if (record && record->Received(uidl)) {
      if (DueForDeletion(*record, uidl)) DeleteStored(i, uidl);
      continue;
    }
    if (!PopRetrieve(folder, i, NextMessageNumber(folder), GetSettings().serverdel, toSync, 0, uidl, record)) break;
  }
}

void RetrieveOne(PickJob& job, int number) {
  WriteOut("Getting mail\n");
  if (RetrieveNext(job, number)) MarkTaken(job.list, number);
  WriteOut("\n");
}

// Every message not taken yet nor stored before; a failure does not stop
// the others.
void RetrieveAll(PickJob& job, int count) {
  WriteOut("Getting all mail\n");
  for (int i = 1; i <= count; ++i) {
    const HeaderEntry* entry = EntryOf(job.list, i);
    if (entry && (entry->Done() || entry->receivedBefore)) continue;
    if (RetrieveNext(job, i)) MarkTaken(job.list, i);
  }
}

std::vector<std::string> ListedUidls(const HeaderList& list) {
  std::vector<std::string> uidls;
  for (const HeaderEntry& entry : list) uidls.push_back(entry.uidl);
  return uidls;
}

// Marks the entries stored before, and takes those due for deletion off
// the server before the list is shown.
void MarkAndDeleteStored(HeaderList& list, ReceivedState& state) {
  for (size_t i = 0; i < list.size(); ++i) {
    HeaderEntry& entry = list[i];
    entry.receivedBefore = state.Received(entry.uidl);
    if (!DueForDeletion(state, entry.uidl)) continue;
    if (DeleteStored(static_cast<int>(i) + 1, entry.uidl)) entry.size = kSizeTaken;
  }
}

void PickAndReceive(int count, FoldersToSync& toSync) {
  HeaderList list;
  if (BuildHeaderList(list, count) != 0) return;
  ReceivedState state(ReceivedStatePath());
  ReceivedState* record = OpenReceivedState(state, ListedUidls(list));
  if (record) MarkAndDeleteStored(list, *record);
  PickJob job{list, record, toSync};
  SelectFromHeaderList(
      list, count, "Select Recive mail.\n", "0123456789aA+-qQ", [&job](int number) { RetrieveOne(job, number); },
      [&job, count] { RetrieveAll(job, count); });
}

// Where the header list goes: the named file, or the console.
class ListOutput {
 public:
  ListOutput(int toFile, const std::string& fileName) {
    if (toFile) toFile_ = file_.Open(fileName);
  }
  // The file keeps the lines' bytes; the console shows no control byte.
  void Write(std::string_view text) {
    if (toFile_) file_.Write(text);
    else WriteOut(SanitizeForConsole(text));
  }
  void Close() { file_.Close(); }

 private:
  OutputFile file_;
  bool toFile_ = false;
};

void WaitUnlessOneJob() {
  if (!GetJobOptions().jobGiven) WaitAnyKey();
}

}  // namespace

int ReceiveMail(const std::string& password, const std::string& folder) {
  if (!EnsureFolder(folder)) {
    WriteErr("stopped\a\n");
    return 0;
  }
  // Every message taken asks for the next free number of its folder.
  DirectoryNameScope folderNames(FolderPath(folder));
  DirectoryNameScope pickNames(FolderPath(kPickFolder));
  if (!PopConversationOpened(password, true)) return 0;
  const int count = PopStat();
  FoldersToSync toSync;
  if (count == kStatFailed) {
    // Said already: this is no empty maildrop.
  } else if (count == 0) {
    WriteOut("no new mail\n");
  } else if (GetSettings().headlist == 0) {
    ReceiveEverything(folder, count, toSync);
  } else {
    PickAndReceive(count, toSync);
  }
  PopQuit(toSync);
  return 1;
}

int FetchHeaderList(const std::string& password, HeaderList& list, int& count) {
  switch (OpenPopConversation(password, true)) {
    case PopOpening::kOpened:
      break;
    case PopOpening::kCannotConnect:
      ReportCannotConnect();
      return LoadHeaderCache(list, count);
    case PopOpening::kNoGreeting:
      count = 0;
      return 0;
    case PopOpening::kLoginFailed:
      PrintErr("POP server Login error!(%s)\a\n", GetSettings().POPserver.c_str());
      return LoadHeaderCache(list, count);
  }
  const int n = PopStat();
  // A failed STAT must not empty the cache as a maildrop without mail would.
  if (n == kStatFailed || (n >= 1 && BuildHeaderList(list, n) != 0)) {
    PopQuit();
    return 1;
  }
  MarkReceivedBefore(list);
  // With no message this empties the cache, so that a later offline list
  // shows none either.
  SaveHeaderCache(list, n);
  PopQuit();
  count = n;
  return 0;
}

int ShowServerHeaders(const std::string& password, int toFile, const std::string& fileName) {
  int count = 0;
  HeaderList list;
  const int result =
      GetJobOptions().networkUnavailable ? LoadHeaderCache(list, count) : FetchHeaderList(password, list, count);
  if (result != 0) return result;
  WriteOut("\n");
  ListOutput out(toFile, fileName);
  if (count < 1) {
    out.Write("No New mail!\n");
    out.Close();
    WaitUnlessOneJob();
    return 0;
  }
  out.Write(Format("%d's Mails\n", count));
  out.Write(HeaderColumnHeading());
  for (const HeaderEntry& entry : list) out.Write(ShownLine(entry) + "\n");
  out.Close();
  WaitUnlessOneJob();
  return 0;
}

}  // namespace quillo
