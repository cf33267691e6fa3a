// Faults and records on the socket call table for tests of the exchanges: a chosen call fails
// with a chosen error, and the sizes of the sends are kept. Only the thread under test makes
// socket calls while these are installed.
#pragma once

#include <vector>

#include "platform/sockets.h"
#include "platform/sockets_testing.h"

namespace testsupport {

struct SocketFaults {
  int failSend = 0;  // the number (from 1) of the send that fails; 0 for none
  int sendError = 0;
  int failRecv = 0;  // the number (from 1) of the receive that fails; 0 for none
  int recvError = 0;
  int sends = 0;
  int recvs = 0;
  int sockets = 0;             // sockets asked for
  std::vector<int> sentSizes;  // the length of every send that went out
};

inline SocketFaults socketFaults;

// Installs the counting and failing send, recv and socket in the call table.
inline void InstallSocketFaults() {
  socketFaults = SocketFaults{};
  socketCalls.send = [](SOCKET s, const char* buffer, int length, int flags) {
    if (++socketFaults.sends == socketFaults.failSend) {
      WSASetLastError(socketFaults.sendError);
      return SOCKET_ERROR;
    }
    socketFaults.sentSizes.push_back(length);
    return kDefaultSocketCalls.send(s, buffer, length, flags);
  };
  socketCalls.recv = [](SOCKET s, char* buffer, int length, int flags) {
    if (++socketFaults.recvs == socketFaults.failRecv) {
      WSASetLastError(socketFaults.recvError);
      return SOCKET_ERROR;
    }
    return kDefaultSocketCalls.recv(s, buffer, length, flags);
  };
  socketCalls.socket = [](int family, int type, int protocol) {
    ++socketFaults.sockets;
    return kDefaultSocketCalls.socket(family, type, protocol);
  };
}

// Whether every start of the socket library has been released.
inline bool SocketLibraryReleased() {
  if (WSACleanup() == 0) return false;
  return WSAGetLastError() == WSANOTINITIALISED;
}

}  // namespace testsupport
