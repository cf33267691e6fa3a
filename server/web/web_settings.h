// Settings of the web gallery (see gallery.h): where it listens, its TLS files and the limits
// that keep it standing under attack.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace corvantis::server {

struct WebLimits {
  std::size_t maxConnections = 256;  // connections at once, all clients
  std::size_t maxPerAddress = 32;    // connections at once from one client address
  std::size_t maxTarget = 2048;      // bytes of a request's target (path and query)
  std::size_t maxHeader = 8192;      // bytes of a request line and its header fields together
  std::size_t maxBody = 16384;       // bytes of a request body (forms only)
  std::size_t maxRequests = 1000;    // requests served on one connection
  // A TLS handshake, and a whole request once its connection is idle, must arrive within this.
  std::chrono::milliseconds requestTimeout{15000};
  // Each piece of a response must leave within this, or the client is too slow to serve.
  std::chrono::milliseconds writeTimeout{20000};
  std::chrono::milliseconds streamKeepAlive{15000};  // a live page's stream says something
  std::size_t streamsPerAccount = 16;                // live pages followed at once per account
  std::chrono::seconds sessionIdle{12 * 3600};       // a sign-in ends after this long unused
  std::size_t maxSessions = 10000;                   // sign-ins kept, all accounts
  std::size_t sessionsPerAccount = 32;               // sign-ins kept per account (oldest go)
};

struct WebSettings {
  bool enabled = false;  // the command line turns it on at 127.0.0.1:8080 unless `--web off`
  std::string address = "127.0.0.1";
  uint16_t port = 8080;           // 0: any free port (Server::webEndpoint reports it)
  std::filesystem::path tlsCert;  // PEM certificate chain; with tlsKey: HTTPS
  std::filesystem::path tlsKey;   // PEM private key
  bool insecure = false;          // allows plain HTTP on an address other than loopback
  int workers = 2;                // threads that render pages, make thumbnails and ZIP files
  WebLimits limits;
};

}  // namespace corvantis::server
