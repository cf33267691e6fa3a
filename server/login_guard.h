// The memory of recently verified passwords, which spares a camera that logs in for every
// upload a full argon2id verification each time.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace corvantis::server {

// Remembers, for a while, that a password matched a stored hash string, so an upload (which
// logs in every time) does not pay a full argon2id verification each time.
//
// Trade-off: an entry is a keyed BLAKE2b digest (a random key made at start, never stored) of
// the stored hash string and the password; the password itself is never kept. A process
// memory dump would let an attacker test password guesses against recent logins quickly
// (one keyed hash per guess instead of one argon2id run), for at most `ttl`. Because the
// stored hash string is part of the key, removing or re-adding an account invalidates its
// entries at once, even while the server runs. A ttl of zero turns the cache off.
// Thread-safe.
class VerifiedCache {
 public:
  using Clock = std::chrono::steady_clock;
  explicit VerifiedCache(std::chrono::seconds ttl);

  bool Contains(std::string_view hash, std::string_view password,
                Clock::time_point now = Clock::now());
  void Insert(std::string_view hash, std::string_view password,
              Clock::time_point now = Clock::now());

 private:
  using Key = std::array<unsigned char, 32>;
  Key Digest(std::string_view hash, std::string_view password) const;
  static constexpr std::size_t kMaxEntries = 10000;
  const std::chrono::seconds ttl_;
  std::array<unsigned char, 32> secret_{};
  std::mutex mutex_;
  std::map<Key, Clock::time_point> entries_;  // digest -> expiry
};

}  // namespace corvantis::server
