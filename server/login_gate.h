// The one way in for every front end that takes a user name and a password. Each attempt is
// counted before any hashing (LoginThrottle); a password verified a moment ago is answered
// at once (PasswordChecker's cache); every other check waits its turn in a queue that serves
// clients in turn and is bounded per client and in all, and runs on threads of its own.
// Checks from a client that has logged in to that account before are served first, and with
// more than one thread one of them is kept for those checks alone, so a flood of guesses
// from elsewhere cannot hold back a camera the server knows. A check whose client has gone
// is taken back unrun.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "server/fair_queue.h"
#include "server/login_throttle.h"
#include "server/password_checker.h"

namespace corvantis::server {

class LoginGate {
 public:
  enum class Outcome {
    kAccepted,
    kRefused,        // wrong password or no such account
    kThrottled,      // too many failures of this client or account
    kTooManyAtOnce,  // too many attempts of this client or account in hand
    kBusy            // too many checks waiting
  };
  struct Answer {
    Outcome outcome = Outcome::kRefused;
    std::string stamp;  // when accepted: the account's stamp (PasswordChecker::Stamp)
  };
  using Done = std::function<void(Answer)>;
  using Ticket = uint64_t;

  struct Limits {
    int threads = 2;            // checks run side by side (one kept for known clients)
    std::size_t perClient = 4;  // checks of one client waiting or running
    std::size_t waiting = 64;   // checks waiting, all clients
  };

  LoginGate(LoginThrottle& throttle, PasswordChecker& checker, Limits limits);
  ~LoginGate();
  LoginGate(const LoginGate&) = delete;
  LoginGate& operator=(const LoginGate&) = delete;

  // Answers at once when it can. Otherwise queues the check, sets `ticket` and returns
  // nothing; `done` is then called once, on a checker thread, unless Cancel comes first.
  // `client` is the client's key (client_key.h).
  std::optional<Answer> Begin(const std::string& client, const std::string& user,
                              std::string password, Done done, Ticket& ticket);
  // Takes back a check still waiting (its client has gone): it never runs and counts as
  // nothing. A check already running finishes and calls its `done`.
  void Cancel(Ticket ticket);
  // True while `user` is still the account `stamp` came from (not removed, not re-added).
  bool StillValid(const std::string& user, const std::string& stamp);
  // Runs the checks waiting, then ends the threads.
  void Stop();

 private:
  struct Check {
    std::string client;
    std::string user;
    std::string password;
    Done done;
  };
  // Runs checks of lanes 0 to `lastLane` (0: clients known to the account) until Stop.
  void Work(int lastLane);
  std::optional<Answer> Queue(bool known, const std::string& client, const std::string& user,
                              std::string password, Done done, Ticket& ticket);

  LoginThrottle& throttle_;
  PasswordChecker& checker_;
  FairQueue<Check> queue_;
  std::atomic<Ticket> nextTicket_{1};
  std::vector<std::thread> threads_;
};

// The reply text and log outcome of a refused login (not for kAccepted).
struct LoginRefusal {
  const char* reply;
  const char* outcome;
};
LoginRefusal DescribeRefusal(LoginGate::Outcome outcome);

}  // namespace corvantis::server
