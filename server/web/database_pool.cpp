#include "server/web/database_pool.h"

namespace corvantis::server {

DatabasePool::Lease DatabasePool::Take() {
  {
    std::lock_guard lock(mutex_);
    if (!free_.empty()) {
      auto db = std::move(free_.back());
      free_.pop_back();
      return Lease(*this, std::move(db));
    }
  }
  return Lease(*this, std::make_unique<Database>(file_));
}

void DatabasePool::Return(std::unique_ptr<Database> db) {
  if (!db) return;
  std::lock_guard lock(mutex_);
  free_.push_back(std::move(db));
}

}  // namespace corvantis::server
