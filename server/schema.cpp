#include "server/schema.h"

#include <stdexcept>
#include <string>

#include "server/database.h"
#include "server/events.h"

namespace corvantis::server {

namespace {

// Version 0: accounts and one row per upload. Kept as it was, so an old database and a new
// one take the same road from here.
constexpr const char* kVersion0 =
    "CREATE TABLE IF NOT EXISTS users(name TEXT PRIMARY KEY, hash TEXT NOT NULL,"
    " created TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS uploads(id INTEGER PRIMARY KEY, user TEXT NOT NULL,"
    " time TEXT NOT NULL, size INTEGER NOT NULL, sha256 TEXT NOT NULL,"
    " client TEXT NOT NULL, file TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS uploads_by_user ON uploads(user, time);";

// Version 1: events, each upload's event, uploads found after a crash, and the files of
// removed events still to be deleted.
constexpr const char* kVersion1 =
    "CREATE TABLE events(id INTEGER PRIMARY KEY, user TEXT NOT NULL,"
    " start_time TEXT NOT NULL, end_time TEXT NOT NULL, count INTEGER NOT NULL,"
    " bytes INTEGER NOT NULL, first_upload INTEGER, open INTEGER NOT NULL);"
    "CREATE INDEX events_by_user ON events(user, start_time);"
    "CREATE INDEX events_by_start ON events(start_time);"
    "ALTER TABLE uploads ADD COLUMN event INTEGER;"
    "ALTER TABLE uploads ADD COLUMN acknowledged INTEGER NOT NULL DEFAULT 1;"
    "CREATE INDEX uploads_by_event ON uploads(event, time);"
    "CREATE TABLE removed_files(file TEXT PRIMARY KEY);";

}  // namespace

int SchemaVersion(Database& db) {
  Statement query(db.handle(), "PRAGMA user_version");
  return query.Step() ? static_cast<int>(query.ColumnInt(0)) : 0;
}

int PrepareSchema(Database& db, std::chrono::microseconds eventGap) {
  auto refuseNewer = [](int version) {
    if (version > kSchemaVersion) {
      throw std::runtime_error(
          "the data directory was written by a newer corvantis-server (data "
          "version " +
          std::to_string(version) + "; this server reads up to version " +
          std::to_string(kSchemaVersion) +
          "); run that version or a later one, nothing was changed");
    }
  };
  int version = SchemaVersion(db);
  refuseNewer(version);
  if (version == kSchemaVersion) return version;
  Transaction transaction(db);
  version = SchemaVersion(db);  // another process may have upgraded it meanwhile
  refuseNewer(version);
  // A file without the uploads table is new rather than old.
  int found = kSchemaVersion;
  {
    Statement existing(db.handle(), "SELECT 1 FROM sqlite_master WHERE name='uploads'");
    if (existing.Step()) found = version;
  }
  if (version < 1) {
    db.Exec(kVersion0);
    db.Exec(kVersion1);
    GroupLooseUploads(db, eventGap);
  }
  db.Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
  transaction.Commit();
  return found;
}

}  // namespace corvantis::server
