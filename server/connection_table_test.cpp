// The count of connections per client and in all, and the key a client is counted under.
#include "server/connection_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "server/client_key.h"
#include "server/log_limiter.h"

namespace corvantis::server {
namespace {

using Refusal = ConnectionTable::Refusal;

TEST(ConnectionTable, CountsEachClientAndTheWholeUntilThePlacesAreGiven) {
  ConnectionTable table(5, 2);
  std::vector<ConnectionPlace> places(6);
  EXPECT_EQ(table.Enter("a", places[0]), Refusal::kNone);
  EXPECT_EQ(table.Enter("a", places[1]), Refusal::kNone);
  EXPECT_EQ(table.Enter("a", places[2]), Refusal::kClientFull);
  EXPECT_EQ(table.Enter("b", places[2]), Refusal::kNone);
  EXPECT_EQ(table.Enter("c", places[3]), Refusal::kNone);
  EXPECT_EQ(table.Enter("d", places[4]), Refusal::kNone);
  EXPECT_EQ(table.Enter("e", places[5]), Refusal::kServerFull);
  EXPECT_EQ(table.Total(), 5u);
  EXPECT_EQ(table.From("a"), 2u);

  // A place moves with its connection and is given back once.
  ConnectionPlace moved = std::move(places[0]);
  places[0] = ConnectionPlace();
  EXPECT_EQ(table.From("a"), 2u);
  moved = ConnectionPlace();
  EXPECT_EQ(table.From("a"), 1u);
  EXPECT_EQ(table.Enter("a", places[5]), Refusal::kNone);
  places.clear();
  EXPECT_EQ(table.Total(), 0u);
  EXPECT_EQ(table.From("a"), 0u);
}

TEST(ClientKey, CountsAnIpv6HostByItsNetwork) {
  using asio::ip::make_address;
  EXPECT_EQ(ClientKey(make_address("192.0.2.7")), "192.0.2.7");
  EXPECT_EQ(ClientKey(make_address("::ffff:192.0.2.7")), "192.0.2.7");
  EXPECT_EQ(ClientKey(make_address("2001:db8:1:2:aaaa:bbbb:cccc:dddd")), "2001:db8:1:2::/64");
  EXPECT_EQ(ClientKey(make_address("2001:db8:1:2::1")), ClientKey(make_address("2001:db8:1:2::2")));
  EXPECT_NE(ClientKey(make_address("2001:db8:1:2::1")), ClientKey(make_address("2001:db8:1:3::1")));
}

TEST(LogLimiter, LetsOneLineThroughEachPeriodAndCountsTheRest) {
  using namespace std::chrono_literals;
  LogLimiter limiter(1s);
  const auto t0 = LogLimiter::Clock::time_point{} + 100s;
  uint64_t held = 99;
  EXPECT_TRUE(limiter.Allow(held, t0));
  EXPECT_EQ(held, 0u);
  EXPECT_FALSE(limiter.Allow(held, t0 + 100ms));
  EXPECT_FALSE(limiter.Allow(held, t0 + 999ms));
  EXPECT_TRUE(limiter.Allow(held, t0 + 1s));
  EXPECT_EQ(held, 2u);
  EXPECT_FALSE(limiter.Allow(held, t0 + 1500ms));
  EXPECT_TRUE(limiter.Allow(held, t0 + 5s));
  EXPECT_EQ(held, 1u);
}

}  // namespace
}  // namespace corvantis::server
