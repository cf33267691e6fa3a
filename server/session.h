// One client connection: the server's side of the login and upload exchanges.
//
// The client sends one line at a time (ending in a line feed) and reads one reply after
// each; every reply is written whole by one write, without a line terminator, because the
// client takes the bytes of one receive as the reply and shows them.
//
//   client                      server
//   <user name>                 "331 Password, please." (the same for every name)
//   <password>                  "200 Welcome, <user name>." or "300 Login incorrect."
//                               (then closes)
//   DATA + <size> (one header)  "354 Send <size> bytes." or "300 <why>"; the client may
//                               send the header again after a refusal; the sixth refusal
//                               in a row closes the connection, as the client would send
//                               its body next
//   <size bytes of body>        "250 Stored <file> (<size> bytes)." once the snapshot is
//                               on disk, or "300 Snapshot not stored."
//   QUIT                        "221 Bye." (then closes)
//
// Refused and closed: a header before login, a line over 1024 bytes, a client silent for
// the idle time, repeated failed logins from one address. A body cut short is never stored.
#pragma once

#include "server/asio.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "server/body_budget.h"
#include "server/login_guard.h"
#include "server/options.h"
#include "server/password_checker.h"
#include "server/retention.h"
#include "server/snapshot_store.h"

namespace corvantis::server {

class Session;

// What every connection of one server shares. Lives longer than every session.
struct SessionServices {
  const ServerOptions& options;
  SnapshotStore& store;
  PasswordChecker& checker;
  LoginThrottle& throttle;
  BodyBudget& budget;
  Retention& retention;  // says when the disk is too full to take uploads
  // Called from a session's destructor.
  std::function<void(Session*)> forget;
  // Connections being served (a closing one that only waits for the client to go counts no
  // more); connections refused for the limit are not counted.
  std::atomic<std::size_t>& active;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  // `full`: the server has too many connections; the first line gets a refusal.
  Session(asio::ip::tcp::socket socket, SessionServices& services, bool full);
  ~Session();

  void Start();
  // Ends the connection at once; safe from any thread.
  void Close();

  static constexpr std::size_t kMaxLine = 1024;  // bytes before the line feed
  static constexpr int kMaxHeaderRefusals = 6;   // the client sends a header six times

 private:
  enum class State {
    kUser,
    kPassword,
    kVerifying,
    kReady,
    kHeaderSize,
    kEarlyHeaderSize,
    kWaitingForMemory,
    kBody,
    kStoring,
    kFull,
    kDone
  };

  void Pump();
  void StartRead();
  void HandleLine(std::string line);
  void HandleHeaderSize(const std::string& line);
  void RefuseHeader(std::string text, const char* outcome);
  void OnVerified(bool ok);
  void OnMemoryGranted();
  void OnStored(StoreResult result);
  void Reply(std::string text, const char* finalOutcome = nullptr);
  void ArmTimer(std::chrono::milliseconds after, bool linger);
  void StoreBody();
  void Finish(const char* outcome, bool linger);
  void Linger();
  asio::any_io_executor TrackedExecutor();

  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  SessionServices& services_;
  State state_;
  std::string peer_;     // "127.0.0.1:40312"
  std::string address_;  // "127.0.0.1"
  std::string in_;       // bytes received and not yet handled
  std::array<char, 16384> chunk_;
  bool busy_ = false;  // a reply, a verification or a store is in hand
  bool reading_ = false;
  bool done_ = false;
  bool memoryHeld_ = false;
  const bool counted_;  // part of services_.active until finished             // the body's bytes
                        // are taken from the budget
  const char* closeOutcome_ = nullptr;  // set when the reply being written is the last
  std::string out_;                     // the reply being written
  uint64_t timerGeneration_ = 0;
  std::string user_;
  std::string body_;
  std::size_t expected_ = 0;
  int headerRefusals_ = 0;
  int uploads_ = 0;
  uint64_t bytesStored_ = 0;
};

}  // namespace corvantis::server
