// The login gate: what it answers at once, and the checks it takes back.
#include "server/login_gate.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

#include "server/test_support.h"

namespace corvantis::server {
namespace {

using namespace std::chrono_literals;
using Outcome = LoginGate::Outcome;

// A gate over a data directory with one account, allowing two attempts per client.
struct Gate {
  explicit Gate(std::chrono::seconds remembered = 300s, int threads = 1)
      : checker(dir.path(), remembered), gate(throttle, checker, {threads, 4, 64}) {
    testing::AddUser(dir.path(), "alice", "secret1");
  }
  testing::TempDir dir;
  PasswordChecker checker;
  LoginThrottle throttle{{2, 10, 60s, 100}};
  LoginGate gate;
};

TEST(LoginGate, AnswersAtOnceWhatNeedsNoCheck) {
  Gate g;
  LoginGate::Ticket ticket = 0;
  std::promise<LoginGate::Answer> checked;
  ASSERT_FALSE(g.gate.Begin(
      "10.0.0.1", "alice", "secret1", [&](LoginGate::Answer a) { checked.set_value(std::move(a)); },
      ticket));
  const auto first = checked.get_future().get();
  EXPECT_EQ(first.outcome, Outcome::kAccepted);
  EXPECT_EQ(first.stamp, g.checker.Stamp("alice"));

  // Verified a moment ago: answered on the caller's thread.
  auto again = g.gate.Begin(
      "10.0.0.1", "alice", "secret1", [](LoginGate::Answer) {}, ticket);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->outcome, Outcome::kAccepted);
  // Names and passwords no account can have: refused unchecked, counted for the client.
  EXPECT_EQ(g.gate.Begin("10.0.0.2", "bob", "secret1", {}, ticket)->outcome, Outcome::kRefused);
  EXPECT_EQ(g.gate.Begin("10.0.0.2", "alice", "abc", {}, ticket)->outcome, Outcome::kRefused);
  EXPECT_EQ(g.gate.Begin("10.0.0.2", "alice", "secret1", {}, ticket)->outcome, Outcome::kThrottled);

  EXPECT_TRUE(g.gate.StillValid("alice", first.stamp));
  testing::RemoveUser(g.dir.path(), "alice");
  EXPECT_FALSE(g.gate.StillValid("alice", first.stamp));
}

TEST(LoginGate, TakesBackTheCheckOfAClientThatHasGone) {
  Gate g;
  // The one checker thread is held inside the first check's answer.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<Outcome> first;
  LoginGate::Ticket ticket = 0;
  ASSERT_FALSE(g.gate.Begin(
      "10.0.0.1", "alice", "wrong1",
      [&](LoginGate::Answer a) {
        first.set_value(a.outcome);
        released.wait();
      },
      ticket));
  bool secondAnswered = false;
  LoginGate::Ticket second = 0;
  ASSERT_FALSE(g.gate.Begin(
      "10.0.0.1", "alice", "wrong2", [&](LoginGate::Answer) { secondAnswered = true; }, second));
  // Two attempts in hand: a third waits for one of them to end.
  EXPECT_EQ(g.gate.Begin("10.0.0.1", "alice", "wrong3", {}, ticket)->outcome,
            Outcome::kTooManyAtOnce);

  // The second's client has gone: its check never runs, and its place is free again.
  g.gate.Cancel(second);
  std::promise<Outcome> third;
  EXPECT_FALSE(g.gate.Begin(
      "10.0.0.1", "alice", "wrong3", [&](LoginGate::Answer a) { third.set_value(a.outcome); },
      ticket));
  release.set_value();
  g.gate.Stop();
  EXPECT_EQ(first.get_future().get(), Outcome::kRefused);
  EXPECT_EQ(third.get_future().get(), Outcome::kRefused);
  EXPECT_FALSE(secondAnswered);
}

TEST(LoginGate, ServesAClientKnownToTheAccountBeforeOthers) {
  Gate g(0s);  // nothing remembered: every login is checked
  LoginGate::Ticket ticket = 0;
  std::promise<Outcome> before;
  ASSERT_FALSE(g.gate.Begin(
      "10.0.0.9", "alice", "secret1", [&](LoginGate::Answer a) { before.set_value(a.outcome); },
      ticket));
  ASSERT_EQ(before.get_future().get(), Outcome::kAccepted);

  // Guesses from elsewhere wait behind a check that holds the one checker thread.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  ASSERT_FALSE(g.gate.Begin(
      "10.0.1.1", "alice", "wrong1", [&](LoginGate::Answer) { released.wait(); }, ticket));
  std::mutex mutex;
  std::vector<std::string> order;
  auto note = [&](const char* who) {
    return [&, who](LoginGate::Answer) {
      std::lock_guard lock(mutex);
      order.push_back(who);
    };
  };
  for (int i = 2; i <= 4; ++i) {
    ASSERT_FALSE(g.gate.Begin("10.0.1." + std::to_string(i), "alice", "wrong" + std::to_string(i),
                              note("guess"), ticket));
  }
  // The client that logged in before comes last and is served first.
  ASSERT_FALSE(g.gate.Begin("10.0.0.9", "alice", "secret1", note("camera"), ticket));
  release.set_value();
  g.gate.Stop();
  EXPECT_EQ(order, (std::vector<std::string>{"camera", "guess", "guess", "guess"}));
}

TEST(LoginGate, KeepsAThreadForClientsKnownToTheAccount) {
  Gate g(0s, 2);
  LoginGate::Ticket ticket = 0;
  std::promise<Outcome> before;
  ASSERT_FALSE(g.gate.Begin(
      "10.0.0.9", "alice", "secret1", [&](LoginGate::Answer a) { before.set_value(a.outcome); },
      ticket));
  ASSERT_EQ(before.get_future().get(), Outcome::kAccepted);

  // Guesses from elsewhere, each holding its thread once checked, until released.
  std::mutex mutex;
  std::condition_variable changed;
  int holding = 0;
  bool released = false;
  auto hold = [&](LoginGate::Answer) {
    std::unique_lock lock(mutex);
    ++holding;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  };
  for (int i = 1; i <= 3; ++i) {
    ASSERT_FALSE(g.gate.Begin("10.0.1." + std::to_string(i), "alice", "wrong" + std::to_string(i),
                              hold, ticket));
  }
  {
    // One guess takes a thread; a second never does, however long it is given.
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return holding >= 1; }));
    EXPECT_FALSE(changed.wait_for(lock, 500ms, [&] { return holding >= 2; }));
  }
  // The thread kept free answers the known client.
  std::promise<Outcome> camera;
  ASSERT_FALSE(g.gate.Begin(
      "10.0.0.9", "alice", "secret1", [&](LoginGate::Answer a) { camera.set_value(a.outcome); },
      ticket));
  auto answered = camera.get_future();
  const bool inTime = answered.wait_for(10s) == std::future_status::ready;
  {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  g.gate.Stop();
  ASSERT_TRUE(inTime);
  EXPECT_EQ(answered.get(), Outcome::kAccepted);
}

}  // namespace
}  // namespace corvantis::server
