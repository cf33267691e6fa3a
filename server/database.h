// The server's SQLite database, DATA_DIR/corvantis-server.db:
//
//   users(name TEXT PRIMARY KEY, hash TEXT NOT NULL, created TEXT NOT NULL)
//     one row per account; hash is the argon2id string (libsodium crypto_pwhash_str),
//     created the UTC time of `user add`.
//   uploads(id INTEGER PRIMARY KEY, user TEXT NOT NULL, time TEXT NOT NULL,
//           size INTEGER NOT NULL, sha256 TEXT NOT NULL, client TEXT NOT NULL,
//           file TEXT NOT NULL)
//     one row per stored snapshot: the account, the UTC time it was stored
//     ("2024-05-01T12:03:04.123456Z"), its size in bytes, its SHA-256 in lower-case hex,
//     the client's address ("127.0.0.1:40312") and its path relative to DATA_DIR
//     ("snapshots/alice/20240501T120304.123456Z-000001.jpeg");
//     event INTEGER: the event it belongs to; acknowledged INTEGER: 1, or 0 for a
//     snapshot found without a row after a crash (its camera was never told it was stored).
//   events(id INTEGER PRIMARY KEY, user TEXT NOT NULL, start_time TEXT NOT NULL,
//          end_time TEXT NOT NULL, count INTEGER NOT NULL, bytes INTEGER NOT NULL,
//          first_upload INTEGER, open INTEGER NOT NULL)
//     one row per event (see events.h): the times of its first and latest snapshot, how
//     many snapshots and bytes, the uploads row of its first snapshot, 1 while it is open.
//   removed_files(file TEXT PRIMARY KEY)
//     files of removed events not yet known to be deleted (see event_removal.h).
// Indexes: uploads(user, time), uploads(event, time), events(user, start_time),
// events(start_time). The schema's version and its upgrades: schema.h.
//
// The database runs in WAL mode with full synchronisation, so a committed row is on disk.
// Each connection object belongs to one thread at a time.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "server/schema.h"

namespace corvantis::server {

// One prepared statement; reset and rebound for every use.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Binds parameter `index` (1-based) to text, bytes as they are.
  void Bind(int index, std::string_view text);
  void Bind(int index, int64_t value);
  // Runs one step: true when a row is ready, false when the statement is done. Throws
  // std::runtime_error on failure.
  bool Step();
  std::string ColumnText(int index);
  int64_t ColumnInt(int index);
  // Clears the bindings and makes the statement ready to run again.
  void Reset();

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

class Database {
 public:
  // Opens (creating when missing) the database file and its tables, upgrading an older
  // schema in place (see schema.h; `eventGap` groups old uploads into events). Throws
  // std::runtime_error when it cannot, or when the database is from a newer server.
  explicit Database(const std::filesystem::path& file,
                    std::chrono::microseconds eventGap = kDefaultEventGap);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs SQL without results; throws std::runtime_error on failure.
  void Exec(const char* sql);
  sqlite3* handle() { return db_; }
  // The schema version the file had when it was opened (see schema.h).
  int versionFound() const { return versionFound_; }

  static constexpr const char* kFileName = "corvantis-server.db";

 private:
  sqlite3* db_ = nullptr;
  int versionFound_ = 0;
};

// A write transaction (BEGIN IMMEDIATE) that is rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace corvantis::server
