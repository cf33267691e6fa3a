// Looks accounts up and verifies passwords against their argon2id hashes, remembering recent
// matches (VerifiedCache) so that a camera logging in for every upload is answered quickly.
// Verification costs tens of milliseconds and tens of megabytes by design: LoginGate runs it
// on threads of its own.
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "server/accounts.h"
#include "server/database.h"
#include "server/login_guard.h"

namespace corvantis::server {

// Thread-safe.
class PasswordChecker {
 public:
  struct Verdict {
    bool ok = false;
    bool accountExists = false;
    std::string stamp;  // when ok: the account's stamp (see Stamp)
  };

  // Opens its own database connection. Throws std::runtime_error when it cannot.
  PasswordChecker(const std::filesystem::path& dataDir, std::chrono::seconds cacheTime);

  // The full check. An unknown name costs a verification too (against a hash made for that
  // purpose), so the time of a refusal does not tell which names exist.
  Verdict Verify(const std::string& user, const std::string& password);
  // The account's stamp when `password` is its password and was verified within the cache
  // time: a quick check (one database lookup, one keyed hash). Nothing means only that a
  // full check is needed.
  std::optional<std::string> Remembered(const std::string& user, const std::string& password);
  // What tells this account from one removed or added again under the same name: its
  // stored hash string (the salt is new every time). Nothing when there is no such account.
  std::optional<std::string> Stamp(const std::string& user);

 private:
  std::mutex dbMutex_;
  Database db_;
  Accounts accounts_;
  VerifiedCache cache_;
  std::once_flag decoyOnce_;
  std::string decoyHash_;
};

}  // namespace corvantis::server
