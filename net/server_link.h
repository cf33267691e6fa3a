// The values the login and upload exchanges share: the server's name and address, the
// credentials of the last login, and the buffer of the last reply.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/sockets.h"

// The alarm server's host name (at most 26 characters, terminated).
extern char serverHostName[27];
// The result of the last lookup of serverHostName: an IPv4 address in network byte order,
// or none (valid 0) before the first lookup and after a failed one.
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

// The TCP port of the alarm server.
inline constexpr uint16_t kServerPort = 1100;

// Send and receive time-out of every socket of both exchanges, in milliseconds (30 s), so a
// silent server cannot hold the login dialog or the armed alarm for ever. A call that runs
// out of it fails like any other failed call of that step.
extern std::atomic<uint32_t> serverTimeoutMilliseconds;
// Whether the exchanges switch off the coalescing of small sends (TCP_NODELAY), so that a
// reply is not held back waiting for the acknowledgement of the previous piece (on by
// default; the bytes on the wire are the same either way).
extern std::atomic<int32_t> serverNoDelay;
// Held by each exchange for its whole run, so that a login never runs beside an upload that
// is still finishing on the alarm thread: they share the buffers above.
extern std::mutex serverLinkMutex;
