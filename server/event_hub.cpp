#include "server/event_hub.h"

#include <mutex>

namespace corvantis::server {

uint64_t EventHub::Subscribe(Listener listener) {
  std::unique_lock lock(mutex_);
  const uint64_t id = next_++;
  listeners_.emplace(id, std::move(listener));
  return id;
}

void EventHub::Unsubscribe(uint64_t id) {
  std::unique_lock lock(mutex_);  // waits for a publication in progress
  listeners_.erase(id);
}

void EventHub::Publish(const std::vector<Notice>& notices) {
  if (notices.empty()) return;
  std::shared_lock lock(mutex_);
  for (const Notice& notice : notices) {
    for (auto& [id, listener] : listeners_) listener(notice);
  }
}

}  // namespace corvantis::server
