// What the gallery's live page follows: each account's newest snapshot and the state of its
// event, kept for the accounts someone is watching, from the event hub as uploads are
// stored. A watcher is woken after each change and reads the newest state itself, so a
// watcher that falls behind skips states instead of queueing them: whatever the rate of
// uploads, a watcher costs one state, never a backlog. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "server/event_hub.h"

namespace corvantis::server {

struct LiveState {
  int64_t snapshot = 0;  // the newest snapshot's row in uploads; 0: none yet
  std::string time;      // when it was stored, as stored
  int64_t event = 0;     // its event
  int64_t count = 0;     // snapshots in that event so far
  bool open = false;     // the event is still open
  uint64_t version = 0;  // grows with each change; 0: nothing known
};

class LiveFeed {
 public:
  LiveFeed(EventHub& hub, std::size_t watchersPerAccount);
  ~LiveFeed();
  LiveFeed(const LiveFeed&) = delete;
  LiveFeed& operator=(const LiveFeed&) = delete;

  // Called after each change of the account's state, on the thread that stores uploads,
  // while the feed's lock is held: it must only hand the news on (post it) and return.
  using Wake = std::function<void()>;
  // Starts watching `user`; returns the watcher's id, or 0 when the account already has its
  // fill of watchers.
  uint64_t Watch(const std::string& user, Wake wake);
  // Once this returns the watcher's Wake is never called again.
  void Unwatch(uint64_t id);
  // Wakes every watcher of `user` (its sign-ins may have ended).
  void WakeAll(const std::string& user);
  // The newest state known for a watched account (version 0 when none is known).
  LiveState Latest(const std::string& user);
  // A state read from the database: taken for a watched account unless the feed knows a
  // newer one (the hub may not yet have told what the database already holds).
  void Offer(const std::string& user, LiveState state);
  // A state read from the database after some of the account's snapshots were removed:
  // replaces what the feed knows.
  void Replace(const std::string& user, LiveState state);

 private:
  struct Account {
    LiveState state;
    std::map<uint64_t, Wake> watchers;
  };
  void Listen(const Notice& notice);
  // Takes `state` as the account's when `always` or when it is newer than what is known,
  // then wakes the account's watchers. Called with the lock held.
  void Update(Account& account, LiveState state, bool always);

  EventHub& hub_;
  const std::size_t perAccount_;
  uint64_t subscription_ = 0;
  std::mutex mutex_;
  uint64_t nextWatcher_ = 1;
  uint64_t nextVersion_ = 1;
  std::map<std::string, Account> accounts_;      // watched accounts
  std::map<uint64_t, std::string> watcherUser_;  // watcher id -> account
};

}  // namespace corvantis::server
