#include "server/login_guard.h"

#include <sodium.h>

#include "server/credentials.h"

namespace corvantis::server {

VerifiedCache::VerifiedCache(std::chrono::seconds ttl) : ttl_(ttl) {
  InitSodium();
  randombytes_buf(secret_.data(), secret_.size());
}

VerifiedCache::Key VerifiedCache::Digest(std::string_view hash, std::string_view password) const {
  Key key;
  crypto_generichash_state state;
  crypto_generichash_init(&state, secret_.data(), secret_.size(), key.size());
  // The hash string never holds a zero byte, so the separator keeps the two apart.
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(hash.data()),
                            hash.size());
  const unsigned char separator = 0;
  crypto_generichash_update(&state, &separator, 1);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(password.data()),
                            password.size());
  crypto_generichash_final(&state, key.data(), key.size());
  return key;
}

bool VerifiedCache::Contains(std::string_view hash, std::string_view password,
                             Clock::time_point now) {
  if (ttl_.count() <= 0) return false;
  const Key key = Digest(hash, password);
  std::lock_guard lock(mutex_);
  const auto it = entries_.find(key);
  if (it == entries_.end()) return false;
  if (it->second <= now) {
    entries_.erase(it);
    return false;
  }
  return true;
}

void VerifiedCache::Insert(std::string_view hash, std::string_view password,
                           Clock::time_point now) {
  if (ttl_.count() <= 0) return;
  const Key key = Digest(hash, password);
  std::lock_guard lock(mutex_);
  if (entries_.size() >= kMaxEntries && !entries_.contains(key)) {
    std::erase_if(entries_, [&](const auto& e) { return e.second <= now; });
    if (entries_.size() >= kMaxEntries) entries_.clear();
  }
  entries_[key] = now + ttl_;
}

}  // namespace corvantis::server
