#include "pop/pop_commands.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>

#include "encoding/jis.h"
#include "net/transport.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/partial_file.h"
#include "platform/run_directory.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "pop/received_state.h"
#include "pop/uidl.h"
#include "settings/settings.h"
#include "store/folders.h"
#include "store/header_file.h"
#include "store/summary.h"

namespace quillo {

namespace {

// How many numbers a retrieval tries past the one it was given when other
// runs keep taking them.
constexpr int kClaimTries = 1000;

// The bytes of a piece that NetRecvPiece read into `buffer`: the NUL byte
// that ended one is among them.
std::string_view PieceBytes(const char* buffer, int n, PieceEnd end) {
  if (end == PieceEnd::kLineEnd || end == PieceEnd::kNul) return {buffer, static_cast<size_t>(n) + 1};
  return {buffer, std::strlen(buffer)};
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

enum class Response { kComplete, kBroken, kTooLong };

// A stored message up to this size is also kept in memory, so that it is
// decoded and summarised without reading its files back.
constexpr size_t kMostKeptBytes = size_t{1} << 20;

// Where a response goes: its file, and a copy in memory while it is small
// enough (none once it is not).
struct ResponseSink {
  OutputFile& file;
  std::optional<std::string>& copy;

  void Write(std::string_view text) {
    file.Write(text);
    if (!copy) return;
    if (copy->size() + text.size() > kMostKeptBytes) {
      copy.reset();
    } else {
      copy->append(text);
    }
  }
};

// Copies one multi-line response into `out`, until its end line, the end of
// the connection, or more than `mostBytes` received. Write failures show in
// the sink's file.
Response CopyResponse(ResponseSink out, size_t mostBytes) {
  char buffer[kRecvBufSize];
  std::string sjis;
  // One message is one text for the JIS modes, but its header and its body
  // each start in ASCII.
  JisStreamToSjis jis;
  bool inHeader = true;
  bool atLineStart = true;
  bool endedWithCr = false;  // the last piece was cut right after a CR
  size_t received = 0;
  const auto broken = [&] {
    jis.Finish(sjis);
    out.Write(sjis);
    return Response::kBroken;
  };
  for (;;) {
    WriteOut(".");
    PieceEnd end;
    int n = NetRecvPiece(buffer, kRecvBufSize, end);
    if (end == PieceEnd::kFailed || n < 0 || (end == PieceEnd::kClosed && n == 0)) return broken();
    std::string_view piece = PieceBytes(buffer, n, end);
    received += piece.size();
    if (received > mostBytes) return Response::kTooLong;
    // A line cut between its CR and LF: the LF finishes that line, and the
    // next line begins right after it, inside this piece.
    if (endedWithCr && !piece.empty() && piece.front() == '\n') {
      out.Write("\n");
      piece.remove_prefix(1);
      atLineStart = true;
    }
    if (atLineStart) {
      if (piece == ".\r\n") return Response::kComplete;
      // Byte-stuffing: the server doubled a leading dot.
      if (piece.size() >= 2 && piece[0] == '.' && piece[1] == '.') piece.remove_prefix(1);
    }
    const bool headerEnds = inHeader && atLineStart && piece == "\r\n";
    jis.Convert(piece, sjis);
    out.Write(sjis);
    if (headerEnds) {
      inHeader = false;
      jis = JisStreamToSjis();
    }
    // Only a CR LF that the reader ended the piece with ends a line; a cut
    // piece, or one ended by a NUL byte, continues the same line.
    atLineStart = EndsWith(piece, "\r\n");
    endedWithCr = !atLineStart && EndsWith(piece, "\r");
  }
}

// Gives the decoded message at `partial` its number: the first free one
// from `fileNumber` on. The rename never replaces a file, so two runs can
// never take one number; a number taken meanwhile moves on to the next. The
// path, or "" on failure.
std::string ClaimMessageFile(const std::string& folder, int fileNumber, PartialFile& partial) {
  for (int n = fileNumber, tries = 0; tries < kClaimTries && n >= 0 && n < INT_MAX; ++n, ++tries) {
    const std::string path = NewMessagePath(folder, n);
    if (ExistsIgnoringCase(path)) continue;
    if (partial.NameAs(path)) return path;
    // Not a clash with another run: the folder takes no new files.
    if (StatPath(path) == PathKind::kNone) return "";
  }
  return "";
}

// False (after saying so) when a folder's files could not be made safe.
bool SyncReceivedMail(const FoldersToSync& toSync) {
  bool synced = true;
  for (const std::string& folder : toSync) {
    if (SyncToDisk(folder)) continue;
    PrintErr("disk write error!(%s) mail is kept on the server\a\n", folder.c_str());
    synced = false;
  }
  return synced;
}

}  // namespace

bool PopReadReply(std::string& reply) { return NetRecvWholeLine(reply) > 0 && reply[0] == '+'; }

std::string ShownReply(const std::string& reply) {
  return SanitizeForConsole(std::string_view(reply).substr(0, kRecvBufSize - 1));
}

size_t ResponseLimit(long listedSize, size_t unknownSize) {
  if (listedSize <= 0) return unknownSize;
  return 2 * static_cast<size_t>(listedSize) + (size_t{1} << 20);
}

int PopLogin(const std::string& user, const std::string& password) {
  std::string reply;
  NetSendLine("USER %s\r\n", user.c_str());
  if (!PopReadReply(reply)) {
    PrintErr("Login error!(%s)\a\n", user.c_str());
    return 0;
  }
  LogLine("S:PASS " + std::string(password.size(), '*'));
  LogSwitch(false);
  NetSendLine("PASS %s\r\n", password.c_str());
  LogSwitch(true);
  if (!PopReadReply(reply)) {
    WriteErr("password error!\a\n");
    return 0;
  }
  return 1;
}

int PopStat() {
  std::string reply;
  NetSendLine("STAT\r\n");
  if (!PopReadReply(reply)) {
    PrintErr("POP Protcol error!(STAT)[%s]\a\n", ShownReply(reply).c_str());
    return kStatFailed;
  }
  // "+OK count size": the count follows the status word.
  size_t end = reply.find_first_of(" \t\r\n");
  if (end == std::string::npos) return 0;
  const std::string_view rest = std::string_view(reply).substr(end);
  const std::optional<long> count = FittingDecimalValue(rest);
  if (!count) {
    // No count at all reads as an empty maildrop; one too large to hold is
    // no count the list could be built from.
    if (DecimalValue(rest) == 0) return 0;
    PrintErr("POP Protcol error!(STAT)[%s]\a\n", ShownReply(reply).c_str());
    return kStatFailed;
  }
  if (*count < 0) {
    PrintErr("POP Protcol error!(STAT)[%s]\a\n", ShownReply(reply).c_str());
    return kStatFailed;
  }
  return static_cast<int>(*count);
}

namespace {

// PopSaveBody, also leaving in `kept` what was stored when it is small
// enough (nothing otherwise).
int SaveBody(const std::string& path, size_t mostBytes, std::optional<std::string>& kept) {
  kept.emplace();
  OutputFile out;
  // The file is rewritten for every message: written over, not emptied first.
  if (!out.Open(path, OutputFile::Mode::kOverwrite)) {
    PrintErr("savefile(%s) open error!\a\n", path.c_str());
    return 0;
  }
  LogSwitch(false);
  const Response response = CopyResponse(ResponseSink{out, kept}, mostBytes);
  WriteOut("\n");
  LogSwitch(true);
  const bool written = out.Close();
  if (response == Response::kTooLong) {
    // The rest is not waited for, so the conversation cannot go on.
    PrintErr("response too long!(%zu bytes)\a\n", mostBytes);
    NetAbandon();
    RemoveFile(path);
    return 0;
  }
  if (response != Response::kComplete) return 0;
  if (!written) {
    PrintErr("savefile(%s) write error!\a\n", path.c_str());
    return 0;
  }
  return 1;
}

// Decodes the received message into `out` and finishes it: from the copy
// in memory when there is one, else from the temporary file. False after
// saying why.
bool DecodeInto(PartialFile& out, const std::string& tmpPath, const std::optional<std::string>& decoded) {
  if (decoded) {
    out.Write(*decoded);
  } else {
    InputFile in(tmpPath);
    if (!in.IsOpen()) {
      WriteErr("infile open error!\r\n");
      return false;
    }
    if (DecodeHeaderStream(in, out.Out()) != 0) return false;
  }
  if (out.Finish()) return true;
  WriteErr("tmpfile write error!\r\n");
  return false;
}

// The pending record of a decoded message not yet under its number.
bool RecordPending(ReceivedState& state, const std::string& uidl, const std::string& folder, int fileNumber,
                   PartialFile& partial) {
  PendingMessage pending{uidl, 0, 0, folder, fileNumber};
  if (FileChecksum(partial.Path(), pending.size, pending.checksum) && state.RecordPending(pending)) return true;
  partial.Discard();
  return false;
}

// The message's name on the disk, then its record.
bool RecordStored(ReceivedState& state, const std::string& uidl, const std::string& folder) {
  if (!SyncDirectory(FolderPath(folder))) {
    PrintErr("disk write error!(%s)\a\n", FolderPath(folder).c_str());
    return false;
  }
  return state.RecordReceived(uidl, Now().seconds);
}

}  // namespace

int PopSaveBody(const std::string& path, size_t mostBytes) {
  std::optional<std::string> kept;
  return SaveBody(path, mostBytes, kept);
}

int PopRetrieve(const std::string& folder, int messageNumber, int fileNumber, int deleteFlag, FoldersToSync& toSync,
                long listedSize, const std::string& uidl, ReceivedState* state) {
  std::string reply;
  NetSendLine("RETR %d\r\n", messageNumber);
  if (!PopReadReply(reply)) {
    PrintErr("POP Protcol error!(RETR)[%s]\a\n", ShownReply(reply).c_str());
    return 0;
  }
  const std::string tmpPath = TemporaryPath("tmp.txt");
  std::optional<std::string> raw;
  if (!SaveBody(tmpPath, ResponseLimit(listedSize, kMostMessageBytes), raw)) return 0;
  std::optional<std::string> decoded;
  if (raw) decoded = DecodeHeaderText(*raw);

  // The message is decoded under a name no listing shows and takes its
  // number only when whole: a run killed half-way leaves no part of a
  // message in the folder (and the message is still on the server).
  const std::string wanted = NewMessagePath(folder, fileNumber);
  // The folder goes to the disk as a whole before the server may delete
  // (SyncReceivedMail), not a file at a time.
  // A message recorded as received is never fetched again: it must be on
  // the disk, name and all, before its record is.
  const bool recorded = state != nullptr && !uidl.empty();
  PartialFile partial;
  if (!partial.Open(wanted, PartialFile::Use::kNew, recorded ? PartialFile::Sync::kNow : PartialFile::Sync::kLater)) {
    PrintErr("savefile(%s) open error!\a\n", wanted.c_str());
    return 0;
  }
  // Half a message must not pass for a received one: a failure leaves no
  // partial file.
  if (!DecodeInto(partial, tmpPath, decoded)) return 0;
  if (recorded && !RecordPending(*state, uidl, folder, fileNumber, partial)) return 0;
  const std::string messagePath = ClaimMessageFile(folder, fileNumber, partial);
  if (messagePath.empty()) {
    partial.Discard();
    PrintErr("savefile(%s) open error!\a\n", wanted.c_str());
    return 0;
  }
  // Not recorded: the next run finds the message by its pending record.
  if (recorded && !RecordStored(*state, uidl, folder)) return 0;
  if (decoded) {
    PrintReceivedSummaryOfText(messageNumber, *decoded);
  } else {
    PrintReceivedSummary(messageNumber, messagePath);
  }
  if (!deleteFlag) return 1;
  toSync.insert(FolderPath(folder));
  if (!StillTheListedMessage(messageNumber, uidl)) return 0;
  return PopDelete(messageNumber);
}

int PopDelete(int messageNumber) {
  std::string reply;
  NetSendLine("DELE %d\r\n", messageNumber);
  if (PopReadReply(reply)) return 1;
  PrintErr("POP Protcol error!(DELE)[%s]\a\n", ShownReply(reply).c_str());
  return 0;
}

void PopQuit(const FoldersToSync& toSync) {
  std::string reply;
  if (!SyncReceivedMail(toSync)) {
    // The server deletes only at QUIT: without it, the messages stay there.
    NetClose();
    return;
  }
  NetSendLine("QUIT\r\n");
  NetRecvLine(reply);
  NetClose();
}

}  // namespace quillo
