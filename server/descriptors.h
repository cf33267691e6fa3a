// File descriptors: the process's limit, and how a server that has run out of them still
// answers a waiting client.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvantis::server {

// Raises the soft limit on open descriptors to the hard limit and returns the soft limit
// now in force.
std::size_t RaiseDescriptorLimit();

// Descriptors the server needs besides its connections: the database connections, the
// files being synced, the listening socket, standard streams and libraries' own.
constexpr std::size_t kDescriptorsBesideConnections = 96;

// Sends `reply` on a freshly accepted socket without waiting, reads what the client has
// sent already (closing with unread input would reset the connection under the reply) and
// closes the socket.
void RefuseAndClose(int fd, std::string_view reply);

// One descriptor held in reserve: when accept fails for want of descriptors, it is given up
// for a moment so that one waiting client can be accepted and refused politely.
class SpareDescriptor {
 public:
  SpareDescriptor();
  ~SpareDescriptor();
  SpareDescriptor(const SpareDescriptor&) = delete;
  SpareDescriptor& operator=(const SpareDescriptor&) = delete;

  enum class Refusal { kRefused, kNoneWaiting, kRoomAgain };
  // Unless descriptors are to be had again (kRoomAgain), accepts one connection waiting on
  // `listener` with the spare descriptor's room, refuses it with `reply` and takes the room
  // back. kNoneWaiting also when there was no spare to give up.
  Refusal RefuseOne(int listener, std::string_view reply);

 private:
  int fd_ = -1;
};

}  // namespace corvantis::server
