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

namespace platform::bsd {
namespace {

// The platform's codes, as platform/sockets.h defines them (that header cannot be
// included here).
enum WsaCode : int {
  kWsaEintr = 10004,
  kWsaEbadf = 10009,
  kWsaEacces = 10013,
  kWsaEfault = 10014,
  kWsaEinval = 10022,
  kWsaEmfile = 10024,
  kWsaEinprogress = 10036,
  kWsaEalready = 10037,
  kWsaEnotsock = 10038,
  kWsaEdestaddrreq = 10039,
  kWsaEmsgsize = 10040,
  kWsaEprototype = 10041,
  kWsaEnoprotoopt = 10042,
  kWsaEprotonosupport = 10043,
  kWsaEsocktnosupport = 10044,
  kWsaEopnotsupp = 10045,
  kWsaEafnosupport = 10047,
  kWsaEaddrinuse = 10048,
  kWsaEaddrnotavail = 10049,
  kWsaEnetdown = 10050,
  kWsaEnetunreach = 10051,
  kWsaEnetreset = 10052,
  kWsaEconnaborted = 10053,
  kWsaEconnreset = 10054,
  kWsaEnobufs = 10055,
  kWsaEisconn = 10056,
  kWsaEnotconn = 10057,
  kWsaEtimedout = 10060,
  kWsaEconnrefused = 10061,
  kWsaEnametoolong = 10063,
  kWsaEhostdown = 10064,
  kWsaEhostunreach = 10065,
  kWsaSyscallfailure = 10107,
  kWsaHostNotFound = 11001,
  kWsaTryAgain = 11002,
  kWsaNoRecovery = 11003,
  kWsaNoData = 11004,
};

// The platform's code for a resolver failure.
int WsaErrorFromResolver(int code, int savedErrno) {
  switch (code) {
    case EAI_NONAME:
      return kWsaHostNotFound;
    case EAI_AGAIN:
      return kWsaTryAgain;
    case EAI_FAIL:
      return kWsaNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return kWsaNoData;
#endif
    case EAI_MEMORY:
      return kWsaEnobufs;
    case EAI_SYSTEM:
      return WsaErrorFromErrno(savedErrno);
    default:
      return kWsaNoRecovery;
  }
}

}  // namespace

int WsaErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case EINTR:
      return kWsaEintr;
    case EBADF:
      return kWsaEbadf;
    case EACCES:
    case EPERM:
      return kWsaEacces;
    case EFAULT:
      return kWsaEfault;
    case EINVAL:
      return kWsaEinval;
    case EMFILE:
    case ENFILE:
      return kWsaEmfile;
    // Sockets are blocking, so "would block" means the time-out ran out.
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ETIMEDOUT:
      return kWsaEtimedout;
    case EINPROGRESS:
      return kWsaEinprogress;
    case EALREADY:
      return kWsaEalready;
    case ENOTSOCK:
      return kWsaEnotsock;
    case EDESTADDRREQ:
      return kWsaEdestaddrreq;
    case EMSGSIZE:
      return kWsaEmsgsize;
    case EPROTOTYPE:
      return kWsaEprototype;
    case ENOPROTOOPT:
      return kWsaEnoprotoopt;
    case EPROTONOSUPPORT:
      return kWsaEprotonosupport;
    case ESOCKTNOSUPPORT:
      return kWsaEsocktnosupport;
    case EOPNOTSUPP:
      return kWsaEopnotsupp;
    case EAFNOSUPPORT:
      return kWsaEafnosupport;
    case EADDRINUSE:
      return kWsaEaddrinuse;
    case EADDRNOTAVAIL:
      return kWsaEaddrnotavail;
    case ENETDOWN:
      return kWsaEnetdown;
    case ENETUNREACH:
      return kWsaEnetunreach;
    case ENETRESET:
      return kWsaEnetreset;
    case ECONNABORTED:
      return kWsaEconnaborted;
    // The program never shuts a connection down itself, so a broken pipe means the peer
    // has reset or closed it: the platform reports that as a reset.
    case ECONNRESET:
    case EPIPE:
      return kWsaEconnreset;
    case ENOBUFS:
    case ENOMEM:
      return kWsaEnobufs;
    case EISCONN:
      return kWsaEisconn;
    case ENOTCONN:
      return kWsaEnotconn;
    case ECONNREFUSED:
      return kWsaEconnrefused;
    case ENAMETOOLONG:
      return kWsaEnametoolong;
    case EHOSTDOWN:
      return kWsaEhostdown;
    case EHOSTUNREACH:
      return kWsaEhostunreach;
    default:
      return kWsaSyscallfailure;
  }
}

int OpenStreamSocket(int* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) *error = WsaErrorFromErrno(errno);
  return fd;
}

int Connect(int fd, uint32_t address, uint16_t port, int* error) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = port;
  peer.sin_addr.s_addr = address;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
  // A connect that runs out of SO_SNDTIMEO reports EINPROGRESS on Linux.
  *error = errno == EINPROGRESS ? kWsaEtimedout : WsaErrorFromErrno(errno);
  return -1;
}

int Send(int fd, const char* data, int length, int* error) {
  int sent = 0;
  while (sent < length) {
    ssize_t n = ::send(fd, data + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = WsaErrorFromErrno(errno);
      return -1;
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
    *error = WsaErrorFromErrno(errno);
    return -1;
  }
}

int SetTimeout(int fd, bool sending, uint32_t milliseconds, int* error) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(milliseconds / 1000);
  limit.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  if (::setsockopt(fd, SOL_SOCKET, sending ? SO_SNDTIMEO : SO_RCVTIMEO, &limit, sizeof limit) == 0)
    return 0;
  *error = WsaErrorFromErrno(errno);
  return -1;
}

int SetNoDelay(int fd, bool on, int* error) {
  int value = on ? 1 : 0;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0) return 0;
  *error = WsaErrorFromErrno(errno);
  return -1;
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
    *error = kWsaNoData;
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
