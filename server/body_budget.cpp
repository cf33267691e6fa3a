#include "server/body_budget.h"

#include <algorithm>
#include <vector>

namespace corvantis::server {

bool BodyBudget::Acquire(std::size_t size, std::function<void()> granted) {
  size = std::min(size, total_);
  std::lock_guard lock(mutex_);
  if (waiting_.empty() && size <= free_) {
    free_ -= size;
    return true;
  }
  waiting_.push_back({size, std::move(granted)});
  return false;
}

void BodyBudget::Release(std::size_t size) {
  size = std::min(size, total_);
  std::vector<std::function<void()>> ready;
  {
    std::lock_guard lock(mutex_);
    free_ += size;
    while (!waiting_.empty() && waiting_.front().size <= free_) {
      free_ -= waiting_.front().size;
      ready.push_back(std::move(waiting_.front().granted));
      waiting_.pop_front();
    }
  }
  for (auto& granted : ready) granted();
}

}  // namespace corvantis::server
