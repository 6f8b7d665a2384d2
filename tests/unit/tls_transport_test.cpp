// The one line reader and the two ways of sending over a secured connection,
// against a TLS server on a thread of the test.
#ifdef QUILLO_HAVE_TLS

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "net/transport.h"
#include "settings/settings.h"
#include "tests/support/harness.h"
#include "tests/support/test_certificates.h"

namespace quillo {
namespace {

constexpr int kPeerWaitMs = 5000;

// Accepts one connection, sends `plainFirst` in the clear, then speaks TLS:
// sends `script` and keeps what the client sends until it closes. Every
// wait is bounded; the thread ends by itself.
class TlsServer {
 public:
  TlsServer(const test::IssuedCertificate& cert, std::string plainFirst, std::string script)
      : plainFirst_(std::move(plainFirst)), script_(std::move(script)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&sin), len) != 0 || ::listen(listen_, 1) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sin), &len) != 0)
      return;
    port_ = ntohs(sin.sin_port);
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (!ctx_ || SSL_CTX_use_certificate_file(ctx_, cert.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, cert.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
      return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~TlsServer() {
    Received();
    if (ctx_) SSL_CTX_free(ctx_);
    if (listen_ >= 0) ::close(listen_);
  }
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  int Port() const { return port_; }
  // Waits for the conversation to end; what came through TLS.
  const std::string& Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  void Serve() {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, kPeerWaitMs) <= 0) return;
    int fd = ::accept(listen_, nullptr, nullptr);
    if (fd < 0) return;
    timeval tv{kPeerWaitMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    ::send(fd, plainFirst_.data(), plainFirst_.size(), MSG_NOSIGNAL);
    SSL* ssl = SSL_new(ctx_);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1 && SSL_write(ssl, script_.data(), static_cast<int>(script_.size())) > 0) {
      char buffer[4096];
      for (int n; (n = SSL_read(ssl, buffer, sizeof buffer)) > 0;) received_.append(buffer, static_cast<size_t>(n));
    }
    SSL_free(ssl);
    ::close(fd);
  }

  std::string plainFirst_;
  std::string script_;
  int listen_ = -1;
  int port_ = 0;
  SSL_CTX* ctx_ = nullptr;
  std::thread thread_;
  std::string received_;
};

class TlsTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetSettings();
    GetSettings().Logdisp = 1;
    GetSettings().timeout = 5;
    GetSettings().cafile = authority_.CaFile();
    ASSERT_TRUE(authority_.Ok());
    cert_ = authority_.Issue("peer", "IP:127.0.0.1");
    ASSERT_FALSE(cert_.certFile.empty());
  }
  void TearDown() override {
    NetClose();
    GetSettings() = saved_;
  }
  test::Sandbox box_;
  test::TestAuthority authority_{box_.dir(), "transport"};
  test::IssuedCertificate cert_;

 private:
  Settings saved_;
};

TEST_F(TlsTransport, LinesPiecesAndBufferedTextPassThroughTls) {
  const std::string longLine = std::string(1499, 'x') + "\r\n";
  // The second plain line stands for bytes slipped in before the handshake:
  // they come in one segment with the first and must not be read as the
  // server's words once TLS is up.
  TlsServer server(cert_, "+OK begin TLS\r\n+OK injected\r\n", longLine + "+OK after\r\n");
  ASSERT_GT(server.Port(), 0);
  ASSERT_EQ(NetOpen("127.0.0.1", server.Port()), 1);
  std::string line;
  ASSERT_EQ(NetRecvLine(line), 14);
  EXPECT_EQ(line, "+OK begin TLS\r\n");
  std::string reason;
  ASSERT_EQ(NetStartTls("127.0.0.1", reason), 1) << reason;

  // A long line in two pieces, then the next line: nothing of the plain text.
  EXPECT_EQ(NetRecvLine(line), 999);
  EXPECT_EQ(line, std::string(999, 'x'));
  EXPECT_EQ(NetRecvLine(line), 501);
  EXPECT_EQ(line, std::string(500, 'x') + "\r\n");
  EXPECT_EQ(NetRecvLine(line), 10);
  EXPECT_EQ(line, "+OK after\r\n");

  const std::string first(600, 'a'), second(500, 'b');
  NetSendBuffered("%s", first.c_str());
  NetSendBuffered("%s", second.c_str());
  NetFlushBuffered();
  NetSendLine("QUIT\r\n");
  NetClose();
  EXPECT_EQ(server.Received(), first + second + "QUIT\r\n");
}

TEST_F(TlsTransport, AnUntrustedServerIsRefusedWithItsReason) {
  test::TestAuthority stranger(box_.dir(), "stranger");
  ASSERT_TRUE(stranger.Ok());
  TlsServer server(stranger.Issue("stranger-peer", "IP:127.0.0.1"), "", "+OK never read\r\n");
  ASSERT_GT(server.Port(), 0);
  ASSERT_EQ(NetOpen("127.0.0.1", server.Port()), 1);
  std::string reason;
  EXPECT_EQ(NetStartTls("127.0.0.1", reason), 0);
  EXPECT_EQ(reason, "certificate refused: unable to get local issuer certificate");
  EXPECT_FALSE(GetNetSession().tls.Active());
}

}  // namespace
}  // namespace quillo

#endif
