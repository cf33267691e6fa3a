// Work waiting its turn per client: Pop serves the clients with work waiting in turn (round
// robin), one item each, so a client with many items cannot hold back the others. Two
// lanes: everything in the first is served before anything in the second. Bounded per client
// and lane (items waiting or being worked on) and per lane (items waiting); an item can be
// taken back before its turn. Thread-safe.
#pragma once

#include <algorithm>
#include <array>
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
  static constexpr int kLanes = 2;

  // An item handed out, with where it came from (for Done).
  struct Taken {
    int lane;
    std::string client;
    Item item;
  };

  FairQueue(std::size_t perClient, std::size_t total) : perClient_(perClient), total_(total) {}

  // Queues `item` for `client` in `lane` (0 or 1) under `id` (unique while queued).
  Pushed Push(int lane, const std::string& client, uint64_t id, Item item) {
    std::lock_guard lock(mutex_);
    if (stopped_) return Pushed::kStopped;
    Lane& queue = lanes_.at(static_cast<std::size_t>(lane));
    if (queue.waiting >= total_) return Pushed::kFull;
    Client& entry = queue.clients[client];
    if (entry.items.size() + entry.working >= perClient_) {
      if (entry.items.empty() && entry.working == 0) queue.clients.erase(client);
      return Pushed::kClientFull;
    }
    if (entry.items.empty()) queue.turns.push_back(client);
    entry.items.emplace_back(id, std::move(item));
    owners_.emplace(id, std::pair{lane, client});
    ++queue.waiting;
    // Every waiting worker: one that serves only the first lane must not swallow the wake-up
    // meant for another.
    ready_.notify_all();
    return Pushed::kQueued;
  }

  // Takes the item `id` back if it is still waiting; it will not be popped.
  std::optional<Item> Cancel(uint64_t id) {
    std::lock_guard lock(mutex_);
    const auto owner = owners_.find(id);
    if (owner == owners_.end()) return std::nullopt;
    const auto [lane, client] = std::move(owner->second);
    owners_.erase(owner);
    Lane& queue = lanes_.at(static_cast<std::size_t>(lane));
    Client& entry = queue.clients.at(client);
    auto& items = entry.items;
    const auto it = std::find_if(items.begin(), items.end(),
                                 [id](const auto& item) { return item.first == id; });
    std::optional<Item> item(std::move(it->second));
    items.erase(it);
    --queue.waiting;
    if (items.empty()) {
      std::erase(queue.turns, client);
      if (entry.working == 0) queue.clients.erase(client);
    }
    return item;
  }

  // Waits for the next item in turn, from the first lane that has one (of lanes 0 to
  // `lastLane`), and hands it out; it counts as being worked on for its client until Done.
  // Nothing once stopped and those lanes are empty.
  std::optional<Taken> Pop(int lastLane = kLanes - 1) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return Waiting(lastLane) > 0 || stopped_; });
    for (int lane = 0; lane <= lastLane; ++lane) {
      Lane& queue = lanes_[static_cast<std::size_t>(lane)];
      if (queue.turns.empty()) continue;
      std::string client = std::move(queue.turns.front());
      queue.turns.pop_front();
      Client& entry = queue.clients.at(client);
      auto [id, item] = std::move(entry.items.front());
      entry.items.pop_front();
      owners_.erase(id);
      --queue.waiting;
      ++entry.working;
      if (!entry.items.empty()) queue.turns.push_back(client);
      return Taken{lane, std::move(client), std::move(item)};
    }
    return std::nullopt;
  }

  void Done(const Taken& taken) {
    std::lock_guard lock(mutex_);
    auto& clients = lanes_.at(static_cast<std::size_t>(taken.lane)).clients;
    const auto it = clients.find(taken.client);
    if (it == clients.end()) return;
    if (--it->second.working == 0 && it->second.items.empty()) clients.erase(it);
  }

  // Refuses new items; Pop hands out what is waiting, then nothing.
  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    ready_.notify_all();
  }

 private:
  struct Client {
    std::deque<std::pair<uint64_t, Item>> items;
    std::size_t working = 0;
  };
  struct Lane {
    std::unordered_map<std::string, Client> clients;
    std::deque<std::string> turns;  // clients with items waiting, next to be served first
    std::size_t waiting = 0;
  };

  // Items waiting in lanes 0 to `lastLane`; the caller holds the mutex.
  std::size_t Waiting(int lastLane) const {
    std::size_t waiting = 0;
    for (int lane = 0; lane <= lastLane; ++lane) {
      waiting += lanes_[static_cast<std::size_t>(lane)].waiting;
    }
    return waiting;
  }

  const std::size_t perClient_;
  const std::size_t total_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::array<Lane, kLanes> lanes_;
  std::unordered_map<uint64_t, std::pair<int, std::string>> owners_;  // waiting item's place
  bool stopped_ = false;
};

}  // namespace corvantis::server
