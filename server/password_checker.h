// Checks user names and passwords off the connection threads, on a small pool of threads:
// argon2id verification costs tens of milliseconds and tens of megabytes by design.
#pragma once

#include "server/asio.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "server/accounts.h"
#include "server/database.h"
#include "server/login_guard.h"

namespace corvantis::server {

class PasswordChecker {
 public:
  // Opens its own database connection. Throws std::runtime_error when it cannot.
  PasswordChecker(const std::filesystem::path& dataDir, int threads,
                  std::chrono::seconds cacheTime);
  ~PasswordChecker();

  // Calls `done(true)` on a pool thread when `password` is the account's password, else
  // `done(false)`. An unknown name costs a verification too (against a hash made for that
  // purpose), so the time of a refusal does not tell which names exist.
  void Check(std::string user, std::string password, std::function<void(bool)> done);
  // True when `password` is the account's password and was verified within the cache time:
  // a quick check (one database lookup, one keyed hash) fit for the connection threads.
  // False means only that a full Check is needed.
  bool CheckRemembered(const std::string& user, const std::string& password);
  // Finishes the checks in hand and ends the threads.
  void Stop();

 private:
  bool Verify(const std::string& user, const std::string& password);
  std::optional<std::string> FindHash(const std::string& user);

  asio::thread_pool pool_;
  std::mutex dbMutex_;
  Database db_;
  Accounts accounts_;
  VerifiedCache cache_;
  std::once_flag decoyOnce_;
  std::string decoyHash_;
};

}  // namespace corvantis::server
