#include "server/database.h"

#include <unistd.h>

#include <stdexcept>

#include "server/data_dir.h"
#include "server/schema.h"

namespace corvantis::server {

namespace {

[[noreturn]] void Fail(sqlite3* db, std::string_view what) {
  throw std::runtime_error(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "no memory"));
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) !=
      SQLITE_OK) {
    Fail(db, "cannot prepare a database statement");
  }
}

Statement::~Statement() {
  sqlite3_finalize(statement_);
}

void Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail(db_, "cannot bind a database value");
  }
}

void Statement::Bind(int index, int64_t value) {
  if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) {
    Fail(db_, "cannot bind a database value");
  }
}

bool Statement::Step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(db_, "database step failed");
}

std::string Statement::ColumnText(int index) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
  const int size = sqlite3_column_bytes(statement_, index);
  return text ? std::string(text, static_cast<std::size_t>(size)) : std::string();
}

int64_t Statement::ColumnInt(int index) {
  return sqlite3_column_int64(statement_, index);
}

void Statement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

Database::Database(const std::filesystem::path& file, std::chrono::microseconds eventGap) {
  // SQLite would create the file with the umask's mode, and its journal files with the
  // file's: made here first, all of them are private.
  const int fd = CreatePrivateFile(file);
  if (fd >= 0) ::close(fd);
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    const std::string message = "cannot open " + file.string();
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error(message);
  }
  try {
    // Another process (the `user` commands beside a running server) may hold the lock for a
    // moment; wait for it rather than fail.
    sqlite3_busy_timeout(db_, 10000);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=FULL");
    versionFound_ = PrepareSchema(*this, eventGap);
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

Database::~Database() {
  sqlite3_close(db_);
}

void Database::Exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = std::string("database error: ") + (error ? error : "unknown");
    sqlite3_free(error);
    throw std::runtime_error(message);
  }
}

Transaction::Transaction(Database& db) : db_(db) {
  db_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (!done_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace corvantis::server
