// An OAuth2 token introspection endpoint (RFC 7662) on 127.0.0.1 for the
// Dovecot tests: a small HTTP server in a thread that knows one access
// token. A request carrying it (a POST form field "token") is answered
// {"active":true,"username":USER}, any other {"active":false}. Bounded in
// time; stops when destroyed.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace quillo::test {

class TokenEndpoint {
 public:
  TokenEndpoint(std::string user, std::string token, int lifetimeSeconds = 60);
  ~TokenEndpoint();
  TokenEndpoint(const TokenEndpoint&) = delete;
  TokenEndpoint& operator=(const TokenEndpoint&) = delete;

  bool Ok() const { return port_ > 0; }
  // The introspection_url for Dovecot.
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/introspect"; }
  // Requests answered so far, and how many carried the token.
  int Requests() const { return requests_; }
  int Accepted() const { return accepted_; }

 private:
  void Serve(int lifetimeSeconds);
  void Answer(int fd);

  std::string user_;
  std::string token_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

}  // namespace quillo::test
