// The TLS sessions themselves, on OpenSSL. Built as the module the program
// opens when a connection first asks for TLS (and linked in directly where a
// test drives sessions itself).
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>

#include <memory>
#include <new>
#include <string>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "platform/tls_session.h"

namespace quillo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 16 * 1024;
// The closing alert is a courtesy: a peer that takes nothing more is not waited for long.
constexpr int kEndWaitSeconds = 1;

bool IsAddress(const std::string& host) {
  unsigned char scratch[16];
  return ::inet_pton(AF_INET, host.c_str(), scratch) == 1 || ::inet_pton(AF_INET6, host.c_str(), scratch) == 1;
}

std::string LibraryReason() {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return {};
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  // "error:0A000086:SSL routines::certificate verify failed": the words after
  // the last colon are the ones a user can read.
  std::string_view all(text);
  size_t colon = all.rfind(':');
  return std::string(colon == std::string_view::npos ? all : all.substr(colon + 1));
}

// The session keeps its own two memory buffers instead of the socket, so that
// every byte still passes through ReceiveSome and SendAll: their time-outs and
// their protection against SIGPIPE hold for TLS as they do without it.
struct State {
  TlsSocketCalls calls;
  struct CtxFree {
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
  };
  struct SslFree {
    void operator()(SSL* p) const { SSL_free(p); }
  };
  std::unique_ptr<SSL_CTX, CtxFree> ctx;
  std::unique_ptr<SSL, SslFree> ssl;
  BIO* incoming = nullptr;  // owned by ssl
  BIO* outgoing = nullptr;  // owned by ssl
  bool established = false;

  // Hands what the session wants to send to the socket. False when it
  // cannot go (`result` then holds SendAll's failure).
  bool Flush(const SocketHandle& socket, int timeoutSeconds, long& result) {
    char chunk[kChunk];
    while (BIO_ctrl_pending(outgoing) > 0) {
      int n = BIO_read(outgoing, chunk, sizeof chunk);
      if (n <= 0) break;
      long sent = calls.sendAll(socket, std::string_view(chunk, static_cast<size_t>(n)), timeoutSeconds);
      if (sent < 0) {
        result = sent;
        return false;
      }
    }
    return true;
  }

  // Receives more bytes from the socket for the session: the count, 0 at
  // the end of the connection (the session then sees its end too), or
  // ReceiveSome's failure.
  long Feed(const SocketHandle& socket, int timeoutSeconds) {
    char chunk[kChunk];
    long n = calls.receiveSome(socket, chunk, sizeof chunk, timeoutSeconds);
    if (n > 0) BIO_write(incoming, chunk, static_cast<int>(n));
    if (n == 0) BIO_set_mem_eof_return(incoming, 0);
    return n;
  }
};

// Seconds left until `deadline`, at least 1; 0 (for ever) without one.
int SecondsLeft(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) return 0;
  auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now()).count() + 1;
  return left < 1 ? 1 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
}

// Trust: the system's certificates and the user's extra file.
bool LoadTrust(SSL_CTX* ctx, const TlsPeer& peer, std::string& reason) {
  SSL_CTX_set_default_verify_paths(ctx);
  if (peer.caFile.empty()) return true;
  if (SSL_CTX_load_verify_locations(ctx, peer.caFile.c_str(), nullptr) == 1) return true;
  ERR_clear_error();
  reason = "cannot read the certificates of cafile " + peer.caFile;
  return false;
}

// The name (or address) the certificate must carry; a name also goes out so
// that a server with several names picks the right certificate.
bool BindHost(SSL* ssl, const std::string& host, std::string& reason) {
  if (host.empty()) {
    reason = "no server name to check the certificate against";
    return false;
  }
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  bool bound = IsAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                               : SSL_set1_host(ssl, host.c_str()) == 1 &&
                                     SSL_set_tlsext_host_name(ssl, host.c_str()) == 1;
  if (!bound) reason = "cannot check a certificate for " + host;
  return bound;
}

// One X509 name as text ("CN=...,O=...").
std::string NameText(const X509_NAME* name) {
  BIO* out = BIO_new(BIO_s_mem());
  if (!out) return {};
  X509_NAME_print_ex(out, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string text = size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
  BIO_free(out);
  return text;
}

std::string TimeText(const ASN1_TIME* time) {
  BIO* out = BIO_new(BIO_s_mem());
  if (!out) return {};
  ASN1_TIME_print(out, time);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string text = size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
  BIO_free(out);
  return text;
}

// Called for every certificate of the chain as it is checked: the server's
// own one is noted, accepted or not, so that a refused certificate can still
// be described. The library's verdict stands.
int NoteCertificate(int preverified, X509_STORE_CTX* store) {
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* certificate = ssl ? static_cast<TlsCertificate*>(SSL_get_app_data(ssl)) : nullptr;
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  if (certificate && leaf && !certificate->seen) {
    certificate->seen = true;
    certificate->subject = NameText(X509_get_subject_name(leaf));
    certificate->issuer = NameText(X509_get_issuer_name(leaf));
    certificate->expires = TimeText(X509_get0_notAfter(leaf));
  }
  return preverified;
}

class OpenSslSession : public TlsSession {
 public:
  explicit OpenSslSession(const TlsSocketCalls& calls) : calls_(calls) {}
  bool Start(const SocketHandle& socket, const TlsPeer& peer, std::string& reason) override;
  void End(const SocketHandle& socket) override;
  std::string Description() const override;
  TlsCertificate Certificate() const override { return certificate_; }
  long Receive(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds) override;
  long Send(const SocketHandle& socket, std::string_view data, int timeoutSeconds) override;

 private:
  bool Active() const { return state_ && state_->established; }
  TlsSocketCalls calls_;
  std::unique_ptr<State> state_;
  TlsCertificate certificate_;
};

void OpenSslSession::End(const SocketHandle& socket) {
  if (Active()) {
    ERR_clear_error();
    SSL_shutdown(state_->ssl.get());
    ERR_clear_error();
    long ignored = 0;
    state_->Flush(socket, kEndWaitSeconds, ignored);
  }
  state_.reset();
}

bool OpenSslSession::Start(const SocketHandle& socket, const TlsPeer& peer, std::string& reason) {
  ERR_clear_error();
  certificate_ = TlsCertificate{};
  auto state = std::make_unique<State>();
  state->calls = calls_;
  state->ctx.reset(SSL_CTX_new(TLS_client_method()));
  if (!state->ctx) {
    reason = "cannot set up TLS: " + LibraryReason();
    return false;
  }
  SSL_CTX* ctx = state->ctx.get();
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  // A peer that drops the connection without the closing alert is taken as
  // having closed it: the mail protocols mark their own ends.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (!LoadTrust(ctx, peer, reason)) return false;

  state->ssl.reset(SSL_new(ctx));
  state->incoming = BIO_new(BIO_s_mem());
  state->outgoing = BIO_new(BIO_s_mem());
  if (!state->ssl || !state->incoming || !state->outgoing) {
    BIO_free(state->incoming);
    BIO_free(state->outgoing);
    reason = "cannot set up TLS: " + LibraryReason();
    return false;
  }
  SSL* ssl = state->ssl.get();
  SSL_set_bio(ssl, state->incoming, state->outgoing);
  SSL_set_app_data(ssl, &certificate_);
  SSL_set_verify(ssl, SSL_VERIFY_PEER, NoteCertificate);
  if (!BindHost(ssl, peer.host, reason)) return false;
  SSL_set_connect_state(ssl);

  const Clock::time_point deadline =
      peer.timeoutSeconds > 0 ? Clock::now() + std::chrono::seconds(peer.timeoutSeconds) : Clock::time_point::max();
  for (;;) {
    int rc = SSL_do_handshake(ssl);
    int error = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, rc);
    long failed = 0;
    if (!state->Flush(socket, SecondsLeft(deadline), failed)) {
      reason = failed == kSocketTimedOut ? "the server stopped answering" : "the connection broke";
      return false;
    }
    if (rc == 1) break;
    if (error == SSL_ERROR_WANT_READ) {
      if (Clock::now() >= deadline) {
        reason = "the server stopped answering";
        return false;
      }
      long got = state->Feed(socket, SecondsLeft(deadline));
      if (got == kSocketTimedOut) reason = "the server stopped answering";
      if (got < 0 && got != kSocketTimedOut) reason = "the connection broke";
      if (got < 0) return false;
      continue;
    }
    const long verified = SSL_get_verify_result(ssl);
    if (verified != X509_V_OK) {
      ERR_clear_error();
      reason = std::string("certificate refused: ") + X509_verify_cert_error_string(verified);
    } else {
      std::string library = LibraryReason();
      reason = library.empty() ? "the server ended the connection during the handshake" : "handshake failed: " + library;
    }
    return false;
  }
  state->established = true;
  certificate_.trusted = certificate_.seen;
  state_ = std::move(state);
  return true;
}

std::string OpenSslSession::Description() const {
  if (!Active()) return {};
  return std::string(SSL_get_version(state_->ssl.get())) + " " + SSL_get_cipher_name(state_->ssl.get());
}

long OpenSslSession::Receive(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds) {
  if (!Active()) return kSocketFailed;
  SSL* ssl = state_->ssl.get();
  const int want = static_cast<int>(std::min<size_t>(size, INT_MAX));
  for (;;) {
    ERR_clear_error();
    int n = SSL_read(ssl, buffer, want);
    int error = n > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl, n);
    // Reading may have produced something to send (a key update's answer).
    long failed = 0;
    if (!state_->Flush(socket, timeoutSeconds, failed)) return failed;
    if (n > 0) return n;
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    if (error != SSL_ERROR_WANT_READ) {
      ERR_clear_error();
      return kSocketFailed;
    }
    long got = state_->Feed(socket, timeoutSeconds);
    if (got < 0) return got;
  }
}

long OpenSslSession::Send(const SocketHandle& socket, std::string_view data, int timeoutSeconds) {
  if (!Active()) return kSocketFailed;
  SSL* ssl = state_->ssl.get();
  size_t done = 0;
  while (done < data.size()) {
    ERR_clear_error();
    const int piece = static_cast<int>(std::min<size_t>(data.size() - done, INT_MAX));
    int n = SSL_write(ssl, data.data() + done, piece);
    int error = n > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl, n);
    long failed = 0;
    if (!state_->Flush(socket, timeoutSeconds, failed)) return failed;
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (error != SSL_ERROR_WANT_READ) {
      ERR_clear_error();
      return kSocketFailed;
    }
    long got = state_->Feed(socket, timeoutSeconds);
    if (got <= 0) return got == 0 ? kSocketFailed : got;
  }
  return static_cast<long>(data.size());
}

}  // namespace

}  // namespace quillo

extern "C" __attribute__((visibility("default"))) quillo::TlsSession* QuilloNewTlsSession(
    const quillo::TlsSocketCalls* calls) {
  if (!calls) return nullptr;
  // Nothing may be thrown across the module's edge.
  try {
    return std::make_unique<quillo::OpenSslSession>(*calls).release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
