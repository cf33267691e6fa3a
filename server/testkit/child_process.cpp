#include "server/testkit/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace corvantis::server::testkit {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment, Input input) {
  int in[2], out[2], err[2];
  if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC) || pipe2(stop_[kOutput], O_CLOEXEC) ||
      pipe2(stop_[kErrors], O_CLOEXEC)) {
    throw std::runtime_error("pipe2 failed");
  }
  if (input == Input::kTerminal) {
    in[1] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (in[1] < 0 || grantpt(in[1]) || unlockpt(in[1])) {
      throw std::runtime_error("no pseudo-terminal");
    }
    in[0] = open(ptsname(in[1]), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (in[0] < 0) throw std::runtime_error("cannot open the pseudo-terminal");
  } else if (pipe2(in, O_CLOEXEC)) {
    throw std::runtime_error("pipe2 failed");
  }
  // A program that exits before reading its input must not end the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<std::string> args = argv, env = environment;
  for (char** entry = environ; *entry; ++entry) env.emplace_back(*entry);
  std::vector<char*> argp, envp;
  for (auto& arg : args) argp.push_back(arg.data());
  for (auto& entry : env) envp.push_back(entry.data());
  argp.push_back(nullptr);
  envp.push_back(nullptr);
  const int rc =
      posix_spawn(&pid_, args[0].c_str(), &actions, &attributes, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
  }
  input_ = in[1];
  readers_[kOutput] = std::thread([this, fd = out[0]] { Read(kOutput, fd); });
  readers_[kErrors] = std::thread([this, fd = err[0]] { Read(kErrors, fd); });
}

ChildProcess::~ChildProcess() {
  CloseInput();
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
  for (auto& reader : readers_) {
    if (reader.joinable()) reader.join();
  }
  for (auto& ends : stop_) {
    for (int fd : ends) {
      if (fd >= 0) close(fd);
    }
  }
}

void ChildProcess::StopReading(Stream stream) {
  if (write(stop_[stream][1], "x", 1) < 0) throw std::runtime_error("cannot stop a reader");
  if (readers_[stream].joinable()) readers_[stream].join();
}

void ChildProcess::Read(Stream stream, int fd) {
  char chunk[4096];
  pollfd watched[2] = {{fd, POLLIN, 0}, {stop_[stream][0], POLLIN, 0}};
  for (;;) {
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (watched[1].revents) break;  // StopReading
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::lock_guard lock(mutex_);
    std::string& partial = unended_[stream];
    partial.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t lf; (lf = partial.find('\n')) != std::string::npos;) {
      lines_[stream].push_back(partial.substr(0, lf));
      partial.erase(0, lf + 1);
    }
    changed_.notify_all();
  }
  close(fd);
  std::lock_guard lock(mutex_);
  if (!unended_[stream].empty()) lines_[stream].push_back(std::move(unended_[stream]));
  unended_[stream].clear();
  ended_[stream] = true;
  changed_.notify_all();
}

void ChildProcess::Write(const std::string& text) {
  if (input_ >= 0 && write(input_, text.data(), text.size()) < 0 && errno != EPIPE) {
    throw std::runtime_error("cannot write to the program");
  }
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::seconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout,
                    [&] { return nextOutput_ < lines_[kOutput].size() || ended_[kOutput]; });
  if (nextOutput_ >= lines_[kOutput].size()) return std::nullopt;
  return lines_[kOutput][nextOutput_++];
}

std::optional<std::string> ChildProcess::WaitForLine(Stream stream, const std::string& text,
                                                     std::chrono::seconds timeout) {
  std::optional<std::string> found;
  WaitUntil(
      stream,
      [&](const std::vector<std::string>& lines) {
        for (const auto& line : lines) {
          if (line.find(text) != std::string::npos) {
            found = line;
            return true;
          }
        }
        return false;
      },
      timeout);
  return found;
}

bool ChildProcess::WaitForPrompt(Stream stream, const std::string& prompt,
                                 std::chrono::seconds timeout) {
  std::unique_lock lock(mutex_);
  bool shown = false;
  changed_.wait_for(lock, timeout,
                    [&] { return (shown = unended_[stream].ends_with(prompt)) || ended_[stream]; });
  return shown;
}

bool ChildProcess::WaitUntil(Stream stream,
                             const std::function<bool(const std::vector<std::string>&)>& done,
                             std::chrono::seconds timeout) {
  std::unique_lock lock(mutex_);
  bool met = false;
  changed_.wait_for(lock, timeout, [&] { return (met = done(lines_[stream])) || ended_[stream]; });
  return met;
}

std::vector<std::string> ChildProcess::Lines(Stream stream) {
  std::lock_guard lock(mutex_);
  return lines_[stream];
}

std::string ChildProcess::AllOf(Stream stream) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return ended_[stream]; });
  std::string all;
  for (const auto& line : lines_[stream]) all += line + "\n";
  return all;
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

int ChildProcess::Wait() {
  if (pid_ > 0) {
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

int RunToEnd(const std::vector<std::string>& argv, const std::string& input, std::string* output,
             std::string* errors) {
  ChildProcess program(argv);
  program.Write(input);
  program.CloseInput();
  const std::string out = program.AllOf(ChildProcess::kOutput);
  const std::string err = program.AllOf(ChildProcess::kErrors);
  if (output) *output = out;
  if (errors) *errors = err;
  return program.Wait();
}

}  // namespace corvantis::server::testkit
