// Between TlsChannel and the TLS library: the library is loaded only when a
// connection asks for TLS, through a module the program opens on first use,
// so that every other run starts without it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "platform/tls.h"

namespace quillo {

// One session over a socket it does not own, as TlsChannel drives it (see
// there). Ending it sends the closing alert; destroying it only forgets it.
class TlsSession {
 public:
  virtual ~TlsSession() = default;
  virtual bool Start(const SocketHandle& socket, const TlsPeer& peer, std::string& reason) = 0;
  virtual void End(const SocketHandle& socket) = 0;
  virtual std::string Description() const = 0;
  // The server's certificate as the last Start saw it.
  virtual TlsCertificate Certificate() const = 0;
  virtual long Receive(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds) = 0;
  virtual long Send(const SocketHandle& socket, std::string_view data, int timeoutSeconds) = 0;
};

// The program's socket calls, which every byte of a session passes through.
struct TlsSocketCalls {
  long (*receiveSome)(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds);
  long (*sendAll)(const SocketHandle& socket, std::string_view data, int timeoutSeconds);
};

}  // namespace quillo

// The module's one entry point: a new session, owned by the caller.
extern "C" quillo::TlsSession* QuilloNewTlsSession(const quillo::TlsSocketCalls* calls);

// The file name of the module, looked for beside the program and then in the
// library directory an install puts it in.
inline constexpr const char* kTlsModuleName = "quillo-tls.so";
