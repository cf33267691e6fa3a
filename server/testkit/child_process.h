// A program the tests and benchmarks start beside themselves (the server itself, a broker,
// an HTTP receiver), with pipes on its standard streams. Its output and errors are read
// on threads of their own as they come, so a chatty program never blocks on a full pipe,
// and a test can wait for a line (a readiness line, a log line) without sleeping.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace corvantis::server::testkit {

class ChildProcess {
 public:
  enum Stream { kOutput = 0, kErrors = 1 };
  // What the program reads from: a pipe, or a terminal (a pseudo-terminal) as a person types.
  enum class Input { kPipe, kTerminal };

  // Starts argv[0] (a path) with `argv` and the test's environment plus `environment`
  // ("NAME=value"); SIGPIPE has its default action in the child. Throws std::runtime_error
  // when it cannot be started.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment = {},
                        Input input = Input::kPipe);
  // Kills the program (SIGKILL) if it still runs, and waits for it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Writes to standard input; a program that has already exited does not take it.
  void Write(const std::string& text);
  void CloseInput();
  // The reader of `stream` goes away, as a log collector that stops: once this returns the
  // pipe is closed, so the program's next write to that stream fails (EPIPE).
  void StopReading(Stream stream);
  // The next line of standard output, without its line feed; nothing once it has ended.
  std::optional<std::string> ReadLine(std::chrono::seconds timeout = std::chrono::seconds(20));
  // Waits for a line of `stream` containing `text`, from the first line on; nothing when
  // the stream ends or the time passes first.
  std::optional<std::string> WaitForLine(Stream stream, const std::string& text,
                                         std::chrono::seconds timeout = std::chrono::seconds(20));
  // Waits until the line of `stream` not yet ended by a line feed ends with `prompt`; false
  // when the stream ends or the time passes first.
  bool WaitForPrompt(Stream stream, const std::string& prompt,
                     std::chrono::seconds timeout = std::chrono::seconds(20));
  // Waits until `done` holds for the lines of `stream` so far (called under a lock, each
  // time lines come); false when the stream ends or the time passes first.
  bool WaitUntil(Stream stream, const std::function<bool(const std::vector<std::string>&)>& done,
                 std::chrono::seconds timeout = std::chrono::seconds(20));
  // Every line of `stream` so far.
  std::vector<std::string> Lines(Stream stream);
  // Everything of `stream` once the program has closed it, joined with line feeds.
  std::string AllOf(Stream stream);
  void Signal(int signal);
  // Waits for the program to exit: its exit status, or -1 when a signal ended it.
  int Wait();

 private:
  void Read(Stream stream, int fd);

  pid_t pid_ = -1;
  int status_ = 0;
  int input_ = -1;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_[2];
  std::string unended_[2];  // per stream, what came after its last line feed
  bool ended_[2] = {false, false};
  std::size_t nextOutput_ = 0;
  std::thread readers_[2];
  int stop_[2][2] = {{-1, -1}, {-1, -1}};  // per stream, a pipe that tells its reader to stop
};

// Runs a program to its end with `input` on standard input; its exit status, output and
// errors.
int RunToEnd(const std::vector<std::string>& argv, const std::string& input = "",
             std::string* output = nullptr, std::string* errors = nullptr);

}  // namespace corvantis::server::testkit
