#include "pop/receive.h"

#include "console/folder_prompts.h"
#include "console/line_input.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "pop/conversation.h"
#include "pop/header_cache.h"
#include "pop/header_list.h"
#include "pop/pop_commands.h"
#include "pop/select.h"
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
void MarkTaken(int number) {
  HeaderList& list = GetHeaderList();
  if (number < 1 || static_cast<size_t>(number) > list.size()) return;
  HeaderEntry& entry = list[static_cast<size_t>(number - 1)];
  if (GetSettings().serverdel) {
    entry.size = kSizeTaken;
  } else {
    entry.retrieved = true;
  }
}

bool IsTaken(int number) {
  const HeaderList& list = GetHeaderList();
  return number >= 1 && static_cast<size_t>(number) <= list.size() && list[static_cast<size_t>(number - 1)].Done();
}

// The size LIST gave for `number`, which bounds its download; 0 when there
// is no list or it gave none.
long ListedSize(int number) {
  const HeaderList& list = GetHeaderList();
  if (number < 1 || static_cast<size_t>(number) > list.size()) return 0;
  return list[static_cast<size_t>(number - 1)].size;
}

int RetrieveNext(const std::string& folder, int number) {
  return PopRetrieve(folder, number, NextMessageNumber(folder), GetSettings().serverdel, ListedSize(number));
}

// Every message in server order; the first failure ends the loop.
void ReceiveEverything(const std::string& folder, int count) {
  PrintReceivedHeading();
  for (int i = 1; i <= count; ++i) {
    if (!RetrieveNext(folder, i)) break;
  }
}

void RetrieveOne(int number) {
  WriteOut("Getting mail\n");
  if (RetrieveNext(kPickFolder, number)) MarkTaken(number);
  WriteOut("\n");
}

// Every message not taken yet; a failure does not stop the others.
void RetrieveAll(int count) {
  WriteOut("Getting all mail\n");
  for (int i = 1; i <= count; ++i) {
    if (IsTaken(i)) continue;
    if (RetrieveNext(kPickFolder, i)) MarkTaken(i);
  }
}

void PickAndReceive(int count) {
  if (BuildHeaderList(count) != 0) return;
  SelectFromHeaderList(count, "Select Recive mail.\n", "0123456789aA+-qQ", RetrieveOne,
                       [count] { RetrieveAll(count); });
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
  if (count == kStatFailed) {
    // Said already: this is no empty maildrop.
  } else if (count == 0) {
    WriteOut("no new mail\n");
  } else if (GetSettings().headlist == 0) {
    ReceiveEverything(folder, count);
  } else {
    PickAndReceive(count);
  }
  PopQuit();
  return 1;
}

int FetchHeaderList(const std::string& password, int& count) {
  switch (OpenPopConversation(password, true)) {
    case PopOpening::kOpened:
      break;
    case PopOpening::kCannotConnect:
      ReportCannotConnect();
      return LoadHeaderCache(count);
    case PopOpening::kNoGreeting:
      count = 0;
      return 0;
    case PopOpening::kLoginFailed:
      PrintErr("POP server Login error!(%s)\a\n", GetSettings().POPserver.c_str());
      return LoadHeaderCache(count);
  }
  const int n = PopStat();
  // A failed STAT must not empty the cache as a maildrop without mail would.
  if (n == kStatFailed || (n >= 1 && BuildHeaderList(n) != 0)) {
    PopQuit();
    return 1;
  }
  // With no message this empties the cache, so that a later offline list
  // shows none either.
  SaveHeaderCache(n);
  PopQuit();
  count = n;
  return 0;
}

int ShowServerHeaders(const std::string& password, int toFile, const std::string& fileName) {
  int count = 0;
  const int result =
      GetJobOptions().networkUnavailable ? LoadHeaderCache(count) : FetchHeaderList(password, count);
  if (result != 0) return result;
  WriteOut("\n");
  ListOutput out(toFile, fileName);
  if (count < 1) {
    out.Write("No New mail!\n");
    out.Close();
    ReleaseHeaderList();
    WaitUnlessOneJob();
    return 0;
  }
  out.Write(Format("%d's Mails\n", count));
  out.Write(HeaderColumnHeading());
  for (const HeaderEntry& entry : GetHeaderList()) out.Write(entry.line + "\n");
  out.Close();
  ReleaseHeaderList();
  WaitUnlessOneJob();
  return 0;
}

}  // namespace quillo
