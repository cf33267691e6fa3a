// Counts login attempts before any password is checked, per client (see client_key.h) and
// per account, so that guessing costs the server little and cannot be spread out to escape
// the count.
//
// A client's attempt counts from the moment it is admitted: while its check is in hand, and
// as a failure within a window (`window`, from the first failure) once it failed. A client
// with `perClient` attempts in hand and failed together is refused without a check:
// "throttled" when its failures alone reach the limit (until the window is over), "too many
// at once" when attempts still in hand make up the rest. An account is refused in the same
// way to clients not known to it, once `perAccount` attempts at it are in hand and failed
// within its window, wherever they come from: guesses spread over many addresses cost at
// most that many checks.
//
// A success clears its own account's failures and nothing else: a client's failures at one
// account are never wiped by a login to another. A client that has logged in to an account
// is from then on not held back by the failures others cause at that account, so guessing
// at a camera's account from elsewhere does not lock the camera out.
//
// Both tables are bounded: when one is full, the entry touched least recently goes first,
// and one that is blocking a client or an account only when no other entry is left.
#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvantis::server {

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  struct Limits {
    int perClient = 5;
    int perAccount = 10;
    std::chrono::seconds window{60};
    std::size_t maxEntries = 16384;  // per table
  };
  enum class Verdict { kAdmitted, kThrottled, kTooManyAtOnce };
  enum class Result {
    kSucceeded,
    kFailed,
    kDropped  // never checked (its client went away, or there was no room to check it)
  };

  explicit LoginThrottle(Limits limits);

  // Whether `client` may have a password for `account` checked now. An empty `account`
  // stands for a name no account can have; it is counted for the client only. When
  // admitted, the attempt is in hand until Finish. `known`, if given, tells whether the
  // client has logged in to the account before.
  Verdict Admit(const std::string& client, const std::string& account,
                Clock::time_point now = Clock::now(), bool* known = nullptr);
  // Ends an admitted attempt. A failure counts for the client, and for the account when
  // `accountExists` (so made-up names fill no table).
  void Finish(const std::string& client, const std::string& account, Result result,
              bool accountExists, Clock::time_point now = Clock::now());

 private:
  struct Entry {
    Clock::time_point windowStart;
    int failures = 0;
    int inHand = 0;
    std::vector<std::string> trusted;  // clients that logged in (accounts only), newest last
    bool blocking = false;             // kept in the blocking list
    std::list<std::string>::iterator position;
  };

  // One bounded table of entries, least recently touched first in each of two lists.
  class Table {
   public:
    Table(int limit, const Limits& limits) : limit_(limit), limits_(limits) {}
    // The entry for `key`, made when missing (room made by eviction), its window brought
    // up to `now` and marked as touched.
    Entry& Touch(const std::string& key, Clock::time_point now);
    Entry* Find(const std::string& key) { return Lookup(key); }
    // Files the entry under blocking or not after a change; drops it when it holds nothing.
    void Settle(const std::string& key, Entry& entry);
    void AddFailure(Entry& entry, Clock::time_point now);
    // Failures alone reach the limit: throttled; with the attempts in hand: too many at once.
    Verdict Judge(const Entry& entry) const;
    std::size_t size() const { return entries_.size(); }

   private:
    Entry* Lookup(const std::string& key);
    void Evict();
    const int limit_;
    const Limits& limits_;
    std::unordered_map<std::string, Entry> entries_;
    std::list<std::string> open_, blocking_;
  };

  static constexpr std::size_t kMaxTrusted = 4;  // clients remembered per account
  const Limits limits_;
  std::mutex mutex_;
  Table clients_;
  Table accounts_;
};

}  // namespace corvantis::server
