#include "app/dispatch.h"

#include <cstdlib>
#include <optional>
#include <string_view>

#include "app/attachments.h"
#include "app/options.h"
#include "compose/draft.h"
#include "compose/follow_up.h"
#include "compose/outbox.h"
#include "console/address_book.h"
#include "console/credentials.h"
#include "console/folder_prompts.h"
#include "console/line_input.h"
#include "console/message_view.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "pop/receive.h"
#include "pop/unload.h"
#include "settings/job_options.h"
#include "settings/settings.h"
#include "store/listing.h"
#include "store/move.h"

namespace quillo {

namespace {

constexpr size_t kSendToAnswer = 60;
constexpr size_t kInsertFileAnswer = 78;
constexpr size_t kSaveDirectoryAnswer = 78;

bool Is(const std::string& word, std::string_view code) { return EqualsIgnoreCase(word, code); }

// Network jobs are refused when the probe failed at start-up.
bool RefusedWithoutNetwork(const char* cannot) {
  if (!GetJobOptions().networkUnavailable) return false;
  WriteErr("Network Driver not detect!\r\n");
  WriteErr(cannot);
  return true;
}

void SendJob() {
  WriteOut("Send mail\n");
  SendOutbox(LocalHostName());
}

void ReceiveJob() {
  WriteOut("Get mail\n");
  if (const std::optional<std::string> secret = ObtainSecret(Account::kPop)) ReceiveMail(*secret, "inbox");
}

void AskSendTo(JobOptions& job) {
  if (!job.sendTo.empty()) {
    PrintOut("Send to:%s\n", job.sendTo.c_str());
    return;
  }
  WriteOut("Send to:");
  LineInput(job.sendTo, kSendToAnswer);
  if (job.sendTo.empty()) SelectAddress(job.sendTo);
}

void DraftJob(bool withInsert) {
  JobOptions& job = GetJobOptions();
  WriteOut("Create send mail\n");
  AskSendTo(job);
  if (withInsert && job.insertFile.empty()) {
    WriteOut("Insert File:");
    LineInput(job.insertFile, kInsertFileAnswer);
  }
  DraftNewMessage(job.sendTo, LocalHostName(), job.insertFile, job.attachFiles);
  job.insertFile.clear();
  job.attachFiles.clear();
  job.sendTo.clear();
}

void ListJob() {
  JobOptions& job = GetJobOptions();
  if (job.targetFolder.empty()) {
    // Without a folder the current directory is the listing, for the rest of the run.
    // (Strings built apart: g++ 12 at -O3 warns falsely on a literal assigned.)
    GetSettings().mailbox = std::string(".");
    job.targetFolder = std::string(".");
  }
  ListFolder(job.targetFolder, job.sortByDate);
}

void MoveJob() {
  JobOptions& job = GetJobOptions();
  WriteOut("Move mail\n");
  if (job.targetFolder.empty()) {
    WriteOut("Select Target!\n");
    if (ChooseFolder(job.targetFolder) <= 0) {
      FlushOut();
      std::exit(1);
    }
  }
  MoveMatching(job.targetFile, job.targetFolder);
}

void FollowUpJob() {
  WriteOut("Follow mail\n");
  DraftFollowUp(GetJobOptions().targetFile, LocalHostName());
}

void HeaderListJob() {
  // Without a network the cached list is shown, and no password is needed.
  std::optional<std::string> secret = std::string();
  if (!GetJobOptions().networkUnavailable) secret = ObtainSecret(Account::kPop);
  if (!secret) return;
  const JobOptions& job = GetJobOptions();
  ShowServerHeaders(*secret, job.headerFileGiven, job.targetFile);
}

// The menu asks where to save; -x gave the directory.
int SaveAttachmentsJob() {
  JobOptions& job = GetJobOptions();
  std::string directory = job.saveDirectory;
  if (!job.saveDirectoryGiven) {
    WriteOut("Save to:");
    LineInput(directory, kSaveDirectoryAnswer);
  }
  return SaveAttachments(job.targetFile, directory);
}

void UnloadJob() {
  WriteOut("Unload mail\n");
  if (const std::optional<std::string> secret = ObtainSecret(Account::kPop)) UnloadMail(*secret);
}

}  // namespace

std::string& LocalHostName() {
  static std::string name;
  return name;
}

// The blocks are not exclusive: "b" runs the send block and then the receive block.
int Dispatch(const std::string& word) {
  int result = 0;
  if (Is(word, "s") || Is(word, "b")) {
    if (RefusedWithoutNetwork("cannot sending!\r\n")) return 1;
    SendJob();
    result = 1;
  }
  if (Is(word, "g") || Is(word, "b")) {
    if (RefusedWithoutNetwork("cannot getting!\r\n")) return 1;
    ReceiveJob();
    result = 1;
  }
  if (Is(word, "w") || Is(word, "i")) {
    DraftJob(Is(word, "i"));
    result = 1;
  }
  if (Is(word, "l")) {
    ListJob();
    result = 1;
  }
  if (Is(word, "m")) {
    MoveJob();
    result = 1;
  }
  if (Is(word, "f")) {
    FollowUpJob();
    result = 1;
  }
  if (Is(word, "h")) {
    HeaderListJob();
    result = 1;
  }
  if (Is(word, "v")) return PrintMessage(GetJobOptions().targetFile) == 0 ? 1 : kDispatchFailed;
  if (Is(word, "x")) return SaveAttachmentsJob() == 0 ? 1 : kDispatchFailed;
  if (Is(word, "u")) {
    if (RefusedWithoutNetwork("cannot getting!\r\n")) return 1;
    UnloadJob();
    return 1;
  }
  return result;
}

}  // namespace quillo
