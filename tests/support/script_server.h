// A scripted alarm-server stand-in for tests: it listens on a loopback address of the
// test's own, accepts one connection and plays a script on it: it reads exactly the bytes it
// expects, answers as told, and closes or resets the connection when told. After the script
// it reads until the client closes, so a script that ends without a reply is a silent
// server. Everything the client sent is kept for the test to compare.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class ScriptServer {
 public:
  // Listens on `address` (dotted, such as "127.83.1.1") and `port`; Listening() tells
  // whether that worked.
  explicit ScriptServer(const std::string& address, int port = 1100);
  ~ScriptServer();
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  bool Listening() const { return listenFd_ >= 0; }

  // Script steps, played in order on the accepted connection.
  // Reads as many bytes as `bytes` holds (whatever they are: the test compares them later);
  // the script ends there when the client closes first.
  ScriptServer& Expect(const std::string& bytes);
  // Reads through the next line feed.
  ScriptServer& ExpectLine();
  // Reads as many bytes as the decimal number on the last line read by ExpectLine says (the
  // body of an upload after its "DATA" header).
  ScriptServer& ExpectCountedBody();
  // Sends `bytes` in one piece.
  ScriptServer& Reply(const std::string& bytes);
  // Closes the connection in order (the client's next receive yields no byte).
  ScriptServer& Close();
  // Closes the connection with a reset (the client's next call fails).
  ScriptServer& Reset();

  // Holds the script here until the test calls Release.
  ScriptServer& Hold();
  // Waits until the script has come to its Hold step (false when it ended before).
  bool WaitUntilHeld();
  // Lets a held script go on.
  void Release();

  // Starts accepting on a thread of its own.
  void Start();
  // Stops waiting for a connection that has not come, waits for the thread and gives every
  // byte the client sent.
  std::string Finish();
  // How many connections were accepted (0 or 1); valid after Finish.
  int Connections() const { return connections_; }
  // Whether the client closed (or reset) the connection, rather than fall silent; valid after
  // Finish.
  bool ClientClosed() const { return clientClosed_; }

 private:
  enum class StepKind { kExpect, kExpectLine, kExpectCountedBody, kReply, kClose, kReset, kHold };
  struct Step {
    StepKind kind;
    std::string bytes;
  };

  void Serve();
  void SetHoldState(int state);
  void Play(int fd);

  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};  // a pipe on which Finish wakes a thread waiting to accept
  std::vector<Step> script_;
  std::thread thread_;
  std::string received_;       // written by the thread, read after the join
  int connections_ = 0;        // written by the thread, read after the join
  bool clientClosed_ = false;  // written by the thread, read after the join
  std::mutex holdMutex_;
  std::condition_variable holdChanged_;
  int holdState_ = 0;  // 0 not yet held, 1 held, 2 released, 3 script over (holdMutex_)
};

}  // namespace testsupport
