// The server's clock: stored times as text, and a clock tests move by hand.
#include "server/clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace corvantis::server {
namespace {

using namespace std::chrono;

TEST(Clock, StoredTimesReadBackExactlyAndNothingElseParses) {
  const TimePoint time =
      sys_days(year(2024) / 2 / 29) + hours(23) + minutes(59) + seconds(58) + microseconds(123456);
  EXPECT_EQ(FormatTime(time), "2024-02-29T23:59:58.123456Z");
  EXPECT_EQ(ParseTime("2024-02-29T23:59:58.123456Z"), time);
  EXPECT_EQ(ParseTime(FormatTime(TimePoint{})), TimePoint{});
  for (const char* bad : {"", "2024-02-30T00:00:00.000000Z", "2024-02-29T24:00:00.000000Z",
                          "2024-02-29T23:59:58.123456", "2024-02-29 23:59:58.123456Z",
                          "2024-02-29T23:59:58.12345xZ", "+024-02-29T23:59:58.123456Z"}) {
    EXPECT_FALSE(ParseTime(bad)) << bad;
  }
}

TEST(Clock, MovingAManualClockWakesAWaiterWhoseDeadlineItReaches) {
  ManualClock clock(TimePoint{} + hours(1));
  std::mutex mutex;
  std::condition_variable wake;
  bool woke = false;
  std::thread waiter([&] {
    std::unique_lock lock(mutex);
    const TimePoint deadline = TimePoint{} + hours(1) + seconds(30);
    while (clock.Now() < deadline) clock.WaitUntil(wake, lock, deadline);
    woke = true;
  });
  clock.Advance(seconds(10));
  clock.Advance(seconds(20));
  waiter.join();
  EXPECT_TRUE(woke);
  EXPECT_EQ(clock.Now(), TimePoint{} + hours(1) + seconds(30));
}

}  // namespace
}  // namespace corvantis::server
