#include "server/command_notifier.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "server/log.h"
#include "server/notice_format.h"

extern char** environ;

namespace corvantis::server {

namespace {

// A command's output is logged up to this much per line and per run.
constexpr std::size_t kMaxLogLine = 512;
constexpr int kMaxLogLines = 50;

// The server's environment without any CORVANTIS_* variable of its own, then the event's.
std::vector<std::string> CommandEnvironment(const EventSummary& event,
                                            const std::filesystem::path& dataDir) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    if (std::strncmp(*entry, "CORVANTIS_", 10) != 0) env.emplace_back(*entry);
  }
  for (auto& fact : EventEnvironment(event, dataDir)) env.push_back(std::move(fact));
  return env;
}

// Starts /bin/sh -c `command` with `env`, its output on `output`, in a process group of its
// own, with the default signal mask and dispositions and no other descriptor of the server.
pid_t Spawn(const std::string& command, std::vector<std::string>& env, int output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output, 1);
  posix_spawn_file_actions_adddup2(&actions, output, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  std::vector<char*> envp;
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string shell = "/bin/sh", dashC = "-c", text = command;
  char* argv[] = {shell.data(), dashC.data(), text.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  return pid;
}

std::string ExitWords(int status) {
  if (WIFEXITED(status)) return "exit=" + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal=" + std::to_string(WTERMSIG(status));
  return "status=" + std::to_string(status);
}

}  // namespace

CommandNotifier::CommandNotifier(CommandSettings settings, std::filesystem::path dataDir,
                                 std::size_t queueLimit, EventHub& hub, LogSink log)
    : settings_(std::move(settings)),
      dataDir_(std::filesystem::absolute(dataDir)),  // the command may run elsewhere
      log_(std::move(log)),
      hub_(hub),
      queue_(queueLimit),
      stopFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (stopFd_ < 0) throw std::runtime_error("cannot make an eventfd for --on-event");
  subscription_ = hub_.Subscribe([this](const Notice& notice) {
    if (notice.kind != Notice::Kind::kSnapshotStored) queue_.Push(notice.event);
  });
  thread_ = std::thread([this] { Run(); });
}

CommandNotifier::~CommandNotifier() {
  hub_.Unsubscribe(subscription_);
  queue_.Close();
  const uint64_t one = 1;
  if (::write(stopFd_, &one, sizeof one) < 0) {
    // An eventfd below its maximum always takes the write.
  }
  thread_.join();
  if (const auto dropped = queue_.TakeDropped()) {
    WriteLog(log_, "notify command dropped " + std::to_string(dropped) + " events: queue full");
  }
  ::close(stopFd_);
}

void CommandNotifier::Run() {
  while (auto event = queue_.Pop()) {
    if (const auto dropped = queue_.TakeDropped()) {
      WriteLog(log_, "notify command dropped " + std::to_string(dropped) + " events: queue full");
    }
    Announce(*event);
  }
}

void CommandNotifier::Announce(const EventSummary& event) {
  const std::string words = EventLogWords(event);
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) {
    WriteLog(log_, "notify command " + words + " failed: pipe: " + std::strerror(errno));
    return;
  }
  auto env = CommandEnvironment(event, dataDir_);
  const pid_t pid = Spawn(settings_.command, env, pipe[1]);
  ::close(pipe[1]);
  if (pid < 0) {
    WriteLog(log_,
             "notify command " + words + " failed: cannot start /bin/sh: " + std::strerror(errno));
    ::close(pipe[0]);
    return;
  }
  const std::string ending = Supervise(pid, pipe[0], words);
  ::close(pipe[0]);
  WriteLog(log_, "notify command " + words + " " + ending);
}

std::string CommandNotifier::Supervise(pid_t pid, int output, const std::string& words) {
  using Steady = std::chrono::steady_clock;
  const auto deadline = Steady::now() + settings_.timeout;
  // A pidfd tells when the shell has exited even while something it started keeps the
  // output open.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  std::string line;
  int lines = 0;
  bool open = true, exited = false;
  int status = 0;
  auto logLine = [&] {
    if (lines++ < kMaxLogLines) WriteLog(log_, "notify command output: " + LogText(line));
    line.clear();
  };
  auto reap = [&](int flags) {
    if (!exited && ::waitpid(pid, &status, flags) == pid) exited = true;
  };
  const char* cut = nullptr;
  while (open || !exited) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
    if (left.count() <= 0) {
      cut = "killed after its time-out";
      break;
    }
    pollfd fds[3] = {
        {stopFd_, POLLIN, 0}, {open ? output : -1, POLLIN, 0}, {exited ? -1 : pidfd, POLLIN, 0}};
    // Without a pidfd (an old kernel), look at the process every 10 ms.
    const int wait = pidfd < 0 && !exited ? 10 : static_cast<int>(left.count());
    if (::poll(fds, 3, wait) < 0 && errno != EINTR) {
      cut = "killed: cannot watch it";
      break;
    }
    if (fds[0].revents) {
      cut = "killed: the server is stopping";
      break;
    }
    if (fds[1].revents) {
      char chunk[4096];
      const ssize_t n = ::read(output, chunk, sizeof chunk);
      if (n <= 0) {
        open = false;
      } else {
        for (ssize_t i = 0; i < n; ++i) {
          if (chunk[i] == '\n') {
            logLine();
          } else if (line.size() < kMaxLogLine) {
            line += chunk[i];
          }
        }
      }
    }
    if (fds[2].revents || pidfd < 0) reap(WNOHANG);
  }
  if (!line.empty()) logLine();
  if (lines > kMaxLogLines) {
    WriteLog(log_, "notify command " + words + ": " + std::to_string(lines - kMaxLogLines) +
                       " more output lines not logged");
  }
  if (cut) {
    ::kill(-pid, SIGKILL);  // the whole group: whatever the shell started goes too
    reap(0);
  }
  if (pidfd >= 0) ::close(pidfd);
  if (cut) return std::string("failed: ") + cut;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "delivered"
                                                       : "failed: " + ExitWords(status);
}

}  // namespace corvantis::server
