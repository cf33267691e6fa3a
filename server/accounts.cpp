#include "server/accounts.h"

#include "server/log.h"

namespace corvantis::server {

Accounts::Accounts(Database& db)
    : db_(db), find_(db.handle(), "SELECT hash FROM users WHERE name=?") {}

bool Accounts::Add(std::string_view name, std::string_view hash) {
  Statement insert(db_.handle(),
                   "INSERT INTO users(name, hash, created) VALUES(?, ?, ?) ON CONFLICT DO NOTHING");
  insert.Bind(1, name);
  insert.Bind(2, hash);
  insert.Bind(3, UtcTimestamp());
  insert.Step();
  return sqlite3_changes(db_.handle()) == 1;
}

bool Accounts::Remove(std::string_view name) {
  Statement remove(db_.handle(), "DELETE FROM users WHERE name=?");
  remove.Bind(1, name);
  remove.Step();
  return sqlite3_changes(db_.handle()) == 1;
}

std::vector<AccountInfo> Accounts::List() {
  Statement list(db_.handle(),
                 "SELECT name, created, (SELECT count(*) FROM uploads WHERE user=users.name)"
                 " FROM users ORDER BY name");
  std::vector<AccountInfo> accounts;
  while (list.Step()) {
    accounts.push_back({list.ColumnText(0), list.ColumnText(1), list.ColumnInt(2)});
  }
  return accounts;
}

std::optional<std::string> Accounts::FindHash(std::string_view name) {
  find_.Reset();
  find_.Bind(1, name);
  std::optional<std::string> hash;
  if (find_.Step()) hash = find_.ColumnText(0);
  find_.Reset();
  return hash;
}

std::optional<std::string> Accounts::OldestHash() {
  Statement oldest(db_.handle(), "SELECT hash FROM users ORDER BY rowid LIMIT 1");
  if (!oldest.Step()) return std::nullopt;
  return oldest.ColumnText(0);
}

}  // namespace corvantis::server
