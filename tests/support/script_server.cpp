#include "tests/support/script_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace testsupport {
namespace {

// A bound on how long the server waits for a client that has stopped talking, so that a
// broken client fails its test instead of hanging it.
constexpr int kIdleSeconds = 60;

void SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace

ScriptServer::ScriptServer(const std::string& address, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return;
  }
  listenFd_ = fd;
  if (::pipe2(wakeFds_, O_CLOEXEC) != 0) wakeFds_[0] = wakeFds_[1] = -1;
}

ScriptServer::~ScriptServer() {
  if (thread_.joinable()) Finish();
  if (listenFd_ >= 0) ::close(listenFd_);
  for (int fd : wakeFds_)
    if (fd >= 0) ::close(fd);
}

ScriptServer& ScriptServer::Expect(const std::string& bytes) {
  script_.push_back({StepKind::kExpect, bytes});
  return *this;
}

ScriptServer& ScriptServer::ExpectLine() {
  script_.push_back({StepKind::kExpectLine, {}});
  return *this;
}

ScriptServer& ScriptServer::ExpectCountedBody() {
  script_.push_back({StepKind::kExpectCountedBody, {}});
  return *this;
}

ScriptServer& ScriptServer::Reply(const std::string& bytes) {
  script_.push_back({StepKind::kReply, bytes});
  return *this;
}

ScriptServer& ScriptServer::Close() {
  script_.push_back({StepKind::kClose, {}});
  return *this;
}

ScriptServer& ScriptServer::Reset() {
  script_.push_back({StepKind::kReset, {}});
  return *this;
}

ScriptServer& ScriptServer::Hold() {
  script_.push_back({StepKind::kHold, {}});
  return *this;
}

bool ScriptServer::WaitUntilHeld() {
  std::unique_lock lock(holdMutex_);
  holdChanged_.wait(lock, [this] { return holdState_ != 0; });
  return holdState_ == 1;
}

void ScriptServer::Release() {
  SetHoldState(2);
}

void ScriptServer::SetHoldState(int state) {
  std::lock_guard lock(holdMutex_);
  if (holdState_ < state) holdState_ = state;
  holdChanged_.notify_all();
}

void ScriptServer::Start() {
  thread_ = std::thread([this] {
    Serve();
    SetHoldState(3);
  });
}

std::string ScriptServer::Finish() {
  Release();
  // Wakes a thread that still waits for a connection; one that has already arrived is
  // served all the same.
  if (wakeFds_[1] >= 0) {
    char wake = 1;
    while (::write(wakeFds_[1], &wake, 1) < 0 && errno == EINTR) {
    }
  }
  if (thread_.joinable()) thread_.join();
  return received_;
}

void ScriptServer::Serve() {
  pollfd waits[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
  while (::poll(waits, 2, -1) < 0 && errno == EINTR) {
  }
  // A connection that is waiting is served even when Finish has been called meanwhile.
  if (!(waits[0].revents & POLLIN)) return;
  int fd;
  do {
    fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  connections_ = 1;
  timeval idle{kIdleSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
  Play(fd);
}

void ScriptServer::Play(int fd) {
  char buffer[4096];
  auto receive = [&](size_t most) -> ssize_t {
    ssize_t n;
    do {
      n = ::recv(fd, buffer, std::min(most, sizeof buffer), 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) received_.append(buffer, static_cast<size_t>(n));
    return n;
  };
  // Reads exactly `want` bytes; false when the client closed first.
  auto receiveExactly = [&](size_t want) {
    while (want > 0) {
      ssize_t n = receive(want);
      if (n <= 0) return false;
      want -= static_cast<size_t>(n);
    }
    return true;
  };
  std::string lastLine;
  for (const Step& step : script_) {
    bool more = true;
    switch (step.kind) {
      case StepKind::kExpect:
        more = receiveExactly(step.bytes.size());
        break;
      case StepKind::kExpectLine:
        lastLine.clear();
        while (more && (lastLine.empty() || lastLine.back() != '\n')) {
          more = receiveExactly(1);
          if (more) lastLine += received_.back();
        }
        break;
      case StepKind::kExpectCountedBody:
        more = receiveExactly(std::strtoul(lastLine.c_str(), nullptr, 10));
        break;
      case StepKind::kReply:
        SendAll(fd, step.bytes);
        break;
      case StepKind::kHold: {
        SetHoldState(1);
        std::unique_lock lock(holdMutex_);
        holdChanged_.wait(lock, [this] { return holdState_ >= 2; });
        break;
      }
      case StepKind::kClose:
        ::close(fd);
        return;
      case StepKind::kReset: {
        linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(fd);
        return;
      }
    }
    if (!more) {
      ::close(fd);
      return;
    }
  }
  // After the script: silent until the client closes.
  ssize_t n;
  while ((n = receive(sizeof buffer)) > 0) {
  }
  clientClosed_ = n == 0 || errno == ECONNRESET;
  ::close(fd);
}

}  // namespace testsupport
