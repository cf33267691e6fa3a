// Bounds the snapshot bytes that all connections hold in memory at once. A connection asks
// for its body's size before it acknowledges a header; when the budget is spent it waits
// until stored uploads give bytes back, or gives up its turn (Cancel).
//
// Small and large bodies wait apart, so a large one waiting never holds back a small one
// that fits: a body is large above a sixteenth of the budget, and large bodies together
// hold at most three quarters of it (one alone may take more when no other large body is
// held), which leaves a quarter to small bodies whatever large ones announce. Within each
// kind, waiters are served in order of arrival. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace corvantis::server {

class BodyBudget {
 public:
  using Ticket = uint64_t;

  explicit BodyBudget(std::size_t total);

  // Takes `size` bytes (at most the total) and returns true. Otherwise queues the request,
  // sets `ticket` and returns false; `granted` is then called once the bytes are taken for
  // it (on the thread that gave them back), unless Cancel comes first.
  bool Acquire(std::size_t size, std::function<void()> granted, Ticket& ticket);
  // Takes back a request still waiting and returns true; false when it was granted already.
  bool Cancel(Ticket ticket);
  // Gives back the bytes of a granted request of `size`.
  void Release(std::size_t size);
  std::size_t total() const { return total_; }

 private:
  struct Waiter {
    Ticket ticket;
    std::size_t size;
    std::function<void()> granted;
  };
  bool Large(std::size_t size) const { return size > largeFrom_; }
  bool Fits(std::size_t size) const;
  void Take(std::size_t size);

  const std::size_t total_;
  const std::size_t largeFrom_;   // sizes above this are large
  const std::size_t largeShare_;  // what large bodies hold together at most
  std::mutex mutex_;
  std::size_t free_;
  std::size_t largeHeld_ = 0;
  Ticket nextTicket_ = 1;
  std::deque<Waiter> small_, large_;
};

}  // namespace corvantis::server
