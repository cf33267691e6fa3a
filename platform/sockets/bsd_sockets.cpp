// BSD socket calls for the socket service. Sockets are blocking; a send or receive that
// returns EAGAIN has therefore run out of its time-out.
#include "platform/sockets/bsd_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/sockets/wsa_errors.h"

namespace platform::bsd {
namespace {

// The platform's code for each errno value of a socket call; the first entry found counts.
constexpr std::pair<int, int> kErrnoCodes[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    // Sockets are blocking, so "would block" means the time-out ran out.
    {EAGAIN, WSAETIMEDOUT},
    {EWOULDBLOCK, WSAETIMEDOUT},
    {ETIMEDOUT, WSAETIMEDOUT},
    {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    // The program never shuts a connection down itself, so a broken pipe means the peer
    // has reset or closed it: the platform reports that as a reset.
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

// The platform's socket error code for an errno value of a socket call.
int WsaErrorFromErrno(int errnoValue) {
  for (const auto& [errnoCode, wsaCode] : kErrnoCodes) {
    if (errnoCode == errnoValue) return wsaCode;
  }
  return WSASYSCALLFAILURE;
}

// Stores the platform's code for the failed call's errno in *error; gives -1.
int Failed(int* error) {
  *error = WsaErrorFromErrno(errno);
  return -1;
}

// The platform's code for a resolver failure.
int WsaErrorFromResolver(int code, int savedErrno) {
  switch (code) {
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
    case EAI_FAIL:
      return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
#endif
    case EAI_MEMORY:
      return WSAENOBUFS;
    case EAI_SYSTEM:
      return WsaErrorFromErrno(savedErrno);
    default:
      return WSANO_RECOVERY;
  }
}

}  // namespace

int OpenStreamSocket(int* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? Failed(error) : fd;
}

int Connect(int fd, uint32_t address, uint16_t port, int* error) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = port;
  peer.sin_addr.s_addr = address;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
  // A connect that runs out of SO_SNDTIMEO reports EINPROGRESS on Linux.
  *error = errno == EINPROGRESS ? WSAETIMEDOUT : WsaErrorFromErrno(errno);
  return -1;
}

int Send(int fd, const char* data, int length, int* error) {
  int sent = 0;
  while (sent < length) {
    ssize_t n = ::send(fd, data + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed(error);
    }
    sent += static_cast<int>(n);
  }
  return sent;
}

int Receive(int fd, char* buffer, int length, int* error) {
  for (;;) {
    ssize_t n = ::recv(fd, buffer, static_cast<size_t>(length), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    return Failed(error);
  }
}

int SetTimeout(int fd, bool sending, uint32_t milliseconds, int* error) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(milliseconds / 1000);
  limit.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  int option = sending ? SO_SNDTIMEO : SO_RCVTIMEO;
  return ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit) == 0 ? 0 : Failed(error);
}

int SetNoDelay(int fd, bool on, int* error) {
  int value = on ? 1 : 0;
  return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0 ? 0 : Failed(error);
}

void Close(int fd) {
  ::close(fd);
}

int ResolveIPv4(const char* name, std::string* canonicalName, std::vector<uint32_t>* addresses,
                int* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  int code = ::getaddrinfo(name, nullptr, &hints, &found);
  if (code != 0) {
    *error = WsaErrorFromResolver(code, errno);
    return -1;
  }
  canonicalName->assign(found->ai_canonname ? found->ai_canonname : name);
  addresses->clear();
  for (addrinfo* entry = found; entry; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET) continue;
    uint32_t address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    if (std::find(addresses->begin(), addresses->end(), address) == addresses->end())
      addresses->push_back(address);
  }
  ::freeaddrinfo(found);
  if (addresses->empty()) {
    *error = WSANO_DATA;
    return -1;
  }
  return 0;
}

bool ParseDottedIPv4(const char* text, uint32_t* address) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, text, &parsed) != 1) return false;
  *address = parsed.s_addr;
  return true;
}

}  // namespace platform::bsd
