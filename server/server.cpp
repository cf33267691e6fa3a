#include "server/server.h"

#include <sys/stat.h>

#include <asio/post.hpp>
#include <asio/strand.hpp>

#include <algorithm>
#include <cstdio>

#include "server/log.h"

namespace corvantis::server {

namespace {

// Makes the data directory before anything opens files in it, and warns when others may
// look into it.
const ServerOptions& Prepared(const ServerOptions& options) {
  PrepareDataDir(options.dataDir);
  struct stat status {};
  if (::stat(options.dataDir.c_str(), &status) == 0 && (status.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    WriteLog(options.log, "warning: the data directory " + options.dataDir.string() +
                              " is open to group or others (mode " + mode +
                              "); it holds the password hashes and every snapshot: chmod 700 it");
  }
  return options;
}

}  // namespace

Server::Server(ServerOptions options)
    : options_(std::move(options)),
      lock_(Prepared(options_).dataDir),
      store_(options_.dataDir, options_.maxBatch, options_.syncThreads),
      checker_(options_.dataDir, options_.verifyThreads, options_.loginCacheTime),
      throttle_(options_.loginFailureLimit, options_.loginFailureWindow),
      budget_(std::max(options_.bodyBudget, options_.maxSize)),
      services_{options_,  store_,  checker_,
                throttle_, budget_, [this](Session* session) { Forget(session); },
                active_},
      acceptor_(asio::make_strand(io_)) {}

Server::~Server() {
  Stop();
  Wait();
  checker_.Stop();
  store_.Stop();
}

asio::ip::tcp::endpoint Server::Start() {
  const asio::ip::tcp::endpoint wanted(asio::ip::make_address(options_.listenAddress),
                                       options_.port);
  acceptor_.open(wanted.protocol());
  acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
  acceptor_.bind(wanted);
  acceptor_.listen(asio::socket_base::max_listen_connections);
  const auto endpoint = acceptor_.local_endpoint();
  Accept();
  const int count = std::max(1, options_.ioThreads);
  for (int i = 0; i < count; ++i) threads_.emplace_back([this] { io_.run(); });
  return endpoint;
}

void Server::Accept() {
  acceptor_.async_accept(
      asio::make_strand(io_), [this](std::error_code ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
        if (!ec) {
          std::shared_ptr<Session> session;
          {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            const bool full = active_ >= options_.maxConnections;
            if (!full) ++active_;
            session = std::make_shared<Session>(std::move(socket), services_, full);
            sessions_.emplace(session.get(), session);
          }
          session->Start();
        }
        // Errors such as running out of file descriptors end one accept, not the server.
        Accept();
      });
}

void Server::Forget(Session* session) {
  std::lock_guard lock(mutex_);
  sessions_.erase(session);
}

void Server::Stop() {
  std::vector<std::shared_ptr<Session>> open;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    for (auto& [key, weak] : sessions_) {
      if (auto session = weak.lock()) open.push_back(std::move(session));
    }
  }
  asio::post(acceptor_.get_executor(), [this] {
    std::error_code ec;
    acceptor_.close(ec);
  });
  for (auto& session : open) session->Close();
}

void Server::Wait() {
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

}  // namespace corvantis::server
