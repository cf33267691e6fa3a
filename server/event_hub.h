// What the server tells about stored snapshots, in process: a snapshot was stored, an event
// opened, an event closed. The notifiers listen here, and so can anything else that wants to
// follow the alarms as they happen.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <shared_mutex>
#include <string>
#include <vector>

#include "server/clock.h"

namespace corvantis::server {

// An event: a run of one account's uploads with no gap longer than the event gap.
struct EventSummary {
  int64_t id = 0;
  std::string user;
  TimePoint start{};  // time of its first snapshot
  TimePoint end{};    // time of its latest snapshot
  int64_t count = 0;  // snapshots
  int64_t bytes = 0;
  std::string firstFile;  // its first snapshot, relative to the data directory
  bool open = false;
};

struct Notice {
  enum class Kind { kSnapshotStored, kEventOpened, kEventClosed };
  Kind kind;
  EventSummary event;  // as it stands after this notice
  // kSnapshotStored: the snapshot, relative to the data directory, its size and time, and
  // its row in the uploads table.
  std::string file;
  int64_t size = 0;
  TimePoint time{};
  int64_t upload = 0;
};

// Hands every notice to every listener, in the order published. Thread-safe.
class EventHub {
 public:
  // Called on the publishing thread (the one that commits uploads): it must return quickly,
  // taking a copy of what it needs, and never block.
  using Listener = std::function<void(const Notice&)>;

  uint64_t Subscribe(Listener listener);
  // Once this returns the listener is never called again.
  void Unsubscribe(uint64_t id);
  void Publish(const std::vector<Notice>& notices);

 private:
  std::shared_mutex mutex_;
  uint64_t next_ = 1;
  std::map<uint64_t, Listener> listeners_;
};

}  // namespace corvantis::server
