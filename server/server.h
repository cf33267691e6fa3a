// The alarm server: accepts connections and serves them on a few threads until stopped.
#pragma once

#include "server/asio.h"

#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/body_budget.h"
#include "server/command_notifier.h"
#include "server/connection_table.h"
#include "server/data_dir.h"
#include "server/descriptors.h"
#include "server/event_hub.h"
#include "server/log_limiter.h"
#include "server/login_gate.h"
#include "server/login_throttle.h"
#include "server/mqtt_notifier.h"
#include "server/options.h"
#include "server/password_checker.h"
#include "server/retention.h"
#include "server/session.h"
#include "server/snapshot_store.h"
#include "server/web/web_server.h"
#include "server/webhook_notifier.h"

namespace corvantis::server {

class Server {
 public:
  // Raises the descriptor limit, prepares the data directory and takes its lock, opens the
  // database (upgrading it and putting right what a crash left, see recovery.h), starts
  // retention and the notifiers. Throws std::runtime_error (or
  // std::filesystem::filesystem_error) when it cannot.
  explicit Server(ServerOptions options);
  // Stops, waits for the connections to end and for every accepted upload to be stored.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the listening address (and the web gallery's, when it is on), starts the threads
  // and returns the address it listens on (with the real port when port 0 was asked for).
  // Throws std::system_error when an address cannot be bound.
  asio::ip::tcp::endpoint Start();
  // The web gallery's address once started (with the real port); nothing when it is off.
  std::optional<asio::ip::tcp::endpoint> webEndpoint() const { return webEndpoint_; }
  // Stops accepting and ends every connection; returns at once. Safe from any thread.
  void Stop();
  // Returns when the server's threads have ended (after Stop).
  void Wait();
  // Tells what happens to stored snapshots and events, as it happens.
  EventHub& hub() { return hub_; }

  // The connections held now (for tests and benchmarks).
  ConnectionTable& connections() { return connections_; }
  // The options in force, the connection limit worked out.
  const ServerOptions& options() const { return options_; }

 private:
  void Accept();
  void Admit(asio::ip::tcp::socket socket);
  void OutOfDescriptors(const error_code& error);
  void Forget(Session* session);

  ServerOptions options_;
  DataDirLock lock_;
  bool recovered_;  // set once RecoverAtStart has run, before the store opens the data
  EventHub hub_;
  SnapshotStore store_;
  PasswordChecker checker_;
  LoginThrottle throttle_;
  LoginGate logins_;
  BodyBudget budget_;
  ConnectionTable connections_;
  Retention retention_;
  SessionServices services_;
  SpareDescriptor spare_;
  LogLimiter refusalLog_;
  LogLimiter exhaustionLog_;
  uint64_t refusedWithSpare_ = 0;  // refused for want of descriptors since the last log line

  std::mutex mutex_;
  bool stopping_ = false;
  std::unordered_map<Session*, std::weak_ptr<Session>> sessions_;

  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer acceptPause_;  // accepting waits out a lack of descriptors
  std::vector<std::thread> threads_;

  // The web gallery, on the same event loop; none when it is off.
  std::unique_ptr<WebServer> web_;
  std::optional<asio::ip::tcp::endpoint> webEndpoint_;

  std::unique_ptr<MqttNotifier> mqtt_;
  std::unique_ptr<WebhookNotifier> webhook_;
  std::unique_ptr<CommandNotifier> command_;
};

}  // namespace corvantis::server
