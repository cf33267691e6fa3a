// The login throttle: attempts counted before any check, per client and per account, and a
// table that stays bounded without ever forgetting a blocked client first.
#include "server/login_throttle.h"

#include <gtest/gtest.h>

namespace corvantis::server {
namespace {

using namespace std::chrono_literals;
using Verdict = LoginThrottle::Verdict;
using Result = LoginThrottle::Result;

const auto t0 = LoginThrottle::Clock::time_point{} + 1000s;

LoginThrottle::Limits Limits(int perClient, int perAccount, std::size_t entries = 16384) {
  return {perClient, perAccount, 60s, entries};
}

// One whole failed attempt.
void Fail(LoginThrottle& throttle, const std::string& client, const std::string& account,
          LoginThrottle::Clock::time_point at = t0) {
  ASSERT_EQ(throttle.Admit(client, account, at), Verdict::kAdmitted) << client << " " << account;
  throttle.Finish(client, account, Result::kFailed, true, at);
}

TEST(LoginThrottle, CountsAttemptsInHandBeforeAnyCheck) {
  LoginThrottle throttle(Limits(3, 100));
  // Three checks at once from one client: a fourth is refused before any has finished.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(throttle.Admit("10.0.0.1", "alice", t0), Verdict::kAdmitted);
  EXPECT_EQ(throttle.Admit("10.0.0.1", "alice", t0), Verdict::kTooManyAtOnce);
  EXPECT_EQ(throttle.Admit("10.0.0.2", "alice", t0), Verdict::kAdmitted);

  // A check dropped unrun gives its place back and fails nothing.
  throttle.Finish("10.0.0.1", "alice", Result::kDropped, true, t0);
  EXPECT_EQ(throttle.Admit("10.0.0.1", "alice", t0), Verdict::kAdmitted);
  // Failures and checks in hand add up: two failed and one in hand make three.
  throttle.Finish("10.0.0.1", "alice", Result::kFailed, true, t0);
  throttle.Finish("10.0.0.1", "alice", Result::kFailed, true, t0);
  EXPECT_EQ(throttle.Admit("10.0.0.1", "alice", t0), Verdict::kTooManyAtOnce);
  throttle.Finish("10.0.0.1", "alice", Result::kFailed, true, t0);
  EXPECT_EQ(throttle.Admit("10.0.0.1", "alice", t0), Verdict::kThrottled);
  // Until the window that began with the first failure is over.
  EXPECT_EQ(throttle.Admit("10.0.0.1", "alice", t0 + 59s), Verdict::kThrottled);
  EXPECT_EQ(throttle.Admit("10.0.0.1", "alice", t0 + 60s), Verdict::kAdmitted);
}

TEST(LoginThrottle, ASuccessClearsOnlyItsOwnAccount) {
  LoginThrottle throttle(Limits(5, 3));
  // A client that logs in to its own account between guesses at another gains nothing.
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(throttle.Admit("10.0.0.9", "mallory", t0), Verdict::kAdmitted);
    throttle.Finish("10.0.0.9", "mallory", Result::kSucceeded, true, t0);
    if (i < 3) {
      Fail(throttle, "10.0.0.9", "bob");
    } else {
      // bob's own count is full after three failures, wherever they come from.
      EXPECT_EQ(throttle.Admit("10.0.0.9", "bob", t0), Verdict::kThrottled);
      Fail(throttle, "10.0.0.9", "carol");
    }
  }
  EXPECT_EQ(throttle.Admit("10.0.0.9", "mallory", t0), Verdict::kThrottled);
  EXPECT_EQ(throttle.Admit("10.0.0.10", "bob", t0), Verdict::kThrottled);

  // A success at bob clears bob's count, not the clients'.
  LoginThrottle other(Limits(2, 3));
  Fail(other, "10.0.1.1", "bob");
  Fail(other, "10.0.1.1", "alice");
  ASSERT_EQ(other.Admit("10.0.1.2", "bob", t0), Verdict::kAdmitted);
  other.Finish("10.0.1.2", "bob", Result::kSucceeded, true, t0);
  EXPECT_EQ(other.Admit("10.0.1.1", "carol", t0), Verdict::kThrottled);
}

TEST(LoginThrottle, GuessesAtAnAccountDoNotLockOutAClientThatLoggedIn) {
  LoginThrottle throttle(Limits(5, 3));
  ASSERT_EQ(throttle.Admit("192.0.2.7", "camera", t0), Verdict::kAdmitted);
  throttle.Finish("192.0.2.7", "camera", Result::kSucceeded, true, t0);
  for (int i = 0; i < 3; ++i) Fail(throttle, "198.51.100." + std::to_string(i), "camera");
  EXPECT_EQ(throttle.Admit("198.51.100.50", "camera", t0 + 1s), Verdict::kThrottled);
  // The camera's own address still gets its check, and its success ends the block.
  bool known = false;
  ASSERT_EQ(throttle.Admit("198.51.100.9", "nobody", t0 + 1s, &known), Verdict::kAdmitted);
  EXPECT_FALSE(known);
  ASSERT_EQ(throttle.Admit("192.0.2.7", "camera", t0 + 1s, &known), Verdict::kAdmitted);
  EXPECT_TRUE(known);
  throttle.Finish("192.0.2.7", "camera", Result::kSucceeded, true, t0 + 1s);
  EXPECT_EQ(throttle.Admit("198.51.100.50", "camera", t0 + 1s), Verdict::kAdmitted);
}

TEST(LoginThrottle, AnAccountCountsTheAttemptsInHandFromEveryClient) {
  LoginThrottle throttle(Limits(5, 3));
  ASSERT_EQ(throttle.Admit("192.0.2.7", "camera", t0), Verdict::kAdmitted);
  throttle.Finish("192.0.2.7", "camera", Result::kSucceeded, true, t0);
  // Guesses from as many addresses as there are attempts: the account's count holds them,
  // before any has failed.
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(throttle.Admit("198.51.100." + std::to_string(i), "camera", t0), Verdict::kAdmitted);
  }
  EXPECT_EQ(throttle.Admit("198.51.100.50", "camera", t0), Verdict::kTooManyAtOnce);
  EXPECT_EQ(throttle.Admit("198.51.100.50", "alice", t0), Verdict::kAdmitted);
  // The camera's own address is not held back.
  EXPECT_EQ(throttle.Admit("192.0.2.7", "camera", t0), Verdict::kAdmitted);
  throttle.Finish("192.0.2.7", "camera", Result::kSucceeded, true, t0);
  // One guess dropped unrun: its place at the account is free again.
  throttle.Finish("198.51.100.0", "camera", Result::kDropped, true, t0);
  EXPECT_EQ(throttle.Admit("198.51.100.50", "camera", t0), Verdict::kAdmitted);
}

TEST(LoginThrottle, MadeUpNamesCountForTheClientAlone) {
  LoginThrottle throttle(Limits(3, 1));
  // Failures at names no account has never block those names for others...
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(throttle.Admit("10.0.0." + std::to_string(i), "nobody", t0), Verdict::kAdmitted);
    throttle.Finish("10.0.0." + std::to_string(i), "nobody", Result::kFailed, false, t0);
  }
  EXPECT_EQ(throttle.Admit("10.0.0.7", "nobody", t0), Verdict::kAdmitted);
  // ...but do count for the client, as do names outside the rules (no account at all).
  Fail(throttle, "10.0.0.1", "");
  Fail(throttle, "10.0.0.1", "");
  EXPECT_EQ(throttle.Admit("10.0.0.1", "", t0), Verdict::kThrottled);
}

TEST(LoginThrottle, AFullTableEvictsItsOldestEntriesAndKeepsBlocksLongest) {
  LoginThrottle throttle(Limits(2, 100, 4));
  Fail(throttle, "10.9.9.9", "", t0);
  Fail(throttle, "10.9.9.9", "", t0);
  ASSERT_EQ(throttle.Admit("10.9.9.9", "", t0), Verdict::kThrottled);
  // Far more failing clients than the table holds: the blocked one stays blocked.
  for (int i = 0; i < 100; ++i) Fail(throttle, "10.1.0." + std::to_string(i), "", t0 + 1s);
  EXPECT_EQ(throttle.Admit("10.9.9.9", "", t0 + 2s), Verdict::kThrottled);
  // The oldest of the others were forgotten, the newest kept.
  Fail(throttle, "10.1.0.0", "", t0 + 2s);
  EXPECT_EQ(throttle.Admit("10.1.0.0", "", t0 + 2s), Verdict::kAdmitted);
  throttle.Finish("10.1.0.0", "", Result::kDropped, false, t0 + 2s);
  Fail(throttle, "10.1.0.99", "", t0 + 2s);
  EXPECT_EQ(throttle.Admit("10.1.0.99", "", t0 + 2s), Verdict::kThrottled);

  // Once the table holds blocked clients only, the one touched longest ago goes first.
  LoginThrottle full(Limits(1, 100, 3));
  for (int i = 0; i < 4; ++i)
    Fail(full, "10.2.0." + std::to_string(i), "", t0 + std::chrono::seconds(i));
  EXPECT_EQ(full.Admit("10.2.0.0", "", t0 + 5s), Verdict::kAdmitted);
  for (int i = 2; i < 4; ++i) {
    EXPECT_EQ(full.Admit("10.2.0." + std::to_string(i), "", t0 + 5s), Verdict::kThrottled);
  }
}

}  // namespace
}  // namespace corvantis::server
