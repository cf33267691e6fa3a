// Sockets under the 1.1 names over the operating system's BSD sockets (bsd_sockets.cpp).
// Sockets are named by never-reused handles, so a closed or foreign SOCKET fails with
// WSAENOTSOCK instead of reaching a descriptor that now belongs to something else.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/handle_table.h"
#include "platform/sockets.h"
#include "platform/sockets/bsd_sockets.h"
#include "platform/sockets_testing.h"
#include "platform/threads.h"

namespace {

// The highest version the library offers: 2.2.
constexpr WORD kHighestVersion = 0x0202;
// The most addresses a lookup reports.
constexpr size_t kMostAddresses = 35;

struct SocketRecord {
  int fd;
};

// Open sockets and the count of library starts, both guarded by the table's mutex.
struct SocketService {
  platform::HandleTable<SocketRecord> sockets{platform::HandleKind::kSocket};
  int starts = 0;
};

SocketService& Service() {
  static SocketService service;
  return service;
}

// Names that tests point at addresses of their own, lower-cased.
std::mutex testHostsMutex;
std::map<std::string, uint32_t> testHosts;  // guarded by testHostsMutex

// The calling thread's host record, valid until its next lookup.
struct HostRecordStorage {
  std::string name;
  std::vector<in_addr> addresses;
  std::vector<char*> addressList;
  char* aliases[1] = {nullptr};
  hostent entry{};
};
thread_local HostRecordStorage hostStorage;

std::string LowerCase(const char* text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

int Fail(int error) {
  WSASetLastError(error);
  return SOCKET_ERROR;
}

// The descriptor of an open socket, or -1 with the error set (library not started, or not
// a socket).
int DescriptorOf(SOCKET s) {
  SocketService& service = Service();
  std::lock_guard lock(service.sockets.mutex());
  if (service.starts == 0) return Fail(WSANOTINITIALISED);
  SocketRecord* record = service.sockets.Find(s);
  if (!record) return Fail(WSAENOTSOCK);
  return record->fd;
}

// Whether the library is started; false with WSANOTINITIALISED set when it is not.
bool Started() {
  SocketService& service = Service();
  std::lock_guard lock(service.sockets.mutex());
  if (service.starts == 0) WSASetLastError(WSANOTINITIALISED);
  return service.starts > 0;
}

int StartLibrary(WORD versionRequested, WSADATA* data) {
  BYTE major = static_cast<BYTE>(versionRequested & 0xff);
  BYTE minor = static_cast<BYTE>(versionRequested >> 8);
  bool tooOld = major < 1 || (major == 1 && minor < 1);
  bool aboveHighest = major > 2 || (major == 2 && minor >= 2);
  if (data) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = aboveHighest ? kHighestVersion : versionRequested;
    data->wHighVersion = kHighestVersion;
    std::strncpy(data->szDescription, "BSD sockets", sizeof data->szDescription - 1);
    std::strncpy(data->szSystemStatus, "Running", sizeof data->szSystemStatus - 1);
  }
  if (tooOld) return WSAVERNOTSUPPORTED;
  if (!data) return WSAEFAULT;
  SocketService& service = Service();
  std::lock_guard lock(service.sockets.mutex());
  ++service.starts;
  return 0;
}

hostent* LookUpHost(const char* name) {
  if (!Started()) return nullptr;
  // A null or empty name would ask for the local host's own record, which this service
  // does not offer.
  if (!name || !*name) {
    WSASetLastError(WSAHOST_NOT_FOUND);
    return nullptr;
  }
  std::string canonical;
  std::vector<uint32_t> found;
  bool answered = false;
  {
    std::lock_guard lock(testHostsMutex);
    auto it = testHosts.find(LowerCase(name));
    if (it != testHosts.end()) {
      canonical = name;
      found.push_back(it->second);
      answered = true;
    }
  }
  int error = 0;
  if (!answered && platform::bsd::ResolveIPv4(name, &canonical, &found, &error) != 0) {
    WSASetLastError(error);
    return nullptr;
  }
  if (found.size() > kMostAddresses) found.resize(kMostAddresses);
  HostRecordStorage& storage = hostStorage;
  storage.name = canonical;
  storage.addresses.clear();
  for (uint32_t address : found) storage.addresses.push_back(in_addr{address});
  storage.addressList.clear();
  for (in_addr& address : storage.addresses)
    storage.addressList.push_back(reinterpret_cast<char*>(&address));
  storage.addressList.push_back(nullptr);
  storage.entry.h_name = storage.name.data();
  storage.entry.h_aliases = storage.aliases;
  storage.entry.h_addrtype = AF_INET;
  storage.entry.h_length = 4;
  storage.entry.h_addr_list = storage.addressList.data();
  return &storage.entry;
}

SOCKET OpenSocket(int family, int type, int protocol) {
  if (!Started()) return INVALID_SOCKET;
  // Only IPv4 stream sockets over TCP are offered.
  int refusal = family != AF_INET                            ? WSAEAFNOSUPPORT
                : type != SOCK_STREAM                        ? WSAESOCKTNOSUPPORT
                : (protocol != 0 && protocol != IPPROTO_TCP) ? WSAEPROTONOSUPPORT
                                                             : 0;
  if (refusal) {
    WSASetLastError(refusal);
    return INVALID_SOCKET;
  }
  int error = 0;
  int fd = platform::bsd::OpenStreamSocket(&error);
  if (fd < 0) {
    WSASetLastError(error);
    return INVALID_SOCKET;
  }
  SocketService& service = Service();
  std::lock_guard lock(service.sockets.mutex());
  return service.sockets.Add<SOCKET>(std::make_unique<SocketRecord>(SocketRecord{fd}));
}

int ConnectSocket(SOCKET s, const sockaddr* address, int addressLength) {
  int fd = DescriptorOf(s);
  if (fd < 0) return SOCKET_ERROR;
  if (!address || addressLength < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  sockaddr_in peer;
  std::memcpy(&peer, address, sizeof peer);
  if (peer.sin_family != AF_INET) return Fail(WSAEAFNOSUPPORT);
  // The platform refuses the "any" address as a destination.
  if (peer.sin_addr.s_addr == 0) return Fail(WSAEADDRNOTAVAIL);
  int error = 0;
  if (platform::bsd::Connect(fd, peer.sin_addr.s_addr, peer.sin_port, &error) != 0)
    return Fail(error);
  return 0;
}

// The descriptor for a send or receive of `length` bytes at `buffer`, or -1 with the error
// set. Only flags 0 are offered (no out-of-band data, no peeking).
int TransferDescriptor(SOCKET s, const char* buffer, int length, int flags) {
  int fd = DescriptorOf(s);
  if (fd < 0) return SOCKET_ERROR;
  if (flags != 0) return Fail(WSAEOPNOTSUPP);
  if (length < 0 || (!buffer && length > 0)) return Fail(WSAEFAULT);
  return fd;
}

int SendOnSocket(SOCKET s, const char* buffer, int length, int flags) {
  int fd = TransferDescriptor(s, buffer, length, flags);
  if (fd < 0) return SOCKET_ERROR;
  int error = 0;
  int sent = platform::bsd::Send(fd, buffer, length, &error);
  return sent < 0 ? Fail(error) : sent;
}

int ReceiveOnSocket(SOCKET s, char* buffer, int length, int flags) {
  int fd = TransferDescriptor(s, buffer, length, flags);
  if (fd < 0) return SOCKET_ERROR;
  int error = 0;
  int received = platform::bsd::Receive(fd, buffer, length, &error);
  return received < 0 ? Fail(error) : received;
}

int SetSocketOption(SOCKET s, int level, int option, const char* value, int length) {
  int fd = DescriptorOf(s);
  if (fd < 0) return SOCKET_ERROR;
  bool timeout = level == SOL_SOCKET && (option == SO_SNDTIMEO || option == SO_RCVTIMEO);
  bool noDelay = level == IPPROTO_TCP && option == TCP_NODELAY;
  if (!timeout && !noDelay) return Fail(WSAENOPROTOOPT);
  if (!value || length < static_cast<int>(sizeof(DWORD))) return Fail(WSAEFAULT);
  DWORD number;
  std::memcpy(&number, value, sizeof number);
  int error = 0;
  int result = timeout ? platform::bsd::SetTimeout(fd, option == SO_SNDTIMEO, number, &error)
                       : platform::bsd::SetNoDelay(fd, number != 0, &error);
  return result != 0 ? Fail(error) : 0;
}

int CloseSocket(SOCKET s) {
  std::unique_ptr<SocketRecord> record;
  {
    SocketService& service = Service();
    std::lock_guard lock(service.sockets.mutex());
    if (service.starts == 0) return Fail(WSANOTINITIALISED);
    record = service.sockets.Remove(s);
  }
  if (!record) return Fail(WSAENOTSOCK);
  platform::bsd::Close(record->fd);
  return 0;
}

}  // namespace

const SocketCallTable kDefaultSocketCalls = {StartLibrary,    LookUpHost,   OpenSocket,
                                             ConnectSocket,   SendOnSocket, ReceiveOnSocket,
                                             SetSocketOption, CloseSocket};
SocketCallTable socketCalls = kDefaultSocketCalls;

bool SetTestHostAddress(const char* name, const char* dottedAddress) {
  uint32_t address = 0;
  if (!platform::bsd::ParseDottedIPv4(dottedAddress, &address)) return false;
  std::lock_guard lock(testHostsMutex);
  testHosts[LowerCase(name)] = address;
  return true;
}

void ClearTestHostAddresses() {
  std::lock_guard lock(testHostsMutex);
  testHosts.clear();
}

int WSAStartup(WORD versionRequested, WSADATA* data) {
  return socketCalls.WSAStartup(versionRequested, data);
}

int WSACleanup() {
  std::vector<int> toClose;
  {
    SocketService& service = Service();
    std::lock_guard lock(service.sockets.mutex());
    if (service.starts == 0) return Fail(WSANOTINITIALISED);
    if (--service.starts == 0) {
      std::vector<uint64_t> handles;
      service.sockets.ForEach([&](uint64_t value, const SocketRecord& record) {
        handles.push_back(value);
        toClose.push_back(record.fd);
      });
      for (uint64_t value : handles) service.sockets.Remove(static_cast<SOCKET>(value));
    }
  }
  for (int fd : toClose) platform::bsd::Close(fd);
  return 0;
}

int WSAGetLastError() {
  return static_cast<int>(GetLastError());
}
void WSASetLastError(int error) {
  SetLastError(static_cast<DWORD>(error));
}

hostent* gethostbyname(const char* name) {
  return socketCalls.gethostbyname(name);
}

uint16_t htons(uint16_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return static_cast<uint16_t>((value << 8) | (value >> 8));
}
uint16_t ntohs(uint16_t value) {
  return htons(value);
}
uint32_t htonl(uint32_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return ((value & 0xffu) << 24) | ((value & 0xff00u) << 8) | ((value >> 8) & 0xff00u) |
         (value >> 24);
}

SOCKET socket(int family, int type, int protocol) {
  return socketCalls.socket(family, type, protocol);
}
int connect(SOCKET s, const sockaddr* address, int addressLength) {
  return socketCalls.connect(s, address, addressLength);
}
int send(SOCKET s, const char* buffer, int length, int flags) {
  return socketCalls.send(s, buffer, length, flags);
}
int recv(SOCKET s, char* buffer, int length, int flags) {
  return socketCalls.recv(s, buffer, length, flags);
}
int setsockopt(SOCKET s, int level, int option, const char* value, int length) {
  return socketCalls.setsockopt(s, level, option, value, length);
}
int closesocket(SOCKET s) {
  return socketCalls.closesocket(s);
}
