// One browser's connection to the web gallery: HTTP/1.1 (Boost.Beast), plain or over TLS,
// on the server's event loop. It reads one request at a time within the request limits and
// deadline, has the gallery answer it on a worker thread, and writes the answer back with a
// deadline for each piece; a live page's stream (Server-Sent Events) stays open and sends
// the account's newest snapshot as the live feed changes.
#pragma once

#include <memory>

#include "server/asio.h"
#include "server/web/web_context.h"

namespace boost::asio::ssl {
class context;
}

namespace corvantis::server {

// Serves an accepted connection that the context has admitted (WebContext::Admit) from
// `address`; gives its place back when it ends. With `tls`, a TLS handshake comes first.
void ServeConnection(asio::ip::tcp::socket socket, std::shared_ptr<WebContext> context,
                     std::string address, asio::ssl::context* tls);

}  // namespace corvantis::server
