// The real corvantis-server program: accounts through its command line, then `serve`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "server/snapshot_store.h"
#include "server/test_support.h"

extern char** environ;

namespace corvantis::server {
namespace {

using testing::TempDir;

// The program running with pipes on its standard streams.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // A program that exits before reading its input must not kill the test with SIGPIPE;
    // the program itself gets the default disposition back.
    signal(SIGPIPE, SIG_IGN);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> argv;
    std::string binary = CORVANTIS_SERVER_BINARY;
    argv.push_back(binary.data());
    std::vector<std::string> copy = args;
    for (auto& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, binary.c_str(), &actions, &attributes, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = fdopen(out[0], "r");
    err_ = err[0];
  }
  ~Program() {
    if (in_ >= 0) close(in_);
    fclose(out_);
    if (err_ >= 0) close(err_);
    if (pid_ > 0) Wait();
  }

  // Writes to standard input; a program that has already exited does not take it.
  void Write(const std::string& text) {
    if (write(in_, text.data(), text.size()) < 0) {
      EXPECT_EQ(errno, EPIPE);
    }
  }
  void CloseInput() {
    close(in_);
    in_ = -1;
  }
  // One line of standard output, without its line feed ("" at the end).
  std::string ReadLine() {
    char line[512];
    if (!fgets(line, sizeof line, out_)) return "";
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  std::string ReadAllOutput() {
    std::string all, line;
    while (!(line = ReadLine()).empty()) all += line + "\n";
    return all;
  }
  std::string ReadAllErrors() {
    std::string all;
    char chunk[4096];
    ssize_t n;
    while ((n = read(err_, chunk, sizeof chunk)) > 0)
      all.append(chunk, static_cast<std::size_t>(n));
    return all;
  }
  // The reader of standard error goes away, as a log collector that stops.
  void CloseErrors() {
    close(err_);
    err_ = -1;
  }
  void Signal(int signal) { kill(pid_, signal); }
  // The exit status; -1 when the program did not exit normally.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  FILE* out_ = nullptr;
  int err_ = -1;
};

// Runs the program to its end with `input` on standard input; returns its exit status.
int RunProgram(const std::vector<std::string>& args, const std::string& input = "",
               std::string* output = nullptr, std::string* errors = nullptr) {
  Program program(args);
  program.Write(input);
  program.CloseInput();
  const std::string out = program.ReadAllOutput();
  const std::string err = program.ReadAllErrors();
  if (output) *output = out;
  if (errors) *errors = err;
  return program.Wait();
}

// Reads the line by which `serve` says it listens on `address`; gives the endpoint.
void WaitUntilListening(Program& server, const std::string& address,
                        asio::ip::tcp::endpoint& endpoint) {
  const std::string ready = server.ReadLine();
  ASSERT_TRUE(ready.starts_with("listening on " + address + ":")) << ready;
  const auto port = static_cast<uint16_t>(std::stoi(ready.substr(ready.rfind(':') + 1)));
  endpoint = asio::ip::tcp::endpoint(asio::ip::make_address(address), port);
}

TEST(CommandLine, AddsUsersFromStandardInputThenServesThem) {
  TempDir dir;
  const std::string data = (dir.path() / "new" / "data").string();  // created when missing
  std::string out, err;
  EXPECT_EQ(
      RunProgram({"--data", data, "user", "add", "alice", "--hash-cost", "min"}, "secret1\n", &out),
      0);
  EXPECT_EQ(out, "added alice\n");
  EXPECT_EQ(RunProgram({"--data", data, "user", "add", "alice", "--hash-cost", "min"}, "other1\n",
                       nullptr, &err),
            1);
  EXPECT_NE(err.find("exists"), std::string::npos);
  EXPECT_EQ(RunProgram({"--data", data, "user", "add", "bob", "--hash-cost", "min"}, "secret1\n"),
            1);
  EXPECT_EQ(RunProgram({"--data", data, "user", "add", "bobby", "--hash-cost", "min"}, "abc\n"), 1);
  EXPECT_EQ(RunProgram({"--data", data, "user", "add", "carla", "--hash-cost", "min"}, "secret3\n"),
            0);
  EXPECT_EQ(RunProgram({"--data", data, "user", "remove", "carla"}), 0);
  EXPECT_EQ(RunProgram({"--data", data, "user", "remove", "carla"}), 1);
  EXPECT_EQ(RunProgram({"--data", data, "user", "list"}, "", &out), 0);
  EXPECT_TRUE(out.starts_with("alice\t")) << out;
  EXPECT_EQ(out.find("carla"), std::string::npos);

  const std::string address = testing::TestAddress();
  Program server({"--data", data, "serve", "--listen", address + ":0"});
  asio::ip::tcp::endpoint endpoint;
  ASSERT_NO_FATAL_FAILURE(WaitUntilListening(server, address, endpoint));
  {
    testing::Client client(endpoint, address);
    EXPECT_EQ(client.Exchange("alice"), "331 Password, please.");
    EXPECT_EQ(client.Exchange("secret1"), "200 Welcome, alice.");
    client.Send("DATA\n4\nJPEG");
    EXPECT_EQ(client.Receive(), "354 Send 4 bytes.");
    EXPECT_TRUE(client.Receive().starts_with("250 Stored snapshots/alice/"));
    EXPECT_EQ(client.Exchange("QUIT"), "221 Bye.");
    EXPECT_EQ(client.Receive(), "");
  }
  {
    testing::Client refused(endpoint, address);
    EXPECT_EQ(refused.Exchange("alice"), "331 Password, please.");
    EXPECT_EQ(refused.Exchange("other1"), "300 Login incorrect.");
  }
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0);
  const std::string log = server.ReadAllErrors();
  EXPECT_NE(log.find("user=alice outcome=ok uploads=1 bytes=4"), std::string::npos) << log;
  EXPECT_NE(log.find("user=alice outcome=login refused"), std::string::npos) << log;
  EXPECT_NE(log.find("stopping on SIGTERM"), std::string::npos) << log;

  const auto rows = testing::ReadUploads(data);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].sha256, Sha256Hex("JPEG"));
  EXPECT_EQ(RunProgram({"--data", data, "user", "list"}, "", &out), 0);
  EXPECT_NE(out.find("1 uploads"), std::string::npos);
}

TEST(CommandLine, KeepsServingWhenTheReaderOfItsLogGoes) {
  TempDir dir;
  const std::string data = dir.path().string();
  ASSERT_EQ(RunProgram({"--data", data, "user", "add", "alice", "--hash-cost", "min"}, "secret1\n"),
            0);
  const std::string address = testing::TestAddress();
  Program server({"--data", data, "serve", "--listen", address + ":0"});
  asio::ip::tcp::endpoint endpoint;
  ASSERT_NO_FATAL_FAILURE(WaitUntilListening(server, address, endpoint));
  server.CloseErrors();
  // Each connection that ends writes a log line into the broken pipe.
  for (int round = 0; round < 2; ++round) {
    testing::Client client(endpoint, address);
    EXPECT_EQ(client.Exchange("alice"), "331 Password, please.");
    EXPECT_EQ(client.Exchange("secret1"), "200 Welcome, alice.");
    EXPECT_EQ(client.Exchange("QUIT"), "221 Bye.");
    EXPECT_EQ(client.Receive(), "");
  }
  // Stopping logs a line too; the server still ends normally.
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0);
}

TEST(CommandLine, ExplainsItselfAndRefusesBadUsage) {
  std::string out;
  EXPECT_EQ(RunProgram({"--help"}, "", &out), 0);
  EXPECT_TRUE(out.starts_with("usage: corvantis-server")) << out;
  TempDir dir;
  const std::string data = dir.path().string();
  EXPECT_EQ(RunProgram({"--data", data}), 2);
  EXPECT_EQ(RunProgram({"--data", data, "launch"}), 2);
  EXPECT_EQ(RunProgram({"--data", data, "serve", "--listen", "nowhere"}), 2);
  EXPECT_EQ(RunProgram({"--data", data, "serve", "--max-size", "-1"}), 2);
  EXPECT_EQ(
      RunProgram({"--data", data, "user", "add", "alice", "--hash-cost", "none"}, "secret1\n"), 2);
  // The password never comes from the command line.
  EXPECT_EQ(RunProgram({"--data", data, "user", "add", "alice", "secret1"}), 2);
}

}  // namespace
}  // namespace corvantis::server
