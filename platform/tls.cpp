#include "platform/tls.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <memory>
#include <string>
#include <utility>

#include "platform/files.h"
#include "platform/tls_session.h"

// Defined where the sessions are linked in directly (the tests); null in the
// program, which opens the module instead.
#ifndef _WIN32
extern "C" quillo::TlsSession* QuilloNewTlsSession(const quillo::TlsSocketCalls* calls) __attribute__((weak));
#endif

namespace quillo {

namespace {

using NewSession = TlsSession* (*)(const TlsSocketCalls*);

#ifdef QUILLO_HAVE_TLS
// Beside the program (a build tree), then where an install puts it, relative
// to the program's directory.
std::vector<std::string> ModulePaths() {
  const std::string programDirectory = ProgramDirectory(nullptr);
  if (programDirectory.empty()) return {};
  return {programDirectory + kTlsModuleName, programDirectory + QUILLO_TLS_MODULE_DIR "/" + kTlsModuleName};
}

NewSession OpenModule() {
  for (const std::string& path : ModulePaths()) {
    // Kept open for the rest of the run: sessions come from it.
    if (void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      if (void* entry = dlsym(module, "QuilloNewTlsSession")) return reinterpret_cast<NewSession>(entry);
      dlclose(module);
    }
  }
  return nullptr;
}
#endif

// Where sessions come from; null when this run cannot speak TLS. The module
// is looked for once, when TLS is first asked for.
NewSession SessionMaker() {
#ifdef _WIN32
  // Windows sessions come from the system's own TLS, linked in.
#ifdef QUILLO_TLS_LINKED
  return QuilloNewTlsSession;
#else
  return nullptr;
#endif
#else
  if (QuilloNewTlsSession) return QuilloNewTlsSession;
#ifdef QUILLO_HAVE_TLS
  static const NewSession opened = OpenModule();
  return opened;
#else
  return nullptr;
#endif
#endif
}

}  // namespace

struct TlsChannel::State {
  std::unique_ptr<TlsSession> session;
  bool established = false;
};

bool TlsAvailable() { return SessionMaker() != nullptr; }

std::vector<std::string> MissingTlsModulePaths() {
#ifdef QUILLO_HAVE_TLS
  if (!TlsAvailable()) return ModulePaths();
#endif
  return {};
}

TlsChannel::TlsChannel() = default;
TlsChannel::~TlsChannel() = default;
TlsChannel::TlsChannel(TlsChannel&& other) noexcept = default;
TlsChannel& TlsChannel::operator=(TlsChannel&& other) noexcept = default;

bool TlsChannel::Active() const { return state_ && state_->established; }

void TlsChannel::Close() { state_.reset(); }

void TlsChannel::End(const SocketHandle& socket) {
  if (Active()) state_->session->End(socket);
  Close();
}

bool TlsChannel::Start(const SocketHandle& socket, const TlsPeer& peer, std::string& reason) {
  certificate_ = TlsCertificate{};
  const NewSession make = SessionMaker();
  if (!make) {
    reason = "this build of Quillo has no TLS";
    return false;
  }
  static constexpr TlsSocketCalls kCalls = {ReceiveSome, SendAll};
  auto state = std::make_unique<State>();
  state->session.reset(make(&kCalls));
  if (!state->session) {
    reason = "cannot set up TLS: out of memory";
    return false;
  }
  const bool started = state->session->Start(socket, peer, reason);
  certificate_ = state->session->Certificate();
  if (!started) return false;
  state->established = true;
  state_ = std::move(state);
  return true;
}

std::string TlsChannel::Description() const { return Active() ? state_->session->Description() : std::string(); }

long TlsChannel::Receive(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds) {
  return Active() ? state_->session->Receive(socket, buffer, size, timeoutSeconds) : kSocketFailed;
}

long TlsChannel::Send(const SocketHandle& socket, std::string_view data, int timeoutSeconds) {
  return Active() ? state_->session->Send(socket, data, timeoutSeconds) : kSocketFailed;
}

}  // namespace quillo
