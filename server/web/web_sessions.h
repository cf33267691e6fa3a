// Sign-ins to the web gallery. A session id is 256 random bits (libsodium), sent to the
// browser once in its cookie and never kept: the table holds only the id's BLAKE2b digest,
// so neither a look at the server's memory nor the time a lookup takes gives a usable id.
// A session ends when it is signed out, after the idle time without a request, when its
// account is removed or re-added (its stamp no longer matches, see AccountStamp), and when
// newer sessions push it out of a full table. Sessions live in memory: a restart of the
// server signs everybody out. Thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "server/clock.h"
#include "server/web/web_settings.h"

namespace corvantis::server {

// What a session remembers of the account it signed in to: the BLAKE2b of the account's
// stored argon2id string, in hex. Removing, re-adding or re-hashing the account changes it.
std::string AccountStamp(std::string_view storedHash);

class WebSessions {
 public:
  using Key = std::array<unsigned char, 32>;  // the BLAKE2b digest of a session id
  struct Session {
    Key key{};
    std::string user;
    std::string stamp;  // AccountStamp at sign-in
    std::string csrf;   // the token every form of this session carries (64 hex digits)
  };
  struct Created {
    std::string id;  // 64 hex digits, for the cookie only
    Session session;
  };

  WebSessions(Clock& clock, const WebLimits& limits);

  Created Create(const std::string& user, const std::string& stamp);
  // The session with this id, marked as used now; nothing for an unknown or expired id.
  std::optional<Session> Use(std::string_view id);
  // True while the session exists and has not expired; does not mark it as used.
  bool Alive(const Key& key);
  void End(const Key& key);
  std::size_t size();

 private:
  struct Entry {
    Session session;
    TimePoint lastUsed{};
  };
  bool Expired(const Entry& entry, TimePoint now) const;
  // Makes room for one more session of `user`: drops expired sessions, then the least
  // recently used of the account's when it has its fill, then of all when the table is full.
  void MakeRoom(const std::string& user, TimePoint now);

  Clock& clock_;
  const std::chrono::microseconds idle_;
  const std::size_t maxSessions_;
  const std::size_t perAccount_;
  std::mutex mutex_;
  std::map<Key, Entry> entries_;
};

}  // namespace corvantis::server
