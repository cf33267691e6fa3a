// The name a client is counted under by the connection limits and the login throttle.
#pragma once

#include "server/asio.h"

#include <string>

namespace corvantis::server {

// An IPv4 address as written ("127.0.0.1"); an IPv4 address mapped into IPv6 the same way;
// any other IPv6 address as its /64 network ("2001:db8:1:2::/64"), because one host is
// routinely given a whole /64 and would otherwise count as endlessly many clients.
std::string ClientKey(const asio::ip::address& address);

}  // namespace corvantis::server
