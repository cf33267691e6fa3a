// Durable storage of uploaded snapshots.
//
// A snapshot is acknowledged only once it is on disk: file data, its name in the user's
// folder and its row in the uploads table. Two stages:
//   1. each upload, as soon as it arrives, is written to snapshots/<folder>/.tmp-<name>
//      (created exclusively) and its data synced (fdatasync) by one of a pool of sync
//      threads; many syncs run side by side, so the file system commits them together;
//   2. one commit thread takes every synced upload waiting (up to a batch size) and, for
//      the batch as a whole, renames each file to snapshots/<folder>/<name>, syncs each
//      folder touched once (and snapshots/ when a folder is new), inserts the rows in one
//      transaction (WAL, synchronous=FULL), and only then reports every upload of the batch
//      as stored.
// The stages overlap: new uploads are written and synced while a batch commits. A failure
// at any step removes that upload's file and reports it as not stored; nothing half-written
// ever carries a final name. Layout of the folders: see data_dir.h.
//
// The commit thread also keeps the events (events.h): each row names its event, written in
// the same transaction, and the thread closes events whose gap has passed. After a batch is
// acknowledged it publishes what happened (stored, opened, closed) to the event hub.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "server/asio.h"

#include "server/clock.h"
#include "server/database.h"
#include "server/disk.h"
#include "server/event_hub.h"
#include "server/events.h"

namespace corvantis::server {

struct StoreResult {
  bool stored = false;
  std::string file;    // path relative to the data directory
  std::string sha256;  // lower-case hex
  std::string error;   // why it was not stored
};

struct StoreRequest {
  std::string user;
  std::string client;  // the client's address, "127.0.0.1:40312"
  std::string body;
  // Called once on the writer thread when the upload is stored or has failed.
  std::function<void(StoreResult)> done;
};

// How the store keeps time and events.
struct EventSettings {
  Clock* clock = &SystemClock();  // times of uploads, and when events close
  EventHub* hub = nullptr;        // told what happened; none: nobody is told
  std::chrono::microseconds gap = kDefaultEventGap;
};

class SnapshotStore {
 public:
  // Opens its own database connection, removes temporary files a crash left behind, reads
  // the events left open and starts the writer thread. Throws std::runtime_error when the
  // database cannot be opened.
  SnapshotStore(const std::filesystem::path& dataDir, std::size_t maxBatch, int syncThreads = 16,
                EventSettings events = {}, DiskCalls disk = {});
  ~SnapshotStore();
  SnapshotStore(const SnapshotStore&) = delete;
  SnapshotStore& operator=(const SnapshotStore&) = delete;

  // Queues one upload. After Stop, the request fails at once.
  void Submit(StoreRequest request);
  // Stores what was submitted, then ends the threads. Safe to call more than once.
  void Stop();

 private:
  struct Item;
  void Run();
  void NameFile(Item& item);
  void WriteFile(Item& item);
  void Commit(std::deque<std::unique_ptr<Item>>& batch);
  std::vector<Notice> InsertRows(std::deque<std::unique_ptr<Item>>& batch);
  void CloseDueEvents();

  const std::filesystem::path dataDir_;
  const std::size_t maxBatch_;
  const EventSettings events_;
  const DiskCalls disk_;
  asio::thread_pool syncPool_;  // stage 1
  Database db_;                 // used by the commit thread only
  Statement insert_;
  EventBook book_;  // the commit thread's

  std::mutex foldersMutex_;
  std::set<std::string> knownFolders_;  // user folders known to exist and synced into snapshots/
  std::atomic<uint64_t> counter_{0};    // makes file names unique

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::unique_ptr<Item>> synced_;  // stage 1 done, waiting for stage 2
  std::size_t writing_ = 0;                   // in stage 1
  bool stopping_ = false;
  std::thread committer_;
};

// The SHA-256 of `data` in lower-case hex, as the uploads table holds it.
std::string Sha256Hex(std::string_view data);

// Removes the .tmp-* files inside snapshots/*/ that an interrupted server left behind.
void RemoveStaleTemporaries(const std::filesystem::path& dataDir);

}  // namespace corvantis::server
