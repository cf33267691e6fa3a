// One request to the web gallery and its response, apart from HTTP's wire format: the
// connection (http_connection.h) fills a WebRequest from what Beast parsed, the gallery
// (gallery.h) answers it, and the connection writes the WebResponse out.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/web/web_sessions.h"

namespace corvantis::server {

// Header fields every response carries, pages, pictures and errors alike: no script or
// picture from elsewhere, no framing by other sites, no guessing of content types, and no
// address of a page sent on to anybody.
inline constexpr std::pair<const char*, const char*> kEveryResponseFields[] = {
    {"Content-Security-Policy", "default-src 'self'; img-src 'self'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
};

struct WebRequest {
  std::string method;  // as sent: "GET", "HEAD", "POST", ...
  std::string target;  // "/events?day=2024-05-01"
  // The header fields the gallery reads ("" when absent).
  std::string host;
  std::string cookie;
  std::string origin;
  std::string fetchSite;  // Sec-Fetch-Site
  std::string contentType;
  std::string ifNoneMatch;
  std::string body;
  std::string client;  // the client's address, "127.0.0.1": what sign-ins are throttled by
  std::string peer;    // "127.0.0.1:40312", for the log
  bool tls = false;
};

// A file descriptor that closes itself.
class OwnedFile {
 public:
  OwnedFile() = default;
  explicit OwnedFile(int fd) : fd_(fd) {}
  OwnedFile(OwnedFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFile& operator=(OwnedFile&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~OwnedFile() { Reset(); }
  int get() const { return fd_; }
  // Gives the descriptor away; the caller closes it.
  int release() { return std::exchange(fd_, -1); }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

struct WebResponse {
  unsigned status = 200;
  std::string contentType;  // empty: no body
  // Fields beyond the ones every response carries (web_headers.h): Location, Set-Cookie,
  // ETag, Cache-Control, Content-Disposition.
  std::vector<std::pair<std::string, std::string>> fields;
  std::string body;
  // Instead of `body`: this open file, `fileSize` bytes of it from its start.
  OwnedFile file;
  uint64_t fileSize = 0;
  // Instead of a body: the live stream of the signed-in account (live_feed.h), for as long
  // as this session lasts.
  std::optional<WebSessions::Session> stream;
};

}  // namespace corvantis::server
