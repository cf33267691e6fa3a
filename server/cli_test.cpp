// The real corvantis-server program: accounts through its command line, then `serve`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "server/accounts.h"
#include "server/credentials.h"
#include "server/database.h"
#include "server/snapshot_store.h"
#include "server/test_support.h"

extern char** environ;

namespace corvantis::server {
namespace {

using testing::TempDir;

// How the program is started.
struct Launch {
  std::vector<std::string> before;  // a program that runs it ("prlimit", "--nofile=...", "--")
  bool terminal = false;            // standard input is a terminal (a pseudo-terminal)
};

// The program running with pipes on its standard streams (or a terminal for its input).
class Program {
 public:
  explicit Program(const std::vector<std::string>& args, const Launch& launch = {}) {
    int in[2], out[2], err[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw 0;
    if (launch.terminal) {
      in[1] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (in[1] < 0 || grantpt(in[1]) || unlockpt(in[1])) throw 0;
      in[0] = open(ptsname(in[1]), O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (in[0] < 0) throw 0;
    } else if (pipe2(in, O_CLOEXEC)) {
      throw 0;
    }
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
    std::vector<std::string> copy = launch.before;
    copy.push_back(CORVANTIS_SERVER_BINARY);
    copy.insert(copy.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ), 0);
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
    close(err_);
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
    std::string all = std::move(errors_);
    char chunk[4096];
    ssize_t n;
    while ((n = read(err_, chunk, sizeof chunk)) > 0)
      all.append(chunk, static_cast<std::size_t>(n));
    return all;
  }
  // Reads standard error until it holds `text` (or ends, or ten seconds pass); returns
  // what was read.
  std::string ReadErrorsUntil(const std::string& text) {
    while (errors_.find(text) == std::string::npos) {
      pollfd ready{err_, POLLIN, 0};
      char chunk[4096];
      if (poll(&ready, 1, 10000) != 1) break;
      const ssize_t n = read(err_, chunk, sizeof chunk);
      if (n <= 0) break;
      errors_.append(chunk, static_cast<std::size_t>(n));
    }
    return errors_;
  }
  void Signal(int signal) { kill(pid_, signal); }
  pid_t pid() const { return pid_; }
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
  std::string errors_;  // read from standard error and not yet handed out
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
  const std::string ready = server.ReadLine();
  ASSERT_TRUE(ready.starts_with("listening on " + address + ":")) << ready;
  const auto port = static_cast<uint16_t>(std::stoi(ready.substr(ready.rfind(':') + 1)));
  const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(address), port);
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
  EXPECT_EQ(RunProgram({"--data", data, "serve", "--login-timeout", "soon"}), 2);
  EXPECT_EQ(RunProgram({"--data", data, "serve", "--max-per-address", "0"}), 2);
  EXPECT_EQ(RunProgram({"--data", data, "serve", "--min-body-rate", "-1"}), 2);
}

// The account's stored hash, checked against a password.
bool PasswordMatches(const std::string& data, const std::string& user,
                     const std::string& password) {
  Database db(std::filesystem::path(data) / Database::kFileName);
  const auto hash = Accounts(db).FindHash(user);
  return hash && VerifyPassword(*hash, password);
}

TEST(CommandLine, TakesAPipedPasswordWithoutItsCarriageReturn) {
  TempDir dir;
  const std::string data = dir.path().string();
  EXPECT_EQ(
      RunProgram({"--data", data, "user", "add", "alice", "--hash-cost", "min"}, "secret1\r\n"), 0);
  EXPECT_TRUE(PasswordMatches(data, "alice", "secret1"));
  EXPECT_FALSE(PasswordMatches(data, "alice", "secret1\r"));
}

TEST(CommandLine, HelpBesideAUserCommandChangesNothingAndSaysSo) {
  TempDir dir;
  const std::string data = dir.path().string();
  std::string out, err;
  EXPECT_EQ(RunProgram({"--data", data, "user", "add", "--help"}, "secret1\n", &out, &err), 2);
  EXPECT_TRUE(out.starts_with("usage: corvantis-server")) << out;
  EXPECT_EQ(err, "corvantis-server: help asked for; no user added\n");
  EXPECT_EQ(RunProgram({"--data", data, "user", "add", "alice", "-h"}, "secret1\n"), 2);
  EXPECT_EQ(RunProgram({"--data", data, "user", "list"}, "", &out), 0);
  EXPECT_EQ(out, "");

  EXPECT_EQ(RunProgram({"--data", data, "user", "add", "alice", "--hash-cost", "min"}, "secret1\n"),
            0);
  EXPECT_EQ(RunProgram({"--data", data, "user", "remove", "alice", "--help"}, "", nullptr, &err),
            2);
  EXPECT_EQ(err, "corvantis-server: help asked for; no user removed\n");
  EXPECT_TRUE(PasswordMatches(data, "alice", "secret1"));
}

TEST(CommandLine, PasswordsThatDifferAtTheTerminalGiveOneError) {
  TempDir dir;
  const std::string data = dir.path().string();
  for (const bool same : {false, true}) {
    Program program({"--data", data, "user", "add", "alice", "--hash-cost", "min"},
                    {.before = {}, .terminal = true});
    // Typed only once the prompt shows: echo is off then, and nothing typed is flushed.
    program.ReadErrorsUntil("Password: ");
    program.Write("secret1\n");
    program.ReadErrorsUntil("Password again: ");
    program.Write(same ? "secret1\n" : "secret2\n");
    const std::string output = program.ReadAllOutput();
    const std::string errors = program.ReadAllErrors();
    if (same) {
      EXPECT_EQ(program.Wait(), 0);
      EXPECT_EQ(output, "added alice\n");
    } else {
      EXPECT_EQ(program.Wait(), 1);
      EXPECT_EQ(errors,
                "Password: \nPassword again: \n"
                "corvantis-server: the passwords differ; no user added\n");
    }
  }
  EXPECT_TRUE(PasswordMatches(data, "alice", "secret1"));
}

TEST(CommandLine, ServeRaisesTheDescriptorLimitAndFitsItsConnectionsInIt) {
  TempDir dir;
  const std::string address = testing::TestAddress();
  Program server({"--data", dir.path().string(), "serve", "--listen", address + ":0"},
                 {.before = {"/usr/bin/prlimit", "--nofile=256:600", "--"}, .terminal = false});
  const std::string ready = server.ReadLine();
  ASSERT_TRUE(ready.starts_with("listening on " + address + ":")) << ready;
  std::ifstream limits("/proc/" + std::to_string(server.pid()) + "/limits");
  std::string line;
  while (std::getline(limits, line) && !line.starts_with("Max open files")) {
  }
  std::istringstream fields(line.substr(std::string("Max open files").size()));
  std::string soft, hard;
  fields >> soft >> hard;
  EXPECT_EQ(soft, "600");
  EXPECT_EQ(hard, "600");
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0);
  const std::string log = server.ReadAllErrors();
  EXPECT_NE(log.find("at most 504 connections: the descriptor limit is 600"), std::string::npos)
      << log;
}

}  // namespace
}  // namespace corvantis::server
