#include "server/log_limiter.h"

namespace corvantis::server {

bool LogLimiter::Allow(uint64_t& held, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (written_ && now - last_ < period_) {
    ++held_;
    return false;
  }
  written_ = true;
  last_ = now;
  held = held_;
  held_ = 0;
  return true;
}

}  // namespace corvantis::server
