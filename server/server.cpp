#include "server/server.h"

#include "server/asio.h"

#include <algorithm>

#include "server/log.h"
#include "server/recovery.h"

namespace corvantis::server {

namespace {

// Makes the data directory before anything opens files in it.
const ServerOptions& Prepared(const ServerOptions& options) {
  PrepareDataDir(options.dataDir);
  return options;
}

// Upgrades the data and puts right what a crash left, before the store opens it.
bool Recovered(const ServerOptions& options) {
  RecoverAtStart(options.dataDir, options.eventGap, options.log);
  return true;
}

}  // namespace

Server::Server(ServerOptions options)
    : options_(std::move(options)),
      lock_(Prepared(options_).dataDir),
      recovered_(Recovered(options_)),
      store_(options_.dataDir, options_.maxBatch, options_.syncThreads,
             {options_.clock, &hub_, options_.eventGap}),
      checker_(options_.dataDir, options_.verifyThreads, options_.loginCacheTime),
      throttle_(options_.loginFailureLimit, options_.loginFailureWindow),
      budget_(std::max(options_.bodyBudget, options_.maxSize)),
      retention_(options_.dataDir, options_.retention, *options_.clock, options_.log),
      services_{options_,
                store_,
                checker_,
                throttle_,
                budget_,
                retention_,
                [this](Session* session) { Forget(session); },
                active_},
      acceptor_(asio::make_strand(io_)) {
  if (options_.web.enabled) {
    web_ = std::make_unique<WebServer>(
        io_, options_.web,
        WebServices{options_.dataDir, hub_, throttle_, checker_, *options_.clock, options_.log});
  }
  const NotifySettings& notify = options_.notify;
  if (!notify.mqtt.host.empty()) {
    mqtt_ = std::make_unique<MqttNotifier>(notify.mqtt, options_.dataDir, notify.queueLimit, hub_,
                                           options_.log);
  }
  if (!notify.webhook.url.empty()) {
    webhook_ =
        std::make_unique<WebhookNotifier>(notify.webhook, notify.queueLimit, hub_, options_.log);
  }
  if (!notify.command.command.empty()) {
    command_ = std::make_unique<CommandNotifier>(notify.command, options_.dataDir,
                                                 notify.queueLimit, hub_, options_.log);
  }
}

Server::~Server() {
  Stop();
  Wait();
  // The gallery's requests in hand finish before the password checks they may wait for.
  if (web_) web_->Join();
  checker_.Stop();
  store_.Stop();
  // After the store: what its last batch published is still handed to the receivers.
  command_.reset();
  webhook_.reset();
  mqtt_.reset();
}

asio::ip::tcp::endpoint Server::Start() {
  const asio::ip::tcp::endpoint wanted(asio::ip::make_address(options_.listenAddress),
                                       options_.port);
  acceptor_.open(wanted.protocol());
  acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
  acceptor_.bind(wanted);
  acceptor_.listen(asio::socket_base::max_listen_connections);
  const auto endpoint = acceptor_.local_endpoint();
  if (web_) webEndpoint_ = web_->Bind();
  Accept();
  if (web_) web_->Start();
  const int count = std::max(1, options_.ioThreads);
  for (int i = 0; i < count; ++i) threads_.emplace_back([this] { io_.run(); });
  return endpoint;
}

void Server::Accept() {
  acceptor_.async_accept(
      asio::make_strand(io_), [this](error_code ec, asio::ip::tcp::socket socket) {
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
    error_code ec;
    acceptor_.close(ec);
  });
  for (auto& session : open) session->Close();
  if (web_) web_->Stop();
}

void Server::Wait() {
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

}  // namespace corvantis::server
