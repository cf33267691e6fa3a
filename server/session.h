// One client connection: the server's side of the login and upload exchanges.
//
// The client sends one line at a time (ending in a line feed) and reads one reply after
// each; every reply is written whole by one write, without a line terminator, because the
// client takes the bytes of one receive as the reply and shows them.
//
//   client                      server
//   <user name>                 "331 Password, please." (the same for every name)
//   <password>                  "200 Welcome, <user name>." or "300 <why>" (then closes)
//   DATA + <size> (one header)  "354 Send <size> bytes." or "300 <why>"; the client may
//                               send the header again after a refusal; the sixth refusal
//                               in a row closes the connection, as the client would send
//                               its body next
//   <size bytes of body>        "250 Stored <file> (<size> bytes)." once the snapshot is
//                               on disk, or "300 Snapshot not stored."
//   QUIT                        "221 Bye." (then closes)
//
// Refused and closed: a header before login, a line over 1024 bytes, a header after the
// account was removed, a login the gate refuses (login_gate.h). Deadlines (options.h): each
// line within the idle time of the reply before it, the login as a whole, each reply's
// departure, and a body's average rate. A client that does not take its replies is read no
// further until it does. A body cut short is never stored.
#pragma once

#include "server/asio.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "server/body_budget.h"
#include "server/connection_table.h"
#include "server/login_gate.h"
#include "server/options.h"
#include "server/retention.h"
#include "server/snapshot_store.h"

namespace corvantis::server {

class Session;

// What every connection of one server shares. Lives longer than every session.
struct SessionServices {
  const ServerOptions& options;
  SnapshotStore& store;
  LoginGate& logins;
  BodyBudget& budget;
  Retention& retention;  // says when the disk is too full to take uploads
  // Called from a session's destructor.
  std::function<void(Session*)> forget;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  // `place` is the connection's place in the server's count, held until the session ends;
  // `client` the client's key (client_key.h).
  Session(asio::ip::tcp::socket socket, SessionServices& services, ConnectionPlace place,
          std::string client);
  ~Session();

  void Start();
  // Ends the connection at once; safe from any thread.
  void Close();

  static constexpr std::size_t kMaxLine = 1024;  // bytes before the line feed
  static constexpr int kMaxHeaderRefusals = 6;   // the client sends a header six times

 private:
  using Clock = std::chrono::steady_clock;
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
    kDone
  };

  void Pump();
  void StartRead();
  void HandleLine(std::string line);
  void CheckPassword(std::string password);
  void Answered(LoginGate::Answer answer);
  void HandleHeaderSize(const std::string& line);
  void RefuseHeader(std::string text, const char* outcome);
  void OnMemoryGranted();
  void StoreBody();
  void OnStored(StoreResult result);
  void Reply(std::string text, const char* finalOutcome = nullptr);
  void Replied();
  Clock::time_point Deadline() const;
  void Watch();
  void OnTimer();
  void Finish(const char* outcome, bool linger);
  void Linger();
  asio::any_io_executor TrackedExecutor();

  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  SessionServices& services_;
  ConnectionPlace place_;
  const std::string client_;
  State state_ = State::kUser;
  std::string peer_;  // "127.0.0.1:40312"
  std::string in_;    // bytes received and not yet handled
  std::array<char, 16384> chunk_;

  bool busy_ = false;      // a reply, a check, a memory wait or a store is in hand
  bool reading_ = false;   // a receive is in hand
  bool writing_ = false;   // a reply is being written
  bool draining_ = false;  // waiting for the client to take its replies
  bool done_ = false;
  bool lingering_ = false;
  bool loggedIn_ = false;
  bool memoryHeld_ = false;             // the body's bytes are taken from the budget
  const char* closeOutcome_ = nullptr;  // set when the reply being written is the last
  std::string out_;                     // the reply being written

  // The timer fires at armedFor_, never later than Deadline(); firing early only re-arms.
  bool timerArmed_ = false;
  Clock::time_point armedFor_;
  uint64_t timerGeneration_ = 0;
  Clock::time_point loginDeadline_, lineDeadline_, writeDeadline_, memoryDeadline_;
  Clock::time_point bodyStart_, drainCheck_, lingerUntil_;
  Clock::duration drainPause_{};

  std::string user_;
  std::string stamp_;  // the account's stamp at login (PasswordChecker::Stamp)
  LoginGate::Ticket loginTicket_ = 0;
  BodyBudget::Ticket memoryTicket_ = 0;
  std::string body_;
  std::size_t expected_ = 0;
  int headerRefusals_ = 0;
  int uploads_ = 0;
  uint64_t bytesStored_ = 0;
};

}  // namespace corvantis::server
