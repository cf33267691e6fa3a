// The server's wall clock: upload times, event gaps and retention ages all read it. In
// production it is the system's clock; tests put a clock they move by hand in its place, so
// an event opens and closes without any real waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace corvantis::server {

// UTC time with microseconds, the resolution of the stored times.
using TimePoint = std::chrono::sys_time<std::chrono::microseconds>;
constexpr TimePoint kNever = TimePoint::max();

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint Now() = 0;
  // Waits on `wake` (whose mutex `lock` holds) until it is notified or this clock reaches
  // `deadline` (kNever: no deadline). May return early; callers check their condition.
  virtual void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                         TimePoint deadline) = 0;
};

// The system's clock, shared by the whole process.
Clock& SystemClock();

// A clock that stands still until a test moves it. Moving it wakes every waiter whose
// deadline it reaches, under the waiter's own mutex, so no wake-up is lost.
class ManualClock : public Clock {
 public:
  explicit ManualClock(TimePoint start);
  TimePoint Now() override;
  void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline) override;
  void Advance(std::chrono::microseconds by);

 private:
  std::mutex mutex_;
  TimePoint now_;
  std::multimap<std::condition_variable*, std::mutex*> waiters_;
};

// "2024-05-01T12:03:04.123456Z", the form every stored time takes (it sorts as text).
std::string FormatTime(TimePoint time);
// The inverse of FormatTime; nothing for any other text.
std::optional<TimePoint> ParseTime(std::string_view text);

}  // namespace corvantis::server
