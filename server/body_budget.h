// Bounds the snapshot bytes that all connections hold in memory at once. A connection asks
// for its body's size before it acknowledges a header; when the budget is spent it waits, in
// order of arrival, until stored uploads give bytes back. Thread-safe.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace corvantis::server {

class BodyBudget {
 public:
  explicit BodyBudget(std::size_t total) : free_(total), total_(total) {}

  // Takes `size` bytes (at most the total) and returns true, or returns false and calls
  // `granted` later, from the thread that releases enough bytes, once they are taken.
  bool Acquire(std::size_t size, std::function<void()> granted);
  void Release(std::size_t size);
  std::size_t total() const { return total_; }

 private:
  struct Waiter {
    std::size_t size;
    std::function<void()> granted;
  };
  std::mutex mutex_;
  std::size_t free_;
  const std::size_t total_;
  std::deque<Waiter> waiting_;
};

}  // namespace corvantis::server
