// The real corvantis-server program: accounts through its command line, then `serve`.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "server/accounts.h"
#include "server/credentials.h"
#include "server/data_dir.h"
#include "server/database.h"
#include "server/snapshot_store.h"
#include "server/test_support.h"
#include "server/testkit/child_process.h"

namespace corvantis::server {
namespace {

using testing::TempDir;

// The program itself, by its path.
std::vector<std::string> Command(std::vector<std::string> args) {
  args.insert(args.begin(), CORVANTIS_SERVER_BINARY);
  return args;
}

int RunProgram(const std::vector<std::string>& args, const std::string& input = "",
               std::string* output = nullptr, std::string* errors = nullptr) {
  return testkit::RunToEnd(Command(args), input, output, errors);
}

// Reads the line by which `serve` says it listens on `address`; gives the endpoint.
void WaitUntilListening(testkit::ChildProcess& server, const std::string& address,
                        asio::ip::tcp::endpoint& endpoint) {
  const std::string ready = server.ReadLine().value_or("");
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
  testkit::ChildProcess server(
      Command({"--data", data, "serve", "--listen", address + ":0", "--web", "off"}));
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
  const std::string log = server.AllOf(testkit::ChildProcess::kErrors);
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
  testkit::ChildProcess server(
      Command({"--data", data, "serve", "--listen", address + ":0", "--web", "off"}));
  asio::ip::tcp::endpoint endpoint;
  ASSERT_NO_FATAL_FAILURE(WaitUntilListening(server, address, endpoint));
  server.StopReading(testkit::ChildProcess::kErrors);
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
    testkit::ChildProcess program(
        Command({"--data", data, "user", "add", "alice", "--hash-cost", "min"}), {},
        testkit::ChildProcess::Input::kTerminal);
    // Typed only once the prompt shows: echo is off then, and nothing typed is flushed.
    ASSERT_TRUE(program.WaitForPrompt(testkit::ChildProcess::kErrors, "Password: "));
    program.Write("secret1\n");
    ASSERT_TRUE(program.WaitForPrompt(testkit::ChildProcess::kErrors, "Password again: "));
    program.Write(same ? "secret1\n" : "secret2\n");
    const std::string output = program.AllOf(testkit::ChildProcess::kOutput);
    const std::string errors = program.AllOf(testkit::ChildProcess::kErrors);
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
  std::vector<std::string> command =
      Command({"--data", dir.path().string(), "serve", "--listen", address + ":0"});
  command.insert(command.begin(), {"/usr/bin/prlimit", "--nofile=256:600", "--"});
  testkit::ChildProcess server(command);
  asio::ip::tcp::endpoint endpoint;
  WaitUntilListening(server, address, endpoint);
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
  const std::string log = server.AllOf(testkit::ChildProcess::kErrors);
  EXPECT_NE(log.find("at most 504 connections: the descriptor limit is 600"), std::string::npos)
      << log;
}

TEST(CommandLine, ListsExportsAndPrunesEvents) {
  TempDir dir;
  const std::filesystem::path data = dir.path() / "data";
  PrepareDataDir(data);
  std::vector<std::string> bodies;
  {
    // Two events of alice 100 days ago, one of bob now.
    ManualClock clock(SystemClock().Now() - std::chrono::days(100));
    SnapshotStore store(data, 8, 2, {&clock, nullptr, std::chrono::seconds(30)});
    testing::StoreResults results;
    auto store1 = [&](const std::string& user, const std::string& body) {
      bodies.push_back(body);
      store.Submit({user, "127.0.0.1:1", body, results.Sink()});
      results.WaitFor(bodies.size());
    };
    for (int i = 0; i < 3; ++i) store1("alice", testing::PseudoRandomBytes(100 + i, i));
    clock.Advance(std::chrono::hours(1));
    store1("alice", "later");
    clock.Advance(std::chrono::days(100));
    store1("bob1", "now");
  }
  std::string out, err;
  ASSERT_EQ(RunProgram({"--data", data.string(), "events"}, "", &out), 0);
  std::vector<std::string> lines;
  for (std::size_t at = 0, lf; (lf = out.find('\n', at)) != std::string::npos; at = lf + 1) {
    lines.push_back(out.substr(at, lf - at));
  }
  ASSERT_EQ(lines.size(), 3u) << out;
  EXPECT_TRUE(lines[0].starts_with("3\tbob1\t")) << lines[0];
  EXPECT_NE(lines[0].find("\t1 snapshots\t3 bytes\topen\tsnapshots/bob1/"), std::string::npos);
  EXPECT_TRUE(lines[2].starts_with("1\talice\t")) << lines[2];
  EXPECT_NE(lines[2].find("\t3 snapshots\t303 bytes\t"), std::string::npos) << lines[2];
  ASSERT_EQ(
      RunProgram({"--data", data.string(), "events", "--user", "alice", "--limit", "1"}, "", &out),
      0);
  EXPECT_TRUE(out.starts_with("2\talice\t")) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1);

  // Export copies the event's snapshots in order, and never overwrites.
  const auto target = dir.path() / "out";
  ASSERT_EQ(RunProgram({"--data", data.string(), "export", "1", target.string()}, "", &out), 0);
  EXPECT_EQ(out, "exported 3 of 3 snapshots of event 1 to " + target.string() + "\n");
  std::vector<std::filesystem::path> copies;
  for (const auto& entry : std::filesystem::directory_iterator(target)) copies.push_back(entry);
  std::sort(copies.begin(), copies.end());
  ASSERT_EQ(copies.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(copies[i].filename().string().starts_with("000" + std::to_string(i + 1) + "-"));
    EXPECT_EQ(testing::ReadFile(copies[i]), bodies[i]);
  }
  EXPECT_EQ(RunProgram({"--data", data.string(), "export", "1", target.string()}, "", &out, &err),
            1);
  EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
  EXPECT_EQ(RunProgram({"--data", data.string(), "export", "99", target.string()}, "", &out, &err),
            1);
  EXPECT_NE(err.find("no event 99"), std::string::npos);

  // Prune removes alice's old events, whole; bob's open one stays.
  ASSERT_EQ(RunProgram({"--data", data.string(), "prune", "--keep-days", "30", "--min-free", "0"},
                       "", &out),
            0);
  EXPECT_NE(out.find("removed 1\talice\t"), std::string::npos) << out;
  EXPECT_NE(out.find("\tolder than 30 days\n"), std::string::npos) << out;
  EXPECT_NE(out.find("removed 2 events\n"), std::string::npos) << out;
  const auto rows = testing::ReadUploads(data);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].user, "bob1");
  EXPECT_EQ(testing::SnapshotFiles(data), std::vector<std::string>{rows[0].file});

  // A data directory of a newer server is refused by every command, and said why.
  Database(data / Database::kFileName).Exec("PRAGMA user_version=9");
  EXPECT_EQ(RunProgram({"--data", data.string(), "events"}, "", &out, &err), 1);
  EXPECT_NE(err.find("newer corvantis-server"), std::string::npos) << err;
  EXPECT_EQ(RunProgram({"--data", data.string(), "serve", "--listen", testing::TestAddress() + ":0",
                        "--web", "off"},
                       "", &out, &err),
            1);
  EXPECT_NE(err.find("data version 9"), std::string::npos) << err;
}

TEST(CommandLine, RefusesBadEventAndNotificationOptions) {
  TempDir dir;
  const std::string data = dir.path().string();
  std::string err;
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--webhook", "ftp://example.org/hook"},
        {"--webhook", "not a url"},
        {"--mqtt-prefix", "home/#"},
        {"--mqtt-prefix", "/x"},
        {"--mqtt", "host:99999"},
        {"--mqtt", "[::1"},
        {"--min-free", "5X"},
        {"--keep-days", "-1"},
        {"--event-gap", "soon"},
        {"--on-event", ""},
        {"--on-event-timeout", "-3"}}) {
    std::vector<std::string> args{"--data", data, "serve"};
    args.insert(args.end(), bad.begin(), bad.end());
    EXPECT_EQ(RunProgram(args, "", nullptr, &err), 2) << bad[0] << " " << bad[1];
    EXPECT_NE(err.find("bad " + bad[0]), std::string::npos) << err;
  }
  EXPECT_EQ(RunProgram({"--data", data, "serve", "--mqtt", "localhost", "--mqtt-password-file",
                        data + "/missing"},
                       "", nullptr, &err),
            1);
  EXPECT_NE(err.find("cannot read the MQTT password"), std::string::npos) << err;
  EXPECT_EQ(RunProgram({"--data", data, "prune", "--mqtt", "localhost"}), 2);
  EXPECT_EQ(RunProgram({"--data", data, "events", "--limit", "0"}), 2);
  EXPECT_EQ(RunProgram({"--data", data, "export", "1"}), 2);
}

}  // namespace
}  // namespace corvantis::server
