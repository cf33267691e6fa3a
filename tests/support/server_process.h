// The real alarm server (corvantis-server) as a child process, for end-to-end tests and
// benchmarks: account set-up through its command line, and `serve` on an address of the
// caller's own, ready once it has said "listening on".
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

namespace internal {

// Starts `args` with standard input and output on pipes (the caller's ends in *input and
// *output) and standard error appended to `errorLog`; gives the process id, or -1.
inline pid_t Spawn(const std::vector<std::string>& args, int* input, int* output,
                   const std::string& errorLog) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return -1;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  *input = in[1];
  *output = out[0];
  return pid;
}

inline int WaitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace internal

// Runs `args` to its end with `input` on its standard input; gives its exit status.
inline int RunProgram(const std::vector<std::string>& args, const std::string& input,
                      const std::string& errorLog = "/dev/null") {
  int in, out;
  pid_t pid = internal::Spawn(args, &in, &out, errorLog);
  if (pid < 0) return -1;
  ssize_t written = ::write(in, input.data(), input.size());
  (void)written;
  ::close(in);
  char buffer[256];
  while (::read(out, buffer, sizeof buffer) > 0) {
  }
  ::close(out);
  return internal::WaitForExit(pid);
}

// `binary [--data dataDir] serve --listen listen` for as long as the object lives.
class ServerProcess {
 public:
  ServerProcess(const std::string& binary, const std::string& dataDir, const std::string& listen,
                const std::string& errorLog = "/dev/null") {
    pid_ = internal::Spawn({binary, "--data", dataDir, "serve", "--listen", listen, "--web", "off"},
                           &input_, &output_, errorLog);
    if (pid_ < 0) return;
    // The first line on its standard output says it accepts connections.
    char c;
    while (::read(output_, &c, 1) == 1 && c != '\n') firstLine_ += c;
  }
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  bool Ready() const { return pid_ > 0 && firstLine_.rfind("listening on ", 0) == 0; }
  const std::string& FirstLine() const { return firstLine_; }

  // Asks the server to stop (SIGTERM) and gives its exit status.
  int Stop() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    status_ = internal::WaitForExit(pid_);
    pid_ = -1;
    ::close(input_);
    ::close(output_);
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int status_ = -1;
  std::string firstLine_;
};

}  // namespace testsupport
