// The web gallery's sign-in goes through the same door as a camera's login on the alarm
// port: the same throttle of failed attempts per client address, shared with that port, and
// the same password checker (its threads, its memory of recent verifications). This is the
// one place the gallery touches them.
#pragma once

#include <functional>
#include <string>

#include "server/login_guard.h"
#include "server/password_checker.h"

namespace corvantis::server {

class SignInCheck {
 public:
  enum class Outcome { kAccepted, kRefused, kThrottled };

  SignInCheck(LoginThrottle& throttle, PasswordChecker& checker)
      : throttle_(throttle), checker_(checker) {}

  // Checks `user` and `password` for a sign-in from `client` (its address); calls `done`
  // once, on this thread or on a password-checking thread.
  void Check(const std::string& client, const std::string& user, std::string password,
             std::function<void(Outcome)> done);

 private:
  LoginThrottle& throttle_;
  PasswordChecker& checker_;
};

}  // namespace corvantis::server
