// Settings of a running alarm server and the sink its log lines go to.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "server/clock.h"
#include "server/schema.h"
#include "server/web/web_settings.h"

namespace corvantis::server {

// Receives one finished log line (without line feed); called from any server thread, one
// call at a time. An empty sink discards the log.
using LogSink = std::function<void(std::string_view line)>;

// Where events are announced (none of them by default). See notifiers.h.
struct MqttSettings {
  std::string host;  // empty: no MQTT
  uint16_t port = 1883;
  std::string user;      // empty: connect without a user name
  std::string password;  // read from a file, never from the command line
  std::string prefix = "corvantis";
};
struct WebhookSettings {
  std::string url;  // empty: no webhook; http:// or https://
  std::chrono::milliseconds timeout{5000};
  std::chrono::milliseconds backoff{1000};  // before the first retry, doubling after each
  int retries = 5;
};
struct CommandSettings {
  std::string command;  // empty: none; run by /bin/sh -c
  std::chrono::milliseconds timeout{30000};
};
struct NotifySettings {
  MqttSettings mqtt;
  WebhookSettings webhook;
  CommandSettings command;
  std::size_t queueLimit = 256;  // notifications waiting per receiver; more are dropped
};

// What is removed when (see retention.h).
struct RetentionSettings {
  int keepDays = 30;                  // 0: events are kept however old
  uint64_t minFree = 1ull << 30;      // bytes kept free on the data directory's file system; 0: off
  std::chrono::seconds interval{60};  // time between two passes
  // Free bytes of the data directory's file system; empty: ask the file system.
  std::function<std::optional<uint64_t>(const std::filesystem::path&)> freeBytes;
};

struct ServerOptions {
  std::filesystem::path dataDir;  // holds the database and the snapshots
  std::string listenAddress = "127.0.0.1";
  uint16_t port = 1100;            // 0: any free port (Server::Start reports it)
  std::size_t maxSize = 16 << 20;  // largest accepted snapshot, in bytes
  int ioThreads = 1;               // threads running the connections
  int verifyThreads = 2;           // threads checking passwords (argon2id)

  // Connections, counted from accept until closed. 0: 1024, or fewer when the descriptor
  // limit leaves less room.
  std::size_t maxConnections = 0;
  std::size_t maxPerClient = 32;  // connections from one client (client_key.h)

  // Deadlines. Each line (a header's two lines together) must be whole within idleTimeout
  // of the reply before it; bytes on their own do not renew it.
  std::chrono::milliseconds idleTimeout{60000};
  std::chrono::milliseconds loginTimeout{10000};  // from accept to the accepted login
  std::chrono::milliseconds writeTimeout{10000};  // for each reply to leave
  // A body must arrive at minBodyRate bytes a second on average, counted from bodyGrace
  // (or the idle time, when shorter) after its "354" reply.
  std::size_t minBodyRate = 8192;
  std::chrono::milliseconds bodyGrace{10000};
  std::chrono::milliseconds memoryWait{10000};  // a header waits this long for memory

  std::size_t bodyBudget = 256 << 20;  // snapshot bytes held in memory at once, all clients

  // Login attempts (in hand and failed within the window) per client and per account; the
  // password checks waiting per client and in all.
  int loginFailureLimit = 5;
  int accountFailureLimit = 10;
  std::chrono::seconds loginFailureWindow{60};
  std::size_t throttleEntries = 16384;  // clients, and accounts, the throttle keeps
  std::size_t checksPerClient = 4;
  std::size_t checksWaiting = 64;
  std::chrono::seconds loginCacheTime{300};  // how long a verified password is remembered

  std::size_t maxBatch = 256;  // uploads synced to disk together at most
  int syncThreads = 16;        // threads writing and syncing a batch's files
  std::chrono::milliseconds eventGap = kDefaultEventGap;  // longest gap inside one event
  Clock* clock = &SystemClock();                          // times of uploads and events
  NotifySettings notify;
  RetentionSettings retention;
  WebSettings web;
  LogSink log;
};

}  // namespace corvantis::server
