// The single TCP connection of the program: connecting, line reading,
// immediate and buffered sending, the service ports and the local host name.
#pragma once

#include <array>
#include <string>

#include "net/protocol_log.h"
#include "platform/socket.h"
#include "platform/tls.h"

namespace quillo {

// One receive call asks for at most kRecvBufSize - 1 bytes; a line piece
// handed out by NetRecvLine holds at most kRecvBufSize - 1 bytes as well.
constexpr int kRecvBufSize = 1000;
// NetSendBuffered gathers up to this many characters before sending them.
constexpr size_t kPendCapacity = 1000;

// The state of the one connection; see GetNetSession().
struct NetSession {
  bool started = false;
  SocketHandle sock;
  // Active once NetStartTls has secured the connection: every byte read or
  // sent then passes through it.
  TlsChannel tls;
  std::array<char, kRecvBufSize> recvBuf{};
  int recvPos = 0;    // next unread byte of recvBuf
  int recvCount = 0;  // bytes in recvBuf from the last receive (<= 0 after close or error)
  std::string pendBuf;  // text gathered by NetSendBuffered, not yet sent
  // A send that failed or timed out: the peer no longer takes our bytes, so
  // later sends of this connection are dropped instead of waiting again.
  bool sendFailed = false;
  // The peer broke the protocol so that its next words can no longer be
  // told from the rest of the last ones (see NetAbandon): nothing more is
  // read from or sent to this connection.
  bool outOfStep = false;
  bool logOn = true;
  // The time-out bounds a whole line, not each byte of it: a peer sending
  // one byte just inside the time-out would otherwise keep a line open for
  // its whole length. Set when a line's first byte is asked for, cleared at
  // its CR LF (a piece cut short or ended by NUL keeps the line open).
  bool lineOpen = false;
  long long lineDeadlineMs = 0;  // steady clock
  // The address and port connected to ("127.0.0.1 port 110"), and the TLS
  // version and cipher once secured; both kept after the connection closes.
  std::string peerAddress;
  std::string tlsDescription;
};

// The one NetSession of the process.
NetSession& GetNetSession();

// Starts the network layer (a no-op on POSIX apart from the flag). 0 or -1.
int NetStartup();
// Shuts it down again; 0.
int NetCleanup();
// 0 when the network layer can be used. Non-zero when no stream socket can be
// created, or when QUILLO_OFFLINE is set to a non-empty value other than "0".
int NetProbe();

struct ServiceEntry {
  const char* name;
  int port;
};
// The well-known ports, searched in this order.
constexpr std::array<ServiceEntry, 5> ServiceTable{{
    {"ftp", 21},
    {"smtp", 25},
    {"pop", 109},
    {"pop3", 110},
    {"nntp", 119},
}};

// The port of service `name` (exact match), -1 when it is not in the table.
// `proto` only shows in the log.
int GetService(const char* name, const char* proto);

struct HostPort {
  std::string host;
  int port;
};
// Splits a server setting into host and port: "host:port", "[v6-address]:port",
// "[v6-address]", or a plain host (a bare IPv6 address included), for which
// `defaultPort` applies. A port must be decimal, 1 to 65535; otherwise the text
// is not split and stays the host as a whole.
HostPort SplitHostPort(const std::string& text, int defaultPort);
// The other way: "host:port", "[v6-address]:port" for a host holding ':'.
std::string JoinHostPort(const HostPort& endpoint);

// Connects to `hostname` (a dotted IPv4 address or a name with IPv4 and IPv6
// addresses, tried in turn) at `portNum`. 1 when connected; 0 after printing
// why not; -1 when the network layer cannot be started. Forgets whatever an
// earlier connection left unread or unsent.
int NetOpen(const std::string& hostname, int portNum);

// Closes the connection and shuts the network layer down. 1.
int NetClose();

// True when this build can speak TLS. Otherwise prints that it cannot,
// naming the setting that asks for it ("POPtls=tls").
bool NetTlsUsable(const std::string& setting);

// Secures the open connection with TLS; the server's certificate must be
// trusted and issued for `host`. Whatever was received before and not yet
// read is dropped: it did not come through TLS. 1 when secured; 0 when not,
// with `reason` in words for the user (nothing printed) and the connection
// of no further use.
int NetStartTls(const std::string& host, std::string& reason);

// NetStartTls for a job: on failure prints "<setting>(<server>) TLS
// error!(<reason>)" with `setting` the server's key ("POPserver") and closes
// the connection. True when secured.
bool NetSecureOrClose(const char* setting, const std::string& server, const std::string& host);

// Reads one line piece into `buffer` (`capacity` bytes, normally 1000) and
// terminates it. Returns:
//  - the length without the LF for a line ending in CR LF (buffer keeps CR LF);
//  - capacity - 1 for a piece cut at that length (the rest comes next);
//  - the position of a NUL byte, which ends the piece (the rest comes next);
//  - the bytes so far (0 when none) when the peer closed the connection;
//  - -1 on a receive error or when no byte came within the time-out.
int NetRecvLine(char* buffer, int capacity);
// What ended a piece of NetRecvPiece.
enum class PieceEnd { kLineEnd, kCut, kNul, kClosed, kFailed };
// NetRecvLine, also saying what ended the piece. After kNul the NUL byte is
// at buffer[result]: it was received, and is part of the line.
int NetRecvPiece(char* buffer, int capacity, PieceEnd& end);
// The same with a 1000-byte buffer; `line` receives the terminated text.
int NetRecvLine(std::string& line);

// A reply line longer than this is no reply but a broken or hostile peer.
constexpr size_t kLongestReplyLine = 64 * 1024;

// Reads one whole line to its CR LF, whatever bytes it holds (NUL bytes
// included), into `line`, so that the next read begins with the next line.
// The log shows its first kRecvBufSize - 1 bytes. Returns the length without
// the LF, as NetRecvLine does; the bytes so far when the peer closed the
// connection (0 when none); -1 on a receive error or time-out. A line that
// runs past `longest` bytes leaves the connection out of step: after
// "string too long(%d)" it is abandoned (NetAbandon) and -1 returned.
int NetRecvWholeLine(std::string& line, size_t longest = kLongestReplyLine);

// Gives the connection up after the peer broke the protocol: every later
// read fails at once and nothing more is sent, so that no command goes out
// on a conversation whose replies can no longer be matched to it.
void NetAbandon();

// Formats a command (it carries its own CR LF), logs it as "S:" and sends it at
// once. 0.
int NetSendLine(const char* fmt, ...) QUILLO_PRINTF_FORMAT(1, 2);

// Sends `line` and CR LF at once, a line that carries credentials: the log
// shows "S:" and `shown` in its place.
void NetSendSecretLine(std::string_view shown, std::string_view line);

// Formats bulk text and gathers it, sending up to 1000 characters at a time;
// an empty text sends what is gathered. Nothing is logged. 0.
int NetSendBuffered(const char* fmt, ...) QUILLO_PRINTF_FORMAT(1, 2);
// Sends what NetSendBuffered has gathered (the same as an empty text).
int NetFlushBuffered();

// The name of this machine, cut to `size` - 1 bytes, into `buffer`: 0, or
// -1 when it cannot be found (buffer then empty).
int NetHostName(char* buffer, size_t size);
int NetHostName(std::string& name, size_t size = 80);

}  // namespace quillo
