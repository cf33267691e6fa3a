#include "net/server_connection.h"

#include <cstring>

#include "net/server_link.h"

SOCKET OpenServerSocket() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  DWORD timeout = serverTimeoutMilliseconds.load(std::memory_order_relaxed);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  BOOL noDelay = serverNoDelay.load(std::memory_order_relaxed) != 0;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  return s;
}

int ConnectToServer(SOCKET s) {
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(kServerPort);
  server.sin_addr = serverHost.address;
  return connect(s, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0;
}

int SendWhole(SOCKET s, const char* bytes, int length) {
  return send(s, bytes, length, 0) == length;
}

int ReceiveReply(SOCKET s) {
  int length = recv(s, ServerReply, sizeof ServerReply - 1, 0);
  if (length > 0) ServerReply[length] = '\0';
  return length;
}

int IsRefusal(int length) {
  return length >= 3 && std::memcmp(ServerReply, "300", 3) == 0;
}
