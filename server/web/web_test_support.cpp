#include "server/web/web_test_support.h"

#include <sys/socket.h>

#include <gtest/gtest.h>
#include <boost/beast/core.hpp>

#include <jpeglib.h>
#include <cstdio>

#include <regex>

#include "server/database.h"

namespace corvantis::server::testing {

namespace beast = boost::beast;
namespace http = beast::http;

struct WebClient::State {
  asio::io_context io;
  asio::ip::tcp::socket socket{io};
  beast::flat_buffer buffer;
  std::optional<http::response_parser<http::string_body>> streamParser;
};

WebClient::WebClient(const asio::ip::tcp::endpoint& server, const std::string& sourceAddress)
    : state_(std::make_unique<State>()) {
  auto& socket = state_->socket;
  socket.open(asio::ip::tcp::v4());
  socket.bind(asio::ip::tcp::endpoint(asio::ip::make_address(sourceAddress), 0));
  // A silent server fails the test instead of hanging it.
  timeval timeout{10, 0};
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  socket.connect(server);
}

WebClient::~WebClient() = default;

HttpResponse WebClient::Get(const std::string& target, const std::string& cookie,
                            const std::vector<std::pair<std::string, std::string>>& fields) {
  return Send("GET", target, "", cookie, fields);
}

HttpResponse WebClient::Post(const std::string& target, const std::string& form,
                             const std::string& cookie,
                             const std::vector<std::pair<std::string, std::string>>& fields) {
  auto all = fields;
  all.emplace_back("Content-Type", "application/x-www-form-urlencoded");
  return Send("POST", target, form, cookie, all);
}

HttpResponse WebClient::Send(const std::string& method, const std::string& target,
                             const std::string& body, const std::string& cookie,
                             const std::vector<std::pair<std::string, std::string>>& fields) {
  http::request<http::string_body> request(http::string_to_verb(method), target, 11);
  request.set(http::field::host, "gallery.test");
  if (!cookie.empty()) request.set(http::field::cookie, "corvantis_session=" + cookie);
  for (const auto& [name, value] : fields) request.set(name, value);
  if (!body.empty() || method == "POST") request.body() = body;
  request.prepare_payload();
  http::write(state_->socket, request);
  HttpResponse response;
  beast::error_code ec;
  if (method == "HEAD") {
    http::response_parser<http::string_body> parser;
    parser.skip(true);
    http::read(state_->socket, state_->buffer, parser, ec);
    EXPECT_FALSE(ec) << method << " " << target << ": " << ec.message();
    return parser.release();
  }
  http::read(state_->socket, state_->buffer, response, ec);
  EXPECT_FALSE(ec) << method << " " << target << ": " << ec.message();
  return response;
}

void WebClient::Write(const std::string& bytes) {
  asio::write(state_->socket, asio::buffer(bytes));
}

std::string WebClient::ReadToClose() {
  std::string all(static_cast<const char*>(state_->buffer.data().data()), state_->buffer.size());
  state_->buffer.clear();
  char chunk[4096];
  for (;;) {
    boost::system::error_code ec;
    const std::size_t n = state_->socket.read_some(asio::buffer(chunk), ec);
    if (ec) {
      EXPECT_NE(ec, asio::error::would_block) << "the server kept the connection open";
      return all;
    }
    all.append(chunk, n);
  }
}

HttpResponse WebClient::ReadHeader() {
  state_->streamParser.emplace();
  beast::error_code ec;
  http::read_header(state_->socket, state_->buffer, *state_->streamParser, ec);
  EXPECT_FALSE(ec) << ec.message();
  HttpResponse response;
  response.base() = state_->streamParser->get().base();
  return response;
}

std::string WebClient::ReadSome() {
  std::string text(static_cast<const char*>(state_->buffer.data().data()), state_->buffer.size());
  state_->buffer.clear();
  if (!text.empty()) return text;
  char chunk[4096];
  boost::system::error_code ec;
  const std::size_t n = state_->socket.read_some(asio::buffer(chunk), ec);
  return ec ? "" : std::string(chunk, n);
}

std::string SessionFrom(const HttpResponse& response) {
  static const std::regex session("corvantis_session=([0-9a-f]{64});");
  for (const auto& field : response) {
    if (field.name() != http::field::set_cookie) continue;
    std::smatch match;
    const std::string value(field.value());
    if (std::regex_search(value, match, session)) return match[1];
  }
  return "";
}

std::string CsrfFrom(const std::string& page) {
  static const std::regex csrf("name=\"csrf\" value=\"([0-9a-f]{64})\"");
  std::smatch match;
  return std::regex_search(page, match, csrf) ? std::string(match[1]) : "";
}

WebTestServer::WebTestServer(const std::function<void(ServerOptions&)>& adjust)
    : TestServer([&](ServerOptions& options) {
        options.web.enabled = true;
        options.web.address = TestAddress();
        options.web.port = 0;
        options.loginCacheTime = std::chrono::seconds(0);
        if (adjust) adjust(options);
      }) {}

std::unique_ptr<WebClient> WebTestServer::Browser(int sourceVariant) {
  return std::make_unique<WebClient>(web(), TestAddress(sourceVariant));
}

std::string WebTestServer::SignIn(const std::string& user, const std::string& password,
                                  int sourceVariant) {
  const auto response =
      Browser(sourceVariant)
          ->Post("/signin", "user=" + user + "&password=" + password + "&next=%2Fevents");
  EXPECT_EQ(response.result_int(), 303u) << response.body();
  const std::string session = SessionFrom(response);
  EXPECT_FALSE(session.empty());
  return session;
}

void WebTestServer::UploadAll(const std::string& user, const std::string& password,
                              const std::vector<std::string>& pictures) {
  for (const std::string& picture : pictures) {
    auto client = LogIn(user, password);
    EXPECT_EQ(Upload(*client, picture).substr(0, 4), "250 ");
    client->Exchange("QUIT");
  }
}

std::string TestJpeg(int width, int height, int seed) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 70, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
  while (info.next_scanline < info.image_height) {
    const int y = static_cast<int>(info.next_scanline);
    for (int x = 0; x < width; ++x) {
      row[std::size_t(x) * 3] = static_cast<unsigned char>(x * 255 / width);
      row[std::size_t(x) * 3 + 1] = static_cast<unsigned char>(y * 255 / height);
      row[std::size_t(x) * 3 + 2] = static_cast<unsigned char>((seed * 53 + x + y) & 255);
    }
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&info, &pointer, 1);
  }
  jpeg_finish_compress(&info);
  std::string jpeg(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return jpeg;
}

std::vector<StoredUpload> StoredUploads(const std::filesystem::path& dataDir) {
  Database db(dataDir / Database::kFileName);
  Statement query(db.handle(), "SELECT id, user, file, event FROM uploads ORDER BY time, id");
  std::vector<StoredUpload> rows;
  while (query.Step()) {
    rows.push_back(
        {query.ColumnInt(0), query.ColumnText(1), query.ColumnText(2), query.ColumnInt(3)});
  }
  return rows;
}

}  // namespace corvantis::server::testing
