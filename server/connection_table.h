// Counts the connections the server holds, in all and per client, from the moment each is
// accepted until its socket is closed, and says whether one more may come in.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace corvantis::server {

class ConnectionTable;

// The place one connection holds in a table; given back when destroyed. An empty place
// (default-constructed) counts nowhere.
class ConnectionPlace {
 public:
  ConnectionPlace() = default;
  ConnectionPlace(ConnectionPlace&& other) noexcept;
  ConnectionPlace& operator=(ConnectionPlace&& other) noexcept;
  ~ConnectionPlace();

 private:
  friend class ConnectionTable;
  void Leave();
  ConnectionTable* table_ = nullptr;
  std::string key_;
};

// Thread-safe.
class ConnectionTable {
 public:
  enum class Refusal { kNone, kServerFull, kClientFull };

  ConnectionTable(std::size_t maxTotal, std::size_t maxPerClient)
      : maxTotal_(maxTotal), maxPerClient_(maxPerClient) {}

  // Counts one more connection from the client `key` into `place`, or leaves `place` empty
  // and says why the connection may not come in.
  Refusal Enter(const std::string& key, ConnectionPlace& place);
  std::size_t Total();
  std::size_t From(const std::string& key);
  // Waits until at most `total` connections are held; false if `timeout` passes first.
  bool WaitUntilAtMost(std::size_t total, std::chrono::milliseconds timeout);
  std::size_t maxTotal() const { return maxTotal_; }
  std::size_t maxPerClient() const { return maxPerClient_; }

 private:
  friend class ConnectionPlace;
  void Leave(const std::string& key);

  const std::size_t maxTotal_;
  const std::size_t maxPerClient_;
  std::mutex mutex_;
  std::condition_variable left_;
  std::size_t total_ = 0;
  std::unordered_map<std::string, std::size_t> perClient_;  // clients with a connection only
};

}  // namespace corvantis::server
