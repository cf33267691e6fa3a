// The real corvantis-server program: accounts through its command line, then `serve`.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

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
  testkit::ChildProcess server(Command({"--data", data, "serve", "--listen", address + ":0"}));
  const std::string ready = server.ReadLine().value_or("");
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
