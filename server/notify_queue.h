// A bounded queue between the thread that publishes notices and one notifier's thread: a
// full queue drops the newest item and counts it, so a slow or dead receiver never holds the
// thread that stores uploads and never grows memory without bound. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace corvantis::server {

template <typename T>
class NotifyQueue {
 public:
  explicit NotifyQueue(std::size_t limit) : limit_(limit ? limit : 1) {}

  // Adds `item`, or counts it as dropped when the queue is full or closed.
  void Push(T item) {
    std::lock_guard lock(mutex_);
    if (closed_ || items_.size() >= limit_) {
      ++dropped_;
      return;
    }
    items_.push_back(std::move(item));
    wake_.notify_one();
  }
  // The oldest item, waiting for one; nothing once the queue is closed.
  std::optional<T> Pop() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return closed_ || !items_.empty(); });
    if (closed_) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    return item;
  }
  // Waits `time` unless the queue is closed first; false when it was closed.
  bool Pause(std::chrono::milliseconds time) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, time, [this] { return closed_; });
  }
  // Items dropped since the last call, and the items still waiting.
  uint64_t TakeDropped() {
    std::lock_guard lock(mutex_);
    return std::exchange(dropped_, 0);
  }
  std::size_t Waiting() {
    std::lock_guard lock(mutex_);
    return items_.size();
  }
  bool Closed() {
    std::lock_guard lock(mutex_);
    return closed_;
  }
  // Ends Pop and Pause at once; what is still waiting stays undelivered.
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    wake_.notify_all();
  }

 private:
  const std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<T> items_;
  uint64_t dropped_ = 0;
  bool closed_ = false;
};

}  // namespace corvantis::server
