#include "net/transport.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/output.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "settings/settings.h"

namespace quillo {

NetSession& GetNetSession() {
  static NetSession session;
  return session;
}

int NetStartup() {
  GetNetSession().started = true;
  return 0;
}

int NetCleanup() {
  GetNetSession().started = false;
  return 0;
}

static bool OfflineRequested() {
  auto v = GetEnv("QUILLO_OFFLINE");
  return v && !v->empty() && *v != "0";
}

int NetProbe() {
  if (OfflineRequested() || !CanCreateStreamSocket()) return 1;
  if (NetStartup() != 0) return 1;
  return NetCleanup();
}

int GetService(const char* name, const char* proto) {
  if (NetStartup() != 0) return -1;
  LogPrintf("GetService name:%s proto:%s", name, proto);
  int port = -1;
  for (const ServiceEntry& row : ServiceTable) {
    if (std::strcmp(row.name, name) == 0) {
      port = row.port;
      break;
    }
  }
  LogPrintf("port:%d\n", port);
  NetCleanup();
  return port;
}

// -1 unless `text` is a decimal port number from 1 to 65535.
static int ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return -1;
  int port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    port = port * 10 + (c - '0');
  }
  return port >= 1 && port <= 65535 ? port : -1;
}

std::string JoinHostPort(const HostPort& endpoint) {
  const bool v6 = endpoint.host.find(':') != std::string::npos;
  return (v6 ? "[" + endpoint.host + "]" : endpoint.host) + ":" + std::to_string(endpoint.port);
}

HostPort SplitHostPort(const std::string& text, int defaultPort) {
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) return {text, defaultPort};
    std::string host = text.substr(1, close - 1);
    if (close + 1 == text.size()) return {host, defaultPort};
    if (text[close + 1] != ':') return {text, defaultPort};
    int port = ParsePort(std::string_view(text).substr(close + 2));
    return port < 0 ? HostPort{text, defaultPort} : HostPort{host, port};
  }
  size_t colon = text.find(':');
  // No colon: a plain host. More than one: a bare IPv6 address.
  if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) return {text, defaultPort};
  int port = ParsePort(std::string_view(text).substr(colon + 1));
  return port < 0 ? HostPort{text, defaultPort} : HostPort{text.substr(0, colon), port};
}

// The endpoints to try for `hostname`, logging a name look-up.
static std::vector<SocketAddress> HostAddresses(const std::string& hostname, int portNum) {
  SocketAddress dotted;
  if (DottedIPv4Address(hostname, portNum, dotted)) return {dotted};
  LogPrintf("gethost:%s", hostname.c_str());
  return ResolveStreamHost(hostname, portNum);
}

static void ReportConnectFailure(const ConnectResult& result, const std::string& hostname) {
  errno = result.error;
  switch (result.status) {
    case ConnectStatus::kSocketFailed:
      WriteErr("soket create error!\a\n");
      PrintSystemError("pop3");
      break;
    case ConnectStatus::kTimedOut:
      PrintErr("connection timed out!(%s)\a\n", hostname.c_str());
      break;
    case ConnectStatus::kConnectFailed:
    case ConnectStatus::kConnected:
      PrintSystemError("pop3");
      WriteErr("connection error!\a\n");
      break;
  }
}

static void ForgetEarlierConnection(NetSession& session) {
  // The certificate of an earlier connection goes too.
  session.tls = TlsChannel();
  session.sock.Close();
  session.recvPos = 0;
  session.recvCount = 0;
  session.pendBuf.clear();
  session.sendFailed = false;
  session.outOfStep = false;
  session.lineOpen = false;
  session.peerAddress.clear();
  session.tlsDescription.clear();
}

int NetOpen(const std::string& hostname, int portNum) {
  if (NetStartup() != 0) return -1;
  NetSession& session = GetNetSession();
  ForgetEarlierConnection(session);
  LogPrintf("NetOpen(hostname:%s portNum:%d)", hostname.c_str(), portNum);

  std::vector<SocketAddress> addresses = HostAddresses(hostname, portNum);
  if (addresses.empty()) {
    PrintErr("Not find host(%s)\a\n", hostname.c_str());
    return 0;
  }
  // Only the last address's failure is reported: the earlier ones were
  // merely alternatives (an IPv6 address before the IPv4 one, say).
  ConnectResult result;
  for (const SocketAddress& address : addresses) {
    result = ConnectStream(address, GetSettings().timeout);
    if (result.status != ConnectStatus::kConnected) continue;
    session.peerAddress = AddressText(address);
    break;
  }
  if (result.status != ConnectStatus::kConnected) {
    ReportConnectFailure(result, hostname);
    return 0;
  }
  session.sock = std::move(result.socket);
  SetNoDelay(session.sock);
  return 1;
}

int NetClose() {
  LogLine("NetClose");
  NetSession& session = GetNetSession();
  session.tls.End(session.sock);
  session.sock.Close();
  NetCleanup();
  return 1;
}

bool NetTlsUsable(const std::string& setting) {
  if (TlsAvailable()) return true;
  PrintErr("%s: this build of Quillo has no TLS!\a\n", setting.c_str());
  // Built with TLS, but the module is not where it was installed.
  std::string looked;
  for (const std::string& path : MissingTlsModulePaths()) looked += (looked.empty() ? "" : ", ") + path;
  if (!looked.empty()) PrintErr("the TLS module is missing: looked for %s\n", looked.c_str());
  return false;
}

int NetStartTls(const std::string& host, std::string& reason) {
  NetSession& session = GetNetSession();
  LogPrintf("StartTLS(hostname:%s)", host.c_str());
  // Bytes that arrived before the handshake could have been put there by
  // anyone on the way; none of them may pass for the server's words.
  session.recvPos = 0;
  session.recvCount = 0;
  session.lineOpen = false;
  session.pendBuf.clear();
  if (session.sendFailed) {
    reason = "the connection broke";
    return 0;
  }
  TlsPeer peer{host, GetSettings().cafile, GetSettings().timeout};
  if (!session.tls.Start(session.sock, peer, reason)) return 0;
  session.tlsDescription = session.tls.Description();
  LogPrintf("TLS:%s", session.tlsDescription.c_str());
  return 1;
}

bool NetSecureOrClose(const char* setting, const std::string& server, const std::string& host) {
  std::string reason;
  if (NetStartTls(host, reason)) return true;
  // The reason may quote the server's certificate.
  PrintErr("%s(%s) TLS error!(%s)\a\n", setting, server.c_str(), SanitizeForConsole(reason).c_str());
  NetClose();
  return false;
}

int NetHostName(std::string& name, size_t size) {
  if (NetStartup() != 0) return -1;
  int result = LocalHostName(name);
  if (result < 0) WriteOut("gethostname err!\n");
  if (size == 0) name.clear();
  else if (name.size() > size - 1) name.resize(size - 1);
  NetCleanup();
  LogPrintf("hostname:%s", name.c_str());
  return result;
}

int NetHostName(char* buffer, size_t size) {
  std::string name;
  int result = NetHostName(name, size);
  if (size > 0) {
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
  }
  return result;
}

}  // namespace quillo
