// Durable storage of uploaded snapshots.
//
// A snapshot is acknowledged only once it is on disk: file data, its name in the user's
// folder and its row in the uploads table. One writer thread takes every upload waiting
// (up to a batch size) and, for the batch as a whole:
//   1. writes each body to snapshots/<folder>/.tmp-<name> (created exclusively),
//   2. syncs each file's data (fdatasync); steps 1 and 2 run for all files of the batch
//      side by side on a pool of sync threads, so the file system commits them together,
//   3. renames each file to snapshots/<folder>/<name>,
//   4. syncs each folder touched once (and snapshots/ when a folder is new),
//   5. inserts the rows in one transaction (WAL, synchronous=FULL),
// and only then reports every upload of the batch as stored. Grouping the syncs is what lets
// many cameras upload at once: the disk sees one commit per batch, not one per upload.
// A failure at any step removes that upload's file and reports it as not stored; nothing
// half-written ever carries a final name. Layout of the folders: see data_dir.h.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include <asio/thread_pool.hpp>

#include "server/database.h"

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

class SnapshotStore {
 public:
  // Opens its own database connection, removes temporary files a crash left behind and
  // starts the writer thread. Throws std::runtime_error when the database cannot be opened.
  SnapshotStore(const std::filesystem::path& dataDir, std::size_t maxBatch, int syncThreads = 16);
  ~SnapshotStore();
  SnapshotStore(const SnapshotStore&) = delete;
  SnapshotStore& operator=(const SnapshotStore&) = delete;

  // Queues one upload. After Stop, the request fails at once.
  void Submit(StoreRequest request);
  // Stores what is queued, then ends the writer thread. Safe to call more than once.
  void Stop();

 private:
  struct Item;
  void Run();
  void WriteBatch(std::deque<StoreRequest>& batch);
  void NameFile(Item& item);
  static void WriteFile(Item& item);
  void InsertRows(std::deque<Item>& items);

  const std::filesystem::path dataDir_;
  const std::size_t maxBatch_;
  asio::thread_pool syncPool_;  // writes and syncs the files of a batch
  Database db_;
  Statement insert_;
  std::set<std::string> knownFolders_;  // user folders known to exist (writer thread)
  uint64_t counter_ = 0;                // makes file names unique (writer thread)

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<StoreRequest> queue_;
  bool stopping_ = false;
  std::thread writer_;
};

// The SHA-256 of `data` in lower-case hex, as the uploads table holds it.
std::string Sha256Hex(std::string_view data);

// Removes the .tmp-* files inside snapshots/*/ that an interrupted server left behind.
void RemoveStaleTemporaries(const std::filesystem::path& dataDir);

}  // namespace corvantis::server
