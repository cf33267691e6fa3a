#include "server/clock.h"

#include <cstdio>
#include <ctime>

namespace corvantis::server {

namespace {

class RealClock : public Clock {
 public:
  TimePoint Now() override {
    return std::chrono::time_point_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now());
  }
  void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline) override {
    if (deadline == kNever) return wake.wait(lock);
    // Measured on the steady clock, so setting the system's time neither wakes nor strands
    // the waiter; a long wait returns early and the caller looks again.
    const auto left = std::min<std::chrono::microseconds>(deadline - Now(), std::chrono::hours(1));
    if (left.count() > 0) wake.wait_for(lock, left);
  }
};

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

ManualClock::ManualClock(TimePoint start) : now_(start) {}

TimePoint ManualClock::Now() {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualClock::WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                            TimePoint deadline) {
  std::multimap<std::condition_variable*, std::mutex*>::iterator entry;
  {
    std::lock_guard own(mutex_);
    if (now_ >= deadline) return;
    entry = waiters_.emplace(&wake, lock.mutex());
  }
  wake.wait(lock);
  std::lock_guard own(mutex_);
  waiters_.erase(entry);
}

void ManualClock::Advance(std::chrono::microseconds by) {
  std::multimap<std::condition_variable*, std::mutex*> waiters;
  {
    std::lock_guard own(mutex_);
    now_ += by;
    waiters = waiters_;
  }
  // Taking the waiter's mutex first means the waiter is either still before its check of the
  // time (and sees the new one) or already waiting (and is woken).
  for (auto [wake, mutex] : waiters) {
    std::lock_guard lock(*mutex);
    wake->notify_all();
  }
}

std::string FormatTime(TimePoint time) {
  const auto micros = time.time_since_epoch().count();
  const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(micros % 1000000));
  return text;
}

std::optional<TimePoint> ParseTime(std::string_view text) {
  // 2024-05-01T12:03:04.123456Z
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd.ddddddZ";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  auto number = [&](std::size_t at, std::size_t size) {
    int value = 0;
    for (std::size_t i = at; i < at + size; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  using namespace std::chrono;
  const year_month_day date{year(number(0, 4)), month(static_cast<unsigned>(number(5, 2))),
                            day(static_cast<unsigned>(number(8, 2)))};
  const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return sys_days(date) + hours(hour) + minutes(minute) + seconds(second) +
         microseconds(number(20, 6));
}

}  // namespace corvantis::server
