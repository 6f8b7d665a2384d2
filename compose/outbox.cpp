#include "compose/outbox.h"

#include <vector>

#include "compose/message_lines.h"
#include "compose/prepare_send.h"
#include "compose/smtp.h"
#include "console/external.h"
#include "console/line_input.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/partial_file.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "store/folders.h"

namespace quillo {

namespace {

constexpr size_t kAnswerLimit = 2;
constexpr size_t kCopyBlock = 65536;

// The editor could not be run at all: no editor set, no shell, or the shell
// did not find the command.
bool EditorFailed(int status) { return status == -1 || status == 127; }

// Copies every byte of `in` to `out`; false on a read error.
bool CopyBytes(InputFile& in, OutputFile& out) {
  std::string block;
  while (in.ReadBlock(block, kCopyBlock)) out.Write(block);
  return !in.HadError();
}

// Where the sent copy goes: the outbox file's own name when it is free in the
// folder, else the folder's next number.
std::string FilingTarget(const std::string& path, const std::string& folder) {
  std::string target = FolderPath(folder) + "/" + BaseName(path);
  if (ExistsIgnoringCase(target)) target = NewMessagePath(folder, NextMessageNumber(folder));
  return target;
}

}  // namespace

int CopyFile(const std::string& source, const std::string& destination) {
  InputFile in(source, false);
  if (!in.IsOpen()) {
    PrintOut("mail move error!(%s)\n", source.c_str());
    return 1;
  }
  // The copy is made beside the destination and renamed over it, so a failed
  // copy never leaves the destination half written.
  PartialFile out;
  bool ok = out.Open(destination, PartialFile::Use::kReplace) && CopyBytes(in, out.Out());
  ok = ok && out.Finish();
  in.Close();
  if (!ok || !out.Replace()) {
    PrintOut("mail move error!(%s)\n", source.c_str());
    return 1;
  }
  return 0;
}

int FileSentMessage(const std::string& path, const std::string& folder, std::string_view filed) {
  const std::string target = FilingTarget(path, folder);
  PrintOut("Send File Moveing %s->%s\n", path.c_str(), target.c_str());
  // The copy is written under a name no listing shows and takes its own
  // only when whole, so a run killed while filing leaves no part of it in
  // the folder. No other running process writes under that name.
  PartialFile out;
  if (!out.Open(target, PartialFile::Use::kNew)) {
    PrintOut("mail move error!(%s)\n", path.c_str());
    PrintErr("the sent mail stays in the outbox(%s)!\a\n", path.c_str());
    return 1;
  }
  bool ok = out.Write(filed) && out.Finish();
  // The name is taken without replacing a file another run put there.
  if (!ok || !out.NameAs(target)) {
    out.Discard();
    PrintOut("mail move error!(%s)\n", path.c_str());
    PrintErr("the sent mail stays in the outbox(%s)!\a\n", path.c_str());
    return 1;
  }
  if (!RemoveFile(path)) {
    PrintErr("sent mail filed, but not removed from the outbox(%s)!\a\n", path.c_str());
    return 1;
  }
  return 0;
}

int OfferAndSend(const std::string& name, std::string& localHostName) {
  const std::string path = FolderPath("outbox") + "/" + name;
  PrintOut("Sending %s\n", path.c_str());
  RecipientList shown;
  if (PrepareSendFile(path, SendFilePath(), shown) <= 0) return 0;
  for (;;) {
    WriteOut("Mail Send?(send[s]/Abort[a]/Edit[e]):");
    std::string answer;
    // Escape, or input that has ended, is no consent to send.
    if (LineInput(answer, kAnswerLimit) < 0) return 0;
    const char c = answer.empty() ? '\0' : answer[0];
    if (c == 'E' || c == 'e') {
      if (EditorFailed(EditFile(path))) {
        PrintErr("no execute Editor!(%s)\a\n", EditorCommandLine(path).c_str());
        return 0;
      }
      continue;
    }
    if (c == 'A' || c == 'a') return 1;
    return DeliverMessage(path, localHostName);
  }
}

int SendOutbox(std::string& localHostName) {
  if (CountMessages("outbox") == 0) {
    WriteOut("no send mails\n");
    return 0;
  }
  std::vector<DirEntry> entries;
  ListDirectory(FolderPath("outbox"), entries);
  // Each sent message is filed under a free name of the inbox.
  DirectoryNameScope inboxNames(FolderPath("inbox"));
  for (const DirEntry& entry : entries) {
    if (entry.kind != PathKind::kFile || !IsMessageName(entry.name)) continue;
    if (OfferAndSend(entry.name, localHostName) == 0) return 0;
  }
  return 1;
}

}  // namespace quillo
