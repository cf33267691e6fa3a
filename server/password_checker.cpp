#include "server/password_checker.h"

#include "server/credentials.h"

namespace corvantis::server {

PasswordChecker::PasswordChecker(const std::filesystem::path& dataDir,
                                 std::chrono::seconds cacheTime)
    : db_(dataDir / Database::kFileName), accounts_(db_), cache_(cacheTime) {}

std::optional<std::string> PasswordChecker::Stamp(const std::string& user) {
  try {
    std::lock_guard lock(dbMutex_);
    return accounts_.FindHash(user);
  } catch (const std::exception&) {
    return std::nullopt;  // the database is unreadable: refuse rather than guess
  }
}

std::optional<std::string> PasswordChecker::Remembered(const std::string& user,
                                                       const std::string& password) {
  auto hash = Stamp(user);
  if (!hash || !cache_.Contains(*hash, password)) return std::nullopt;
  return hash;
}

PasswordChecker::Verdict PasswordChecker::Verify(const std::string& user,
                                                 const std::string& password) {
  auto hash = Stamp(user);
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
    return {};
  }
  if (!cache_.Contains(*hash, password)) {
    if (!VerifyPassword(*hash, password)) return {false, true, {}};
    cache_.Insert(*hash, password);
  }
  return {true, true, std::move(*hash)};
}

}  // namespace corvantis::server
