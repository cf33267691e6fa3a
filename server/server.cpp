#include "server/server.h"

#include <sys/stat.h>

#include "server/asio.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "server/client_key.h"
#include "server/log.h"
#include "server/recovery.h"

namespace corvantis::server {

namespace {

constexpr std::size_t kDefaultMaxConnections = 1024;
// How long accepting pauses when the process has run out of descriptors.
constexpr std::chrono::milliseconds kAcceptPause{100};
// Waiting clients refused with the spare descriptor in one round, before the pause.
constexpr int kRefusalsPerRound = 64;

constexpr const char* kServerFull = "300 Too many connections; try again later.";
constexpr const char* kClientFull = "300 Too many connections from your address; try again later.";

// Works out the connection limit: the default fits inside the descriptor limit (raised to
// its hard limit first); a limit asked for is kept, with a warning when it does not fit.
ServerOptions Settled(ServerOptions options) {
  const std::size_t descriptors = RaiseDescriptorLimit();
  const std::size_t room = descriptors > kDescriptorsBesideConnections * 2
                               ? descriptors - kDescriptorsBesideConnections
                               : descriptors / 2;
  if (options.maxConnections == 0) {
    options.maxConnections = std::min(kDefaultMaxConnections, room);
    if (options.maxConnections < kDefaultMaxConnections) {
      WriteLog(options.log, "at most " + std::to_string(options.maxConnections) +
                                " connections: the descriptor limit is " +
                                std::to_string(descriptors));
    }
  } else if (options.maxConnections > room) {
    WriteLog(options.log, "warning: " + std::to_string(options.maxConnections) +
                              " connections may need more descriptors than the limit of " +
                              std::to_string(descriptors) + " allows");
  }
  return options;
}

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

// An accept that failed for want of descriptors (or of kernel memory for one). asio's
// errors carry a category of its own, which compares with std::errc by number only.
bool IsOutOfDescriptors(const error_code& error) {
  if (error.category() != asio::error::get_system_category()) return false;
  const int value = error.value();
  return value == EMFILE || value == ENFILE || value == ENOBUFS || value == ENOMEM;
}

// Upgrades the data and puts right what a crash left, before the store opens it.
bool Recovered(const ServerOptions& options) {
  RecoverAtStart(options.dataDir, options.eventGap, options.log);
  return true;
}

}  // namespace

Server::Server(ServerOptions options)
    : options_(Settled(std::move(options))),
      lock_(Prepared(options_).dataDir),
      recovered_(Recovered(options_)),
      store_(options_.dataDir, options_.maxBatch, options_.syncThreads,
             {options_.clock, &hub_, options_.eventGap}),
      checker_(options_.dataDir, options_.loginCacheTime),
      throttle_({options_.loginFailureLimit, options_.accountFailureLimit,
                 options_.loginFailureWindow, options_.throttleEntries}),
      logins_(throttle_, checker_,
              {options_.verifyThreads, options_.checksPerClient, options_.checksWaiting}),
      budget_(std::max(options_.bodyBudget, options_.maxSize)),
      connections_(options_.maxConnections, options_.maxPerClient),
      retention_(options_.dataDir, options_.retention, *options_.clock, options_.log),
      services_{options_, store_,     logins_,
                budget_,  retention_, [this](Session* session) { Forget(session); }},
      acceptor_(asio::make_strand(io_)),
      acceptPause_(acceptor_.get_executor()) {
  if (options_.web.enabled) {
    web_ = std::make_unique<WebServer>(
        io_, options_.web,
        WebServices{options_.dataDir, hub_, logins_, *options_.clock, options_.log});
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
  logins_.Stop();
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
  acceptor_.async_accept(asio::make_strand(io_),
                         [this](error_code ec, asio::ip::tcp::socket socket) {
                           if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
                           if (!ec) {
                             Admit(std::move(socket));
                           } else if (IsOutOfDescriptors(ec)) {
                             return OutOfDescriptors(ec);
                           }
                           // Other errors (a client gone before it was accepted) end one accept,
                           // not the server.
                           Accept();
                         });
}

void Server::Admit(asio::ip::tcp::socket socket) {
  error_code ec;
  const auto peer = socket.remote_endpoint(ec);
  if (ec) return;  // gone already; the socket closes with it
  const std::string client = ClientKey(peer.address());
  ConnectionPlace place;
  const auto refusal = connections_.Enter(client, place);
  if (refusal != ConnectionTable::Refusal::kNone) {
    const bool server = refusal == ConnectionTable::Refusal::kServerFull;
    RefuseAndClose(socket.release(ec), server ? kServerFull : kClientFull);
    uint64_t held = 0;
    if (refusalLog_.Allow(held)) {
      WriteLog(options_.log,
               peer.address().to_string() + ":" + std::to_string(peer.port()) +
                   " outcome=" + (server ? "server full" : "client full") + " (" +
                   std::to_string(server ? connections_.maxTotal() : connections_.maxPerClient()) +
                   " connections)" +
                   (held ? "; " + std::to_string(held) + " more refused since the last line" : ""));
    }
    return;
  }
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    session = std::make_shared<Session>(std::move(socket), services_, std::move(place), client);
    sessions_.emplace(session.get(), session);
  }
  session->Start();
}

void Server::OutOfDescriptors(const error_code& error) {
  // Accepting again at once would fail again at once, for ever: refuse the clients waiting
  // now with the spare descriptor's room, then pause before the next try.
  auto outcome = SpareDescriptor::Refusal::kRefused;
  for (int round = 0; round < kRefusalsPerRound; ++round) {
    outcome = spare_.RefuseOne(acceptor_.native_handle(), kServerFull);
    if (outcome != SpareDescriptor::Refusal::kRefused) break;
    ++refusedWithSpare_;
  }
  if (outcome == SpareDescriptor::Refusal::kRoomAgain) return Accept();
  uint64_t held = 0;
  if (exhaustionLog_.Allow(held)) {
    WriteLog(options_.log, "out of descriptors (" + error.message() +
                               "): pausing accepts; refused " + std::to_string(refusedWithSpare_) +
                               " connections since the last line");
    refusedWithSpare_ = 0;
  }
  acceptPause_.expires_after(kAcceptPause);
  acceptPause_.async_wait([this](error_code ec) {
    if (!ec) Accept();
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
    acceptPause_.cancel();
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
