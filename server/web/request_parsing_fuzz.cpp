// Feeds any bytes to what the gallery reads from a browser: a request as Beast parses it
// (line, fields, body, within the gallery's limits), then its target, cookie and form
// through the gallery's own readers, and the names and values they give back through the
// page and link encoders. None of them may crash, overrun or loop; what they accept must
// keep the promises their headers make.
#include <boost/beast/http.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/web/html.h"
#include "server/web/request_parsing.h"

namespace {

namespace http = boost::beast::http;
using namespace corvantis::server;

void Check(bool condition) {
  if (!condition) std::abort();
}

void ReadWhatTheGalleryReads(std::string_view target, std::string_view cookie,
                             std::string_view body) {
  const Target split = SplitTarget(target);
  Check(split.path.size() + split.query.size() <= target.size());
  if (const auto segments = PathSegments(split.path)) {
    for (const auto segment : *segments) {
      Check(!segment.empty() && segment.find('/') == std::string_view::npos);
      if (const auto id = ParseId(segment)) Check(*id > 0);
    }
  }
  if (const auto value = CookieValue(cookie, "corvantis_session")) {
    Check(value->size() <= cookie.size());
  }
  for (const auto text : {split.query, body}) {
    const auto fields = ParseForm(text);
    if (!fields) continue;
    Check(fields->size() <= 32);
    for (const auto& [name, value] : *fields) {
      const std::string html = Html(value);
      Check(html.find('<') == std::string::npos && html.find('"') == std::string::npos);
      const std::string link = UrlEncode(name);
      Check(link.find('&') == std::string::npos && link.find('/') == std::string::npos);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The pieces straight, as if Beast had let anything through.
  const auto first = bytes.find('\n');
  const auto second = first == std::string_view::npos ? first : bytes.find('\n', first + 1);
  ReadWhatTheGalleryReads(
      bytes.substr(0, first),
      first == std::string_view::npos ? "" : bytes.substr(first + 1, second - first - 1),
      second == std::string_view::npos ? "" : bytes.substr(second + 1));
  // A whole request on the wire, as the connection reads it.
  http::request_parser<http::string_body> parser;
  parser.header_limit(8192);
  parser.body_limit(16384);
  parser.eager(true);
  boost::system::error_code ec;
  std::string_view rest = bytes;
  while (!rest.empty() && !parser.is_done()) {
    const std::size_t used = parser.put(boost::asio::buffer(rest.data(), rest.size()), ec);
    if (ec || used == 0) break;
    rest.remove_prefix(used);
  }
  if (!ec && parser.is_header_done()) {
    const auto& message = parser.get();
    const auto target = message.target();
    const auto cookie = message[http::field::cookie];
    ReadWhatTheGalleryReads(std::string_view(target.data(), target.size()),
                            std::string_view(cookie.data(), cookie.size()),
                            parser.is_done() ? std::string_view(message.body()) : "");
  }
  return 0;
}
