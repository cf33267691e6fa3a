#include "server/password_checker.h"

#include "server/asio.h"

#include "server/credentials.h"

namespace corvantis::server {

PasswordChecker::PasswordChecker(const std::filesystem::path& dataDir, int threads,
                                 std::chrono::seconds cacheTime)
    : pool_(static_cast<std::size_t>(threads > 0 ? threads : 1)),
      db_(dataDir / Database::kFileName),
      accounts_(db_),
      cache_(cacheTime) {}

PasswordChecker::~PasswordChecker() {
  Stop();
}

void PasswordChecker::Stop() {
  pool_.join();
}

void PasswordChecker::Check(std::string user, std::string password,
                            std::function<void(bool)> done) {
  asio::post(pool_, [this, user = std::move(user), password = std::move(password),
                     done = std::move(done)] {
    bool ok = false;
    try {
      ok = Verify(user, password);
    } catch (const std::exception&) {
      ok = false;  // no memory for argon2id: refuse this login, keep serving
    }
    done(ok);
  });
}

std::optional<std::string> PasswordChecker::FindHash(const std::string& user) {
  try {
    std::lock_guard lock(dbMutex_);
    return accounts_.FindHash(user);
  } catch (const std::exception&) {
    return std::nullopt;  // the database is unreadable: refuse rather than guess
  }
}

bool PasswordChecker::CheckRemembered(const std::string& user, const std::string& password) {
  const auto hash = FindHash(user);
  return hash && cache_.Contains(*hash, password);
}

bool PasswordChecker::Verify(const std::string& user, const std::string& password) {
  const auto hash = FindHash(user);
  if (!hash) {
    // The decoy costs what the accounts' hashes cost (the oldest one's), so that a refusal
    // takes as long for an unknown name as for a known one.
    std::call_once(decoyOnce_, [this] {
      std::optional<std::string> model;
      try {
        std::lock_guard lock(dbMutex_);
        model = accounts_.OldestHash();
      } catch (const std::exception&) {
      }
      decoyHash_ = HashPasswordLike("decoy password", model.value_or(""));
    });
    VerifyPassword(decoyHash_, password);
    return false;
  }
  if (cache_.Contains(*hash, password)) return true;
  if (!VerifyPassword(*hash, password)) return false;
  cache_.Insert(*hash, password);
  return true;
}

}  // namespace corvantis::server
