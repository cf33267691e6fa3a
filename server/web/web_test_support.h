// Helpers of the web gallery's tests: a blocking HTTP client bound to a chosen loopback
// address, a server with its gallery on, and JPEG pictures to upload.
#pragma once

#include <boost/beast/http.hpp>

#include <memory>
#include <string>
#include <vector>

#include "server/asio.h"
#include "server/test_support.h"

namespace corvantis::server::testing {

using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

// One HTTP/1.1 connection from `sourceAddress` to the gallery: requests written whole, each
// answer read whole. Fails the test after ten seconds of silence.
class WebClient {
 public:
  WebClient(const asio::ip::tcp::endpoint& server, const std::string& sourceAddress);
  ~WebClient();

  // `cookie` is the session id ("" none); `fields` are more header fields.
  HttpResponse Get(const std::string& target, const std::string& cookie = "",
                   const std::vector<std::pair<std::string, std::string>>& fields = {});
  HttpResponse Post(const std::string& target, const std::string& form,
                    const std::string& cookie = "",
                    const std::vector<std::pair<std::string, std::string>>& fields = {});
  HttpResponse Send(const std::string& method, const std::string& target, const std::string& body,
                    const std::string& cookie,
                    const std::vector<std::pair<std::string, std::string>>& fields);
  // Raw bytes, for requests no well-behaved client sends.
  void Write(const std::string& bytes);
  // Everything the server sends until it closes the connection (or ten seconds pass).
  std::string ReadToClose();
  // Reads an answer's header only (a stream's), then its body as it comes.
  HttpResponse ReadHeader();
  std::string ReadSome();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The session id in a response's Set-Cookie ("" when there is none).
std::string SessionFrom(const HttpResponse& response);
// The value of the hidden field "csrf" in a page.
std::string CsrfFrom(const std::string& page);

// A server with the gallery on this test's loopback address (a free port), and helpers to
// act as its users.
class WebTestServer : public TestServer {
 public:
  explicit WebTestServer(const std::function<void(ServerOptions&)>& adjust = {});
  asio::ip::tcp::endpoint web() { return *server().webEndpoint(); }
  std::unique_ptr<WebClient> Browser(int sourceVariant = 0);
  // Signs `user` in through the form; fails the test when it is refused. The session id.
  std::string SignIn(const std::string& user, const std::string& password, int sourceVariant = 0);
  // Uploads `pictures` on the alarm port as `user`.
  void UploadAll(const std::string& user, const std::string& password,
                 const std::vector<std::string>& pictures);
};

// A JPEG of `width` x `height` pixels whose picture depends on `seed`.
std::string TestJpeg(int width, int height, int seed);

// One row per upload: id, user, file, event, in the order stored.
struct StoredUpload {
  int64_t id;
  std::string user;
  std::string file;
  int64_t event;
};
std::vector<StoredUpload> StoredUploads(const std::filesystem::path& dataDir);

}  // namespace corvantis::server::testing
