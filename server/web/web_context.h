// What the web gallery's connections share (web_server.h makes it): the gallery and its
// services, the threads that run requests, and the count of open connections. Every
// connection holds it, so it lives as long as the last of them.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "server/asio.h"
#include "server/options.h"
#include "server/web/database_pool.h"
#include "server/web/gallery.h"
#include "server/web/live_feed.h"
#include "server/web/sign_in_check.h"
#include "server/web/web_sessions.h"

namespace corvantis::server {

struct WebContext {
  WebContext(const WebSettings& settings, const std::filesystem::path& dataDir, EventHub& hub,
             LoginGate& logins, Clock& clock, LogSink logSink);

  const WebLimits limits;
  const LogSink log;
  const bool tls;
  DatabasePool databases;
  WebSessions sessions;
  LiveFeed feed;
  SignInCheck signIn;
  Gallery gallery;
  asio::thread_pool workers;  // runs Gallery::Handle; joined by the WebServer

  // Takes a new connection from `address` into the count; false when there is no room for it
  // (`why` says which limit).
  bool Admit(const std::string& address, const char*& why);
  // Gives its place back, when a connection admitted has ended.
  void Release(const std::string& address);
  // Closing functions of the open connections, by connection; called when the server stops.
  uint64_t Register(std::function<void()> close);
  void Unregister(uint64_t id);
  void CloseAll();

 private:
  std::mutex mutex_;
  bool stopping_ = false;
  std::size_t open_ = 0;
  std::map<std::string, std::size_t> perAddress_;
  uint64_t nextId_ = 1;
  std::map<uint64_t, std::function<void()>> closers_;
};

}  // namespace corvantis::server
