// A small POP3 server on 127.0.0.1 in a thread of the test, for what a real
// server will not do on request: refuse a command, drop the connection in the
// middle of a message, fall silent. By default it serves a maildrop of the
// messages it was given (USER, PASS, STAT, LIST, TOP, RETR, DELE, QUIT);
// overrides replace the answer to chosen commands.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillo::test {

class ScriptedPopServer {
 public:
  // What to do instead of the usual answer.
  struct Reply {
    enum class Then { kGoOn, kClose, kSilence };
    std::string bytes;  // sent as they are
    Then then = Then::kGoOn;
    // Sent again and again after `bytes` until the client goes away or the
    // server's time is up; the connection ends then, whatever `then` says.
    std::string repeat{};
  };

  // `messages`: the maildrop, each message with CR LF line ends, not yet
  // byte-stuffed (the server stuffs lines that begin with a dot).
  explicit ScriptedPopServer(std::vector<std::string> messages = {}, std::string password = "secret");
  ~ScriptedPopServer();
  ScriptedPopServer(const ScriptedPopServer&) = delete;
  ScriptedPopServer& operator=(const ScriptedPopServer&) = delete;

  // Set before Start(). `command` is the whole command line without CR LF
  // ("RETR 2") or its command word alone ("LIST"); the whole line wins.
  void Override(const std::string& command, Reply reply);
  void SetGreeting(std::string bytes) { greeting_ = std::move(bytes); }
  // Sent again and again after the greeting, as Reply::repeat.
  void SetGreetingRepeat(std::string bytes) { greetingRepeat_ = std::move(bytes); }

  // Listens and serves connections one after the other, for at most
  // `lifetimeSeconds`. False when it cannot listen.
  bool Start(int lifetimeSeconds = 60);
  int Port() const { return port_; }
  std::string Setting() const { return "127.0.0.1:" + std::to_string(port_); }

  // Every command line received so far, in order, without CR LF.
  std::vector<std::string> Commands() const;
  // The commands whose word is `word` ("TOP").
  int CountCommands(const std::string& word) const;
  // Messages deleted by a QUIT so far (1-based numbers of the original drop).
  std::vector<int> Expunged() const;

 private:
  void Serve(int lifetimeSeconds);
  void Converse(int fd, long long deadlineMs);
  // The answer to one command; false when the connection is to end.
  bool Answer(int fd, const std::string& command, bool& silent, std::vector<bool>& deleted);
  std::string Listing(const std::vector<bool>& deleted) const;
  std::string Body(size_t index, int topLines) const;
  bool Live(long number, const std::vector<bool>& deleted) const;
  // Sends `bytes` over and over without ever blocking for long.
  void SendEndlessly(int fd, const std::string& bytes, long long deadlineMs) const;

  std::vector<std::string> messages_;
  std::string password_;
  std::string greeting_ = "+OK scripted ready\r\n";
  std::string greetingRepeat_;
  long long deadlineMs_ = 0;  // of the conversation being held
  std::map<std::string, Reply> overrides_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  std::vector<int> expunged_;
};

// A port on 127.0.0.1 where nothing listens.
int UnusedLocalPort();

}  // namespace quillo::test
