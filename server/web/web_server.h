// The web gallery's listener on the server's own event loop: it accepts browsers' connections
// (HTTP, or HTTPS with --tls-cert and --tls-key), counts them against the limits overall and
// per client address, and hands each to its connection (http_connection.h). The gallery's
// work runs on a few worker threads of its own, so neither a page nor a ZIP file ever holds
// up the alarm port's uploads.
#pragma once

#include <filesystem>
#include <memory>

#include "server/asio.h"
#include "server/event_hub.h"
#include "server/login_gate.h"
#include "server/options.h"

namespace boost::asio::ssl {
class context;
}

namespace corvantis::server {

struct WebContext;

struct WebServices {
  std::filesystem::path dataDir;
  EventHub& hub;
  LoginGate& logins;  // shared with the alarm port
  Clock& clock;
  LogSink log;
};

class WebServer {
 public:
  // Makes the gallery's folders (thumbnails/, web-tmp/, emptying the latter) and reads the
  // TLS certificate and key. Throws std::runtime_error when they cannot be read, or when
  // plain HTTP is asked for on an address other than loopback without `insecure`.
  WebServer(asio::io_context& io, const WebSettings& settings, WebServices services);
  // Stops and waits for the worker threads.
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds the address; returns it (with the real port when port 0 was asked for). Throws
  // std::system_error when it cannot be bound.
  asio::ip::tcp::endpoint Bind();
  // Starts accepting on the bound address.
  void Start();
  // Stops accepting and ends every connection; returns at once. Safe from any thread.
  void Stop();
  // Waits for the worker threads to finish what they have in hand (after Stop).
  void Join();

 private:
  void Accept();

  asio::io_context& io_;
  const WebSettings settings_;
  const LogSink log_;
  std::unique_ptr<asio::ssl::context> tls_;
  std::shared_ptr<WebContext> context_;
  asio::ip::tcp::acceptor acceptor_;
};

// True for 127.0.0.0/8 and ::1 (and ::ffff:127.x.y.z).
bool IsLoopbackAddress(const std::string& address);

}  // namespace corvantis::server
