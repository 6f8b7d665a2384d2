#include "compose/prepare_send.h"

#include <array>

#include "compose/message_lines.h"
#include "encoding/byte_classes.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "settings/settings.h"
#include "settings/version.h"

namespace quillo {

namespace {


// How the current header line, and the continuation lines after it, are treated.
// References, Message-ID and Attach lines go into the send file without
// being shown; the wire form rewrites or leaves out what they say.
enum class HeaderKind { kNone, kSubject, kReply, kBcc, kTo, kCc, kKept, kAttach };

struct HeaderName {
  std::string_view name;
  HeaderKind kind;
};

// Tested in this order; "Reply-To:" comes last so that "To:" is not mistaken
// for part of it.
constexpr std::array<HeaderName, 9> kHeaderNames{{
    {"Subject:", HeaderKind::kSubject},
    {"In-Reply-To:", HeaderKind::kReply},
    {"References:", HeaderKind::kKept},
    {"Message-ID:", HeaderKind::kKept},
    {"Attach:", HeaderKind::kAttach},
    {"Bcc:", HeaderKind::kBcc},
    {"To:", HeaderKind::kTo},
    {"Cc:", HeaderKind::kCc},
    {"Reply-To:", HeaderKind::kReply},
}};

bool IsAddressKind(HeaderKind kind) {
  return kind == HeaderKind::kBcc || kind == HeaderKind::kTo || kind == HeaderKind::kCc;
}

bool IsShownKind(HeaderKind kind) { return kind == HeaderKind::kSubject || kind == HeaderKind::kReply; }

// A value is empty when the first byte after the colon and its blanks is a
// line end, a control character or the blank itself.
bool HasEmptyValue(std::string_view line) {
  size_t pos = line.find(':');
  if (pos == std::string_view::npos) return true;
  ++pos;
  while (pos < line.size() && line[pos] == ' ') ++pos;
  return pos >= line.size() || static_cast<unsigned char>(line[pos]) <= 0x20;
}

// The state of one pass over a draft.
class DraftCheck {
 public:
  DraftCheck(OutputFile& sendFile, RecipientList& recipients, const std::string& messageId)
      : sendFile_(sendFile), recipients_(recipients), messageId_(messageId) {}

  // Handles one whole line; false when reading must stop.
  bool Line(const std::string& line);
  // Checks made at the end of the draft; true when the draft was sound.
  bool Finish();

 private:
  bool HeaderLine(const std::string& line);
  // Classifies `line`; returns the text to take addresses from (may be empty).
  std::string_view Classify(std::string_view line);
  // Adds the addresses of `text`; the number added.
  int TakeAddresses(std::string_view text);
  // Refuses the draft when the file of an Attach line cannot be read.
  void CheckAttachment(std::string_view line);

  OutputFile& sendFile_;
  RecipientList& recipients_;
  const std::string& messageId_;
  bool messageIdSeen_ = false;
  HeaderKind kind_ = HeaderKind::kNone;
  bool error_ = false;
  bool headerEnded_ = false;
  bool toSeen_ = false;
  bool tooManyReported_ = false;
};

bool DraftCheck::Line(const std::string& line) {
  // A path is no text: its bytes are the file system's, not Shift_JIS.
  const bool path = !headerEnded_ && !AttachedPath(line).empty();
  if (!path && HasHalfWidthKana(line)) {
    WriteOut("no use in KANA!\n");
    error_ = true;
  }
  if (headerEnded_) {
    sendFile_.Write(line);
    return true;
  }
  return HeaderLine(line);
}

bool DraftCheck::HeaderLine(const std::string& line) {
  if (IsHeaderEnd(line)) {
    headerEnded_ = true;
    if (!messageIdSeen_ && !messageId_.empty()) sendFile_.Write("Message-ID: " + messageId_ + "\n");
    sendFile_.Write(FormatXMailer() + "\n\n");
    if (!toSeen_) {
      WriteOut("unknown \"To:\"!\n");
      error_ = true;
      return false;
    }
    return true;
  }
  std::string_view addressText = Classify(line);
  if (!addressText.empty() && TakeAddresses(addressText) == 0) kind_ = HeaderKind::kNone;
  if (kind_ == HeaderKind::kAttach) CheckAttachment(line);
  if (kind_ != HeaderKind::kNone) {
    sendFile_.Write(line);
    // A follow-up's header lines quote the received message.
    if (IsShownKind(kind_)) WriteOut(SanitizeForConsole(line));
  }
  return true;
}

std::string_view DraftCheck::Classify(std::string_view line) {
  for (const HeaderName& header : kHeaderNames) {
    if (!StartsWithIgnoreCase(line, header.name)) continue;
    if (header.kind == HeaderKind::kTo) toSeen_ = true;
    // An empty subject or reply line follows the line above it.
    if (IsShownKind(header.kind) && HasEmptyValue(line)) return {};
    kind_ = header.kind;
    if (header.name == "Message-ID:" && !HasEmptyValue(line)) messageIdSeen_ = true;
    // An empty References, Message-ID or Attach line says nothing: left out.
    if ((kind_ == HeaderKind::kKept || kind_ == HeaderKind::kAttach) && HasEmptyValue(line)) kind_ = HeaderKind::kNone;
    if (!IsAddressKind(kind_)) return {};
    std::string_view rest = line.substr(header.name.size());
    // A name with nothing after it still counts as a line without an address.
    return rest.empty() ? std::string_view("\n") : rest;
  }
  if (kind_ != HeaderKind::kNone && kind_ != HeaderKind::kAttach && IsContinuationLine(line)) {
    return IsAddressKind(kind_) ? line : std::string_view{};
  }
  kind_ = HeaderKind::kNone;
  return {};
}

bool HasControlByte(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

void DraftCheck::CheckAttachment(std::string_view line) {
  const std::string path = AttachedPath(line);
  InputFile file;
  if (StatPath(path) == PathKind::kFile && file.Open(path, false)) return;
  PrintOut("attach file(%s) open error!\n", SanitizeForConsole(path).c_str());
  error_ = true;
}

int DraftCheck::TakeAddresses(std::string_view text) {
  RecipientList& list = recipients_;
  int added = 0;
  std::string address;
  for (size_t pos = 0; pos < text.size();) {
    pos = ExtractAddress(text, pos, address);
    if (address.empty()) continue;
    if (address.size() > kMaxAddressBytes) {
      PrintOut("address too long!(%s)\n", address.c_str());
      error_ = true;
      continue;
    }
    // A control byte would end or split the RCPT command the address goes into.
    if (HasControlByte(address)) {
      WriteOut("address with a control character!\n");
      error_ = true;
      continue;
    }
    if (list.addresses.size() >= kMaxRecipients) {
      if (!tooManyReported_) WriteOut("too many recipients!\n");
      tooManyReported_ = true;
      error_ = true;
      continue;
    }
    list.addresses.push_back(address);
    ++added;
  }
  return added;
}

bool DraftCheck::Finish() {
  if (!headerEnded_ && !error_) {
    WriteOut("unknown headder end & body start!\n");
    error_ = true;
  }
  return !error_;
}

}  // namespace

std::string FormatFromLine() {
  const Settings& s = GetSettings();
  return Format("From: %s <%s>", s.fullname.c_str(), s.mailto.c_str());
}

std::string AttachedPath(std::string_view line) {
  if (!StartsWithIgnoreCase(line, "Attach:")) return {};
  line.remove_prefix(7);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return std::string(line);
}

std::string FormatXMailer() { return Format("X-Mailer: kelvaro Quillo Ver.%s[%s] ", kVersion, kSocketLayerName); }

size_t ExtractAddress(std::string_view text, size_t pos, std::string& address) {
  address.clear();
  while (pos < text.size() && (text[pos] == ',' || text[pos] == ' ' || text[pos] == '\t')) ++pos;
  size_t end = text.find(',', pos);
  if (end == std::string_view::npos) end = text.size();
  std::string_view token = text.substr(pos, end - pos);

  if (size_t open = token.find('<'); open != std::string_view::npos) {
    size_t close = token.find('>', open + 1);
    if (close == std::string_view::npos) return end;
    std::string_view inner = token.substr(open + 1, close - open - 1);
    if (inner.find(' ') == std::string_view::npos) address = inner;
    return end;
  }
  size_t stop = token.find(' ');
  if (stop == std::string_view::npos) stop = token.find('\t');
  if (stop == std::string_view::npos) stop = token.find('(');
  std::string_view bare = token.substr(0, stop);
  // The address ends at the line end or at text that is not ASCII; a
  // control byte stays in it, so the check refuses the address instead of
  // sending a part of it.
  size_t cut = 0;
  while (cut < bare.size() && bare[cut] != '\n' && static_cast<unsigned char>(bare[cut]) < 0x80) ++cut;
  address = bare.substr(0, cut);
  return end;
}

bool HasHalfWidthKana(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (IsSjisLeadByte(line[i])) {
      ++i;  // the second byte of the pair is not looked at
    } else if (IsHalfWidthKana(line[i])) {
      return true;
    }
  }
  return false;
}

int PrepareSendFile(const std::string& draftPath, const std::string& sendFilePath, RecipientList& recipients,
                    const std::string& messageId) {
  recipients.addresses.clear();
  OutputFile sendFile;
  // Rewritten for every message: written over, not emptied first.
  const bool sendOpen = sendFile.Open(sendFilePath, OutputFile::Mode::kOverwrite);
  InputFile draft(draftPath);
  if (!draft.IsOpen()) PrintOut("file open error!(%s)\n", draftPath.c_str());
  if (!sendOpen) PrintOut("file open error!(%s)\n", sendFilePath.c_str());
  if (!sendOpen || !draft.IsOpen()) return -1;

  sendFile.Write(FormatFromLine() + "\n");
  DraftCheck check(sendFile, recipients, messageId);
  std::string line;
  while (ReadWholeLine(draft, line)) {
    if (!check.Line(line)) break;
  }
  bool sound = check.Finish();
  if (draft.HadError()) {
    PrintOut("file read error!(%s)\n", draftPath.c_str());
    sound = false;
  }
  draft.Close();
  // A send file cut short would later replace the draft: it must be whole.
  if (!sendFile.Close()) {
    PrintOut("file write error!(%s)\n", sendFilePath.c_str());
    sound = false;
  }
  if (!sound) return -1;
  for (const std::string& address : recipients.addresses) PrintOut("Send to:%s\n", address.c_str());
  return static_cast<int>(recipients.addresses.size());
}

}  // namespace quillo
