// The alarm server: accepts connections and serves them on a few threads until stopped.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/body_budget.h"
#include "server/data_dir.h"
#include "server/login_guard.h"
#include "server/options.h"
#include "server/password_checker.h"
#include "server/session.h"
#include "server/snapshot_store.h"

namespace corvantis::server {

class Server {
 public:
  // Prepares the data directory and takes its lock, opens the database. Throws
  // std::runtime_error (or std::filesystem::filesystem_error) when it cannot.
  explicit Server(ServerOptions options);
  // Stops, waits for the connections to end and for every accepted upload to be stored.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the listening address, starts the threads and returns the address it listens on
  // (with the real port when port 0 was asked for). Throws std::system_error when the
  // address cannot be bound.
  asio::ip::tcp::endpoint Start();
  // Stops accepting and ends every connection; returns at once. Safe from any thread.
  void Stop();
  // Returns when the server's threads have ended (after Stop).
  void Wait();

 private:
  void Accept();
  void Forget(Session* session);

  ServerOptions options_;
  DataDirLock lock_;
  SnapshotStore store_;
  PasswordChecker checker_;
  LoginThrottle throttle_;
  BodyBudget budget_;
  std::atomic<std::size_t> active_{0};
  SessionServices services_;

  std::mutex mutex_;
  bool stopping_ = false;
  std::unordered_map<Session*, std::weak_ptr<Session>> sessions_;

  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  std::vector<std::thread> threads_;
};

}  // namespace corvantis::server
