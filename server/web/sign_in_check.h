// The web gallery's sign-in goes through the same door as a camera's login on the alarm
// port: the login gate (login_gate.h), with its throttle shared with that port, its bounded
// and fair queue of checks and its memory of recent verifications. This is the one place
// the gallery touches it.
#pragma once

#include <functional>
#include <string>

#include "server/login_gate.h"

namespace corvantis::server {

class SignInCheck {
 public:
  enum class Outcome { kAccepted, kRefused, kThrottled };

  explicit SignInCheck(LoginGate& gate) : gate_(gate) {}

  // Checks `user` and `password` for a sign-in from `address` (the client's address as
  // written); calls `done` once, on this thread or on a password-checking thread. Every
  // answer of the gate other than accepted or refused (too many failures, too many attempts
  // in hand, too many checks waiting) is kThrottled.
  void Check(const std::string& address, const std::string& user, std::string password,
             std::function<void(Outcome)> done);

 private:
  LoginGate& gate_;
};

}  // namespace corvantis::server
