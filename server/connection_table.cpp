#include "server/connection_table.h"

#include <utility>

namespace corvantis::server {

ConnectionPlace::ConnectionPlace(ConnectionPlace&& other) noexcept
    : table_(std::exchange(other.table_, nullptr)), key_(std::move(other.key_)) {}

ConnectionPlace& ConnectionPlace::operator=(ConnectionPlace&& other) noexcept {
  if (this != &other) {
    Leave();
    table_ = std::exchange(other.table_, nullptr);
    key_ = std::move(other.key_);
  }
  return *this;
}

ConnectionPlace::~ConnectionPlace() {
  Leave();
}

void ConnectionPlace::Leave() {
  if (table_) std::exchange(table_, nullptr)->Leave(key_);
}

ConnectionTable::Refusal ConnectionTable::Enter(const std::string& key, ConnectionPlace& place) {
  place.Leave();
  std::lock_guard lock(mutex_);
  if (total_ >= maxTotal_) return Refusal::kServerFull;
  std::size_t& count = perClient_[key];
  if (count >= maxPerClient_) {
    if (count == 0) perClient_.erase(key);
    return Refusal::kClientFull;
  }
  ++count;
  ++total_;
  place.table_ = this;
  place.key_ = key;
  return Refusal::kNone;
}

void ConnectionTable::Leave(const std::string& key) {
  std::lock_guard lock(mutex_);
  --total_;
  const auto it = perClient_.find(key);
  if (it != perClient_.end() && --it->second == 0) perClient_.erase(it);
  left_.notify_all();
}

bool ConnectionTable::WaitUntilAtMost(std::size_t total, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return left_.wait_for(lock, timeout, [&] { return total_ <= total; });
}

std::size_t ConnectionTable::Total() {
  std::lock_guard lock(mutex_);
  return total_;
}

std::size_t ConnectionTable::From(const std::string& key) {
  std::lock_guard lock(mutex_);
  const auto it = perClient_.find(key);
  return it == perClient_.end() ? 0 : it->second;
}

}  // namespace corvantis::server
