// The memory budget of bodies: small bodies never wait behind large ones, waits can end.
#include "server/body_budget.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvantis::server {
namespace {

TEST(BodyBudget, KeepsAQuarterForSmallBodiesWhateverLargeOnesAsk) {
  BodyBudget budget(1600);  // large above 100; large ones hold 1200 at most
  std::vector<std::string> granted;
  BodyBudget::Ticket ticket = 0;
  EXPECT_TRUE(budget.Acquire(
      1000, [] {}, ticket));
  EXPECT_FALSE(budget.Acquire(
      500, [&] { granted.push_back("large"); }, ticket));
  // Small bodies pass the waiting large one while they fit.
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(budget.Acquire(
        100, [] {}, ticket));
  EXPECT_TRUE(budget.Acquire(
      60, [] {}, ticket));
  EXPECT_FALSE(budget.Acquire(
      100, [&] { granted.push_back("small"); }, ticket));
  budget.Release(60);
  EXPECT_EQ(granted, std::vector<std::string>{"small"});
  budget.Release(1000);
  EXPECT_EQ(granted, (std::vector<std::string>{"small", "large"}));

  // One body larger than the large share passes when no other large body is held.
  BodyBudget alone(1600);
  EXPECT_TRUE(alone.Acquire(
      1600, [] {}, ticket));
  EXPECT_FALSE(alone.Acquire(
      1, [] {}, ticket));
  EXPECT_FALSE(alone.Acquire(
      5000, [] {}, ticket));  // counts as the whole budget
}

TEST(BodyBudget, ServesEachKindInOrderOfArrival) {
  BodyBudget budget(100);  // large above 6
  BodyBudget::Ticket ticket = 0;
  for (int i = 0; i < 16; ++i)
    ASSERT_TRUE(budget.Acquire(
        6, [] {}, ticket));
  std::vector<int> granted;
  EXPECT_FALSE(budget.Acquire(
      6, [&] { granted.push_back(1); }, ticket));
  EXPECT_FALSE(budget.Acquire(
      3, [&] { granted.push_back(2); }, ticket));  // fits, waits its turn
  budget.Release(6);
  EXPECT_EQ(granted, (std::vector{1, 2}));
}

TEST(BodyBudget, AWaitTakenBackIsNeverGranted) {
  BodyBudget budget(1600);
  BodyBudget::Ticket first = 0, second = 0, third = 0;
  ASSERT_TRUE(budget.Acquire(
      1600, [] {}, first));
  bool secondGranted = false, thirdGranted = false;
  EXPECT_FALSE(budget.Acquire(
      100, [&] { secondGranted = true; }, second));
  EXPECT_FALSE(budget.Acquire(
      100, [&] { thirdGranted = true; }, third));
  EXPECT_NE(second, third);
  EXPECT_TRUE(budget.Cancel(second));
  EXPECT_FALSE(budget.Cancel(second));
  budget.Release(1600);
  EXPECT_FALSE(secondGranted);
  EXPECT_TRUE(thirdGranted);
  EXPECT_FALSE(budget.Cancel(third));  // granted already: its bytes are held
  // Only the third's bytes are held now.
  EXPECT_TRUE(budget.Acquire(
      1500, [] {}, first));
  EXPECT_FALSE(budget.Acquire(
      1, [] {}, first));
}

}  // namespace
}  // namespace corvantis::server
