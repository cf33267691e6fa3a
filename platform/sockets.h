// Sockets under the 1.1 names, over the operating system's BSD sockets. Blocking calls only.
// This header stands in for the system's socket headers: a file that includes it must not
// include <sys/socket.h>, <netinet/in.h>, <arpa/inet.h> or <netdb.h>.
#pragma once

#include "platform/types.h"

#if defined(_WIN32)
// On Windows the system declares all of this itself.
#include <winsock.h>
#else

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET (static_cast<SOCKET>(~0))
#define SOCKET_ERROR (-1)

#define AF_INET 2
#define SOCK_STREAM 1
#define IPPROTO_TCP 6
#define SOL_SOCKET 0xffff
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define TCP_NODELAY 0x0001

// Error codes that WSAGetLastError answers.
#include "platform/sockets/wsa_errors.h"

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};

struct in_addr {
  uint32_t s_addr;  // network byte order
};

struct sockaddr {
  uint16_t sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  int16_t sin_family;
  uint16_t sin_port;  // network byte order
  in_addr sin_addr;
  char sin_zero[8];
};

struct hostent {
  char* h_name;
  char** h_aliases;
  int16_t h_addrtype;
  int16_t h_length;
  char** h_addr_list;
};

// Starts the socket library; 0 on success, otherwise the error code (WSAVERNOTSUPPORTED
// for a version below 1.1). Every successful start needs a WSACleanup.
int WSAStartup(WORD versionRequested, WSADATA* data);
// Releases one start of the socket library; the last one closes every socket still open.
// SOCKET_ERROR (WSANOTINITIALISED) when the library is not started.
int WSACleanup();
// The last socket error of the calling thread (the same value as GetLastError). Successful
// calls leave it alone.
int WSAGetLastError();
void WSASetLastError(int error);
// Looks up an IPv4 host (a name or a dotted address). The record stays valid until the
// next lookup on the same thread; null on failure (WSAGetLastError: WSAHOST_NOT_FOUND ...).
hostent* gethostbyname(const char* name);
uint16_t htons(uint16_t value);
uint32_t htonl(uint32_t value);
uint16_t ntohs(uint16_t value);
SOCKET socket(int family, int type, int protocol);
int connect(SOCKET s, const sockaddr* address, int addressLength);
// Gives the bytes sent or received, SOCKET_ERROR on failure; recv gives 0 when the peer has
// closed the connection.
int send(SOCKET s, const char* buffer, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
// SO_SNDTIMEO and SO_RCVTIMEO (level SOL_SOCKET) take a DWORD of milliseconds, 0 for none;
// TCP_NODELAY (level IPPROTO_TCP) a BOOL. Other options fail with WSAENOPROTOOPT.
int setsockopt(SOCKET s, int level, int option, const char* value, int length);
int closesocket(SOCKET s);

#endif  // _WIN32
