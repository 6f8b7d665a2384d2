#include "compose/draft.h"

#include "compose/message_lines.h"
#include "compose/prepare_send.h"
#include "compose/smtp.h"
#include "console/external.h"
#include "console/line_input.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "settings/job_options.h"
#include "settings/settings.h"
#include "store/folders.h"

namespace quillo {

namespace {

constexpr size_t kAnswerLimit = 2;
// Another process may take a number between its choice and the file's
// creation; a few fresh numbers are tried before giving up.
constexpr int kCreateAttempts = 5;

// The first character of an answer to a send or edit question; '\0' for an
// empty answer, and 'a' (abort) for Escape or input that has ended.
char AskLetter(const char* question) {
  WriteOut(question);
  std::string answer;
  if (LineInput(answer, kAnswerLimit) < 0) return 'a';
  return answer.empty() ? '\0' : answer[0];
}

std::string AbsolutePath(const std::string& path) {
  if (path.starts_with("/")) return path;
  return CurrentDirectory() + "/" + path;
}

void WriteTemplate(OutputFile& draft, const std::string& recipient, const std::vector<std::string>& attachFiles) {
  draft.Write(FormatFromLine() + "\n");
  draft.Write(Format("To: %s\n", recipient.c_str()));
  draft.Write("Cc: \n");
  draft.Write("Bcc: \n");
  draft.Write("Subject: \n");
  for (const std::string& file : attachFiles) {
    // A line end in the name would start a header line of its own.
    if (file.find_first_of("\r\n") != std::string::npos) {
      PrintErr("attach file(%s) open error!\a\n", SanitizeForConsole(file).c_str());
      continue;
    }
    draft.Write("Attach: " + AbsolutePath(file) + "\n");
  }
  draft.Write("----------\n\n");
}

}  // namespace

bool CreateDraftFile(OutputFile& draft, std::string& path) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    path = NewMessagePath("outbox", NextMessageNumber("outbox"));
    if (attempt == 0) PrintOut("Create mail file \"%s\"\n", path.c_str());
    if (draft.Open(path, OutputFile::Mode::kCreateExclusive)) return true;
    if (!ExistsIgnoringCase(path)) break;
  }
  PrintErr("TMP file(%s) create error!\a\n", path.c_str());
  return false;
}

void CopyLines(InputFile& source, OutputFile& draft, const std::string& prefix) {
  std::string line;
  while (ReadWholeLine(source, line)) draft.Write(prefix + line);
}

void AppendSignature(OutputFile& draft, const char* openError) {
  const std::string& signature = GetSettings().signature;
  if (signature.empty()) return;
  InputFile in(signature);
  if (!in.IsOpen()) {
    PrintErr(openError, signature.c_str());
    return;
  }
  CopyLines(in, draft);
}

bool FinishDraft(OutputFile& draft, const std::string& path) {
  if (draft.Close()) return true;
  PrintErr("TMP file(%s) write error!\a\n", path.c_str());
  RemoveFile(path);
  return false;
}

int DraftNewMessage(const std::string& recipient, std::string& localHostName, const std::string& insertFile,
                    const std::vector<std::string>& attachFiles) {
  OutputFile draft;
  std::string path;
  if (!CreateDraftFile(draft, path)) return 0;
  WriteTemplate(draft, recipient, attachFiles);
  if (!insertFile.empty()) {
    InputFile in(insertFile);
    if (in.IsOpen()) {
      PrintOut("including \"%s\"\n", insertFile.c_str());
      CopyLines(in, draft);
    } else {
      PrintErr("orginal file(%s) open error!\a\n", insertFile.c_str());
    }
    draft.Write("\n");
  }
  AppendSignature(draft, "Signature file(%s) open error!\a\n");
  if (!FinishDraft(draft, path)) return 0;
  return EditAndSend(path, localHostName);
}

int EditAndSend(const std::string& path, std::string& localHostName) {
  const JobOptions& job = GetJobOptions();
  if (job.skipEditDialog != 0) return 0;
  const char edit = AskLetter("Mail Edit?(y/n):");
  if (edit != 'Y' && edit != 'y') return 0;
  char answer;
  do {
    EditFile(path);
    answer = AskLetter("Mail Send?(send[s]/Abort[a]/Edit[e]):");
  } while (answer == 'E' || answer == 'e');
  if (answer == 'A' || answer == 'a') return 0;
  if (job.networkUnavailable) {
    WriteErr("Network Driver not detect!\r\n");
    WriteErr("cannot sending!\r\n");
    return 0;
  }
  if (HasHeaderSeparator(path) == 0) return 0;
  return DeliverMessage(path, localHostName);
}

int HasHeaderSeparator(const std::string& path) {
  InputFile in(path);
  if (!in.IsOpen()) {
    PrintErr("TMP file(%s) read error!\a\n", path.c_str());
    return 0;
  }
  std::string line;
  while (ReadWholeLine(in, line)) {
    if (IsHeaderEnd(line)) return 1;
  }
  PrintErr("Mailheader separator not found!\a\n");
  return 0;
}

}  // namespace quillo
