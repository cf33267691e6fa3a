// Lets one kind of log line through at most once a period and counts the ones held back, so
// a flood of refused clients cannot flood the log.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace corvantis::server {

// Thread-safe.
class LogLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  explicit LogLimiter(Clock::duration period = std::chrono::seconds(1)) : period_(period) {}

  // True when a line may be written now; `held` is then how many lines were held back since
  // the last one let through. False (the line is held back and counted) otherwise.
  bool Allow(uint64_t& held, Clock::time_point now = Clock::now());

 private:
  const Clock::duration period_;
  std::mutex mutex_;
  bool written_ = false;
  Clock::time_point last_;
  uint64_t held_ = 0;
};

}  // namespace corvantis::server
