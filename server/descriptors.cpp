#include "server/descriptors.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace corvantis::server {

namespace {

int OpenSpare() {
  return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

}  // namespace

std::size_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    // An unlimited hard limit is refused for descriptors; the kernel's own ceiling
    // (fs.nr_open) then holds, and the soft limit stays where it was.
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? static_cast<std::size_t>(1) << 20
                                         : static_cast<std::size_t>(limit.rlim_cur);
}

void RefuseAndClose(int fd, std::string_view reply) {
  // A fresh socket's send buffer holds a short reply whole.
  while (::send(fd, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0 &&
         errno == EINTR) {
  }
  char drain[4096];
  for (int i = 0; i < 16; ++i) {
    const ssize_t n = ::recv(fd, drain, sizeof drain, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  ::close(fd);
}

SpareDescriptor::SpareDescriptor() : fd_(OpenSpare()) {}

SpareDescriptor::~SpareDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

SpareDescriptor::Refusal SpareDescriptor::RefuseOne(int listener, std::string_view reply) {
  if (fd_ < 0) fd_ = OpenSpare();
  if (fd_ < 0) return Refusal::kNoneWaiting;
  if (const int probe = OpenSpare(); probe >= 0) {
    ::close(probe);
    return Refusal::kRoomAgain;
  }
  ::close(fd_);
  const int client = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (client >= 0) RefuseAndClose(client, reply);
  // The room just freed is the lowest number again, unless another thread took it.
  fd_ = OpenSpare();
  return client >= 0 ? Refusal::kRefused : Refusal::kNoneWaiting;
}

}  // namespace corvantis::server
