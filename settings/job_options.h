// The job to run and its arguments: one record for the whole run, filled by
// the command line and, for each command, by the folder menu.
#pragma once

#include <string>
#include <vector>

namespace quillo {

namespace cap {
constexpr size_t kCommandCode = 81, kSendTo = 128, kInsertFile = 128, kTargetFile = 131;
// Wide enough for the folder chooser's 19-character names.
constexpr size_t kTargetFolder = 20;
}  // namespace cap

struct JobOptions {
  std::string commandCode;
  int jobGiven = 0;
  int skipEditDialog = 0;
  std::string sendTo;
  std::string insertFile;
  std::vector<std::string> attachFiles;  // -attach, each written into the new draft
  std::string targetFolder;
  std::string targetFile;
  int headerFileGiven = 0;
  // Where -x saves attachments; the menu asks when none was given.
  std::string saveDirectory;
  int saveDirectoryGiven = 0;
  int sortByDate = 0;
  int descending = 0;
  int networkUnavailable = 0;
};

// The one JobOptions record of the process.
JobOptions& GetJobOptions();

}  // namespace quillo
