// Accounts: the users table of the server's database (see database.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/database.h"

namespace corvantis::server {

struct AccountInfo {
  std::string name;
  std::string created;  // UTC time of `user add`
  int64_t uploads = 0;  // rows in the uploads table for this name
};

class Accounts {
 public:
  explicit Accounts(Database& db);

  // Adds an account with an argon2id hash string; false when the name is taken.
  bool Add(std::string_view name, std::string_view hash);
  // Removes an account (its stored snapshots stay); false when there was none.
  bool Remove(std::string_view name);
  // Every account, by name.
  std::vector<AccountInfo> List();
  // The hash string of an account, or nothing for an unknown name.
  std::optional<std::string> FindHash(std::string_view name);
  // The hash string of the oldest account, or nothing when there is none.
  std::optional<std::string> OldestHash();

 private:
  Database& db_;
  Statement find_;
};

}  // namespace corvantis::server
