#include "server/body_budget.h"

#include <algorithm>
#include <vector>

namespace corvantis::server {

BodyBudget::BodyBudget(std::size_t total)
    : total_(total), largeFrom_(total / 16), largeShare_(total - total / 4), free_(total) {}

bool BodyBudget::Fits(std::size_t size) const {
  if (size > free_) return false;
  return !Large(size) || largeHeld_ == 0 || largeHeld_ + size <= largeShare_;
}

void BodyBudget::Take(std::size_t size) {
  free_ -= size;
  if (Large(size)) largeHeld_ += size;
}

bool BodyBudget::Acquire(std::size_t size, std::function<void()> granted, Ticket& ticket) {
  size = std::min(size, total_);
  std::lock_guard lock(mutex_);
  auto& queue = Large(size) ? large_ : small_;
  if (queue.empty() && Fits(size)) {
    Take(size);
    return true;
  }
  ticket = nextTicket_++;
  queue.push_back({ticket, size, std::move(granted)});
  return false;
}

bool BodyBudget::Cancel(Ticket ticket) {
  std::function<void()> dropped;  // destroyed outside the lock
  std::lock_guard lock(mutex_);
  for (auto* queue : {&small_, &large_}) {
    const auto it = std::find_if(queue->begin(), queue->end(),
                                 [ticket](const Waiter& w) { return w.ticket == ticket; });
    if (it != queue->end()) {
      dropped = std::move(it->granted);
      queue->erase(it);
      return true;
    }
  }
  return false;
}

void BodyBudget::Release(std::size_t size) {
  size = std::min(size, total_);
  std::vector<std::function<void()>> ready;
  {
    std::lock_guard lock(mutex_);
    free_ += size;
    if (Large(size)) largeHeld_ -= size;
    for (auto* queue : {&small_, &large_}) {
      while (!queue->empty() && Fits(queue->front().size)) {
        Take(queue->front().size);
        ready.push_back(std::move(queue->front().granted));
        queue->pop_front();
      }
    }
  }
  for (auto& granted : ready) granted();
}

}  // namespace corvantis::server
