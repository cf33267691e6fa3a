// Test controls of the socket service: the table through which every socket call goes, so
// that a test can make any one call fail with the error it chooses, and a resolver hook
// that points a host name at an address of the test's own.
#pragma once

#include "platform/sockets.h"

// The socket calls. The functions of platform/sockets.h call through `socketCalls`; a test
// may replace an entry (and call the saved one for the calls it lets through). Replace
// entries only while no other thread makes socket calls.
struct SocketCallTable {
  int (*WSAStartup)(WORD versionRequested, WSADATA* data);
  hostent* (*gethostbyname)(const char* name);
  SOCKET (*socket)(int family, int type, int protocol);
  int (*connect)(SOCKET s, const sockaddr* address, int addressLength);
  int (*send)(SOCKET s, const char* buffer, int length, int flags);
  int (*recv)(SOCKET s, char* buffer, int length, int flags);
  int (*setsockopt)(SOCKET s, int level, int option, const char* value, int length);
  int (*closesocket)(SOCKET s);
};

// The table in use; it starts as the real calls.
extern SocketCallTable socketCalls;
// The real calls.
extern const SocketCallTable kDefaultSocketCalls;

// Makes gethostbyname answer `dottedAddress` (such as "127.83.1.2") for `name` (compared
// without regard to case) without asking the resolver. Gives false for an address that is
// not a dotted IPv4 address.
bool SetTestHostAddress(const char* name, const char* dottedAddress);
// Forgets every name given to SetTestHostAddress.
void ClearTestHostAddresses();
