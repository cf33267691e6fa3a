#include "server/web/live_feed.h"

#include <utility>

namespace corvantis::server {

namespace {

// States in the order they happen: by the newest snapshot's time, and an event's closing
// after its last snapshot.
std::pair<const std::string&, int> Order(const LiveState& state) {
  return {state.time, state.open ? 0 : 1};
}

}  // namespace

LiveFeed::LiveFeed(EventHub& hub, std::size_t watchersPerAccount)
    : hub_(hub), perAccount_(watchersPerAccount) {
  subscription_ = hub_.Subscribe([this](const Notice& notice) { Listen(notice); });
}

LiveFeed::~LiveFeed() {
  hub_.Unsubscribe(subscription_);
}

void LiveFeed::Listen(const Notice& notice) {
  if (notice.kind == Notice::Kind::kEventOpened) return;  // its snapshot's notice follows
  std::lock_guard lock(mutex_);
  const auto it = accounts_.find(notice.event.user);
  if (it == accounts_.end()) return;
  LiveState state = it->second.state;
  if (notice.kind == Notice::Kind::kSnapshotStored) {
    state.snapshot = notice.upload;
    state.time = FormatTime(notice.time);
  } else if (state.event != notice.event.id) {
    return;  // the closing of an event that does not hold the newest snapshot
  }
  state.event = notice.event.id;
  state.count = notice.event.count;
  state.open = notice.event.open;
  Update(it->second, std::move(state), false);
}

void LiveFeed::Update(Account& account, LiveState state, bool always) {
  if (!always && account.state.version != 0 && !(Order(account.state) < Order(state))) return;
  state.version = nextVersion_++;
  account.state = std::move(state);
  for (auto& [id, wake] : account.watchers) wake();
}

uint64_t LiveFeed::Watch(const std::string& user, Wake wake) {
  std::lock_guard lock(mutex_);
  Account& account = accounts_[user];
  if (account.watchers.size() >= perAccount_) {
    if (account.watchers.empty()) accounts_.erase(user);
    return 0;
  }
  const uint64_t id = nextWatcher_++;
  account.watchers.emplace(id, std::move(wake));
  watcherUser_.emplace(id, user);
  return id;
}

void LiveFeed::Unwatch(uint64_t id) {
  std::lock_guard lock(mutex_);
  const auto found = watcherUser_.find(id);
  if (found == watcherUser_.end()) return;
  const auto account = accounts_.find(found->second);
  account->second.watchers.erase(id);
  if (account->second.watchers.empty()) accounts_.erase(account);
  watcherUser_.erase(found);
}

void LiveFeed::WakeAll(const std::string& user) {
  std::lock_guard lock(mutex_);
  const auto it = accounts_.find(user);
  if (it == accounts_.end()) return;
  for (auto& [id, wake] : it->second.watchers) wake();
}

LiveState LiveFeed::Latest(const std::string& user) {
  std::lock_guard lock(mutex_);
  const auto it = accounts_.find(user);
  return it == accounts_.end() ? LiveState{} : it->second.state;
}

void LiveFeed::Offer(const std::string& user, LiveState state) {
  std::lock_guard lock(mutex_);
  const auto it = accounts_.find(user);
  if (it != accounts_.end()) Update(it->second, std::move(state), false);
}

void LiveFeed::Replace(const std::string& user, LiveState state) {
  std::lock_guard lock(mutex_);
  const auto it = accounts_.find(user);
  if (it != accounts_.end()) Update(it->second, std::move(state), true);
}

}  // namespace corvantis::server
