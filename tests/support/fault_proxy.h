// A relay on 127.0.0.1 between the program and a real server that breaks the
// connection at a chosen point of the conversation, as a failing network
// would: the program sees the connection end, the server sees its client go
// without a goodbye.
//
// The relay serves one connection. It passes the client's bytes on a whole
// line at a time, so that it can act on the line that arms the cut; the
// server's bytes pass on as they come.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillo::test {

struct CutRule {
  enum class At {
    // The arming line is not passed on: both ends are closed instead.
    kInsteadOfLine,
    // The line is passed on; of what the server sends after it, `bytes` bytes
    // are passed on, and the cut comes with the first server byte beyond
    // them. With 0 the server has answered, but the client never hears it.
    kInReply,
    // The line and everything the server says are passed on; of what the
    // client sends after the line, `bytes` bytes are passed on, then the cut.
    kInClientText,
  };
  // The client line that arms the cut, whole, without its CR LF ("TOP 2 4").
  std::string line;
  At at = At::kInsteadOfLine;
  size_t bytes = 0;
};

class FaultProxy {
 public:
  // Relays to 127.0.0.1:`serverPort`; the thread gives up after `limitMs`
  // whatever happens.
  FaultProxy(int serverPort, CutRule rule, int limitMs = 20000);
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  int Port() const { return port_; }
  // "127.0.0.1:PORT", for a server setting.
  std::string Setting() const { return "127.0.0.1:" + std::to_string(port_); }
  // Waits for the relay to end, then tells whether the cut was made.
  bool Cut();
  // The client lines relayed or held back, in order (without CR LF).
  std::vector<std::string> ClientLines();

 private:
  void Serve();
  void Relay(int client, int server);
  void Finish();

  CutRule rule_;
  int serverPort_;
  int limitMs_;
  int listenFd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  bool cut_ = false;
  std::vector<std::string> lines_;
};

}  // namespace quillo::test
