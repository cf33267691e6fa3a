#include "server/web/web_sessions.h"

#include <sodium.h>

#include <algorithm>

#include "server/credentials.h"

namespace corvantis::server {

namespace {

std::string Hex(const unsigned char* bytes, std::size_t size) {
  std::string hex(size * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes, size);
  hex.pop_back();
  return hex;
}

std::string RandomHex() {
  std::array<unsigned char, 32> bytes;
  randombytes_buf(bytes.data(), bytes.size());
  return Hex(bytes.data(), bytes.size());
}

WebSessions::Key Digest(std::string_view text) {
  WebSessions::Key key;
  crypto_generichash(key.data(), key.size(), reinterpret_cast<const unsigned char*>(text.data()),
                     text.size(), nullptr, 0);
  return key;
}

}  // namespace

std::string AccountStamp(std::string_view storedHash) {
  const auto digest = Digest(storedHash);
  return Hex(digest.data(), digest.size());
}

WebSessions::WebSessions(Clock& clock, const WebLimits& limits)
    : clock_(clock),
      idle_(limits.sessionIdle),
      maxSessions_(std::max<std::size_t>(1, limits.maxSessions)),
      perAccount_(std::max<std::size_t>(1, limits.sessionsPerAccount)) {
  InitSodium();
}

bool WebSessions::Expired(const Entry& entry, TimePoint now) const {
  return now - entry.lastUsed >= idle_;
}

void WebSessions::MakeRoom(const std::string& user, TimePoint now) {
  std::erase_if(entries_, [&](const auto& item) { return Expired(item.second, now); });
  auto oldest = [&](bool sameUser) {
    auto found = entries_.end();
    std::size_t count = 0;
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (sameUser && it->second.session.user != user) continue;
      ++count;
      if (found == entries_.end() || it->second.lastUsed < found->second.lastUsed) found = it;
    }
    return std::pair(found, count);
  };
  if (auto [found, count] = oldest(true); count >= perAccount_) entries_.erase(found);
  if (entries_.size() >= maxSessions_) entries_.erase(oldest(false).first);
}

WebSessions::Created WebSessions::Create(const std::string& user, const std::string& stamp) {
  Created created;
  created.id = RandomHex();
  created.session.key = Digest(created.id);
  created.session.user = user;
  created.session.stamp = stamp;
  created.session.csrf = RandomHex();
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  MakeRoom(user, now);
  entries_[created.session.key] = {created.session, now};
  return created;
}

std::optional<WebSessions::Session> WebSessions::Use(std::string_view id) {
  // Only the shape a session id has is worth a digest.
  if (id.size() != 64) return std::nullopt;
  const Key key = Digest(id);
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  const auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  if (Expired(it->second, now)) {
    entries_.erase(it);
    return std::nullopt;
  }
  it->second.lastUsed = now;
  return it->second.session;
}

bool WebSessions::Alive(const Key& key) {
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  const auto it = entries_.find(key);
  return it != entries_.end() && !Expired(it->second, now);
}

void WebSessions::End(const Key& key) {
  std::lock_guard lock(mutex_);
  entries_.erase(key);
}

std::size_t WebSessions::size() {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace corvantis::server
