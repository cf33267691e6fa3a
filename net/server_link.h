// The values the login and upload exchanges share: the server's name and address, the
// credentials of the last login, and the buffer of the last reply.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

// The alarm server's host name (at most 26 characters, terminated).
extern char serverHostName[27];
// The result of the last lookup of serverHostName: an IPv4 address in network byte order,
// or none (serverHostValid 0) before the first lookup and after a failed one.
struct ServerHostRecord {
  int32_t valid;
  in_addr address;
};
extern ServerHostRecord serverHost;
// The user name and password of the last login exchange, each with its final line feed.
extern char storedUserName[1024];
extern char storedPassword[1024];
// The last reply received: up to 1024 bytes and a terminator.
extern char ServerReply[1025];

// Writes the configured host name into serverHostName, byte by byte.
void SetServerHostName();
