#include <chrono>
#include <cstdarg>
#include <string>

#include "net/transport.h"
#include "platform/output.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr int kReadFailed = -2;
constexpr int kReadClosed = -1;
// No buffer capacity lets a piece grow past this many bytes.
constexpr int kLongestPiece = 1000;

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The seconds left of the open line's time-out (at least 1 while any is
// left, 0 for no time-out at all); -1 once it has passed.
int SecondsLeft(NetSession& s) {
  const int timeout = GetSettings().timeout;
  if (timeout <= 0) return 0;
  const long long now = NowMs();
  if (!s.lineOpen) {
    s.lineOpen = true;
    s.lineDeadlineMs = now + static_cast<long long>(timeout) * 1000;
  }
  const long long left = s.lineDeadlineMs - now;
  if (left <= 0) return -1;
  return static_cast<int>((left + 999) / 1000);
}

void LineEnded() { GetNetSession().lineOpen = false; }

// Receives through TLS once the connection is secured, else straight.
long Receive(NetSession& s) {
  const int timeout = SecondsLeft(s);
  if (timeout < 0) return kSocketTimedOut;
  char* buffer = s.recvBuf.data();
  const size_t size = s.recvBuf.size() - 1;
  return s.tls.Active() ? s.tls.Receive(s.sock, buffer, size, timeout) : ReceiveSome(s.sock, buffer, size, timeout);
}

// The next byte of the connection (0-255), kReadClosed when the peer closed
// it, kReadFailed on a receive error or time-out (after saying so).
int ReadByte() {
  NetSession& s = GetNetSession();
  if (s.outOfStep) return kReadFailed;
  if (s.recvPos < s.recvCount) return static_cast<unsigned char>(s.recvBuf[s.recvPos++]);
  long n = Receive(s);
  s.recvPos = 0;
  if (n == kSocketTimedOut) {
    s.recvCount = -1;
    s.lineOpen = false;
    WriteErr("receive timed out!\a\n");
    return kReadFailed;
  }
  s.recvCount = static_cast<int>(n);
  if (n <= 0) s.lineOpen = false;
  if (n < 0) return kReadFailed;
  if (n == 0) return kReadClosed;
  s.recvPos = 1;
  return static_cast<unsigned char>(s.recvBuf[0]);
}

// Sends `text` unless an earlier send of this connection failed; a failure
// shows up later as a missing reply.
void SendText(std::string_view text) {
  NetSession& s = GetNetSession();
  if (s.sendFailed) return;
  const int timeout = GetSettings().timeout;
  const long sent = s.tls.Active() ? s.tls.Send(s.sock, text, timeout) : SendAll(s.sock, text, timeout);
  if (sent < 0) s.sendFailed = true;
}

int SendBuffered(const std::string& text) {
  NetSession& s = GetNetSession();
  if (text.empty()) {
    SendText(s.pendBuf);
    s.pendBuf.clear();
  } else if (s.pendBuf.size() + text.size() <= kPendCapacity) {
    s.pendBuf += text;
  } else {
    SendText(s.pendBuf);
    s.pendBuf = text;
  }
  return 0;
}

}  // namespace

int NetRecvPiece(char* buffer, int capacity, PieceEnd& end) {
  end = PieceEnd::kCut;
  if (capacity < 2) return 0;
  for (int i = 0;; ++i) {
    int c = ReadByte();
    if (c == kReadFailed) {
      // Terminated all the same: callers show the reply buffer in messages.
      buffer[i] = '\0';
      end = PieceEnd::kFailed;
      return -1;
    }
    if (c == kReadClosed) {
      buffer[i] = '\0';
      end = PieceEnd::kClosed;
      return i;
    }
    buffer[i] = static_cast<char>(c);
    if (i >= kLongestPiece) {
      buffer[i + 1] = '\0';
      PrintErr("string too long(%d)\a\n", i);
      return 0;
    }
    if (c == '\n' && i >= 1 && buffer[i - 1] == '\r') {
      buffer[i + 1] = '\0';
      LogPrintf("R:%s", buffer);
      LineEnded();
      end = PieceEnd::kLineEnd;
      return i;
    }
    if (i >= capacity - 2) {
      buffer[i + 1] = '\0';
      LogPrintf("R:%s", buffer);
      return i + 1;
    }
    if (c == 0) {
      end = PieceEnd::kNul;
      return i;
    }
  }
}

int NetRecvLine(char* buffer, int capacity) {
  PieceEnd end;
  return NetRecvPiece(buffer, capacity, end);
}

int NetRecvWholeLine(std::string& line, size_t longest) {
  line.clear();
  for (;;) {
    const int c = ReadByte();
    if (c == kReadFailed) return -1;
    if (c == kReadClosed) break;
    line.push_back(static_cast<char>(c));
    if (c == '\n' && line.size() >= 2 && line[line.size() - 2] == '\r') {
      LineEnded();
      break;
    }
    if (line.size() > longest) {
      PrintErr("string too long(%zu)\a\n", line.size());
      NetAbandon();
      return -1;
    }
  }
  if (line.empty()) return 0;
  LogLine("R:" + line.substr(0, kRecvBufSize - 1));
  const bool crlf = line.size() >= 2 && line.ends_with("\r\n");
  return static_cast<int>(crlf ? line.size() - 1 : line.size());
}

void NetAbandon() {
  NetSession& s = GetNetSession();
  s.outOfStep = true;
  s.sendFailed = true;
  s.recvPos = 0;
  s.recvCount = -1;
}

int NetRecvLine(std::string& line) {
  char buffer[kRecvBufSize];
  int result = NetRecvLine(buffer, kRecvBufSize);
  line = buffer;
  return result;
}

int NetSendLine(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = FormatV(fmt, args);
  va_end(args);
  LogPrintf("S:%s", text.c_str());
  SendText(text);
  return 0;
}

void NetSendSecretLine(std::string_view shown, std::string_view line) {
  LogLine("S:" + std::string(shown));
  std::string text(line);
  text += "\r\n";
  SendText(text);
}

int NetSendBuffered(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = FormatV(fmt, args);
  va_end(args);
  return SendBuffered(text);
}

int NetFlushBuffered() { return SendBuffered(std::string()); }

}  // namespace quillo
