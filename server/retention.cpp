#include "server/retention.h"

#include "server/disk.h"
#include "server/event_removal.h"
#include "server/log.h"

namespace corvantis::server {

namespace fs = std::filesystem;

namespace {

std::optional<uint64_t> FreeOf(const RetentionSettings& settings, const fs::path& dataDir) {
  return settings.freeBytes ? settings.freeBytes(dataDir) : FreeBytes(dataDir);
}

// The oldest closed events, oldest first; with a cut-off, only those that ended before it.
std::vector<int64_t> OldestClosed(Database& db, std::optional<TimePoint> endedBefore,
                                  int64_t limit) {
  Statement query(db.handle(), endedBefore
                                   ? "SELECT id FROM events WHERE start_time<?1 AND end_time<?1 AND"
                                     " open=0 ORDER BY start_time, id LIMIT ?2"
                                   : "SELECT id FROM events WHERE open=0 ORDER BY start_time, id"
                                     " LIMIT ?2");
  if (endedBefore) query.Bind(1, FormatTime(*endedBefore));
  query.Bind(2, limit);
  std::vector<int64_t> ids;
  while (query.Step()) ids.push_back(query.ColumnInt(0));
  return ids;
}

}  // namespace

PruneResult Prune(Database& db, const fs::path& dataDir, const RetentionSettings& settings,
                  TimePoint now,
                  const std::function<void(const EventSummary&, const std::string& why)>& removed) {
  PruneResult result;
  FinishRemovals(db, dataDir);
  auto remove = [&](int64_t id, const std::string& why) {
    if (auto event = RemoveEvent(db, dataDir, id)) {
      ++result.events;
      if (removed) removed(*event, why);
    }
  };
  if (settings.keepDays > 0) {
    const TimePoint cutoff = now - std::chrono::days(settings.keepDays);
    const std::string why = "older than " + std::to_string(settings.keepDays) + " days";
    for (auto ids = OldestClosed(db, cutoff, 64); !ids.empty();
         ids = OldestClosed(db, cutoff, 64)) {
      for (const int64_t id : ids) remove(id, why);
    }
  }
  if (settings.minFree > 0) {
    const std::string why = "to keep " + std::to_string(settings.minFree) + " bytes free";
    for (;;) {
      const auto free = FreeOf(settings, dataDir);
      if (!free) break;
      result.freeBytes = *free;
      if (*free >= settings.minFree) break;
      const auto ids = OldestClosed(db, std::nullopt, 1);
      if (ids.empty()) {
        result.diskFull = true;
        break;
      }
      remove(ids.front(), why);
    }
  }
  return result;
}

Retention::Retention(fs::path dataDir, RetentionSettings settings, Clock& clock, LogSink log)
    : dataDir_(std::move(dataDir)),
      settings_(std::move(settings)),
      clock_(clock),
      log_(std::move(log)) {
  thread_ = std::thread([this] { Run(); });
}

Retention::~Retention() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  thread_.join();
}

std::optional<uint64_t> Retention::Free() {
  return FreeOf(settings_, dataDir_);
}

bool Retention::DiskFull() {
  if (settings_.minFree == 0) return false;
  const auto free = Free();
  if (!free || *free >= settings_.minFree) return false;
  const bool full = full_;
  // Below the mark: a pass runs now, since an event may have closed since the last one;
  // while refusing, at most once a second.
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  if (!full || now - lastNudge_ >= 1000) {
    lastNudge_ = now;
    std::lock_guard lock(mutex_);
    nudged_ = true;
    wake_.notify_all();
  }
  return full;
}

void Retention::Run() {
  std::unique_ptr<Database> db;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    nudged_ = false;
    lock.unlock();
    try {
      if (!db) db = std::make_unique<Database>(dataDir_ / Database::kFileName);
      const PruneResult result =
          Prune(*db, dataDir_, settings_, clock_.Now(), [&](const EventSummary& event, auto& why) {
            WriteLog(log_, "retention removed event=" + std::to_string(event.id) + " user=" +
                               EscapeForLog(event.user) + " start=" + FormatTime(event.start) +
                               " snapshots=" + std::to_string(event.count) +
                               " bytes=" + std::to_string(event.bytes) + ": " + why);
          });
      if (result.diskFull && !full_) {
        WriteLog(log_, "retention: " + std::to_string(result.freeBytes) +
                           " bytes free, below --min-free " + std::to_string(settings_.minFree) +
                           ", and no closed event left to remove; uploads are refused");
      } else if (!result.diskFull && full_) {
        WriteLog(log_, "retention: disk space is back above --min-free; uploads are taken again");
      }
      full_ = result.diskFull;
    } catch (const std::exception& e) {
      WriteLog(log_, std::string("retention failed: ") + e.what());
    }
    lock.lock();
    const TimePoint next = clock_.Now() + settings_.interval;
    while (!stopping_ && !nudged_ && clock_.Now() < next) clock_.WaitUntil(wake_, lock, next);
  }
}

}  // namespace corvantis::server
