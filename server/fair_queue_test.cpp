// The queue of password checks: clients served in turn, bounded, checks taken back unrun.
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
    order.push_back(next->second);
    queue.Done(next->first);
  }
  return order;
}

TEST(FairQueue, ServesEveryClientInTurn) {
  Queue queue(100, 100);
  uint64_t id = 0;
  for (const char* item : {"a1", "a2", "a3", "a4"}) queue.Push("a", ++id, item);
  queue.Push("b", ++id, "b1");
  queue.Push("c", ++id, "c1");
  queue.Push("b", ++id, "b2");
  // One client's pile waits behind one item of each of the others.
  EXPECT_EQ(Drain(queue), (std::vector<std::string>{"a1", "b1", "c1", "a2", "b2", "a3", "a4"}));
  EXPECT_EQ(queue.Push("a", ++id, "late"), Queue::Pushed::kStopped);
}

TEST(FairQueue, BoundsEachClientAndTheWhole) {
  Queue queue(2, 3);
  EXPECT_EQ(queue.Push("a", 1, "a1"), Queue::Pushed::kQueued);
  EXPECT_EQ(queue.Push("a", 2, "a2"), Queue::Pushed::kQueued);
  EXPECT_EQ(queue.Push("a", 3, "a3"), Queue::Pushed::kClientFull);
  EXPECT_EQ(queue.Push("b", 4, "b1"), Queue::Pushed::kQueued);
  EXPECT_EQ(queue.Push("c", 5, "c1"), Queue::Pushed::kFull);
  // An item being worked on still counts for its client, not for the whole.
  auto first = queue.Pop();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->second, "a1");
  EXPECT_EQ(queue.Push("a", 6, "a3"), Queue::Pushed::kClientFull);
  EXPECT_EQ(queue.Push("c", 7, "c1"), Queue::Pushed::kQueued);
  queue.Done("a");
  EXPECT_EQ(queue.Push("a", 8, "a3"), Queue::Pushed::kFull);
  EXPECT_EQ(queue.Waiting(), 3u);
}

TEST(FairQueue, TakesBackOnlyWhatStillWaits) {
  Queue queue(10, 10);
  queue.Push("a", 1, "a1");
  queue.Push("a", 2, "a2");
  queue.Push("b", 3, "b1");
  queue.Push("c", 4, "c1");
  EXPECT_EQ(queue.Cancel(1), std::optional<std::string>("a1"));
  EXPECT_EQ(queue.Cancel(3), std::optional<std::string>("b1"));  // b's turn goes with it
  EXPECT_FALSE(queue.Cancel(3));
  auto next = queue.Pop();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->second, "a2");
  EXPECT_FALSE(queue.Cancel(2));  // handed out already
  queue.Done("a");
  EXPECT_EQ(Drain(queue), std::vector<std::string>{"c1"});
}

TEST(FairQueue, WakesAWaitingWorker) {
  Queue queue(10, 10);
  std::string got;
  std::thread worker([&] {
    if (auto next = queue.Pop()) got = next->second;
  });
  queue.Push("a", 1, "a1");
  worker.join();
  EXPECT_EQ(got, "a1");
  std::thread idle([&] { EXPECT_FALSE(queue.Pop()); });
  queue.Stop();
  idle.join();
}

}  // namespace
}  // namespace corvantis::server
