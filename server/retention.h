// Retention: what keeps the data directory from filling the disk. Whole events go, oldest
// first, through RemoveEvent (crash-safe, event_removal.h): every closed event whose latest
// snapshot is older than keep-days, then, while the file system has less than min-free
// bytes free, the oldest closed events whatever their age. An open event is never removed.
// When the disk is below min-free and no closed event is left, uploads are refused (see
// Retention::DiskFull) instead of filling the disk to the last byte.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "server/database.h"
#include "server/event_hub.h"
#include "server/options.h"

namespace corvantis::server {

struct PruneResult {
  int64_t events = 0;      // events removed
  bool diskFull = false;   // still below min-free, and nothing more can go
  uint64_t freeBytes = 0;  // free bytes at the end (0 when not asked)
};

// One pass of retention at `now`. Finishes removals a crash interrupted first. `removed` is
// told each event removed and why ("older than 30 days", "to keep 1073741824 bytes free").
PruneResult Prune(Database& db, const std::filesystem::path& dataDir,
                  const RetentionSettings& settings, TimePoint now,
                  const std::function<void(const EventSummary&, const std::string& why)>& removed);

// Runs Prune on a thread of its own: at start, every interval, and at once when an upload
// finds the disk below min-free. Log lines for each removal and for the disk getting full.
class Retention {
 public:
  Retention(std::filesystem::path dataDir, RetentionSettings settings, Clock& clock, LogSink log);
  ~Retention();
  Retention(const Retention&) = delete;
  Retention& operator=(const Retention&) = delete;

  // True when an upload must be refused: the disk is below min-free and the last pass found
  // nothing more to remove. Cheap (one statfs); callable from any thread.
  bool DiskFull();

 private:
  void Run();
  std::optional<uint64_t> Free();

  const std::filesystem::path dataDir_;
  const RetentionSettings settings_;
  Clock& clock_;
  const LogSink log_;
  std::atomic<bool> full_{false};
  std::atomic<int64_t> lastNudge_{0};  // steady-clock milliseconds of the last nudge while full
  std::mutex mutex_;
  std::condition_variable wake_;
  bool nudged_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace corvantis::server
