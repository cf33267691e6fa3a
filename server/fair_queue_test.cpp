// The queue of password checks: clients served in turn, the first lane first, bounded,
// checks taken back unrun.
#include "server/fair_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace corvantis::server {
namespace {

using Queue = FairQueue<std::string>;

std::vector<std::string> Drain(Queue& queue) {
  std::vector<std::string> order;
  queue.Stop();
  while (auto next = queue.Pop()) {
    order.push_back(next->item);
    queue.Done(*next);
  }
  return order;
}

TEST(FairQueue, ServesEveryClientInTurn) {
  Queue queue(100, 100);
  uint64_t id = 0;
  for (const char* item : {"a1", "a2", "a3", "a4"}) queue.Push(1, "a", ++id, item);
  queue.Push(1, "b", ++id, "b1");
  queue.Push(1, "c", ++id, "c1");
  queue.Push(1, "b", ++id, "b2");
  // One client's pile waits behind one item of each of the others.
  EXPECT_EQ(Drain(queue), (std::vector<std::string>{"a1", "b1", "c1", "a2", "b2", "a3", "a4"}));
  EXPECT_EQ(queue.Push(1, "a", ++id, "late"), Queue::Pushed::kStopped);
}

TEST(FairQueue, ServesTheFirstLaneFirst) {
  Queue queue(100, 100);
  queue.Push(1, "a", 1, "a1");
  queue.Push(1, "b", 2, "b1");
  queue.Push(0, "k", 3, "k1");
  queue.Push(1, "a", 4, "a2");
  queue.Push(0, "k", 5, "k2");
  EXPECT_EQ(Drain(queue), (std::vector<std::string>{"k1", "k2", "a1", "b1", "a2"}));
}

TEST(FairQueue, AWorkerOfTheFirstLaneLeavesTheSecondToOthers) {
  Queue queue(100, 100);
  queue.Push(1, "a", 1, "a1");
  queue.Push(0, "k", 2, "k1");
  queue.Stop();
  auto first = queue.Pop(0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->item, "k1");
  EXPECT_FALSE(queue.Pop(0));
  auto second = queue.Pop();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->item, "a1");
}

TEST(FairQueue, BoundsEachClientAndTheWhole) {
  Queue queue(2, 3);
  EXPECT_EQ(queue.Push(1, "a", 1, "a1"), Queue::Pushed::kQueued);
  EXPECT_EQ(queue.Push(1, "a", 2, "a2"), Queue::Pushed::kQueued);
  EXPECT_EQ(queue.Push(1, "a", 3, "a3"), Queue::Pushed::kClientFull);
  EXPECT_EQ(queue.Push(1, "b", 4, "b1"), Queue::Pushed::kQueued);
  EXPECT_EQ(queue.Push(1, "c", 5, "c1"), Queue::Pushed::kFull);
  // An item being worked on still counts for its client, not for the whole.
  auto first = queue.Pop();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->item, "a1");
  EXPECT_EQ(queue.Push(1, "a", 6, "a3"), Queue::Pushed::kClientFull);
  EXPECT_EQ(queue.Push(1, "c", 7, "c1"), Queue::Pushed::kQueued);
  queue.Done(*first);
  EXPECT_EQ(queue.Push(1, "a", 8, "a3"), Queue::Pushed::kFull);
  // Each lane has room of its own.
  EXPECT_EQ(queue.Push(0, "a", 9, "a3"), Queue::Pushed::kQueued);
}

TEST(FairQueue, TakesBackOnlyWhatStillWaits) {
  Queue queue(10, 10);
  queue.Push(1, "a", 1, "a1");
  queue.Push(1, "a", 2, "a2");
  queue.Push(1, "b", 3, "b1");
  queue.Push(1, "c", 4, "c1");
  EXPECT_EQ(queue.Cancel(1), std::optional<std::string>("a1"));
  EXPECT_EQ(queue.Cancel(3), std::optional<std::string>("b1"));  // b's turn goes with it
  EXPECT_FALSE(queue.Cancel(3));
  auto next = queue.Pop();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->item, "a2");
  EXPECT_FALSE(queue.Cancel(2));  // handed out already
  queue.Done(*next);
  EXPECT_EQ(Drain(queue), std::vector<std::string>{"c1"});
}

TEST(FairQueue, WakesAWaitingWorker) {
  Queue queue(10, 10);
  std::string got;
  std::thread worker([&] {
    if (auto next = queue.Pop()) got = next->item;
  });
  queue.Push(1, "a", 1, "a1");
  worker.join();
  EXPECT_EQ(got, "a1");
  std::thread idle([&] { EXPECT_FALSE(queue.Pop()); });
  queue.Stop();
  idle.join();
}

}  // namespace
}  // namespace corvantis::server
