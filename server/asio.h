// The server's event loop, sockets and timers: Boost.Asio, under the short name the server's
// code uses for it.
#pragma once

// Boost 1.74's coroutine support uses std::exchange without including <utility> first.
#include <utility>

#include <boost/asio.hpp>

namespace asio = boost::asio;

namespace corvantis::server {

// What Boost.Asio's calls and completion handlers report.
using error_code = boost::system::error_code;

}  // namespace corvantis::server
