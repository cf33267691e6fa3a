// The operating system's BSD socket calls behind the 1.1 socket names. This header is free
// of system types so that it can sit beside platform/sockets.h, whose names clash with the
// system's socket headers. Addresses and ports are in network byte order; every call that
// fails gives -1 and stores the platform's socket error code in *error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::bsd {

// A blocking IPv4 TCP socket, closed on exec.
int OpenStreamSocket(int* error);
// A connect that runs out of the send time-out fails with WSAETIMEDOUT.
int Connect(int fd, uint32_t address, uint16_t port, int* error);
// Hands over all `length` bytes (a blocking send on the platform does not stop half way),
// without raising SIGPIPE when the peer has gone; gives `length` or -1.
int Send(int fd, const char* data, int length, int* error);
// One receive of at most `length` bytes; 0 when the peer has closed the connection.
int Receive(int fd, char* buffer, int length, int* error);
// Send (SO_SNDTIMEO) or receive (SO_RCVTIMEO) time-out in milliseconds; 0 for none.
int SetTimeout(int fd, bool sending, uint32_t milliseconds, int* error);
int SetNoDelay(int fd, bool on, int* error);
void Close(int fd);

// Looks up the IPv4 addresses of `name` (a host name or a dotted address), in the
// resolver's order without repeats; gives 0 or -1.
int ResolveIPv4(const char* name, std::string* canonicalName, std::vector<uint32_t>* addresses,
                int* error);
// Parses a dotted IPv4 address ("127.0.0.1").
bool ParseDottedIPv4(const char* text, uint32_t* address);

}  // namespace platform::bsd
