// TLS over an already connected stream socket, with the server's certificate
// always checked (chain and name). Reads and writes keep the results of
// ReceiveSome and SendAll, so that a caller can use either the same way.
// Builds without the TLS library keep the interface; nothing can be started.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket.h"

namespace quillo {

// True when this build can speak TLS at all.
bool TlsAvailable();

// Where the TLS module was looked for, in order, when this build has TLS in
// a module that none of those places holds; empty otherwise.
std::vector<std::string> MissingTlsModulePaths();

// What a caller needs to start TLS on a connection.
struct TlsPeer {
  std::string host;    // the name or address the certificate must be issued for
  std::string caFile;  // PEM file of further trusted certificates; "" for none
  int timeoutSeconds = 0;  // for the whole handshake; 0 waits for ever
};

// What the server's certificate says, for a user checking the settings.
struct TlsCertificate {
  bool seen = false;     // the server sent one
  std::string subject;   // "CN=pop.example.jp,O=Example" (RFC 2253 order)
  std::string issuer;
  std::string expires;   // "Jan  8 03:00:00 2027 GMT"
  bool trusted = false;  // its chain and its name were accepted
};

// One TLS session over a socket it does not own. Ends (without waiting for
// the peer) when closed, replaced or destroyed.
class TlsChannel {
 public:
  TlsChannel();
  ~TlsChannel();
  TlsChannel(TlsChannel&& other) noexcept;
  TlsChannel& operator=(TlsChannel&& other) noexcept;
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  bool Active() const;
  // Tells the peer that the session ends (without waiting for its answer),
  // then forgets the session.
  void End(const SocketHandle& socket);
  // Forgets the session without a word to the peer.
  void Close();

  // Handshakes over `socket`, checking the certificate against the system's
  // trusted certificates, `peer.caFile` and `peer.host` (which also goes out
  // as the server name, unless it is an address). True when the session is
  // up; otherwise false and `reason` says why, in words for the user.
  bool Start(const SocketHandle& socket, const TlsPeer& peer, std::string& reason);

  // The protocol version and cipher agreed, for the log ("TLSv1.3 ...").
  std::string Description() const;
  // The server's certificate of the last Start, whether or not it was
  // accepted.
  const TlsCertificate& Certificate() const { return certificate_; }

  // As ReceiveSome: the count, 0 when the peer ended the session or the
  // connection, kSocketFailed or kSocketTimedOut.
  long Receive(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds);
  // As SendAll: data.size(), kSocketFailed or kSocketTimedOut.
  long Send(const SocketHandle& socket, std::string_view data, int timeoutSeconds);

 private:
  struct State;
  std::unique_ptr<State> state_;
  TlsCertificate certificate_;
};

}  // namespace quillo
