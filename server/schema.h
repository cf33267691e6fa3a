// The shape of the server's database and its upgrades. The database carries its schema
// version (SQLite's user_version); opening it brings an older one up to date in place, in one
// transaction, and refuses one written by a newer server.
#pragma once

#include <chrono>

namespace corvantis::server {

class Database;

// The default longest gap between two uploads of one event.
constexpr std::chrono::seconds kDefaultEventGap{30};

// The version this server writes. 0 was the first layout (users and uploads only).
constexpr int kSchemaVersion = 1;

// Creates the tables of a new database, or upgrades an older one; uploads that had no event
// are grouped into events `eventGap` apart. Returns the version it found (kSchemaVersion
// for a new database, or when there was nothing to do). Throws std::runtime_error for
// a database of a newer version, naming both versions, and leaves it untouched.
int PrepareSchema(Database& db, std::chrono::microseconds eventGap);

// The database's schema version.
int SchemaVersion(Database& db);

}  // namespace corvantis::server
