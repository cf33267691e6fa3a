#include "server/login_throttle.h"

#include <algorithm>

namespace corvantis::server {

LoginThrottle::LoginThrottle(Limits limits)
    : limits_(limits),
      clients_(limits_.perClient, limits_),
      accounts_(limits_.perAccount, limits_) {}

LoginThrottle::Entry* LoginThrottle::Table::Lookup(const std::string& key) {
  const auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : &it->second;
}

LoginThrottle::Entry& LoginThrottle::Table::Touch(const std::string& key, Clock::time_point now) {
  Entry* entry = Lookup(key);
  if (!entry) {
    if (entries_.size() >= std::max<std::size_t>(limits_.maxEntries, 1)) Evict();
    entry = &entries_[key];
    open_.push_back(key);
    entry->position = std::prev(open_.end());
  }
  if (entry->failures > 0 && now - entry->windowStart >= limits_.window) entry->failures = 0;
  // Most recently touched last.
  auto& list = entry->blocking ? blocking_ : open_;
  list.splice(list.end(), list, entry->position);
  return *entry;
}

void LoginThrottle::Table::Evict() {
  // Entries that block a client or an account are the last to go.
  auto& list = open_.empty() ? blocking_ : open_;
  if (list.empty()) return;
  entries_.erase(list.front());
  list.pop_front();
}

void LoginThrottle::Table::Settle(const std::string& key, Entry& entry) {
  if (entry.failures == 0 && entry.inHand == 0 && entry.trusted.empty()) {
    (entry.blocking ? blocking_ : open_).erase(entry.position);
    entries_.erase(key);
    return;
  }
  const bool blocking = entry.failures >= limit_;
  if (blocking == entry.blocking) return;
  auto& from = entry.blocking ? blocking_ : open_;
  auto& to = blocking ? blocking_ : open_;
  to.splice(to.end(), from, entry.position);
  entry.blocking = blocking;
}

void LoginThrottle::Table::AddFailure(Entry& entry, Clock::time_point now) {
  if (entry.failures == 0) entry.windowStart = now;
  ++entry.failures;
}

LoginThrottle::Verdict LoginThrottle::Table::Judge(const Entry& entry) const {
  if (entry.failures >= limit_) return Verdict::kThrottled;
  if (entry.failures + entry.inHand >= limit_) return Verdict::kTooManyAtOnce;
  return Verdict::kAdmitted;
}

LoginThrottle::Verdict LoginThrottle::Admit(const std::string& client, const std::string& account,
                                            Clock::time_point now, bool* known) {
  std::lock_guard lock(mutex_);
  Entry& byClient = clients_.Touch(client, now);
  Verdict verdict = clients_.Judge(byClient);
  Entry* byAccount = nullptr;
  bool trusted = false;
  if (verdict == Verdict::kAdmitted && !account.empty()) {
    byAccount = &accounts_.Touch(account, now);
    trusted = std::find(byAccount->trusted.begin(), byAccount->trusted.end(), client) !=
              byAccount->trusted.end();
    if (!trusted) verdict = accounts_.Judge(*byAccount);
  }
  if (known) *known = trusted;
  if (verdict == Verdict::kAdmitted) {
    ++byClient.inHand;
    if (byAccount) ++byAccount->inHand;
  }
  if (byAccount) accounts_.Settle(account, *byAccount);
  clients_.Settle(client, byClient);
  return verdict;
}

void LoginThrottle::Finish(const std::string& client, const std::string& account, Result result,
                           bool accountExists, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  // An entry evicted while its attempt was in hand comes back only to record a failure.
  if (Entry* entry =
          result == Result::kFailed ? &clients_.Touch(client, now) : clients_.Find(client)) {
    if (entry->inHand > 0) --entry->inHand;
    if (result == Result::kFailed) clients_.AddFailure(*entry, now);
    clients_.Settle(client, *entry);
  }
  if (account.empty()) return;
  const bool touch = result == Result::kSucceeded || (result == Result::kFailed && accountExists);
  if (Entry* entry = touch ? &accounts_.Touch(account, now) : accounts_.Find(account)) {
    if (entry->inHand > 0) --entry->inHand;
    if (result == Result::kFailed && accountExists) accounts_.AddFailure(*entry, now);
    if (result == Result::kSucceeded) {
      entry->failures = 0;
      auto& trusted = entry->trusted;
      std::erase(trusted, client);
      trusted.push_back(client);
      if (trusted.size() > kMaxTrusted) trusted.erase(trusted.begin());
    }
    accounts_.Settle(account, *entry);
  }
}

}  // namespace corvantis::server
