// The server's side of the login and upload exchanges, against a real server on loopback.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "server/snapshot_store.h"
#include "server/test_support.h"

namespace corvantis::server {
namespace {

using testing::PseudoRandomBytes;
using testing::ReadFile;
using testing::ReadUploads;
using testing::SnapshotFiles;
using testing::TestServer;

using testing::Upload;

TEST(Session, AcceptsTheRightPasswordAndRefusesOthers) {
  TestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");

  auto accepted = server.Connect();
  EXPECT_EQ(accepted->Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(accepted->Exchange("secret1"), "200 Welcome, alice.");
  EXPECT_EQ(accepted->Exchange("QUIT"), "221 Bye.");
  EXPECT_EQ(accepted->Receive(), "");  // the server closes after QUIT
  server.WaitForLog("user=alice outcome=ok");

  auto wrong = server.Connect();
  EXPECT_EQ(wrong->Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(wrong->Exchange("secret2"), "300 Login incorrect.");
  EXPECT_EQ(wrong->Receive(), "");

  // An unknown name is answered like a known one and refused at the password.
  auto unknown = server.Connect();
  EXPECT_EQ(unknown->Exchange("mallory"), "331 Password, please.");
  EXPECT_EQ(unknown->Exchange("secret1"), "300 Login incorrect.");
  server.WaitForLog("user=mallory outcome=login refused");

  // Names are exact: no trimming, no change of case.
  auto other = server.Connect();
  EXPECT_EQ(other->Exchange("Alice"), "331 Password, please.");
  EXPECT_EQ(other->Exchange("secret1"), "300 Login incorrect.");
}

TEST(Session, StoresAnUploadByteForByteWithItsRow) {
  TestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  const std::string body = PseudoRandomBytes(40961, 7);

  auto client = server.LogIn("alice", "secret1");
  const std::string stored = Upload(*client, body);
  ASSERT_TRUE(stored.starts_with("250 Stored snapshots/alice/")) << stored;
  EXPECT_TRUE(stored.ends_with(".jpeg (40961 bytes).")) << stored;
  // A second upload on the same connection, then the closing command.
  const std::string second = PseudoRandomBytes(1, 8);
  EXPECT_TRUE(Upload(*client, second).starts_with("250 Stored"));
  EXPECT_EQ(client->Exchange("QUIT"), "221 Bye.");

  // The row is on disk before the reply: read it with a connection of our own.
  const auto rows = ReadUploads(server.dataDir());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].user, "alice");
  EXPECT_EQ(rows[0].size, 40961);
  EXPECT_EQ(rows[0].sha256, Sha256Hex(body));
  EXPECT_EQ(rows[0].client, client->LocalAddress());
  EXPECT_EQ("250 Stored " + rows[0].file + " (40961 bytes).", stored);
  EXPECT_EQ(ReadFile(server.dataDir() / rows[0].file), body);
  EXPECT_EQ(ReadFile(server.dataDir() / rows[1].file), second);
  EXPECT_EQ(SnapshotFiles(server.dataDir()), (std::vector{rows[0].file, rows[1].file}));
  server.WaitForLog("user=alice outcome=ok uploads=2 bytes=40962");
}

TEST(Session, TakesAHeaderSplitOverSeveralReads) {
  TestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto client = server.LogIn("alice", "secret1");
  // Nothing is answered before the header is whole; then exactly one reply.
  client->Send("DA");
  client->Send("TA\n1");
  client->Send("0\n");
  EXPECT_EQ(client->Receive(), "354 Send 10 bytes.");
  client->Send("0123456789");
  EXPECT_TRUE(client->Receive().starts_with("250 Stored"));
}

TEST(Session, RefusesBadHeadersAndAcceptsTheNextGoodOne) {
  TestServer server([](ServerOptions& o) { o.maxSize = 1000; });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto client = server.LogIn("alice", "secret1");
  EXPECT_EQ(client->Exchange("DATA\nabc"), "300 Bad snapshot size.");
  EXPECT_EQ(client->Exchange("DATA\n-5"), "300 Bad snapshot size.");
  EXPECT_EQ(client->Exchange("DATA\n0"), "300 Empty snapshot refused.");
  EXPECT_EQ(client->Exchange("DATA\n1001"), "300 Snapshot too large; the limit is 1000 bytes.");
  EXPECT_EQ(client->Exchange("DATA\n99999999999999999999999"), "300 Bad snapshot size.");
  // The fifth refusal in a row still leaves the connection open for a good header.
  EXPECT_TRUE(Upload(*client, PseudoRandomBytes(1000, 1)).starts_with("250 Stored"));
  EXPECT_EQ(client->Exchange("HELO"), "300 Unknown command.");
  EXPECT_EQ(client->Exchange("QUIT"), "221 Bye.");
  EXPECT_EQ(ReadUploads(server.dataDir()).size(), 1u);
}

TEST(Session, TheSixthRefusedHeaderInARowEndsTheConnection) {
  TestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto client = server.LogIn("alice", "secret1");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(client->Exchange("DATA\nx"), "300 Bad snapshot size.");
  EXPECT_EQ(client->Receive(), "");
  server.WaitForLog("outcome=bad header");
}

TEST(Session, RefusesAHeaderBeforeLogin) {
  TestServer server;
  auto client = server.Connect();
  client->Send("DATA\n5\n");
  EXPECT_EQ(client->Receive(), "300 Log in first.");
  EXPECT_EQ(client->Receive(), "");
  server.WaitForLog("outcome=header before login");
}

TEST(Session, RefusesLinesLongerThan1024Bytes) {
  TestServer server;
  // 1024 bytes before the line feed is still a line.
  EXPECT_EQ(server.Connect()->Exchange(std::string(1024, 'u')), "331 Password, please.");

  auto unterminated = server.Connect();
  unterminated->Send(std::string(1025, 'u'));
  EXPECT_EQ(unterminated->Receive(), "300 Line too long.");
  EXPECT_EQ(unterminated->Receive(), "");

  auto terminated = server.Connect();
  terminated->Send(std::string(3000, 'p') + "\n");
  EXPECT_EQ(terminated->Receive(), "300 Line too long.");
  EXPECT_EQ(terminated->Receive(), "");
  server.WaitForLog("outcome=line too long");
}

TEST(Session, EndsASilentConnection) {
  TestServer server([](ServerOptions& o) { o.idleTimeout = std::chrono::milliseconds(100); });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto silent = server.Connect();
  EXPECT_EQ(silent->Receive(), "");  // returns when the server closes
  server.WaitForLog("user=- outcome=timed out");

  // Silence in the middle of a body ends the connection and stores nothing.
  auto client = server.LogIn("alice", "secret1");
  client->Send("DATA\n100\n");
  EXPECT_EQ(client->Receive(), "354 Send 100 bytes.");
  client->Send(std::string(50, 'x'));
  EXPECT_EQ(client->Receive(), "");
  server.WaitForLog("user=alice outcome=body too slow");
  EXPECT_TRUE(ReadUploads(server.dataDir()).empty());
}

TEST(Session, NeverStoresABodyCutShort) {
  TestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  {
    auto client = server.LogIn("alice", "secret1");
    client->Send("DATA\n5000\n");
    EXPECT_EQ(client->Receive(), "354 Send 5000 bytes.");
    client->Send(PseudoRandomBytes(4999, 3));
  }  // closed one byte short
  server.WaitForLog("user=alice outcome=body cut short uploads=0 bytes=0");
  EXPECT_TRUE(ReadUploads(server.dataDir()).empty());
  EXPECT_TRUE(SnapshotFiles(server.dataDir()).empty());

  // The bytes the cut body held are given back: a body as large as the whole budget passes.
  auto next = server.LogIn("alice", "secret1");
  EXPECT_TRUE(Upload(*next, PseudoRandomBytes(5000, 4)).starts_with("250 Stored"));
}

TEST(Session, ThrottlesRepeatedFailedLoginsPerAddress) {
  TestServer server([](ServerOptions& o) { o.loginFailureLimit = 3; });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  for (int i = 0; i < 3; ++i) {
    auto client = server.Connect();
    EXPECT_EQ(client->Exchange("alice"), "331 Password, please.");
    EXPECT_EQ(client->Exchange("guess" + std::to_string(i)), "300 Login incorrect.");
  }
  // The right password from that address is refused now, without being checked.
  auto blocked = server.Connect();
  EXPECT_EQ(blocked->Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(blocked->Exchange("secret1"), "300 Too many failed logins; try again later.");
  server.WaitForLog("outcome=throttled");

  // Another address is not held back.
  auto elsewhere = server.Connect(1);
  EXPECT_EQ(elsewhere->Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(elsewhere->Exchange("secret1"), "200 Welcome, alice.");
}

TEST(Session, ServesManyUploadersAtOnce) {
  TestServer server([](ServerOptions& o) { o.ioThreads = 2; });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  testing::AddUser(server.dataDir(), "bob smith/..", "secret2");
  constexpr int kClients = 16;
  constexpr int kEach = 4;
  std::vector<std::thread> clients;
  std::vector<std::vector<std::string>> replies(kClients);
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      const bool bob = c % 2;
      for (int i = 0; i < kEach; ++i) {
        // Four cameras behind each address: logins from one address are counted together.
        auto client = server.Connect(c % 4);
        client->Exchange(bob ? "bob smith/.." : "alice");
        client->Exchange(bob ? "secret2" : "secret1");
        replies[c].push_back(Upload(*client, PseudoRandomBytes(3000 + c, c * 100 + i)));
        client->Exchange("QUIT");
      }
    });
  }
  for (auto& thread : clients) thread.join();
  for (const auto& list : replies) {
    for (const auto& reply : list) EXPECT_TRUE(reply.starts_with("250 Stored")) << reply;
  }
  const auto rows = ReadUploads(server.dataDir());
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kClients * kEach));
  for (const auto& row : rows) {
    EXPECT_EQ(Sha256Hex(ReadFile(server.dataDir() / row.file)), row.sha256);
    // Every name becomes one folder right under snapshots/.
    const std::string folder = row.user == "alice" ? "alice" : "bob%20smith%2F..";
    EXPECT_EQ(std::filesystem::path(row.file).parent_path(),
              std::filesystem::path("snapshots") / folder);
  }
}

TEST(Session, RefusesConnectionsBeyondTheLimitAtOnce) {
  TestServer server([](ServerOptions& o) { o.maxConnections = 2; });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  // Connections count from the moment they are accepted, before their first line.
  auto idle = server.Connect();
  auto first = server.LogIn("alice", "secret1");
  auto refused = server.Connect();
  EXPECT_EQ(refused->Receive(), "300 Too many connections; try again later.");
  EXPECT_EQ(refused->Receive(), "");
  EXPECT_EQ(server.server().connections().Total(), 2u);
  server.WaitForLog("outcome=server full (2 connections)");
  // The camera's client sends its user name first and takes the refusal as its reply.
  auto camera = server.Connect();
  EXPECT_EQ(camera->Exchange("alice"), "300 Too many connections; try again later.");

  // The place is free again once a connection is gone.
  idle.reset();
  ASSERT_TRUE(server.server().connections().WaitUntilAtMost(1, std::chrono::seconds(10)));
  EXPECT_EQ(server.Connect()->Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(first->Exchange("QUIT"), "221 Bye.");
}

TEST(Session, AnswersAWaitingHeaderOnceMemoryIsFree) {
  // Budget for one body at a time: a second header waits for the first body to be stored
  // and its bytes given back, or for a while only, and is then refused.
  TestServer server([](ServerOptions& o) {
    o.maxSize = 4000;
    o.bodyBudget = 4000;
    o.memoryWait = std::chrono::milliseconds(200);
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto first = server.LogIn("alice", "secret1");
  auto second = server.LogIn("alice", "secret1");
  first->Send("DATA\n4000\n");
  EXPECT_EQ(first->Receive(), "354 Send 4000 bytes.");
  EXPECT_EQ(second->Exchange("DATA\n4000"), "300 Server busy; try again later.");
  // The camera sends its header again; it is answered once the first body is stored.
  second->Send("DATA\n4000\n");
  first->Send(PseudoRandomBytes(4000, 1));
  EXPECT_TRUE(first->Receive().starts_with("250 Stored"));
  EXPECT_EQ(second->Receive(), "354 Send 4000 bytes.");
  second->Send(PseudoRandomBytes(4000, 2));
  EXPECT_TRUE(second->Receive().starts_with("250 Stored"));
}

TEST(Server, OneDataDirectoryServesOneServerAtATime) {
  TestServer server;
  ServerOptions options;
  options.dataDir = server.dataDir();
  EXPECT_THROW(Server{options}, std::runtime_error);
}

}  // namespace
}  // namespace corvantis::server
