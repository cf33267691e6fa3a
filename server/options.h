// Settings of a running alarm server and the sink its log lines go to.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace corvantis::server {

// Receives one finished log line (without line feed); called from any server thread, one
// call at a time. An empty sink discards the log.
using LogSink = std::function<void(std::string_view line)>;

struct ServerOptions {
  std::filesystem::path dataDir;  // holds the database and the snapshots
  std::string listenAddress = "127.0.0.1";
  uint16_t port = 1100;                          // 0: any free port (Server::Start reports it)
  std::size_t maxSize = 16 << 20;                // largest accepted snapshot, in bytes
  std::chrono::milliseconds idleTimeout{60000};  // silence after which a connection ends
  int ioThreads = 1;                             // threads running the connections
  int verifyThreads = 2;                         // threads checking passwords (argon2id)
  std::size_t maxConnections = 1024;             // connections served at once; more are refused
  std::size_t bodyBudget = 256 << 20;  // snapshot bytes held in memory at once, all clients
  int loginFailureLimit = 5;           // failed logins per client address and window
  std::chrono::seconds loginFailureWindow{60};
  std::chrono::seconds loginCacheTime{300};  // how long a verified password is remembered
  std::size_t maxBatch = 256;                // uploads synced to disk together at most
  int syncThreads = 16;                      // threads writing and syncing a batch's files
  LogSink log;
};

}  // namespace corvantis::server
