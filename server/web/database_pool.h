// Database connections for the threads that serve the web gallery: each request borrows one
// for as long as it reads or writes, so no connection is used by two threads at once.
// Connections are opened as they are first needed and kept; there are never more than
// threads borrowing at once. Thread-safe.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "server/database.h"

namespace corvantis::server {

class DatabasePool {
 public:
  explicit DatabasePool(std::filesystem::path file) : file_(std::move(file)) {}

  class Lease {
   public:
    Lease(DatabasePool& pool, std::unique_ptr<Database> db) : pool_(pool), db_(std::move(db)) {}
    ~Lease() { pool_.Return(std::move(db_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Database& operator*() { return *db_; }

   private:
    DatabasePool& pool_;
    std::unique_ptr<Database> db_;
  };

  // A connection of the pool's; throws std::runtime_error when a new one cannot be opened.
  Lease Take();

 private:
  void Return(std::unique_ptr<Database> db);

  const std::filesystem::path file_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Database>> free_;
};

}  // namespace corvantis::server
