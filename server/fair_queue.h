// Work waiting its turn per client: Pop serves the clients with work waiting in turn (round
// robin), one item each, so a client with many items cannot hold back the others. Bounded
// per client (items waiting or being worked on) and in all (items waiting); an item can be
// taken back before its turn. Thread-safe.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace corvantis::server {

template <typename Item>
class FairQueue {
 public:
  enum class Pushed { kQueued, kClientFull, kFull, kStopped };

  FairQueue(std::size_t perClient, std::size_t total) : perClient_(perClient), total_(total) {}

  // Queues `item` for `client` under `id` (unique while queued).
  Pushed Push(const std::string& client, uint64_t id, Item item) {
    std::lock_guard lock(mutex_);
    if (stopped_) return Pushed::kStopped;
    if (waiting_ >= total_) return Pushed::kFull;
    Client& entry = clients_[client];
    if (entry.items.size() + entry.working >= perClient_) {
      if (entry.items.empty() && entry.working == 0) clients_.erase(client);
      return Pushed::kClientFull;
    }
    if (entry.items.empty()) turns_.push_back(client);
    entry.items.emplace_back(id, std::move(item));
    owners_.emplace(id, client);
    ++waiting_;
    ready_.notify_one();
    return Pushed::kQueued;
  }

  // Takes the item `id` back if it is still waiting; it will not be popped.
  std::optional<Item> Cancel(uint64_t id) {
    std::lock_guard lock(mutex_);
    const auto owner = owners_.find(id);
    if (owner == owners_.end()) return std::nullopt;
    const std::string client = std::move(owner->second);
    owners_.erase(owner);
    Client& entry = clients_.at(client);
    auto& items = entry.items;
    const auto it = std::find_if(items.begin(), items.end(),
                                 [id](const auto& item) { return item.first == id; });
    std::optional<Item> item(std::move(it->second));
    items.erase(it);
    --waiting_;
    if (items.empty()) {
      std::erase(turns_, client);
      if (entry.working == 0) clients_.erase(client);
    }
    return item;
  }

  // Waits for the next item in turn and hands it out with its client, which then counts it
  // as being worked on until Done(client). Nothing once stopped and empty.
  std::optional<std::pair<std::string, Item>> Pop() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !turns_.empty() || stopped_; });
    if (turns_.empty()) return std::nullopt;
    std::string client = std::move(turns_.front());
    turns_.pop_front();
    Client& entry = clients_.at(client);
    auto [id, item] = std::move(entry.items.front());
    entry.items.pop_front();
    owners_.erase(id);
    --waiting_;
    ++entry.working;
    if (!entry.items.empty()) turns_.push_back(client);
    return std::pair{std::move(client), std::move(item)};
  }

  void Done(const std::string& client) {
    std::lock_guard lock(mutex_);
    const auto it = clients_.find(client);
    if (it == clients_.end()) return;
    if (--it->second.working == 0 && it->second.items.empty()) clients_.erase(it);
  }

  // Refuses new items; Pop hands out what is waiting, then nothing.
  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    ready_.notify_all();
  }

  std::size_t Waiting() {
    std::lock_guard lock(mutex_);
    return waiting_;
  }

 private:
  struct Client {
    std::deque<std::pair<uint64_t, Item>> items;
    std::size_t working = 0;
  };

  const std::size_t perClient_;
  const std::size_t total_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::unordered_map<std::string, Client> clients_;
  std::deque<std::string> turns_;  // clients with items waiting, next to be served first
  std::unordered_map<uint64_t, std::string> owners_;  // waiting item -> its client
  std::size_t waiting_ = 0;
  bool stopped_ = false;
};

}  // namespace corvantis::server
