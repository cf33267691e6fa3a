// The server under attack, against a real server on loopback: connections counted and
// capped, deadlines that slow clients cannot stretch, bodies that cannot starve others, a
// login flood that costs few checks, and a process out of descriptors that still answers.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "server/test_support.h"

namespace corvantis::server {
namespace {

using namespace std::chrono_literals;
using testing::Client;
using testing::PseudoRandomBytes;
using testing::ReadUploads;
using testing::TestAddress;
using testing::TestServer;
using testing::Upload;

constexpr const char* kServerFull = "300 Too many connections; try again later.";
constexpr const char* kAddressFull = "300 Too many connections from your address; try again later.";

// The reply waiting on a connection, or "" when none has come (without waiting).
std::string WaitingReply(Client& client) {
  char reply[1024];
  const ssize_t n = ::recv(client.Handle(), reply, sizeof reply, MSG_DONTWAIT);
  return n > 0 ? std::string(reply, static_cast<std::size_t>(n)) : std::string();
}

TEST(Limits, IdleSocketsFromOneAddressOrSixteenLeaveRoomForCameras) {
  for (const int addresses : {1, 16}) {
    SCOPED_TRACE(std::to_string(addresses) + " addresses");
    TestServer server([](ServerOptions& o) { o.maxConnections = 1000; });
    testing::AddUser(server.dataDir(), "alice", "secret1");
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 1000; ++i) idle.push_back(server.Connect(1 + i % addresses));

    // Accepted after all of them, a camera logs in and uploads, twice.
    for (int upload = 0; upload < 2; ++upload) {
      auto camera = server.LogIn("alice", "secret1");
      EXPECT_TRUE(Upload(*camera, PseudoRandomBytes(4000, upload)).starts_with("250 Stored"));
      EXPECT_EQ(camera->Exchange("QUIT"), "221 Bye.");
    }
    // Each address holds its 32 places; every other socket was refused at once.
    for (int a = 1; a <= addresses; ++a) {
      EXPECT_EQ(server.server().connections().From(TestAddress(a)), 32u);
    }
    int refused = 0;
    for (auto& client : idle) {
      const std::string reply = WaitingReply(*client);
      if (reply.empty()) continue;
      EXPECT_EQ(reply, kAddressFull);
      ++refused;
    }
    EXPECT_EQ(refused, 1000 - 32 * addresses);
    EXPECT_EQ(ReadUploads(server.dataDir()).size(), 2u);
  }
}

TEST(Limits, ALineMustArriveWholeWithinTheIdleTime) {
  TestServer server([](ServerOptions& o) {
    o.idleTimeout = 300ms;
    o.loginTimeout = 60s;
  });
  // A byte every 50 ms would take ten seconds to finish this name; the line's time ends it.
  auto client = server.Connect();
  EXPECT_TRUE(client->TrickleUntilClosed(std::string(200, 'u'), 50ms));
  server.WaitForLog("user=- outcome=timed out");
}

TEST(Limits, TheLoginAsAWholeHasADeadline) {
  TestServer server([](ServerOptions& o) { o.loginTimeout = 300ms; });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto early = server.LogIn("alice", "secret1");

  // A user name and then nothing: within the idle time, but past the login's time.
  auto stalled = server.Connect();
  EXPECT_EQ(stalled->Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(stalled->Receive(), "");
  server.WaitForLog("user=alice outcome=login timed out");

  // The deadline ends with the login: the connection logged in before it still uploads.
  EXPECT_TRUE(Upload(*early, PseudoRandomBytes(100, 1)).starts_with("250 Stored"));
}

TEST(Limits, AClientThatTakesNoRepliesIsCutOffAtTheWriteDeadline) {
  TestServer server([](ServerOptions& o) { o.writeTimeout = 300ms; });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  Client client(server.endpoint(), TestAddress(), 4096);
  EXPECT_EQ(client.Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(client.Exchange("secret1"), "200 Welcome, alice.");

  // Commands without end, and not one reply read: the replies pile up unsent.
  std::thread flood([&client] {
    std::string lines;
    for (int i = 0; i < 4096; ++i) lines += "HELO\n";
    for (std::size_t sent = 0; sent < (256u << 20);) {
      const ssize_t n = ::send(client.Handle(), lines.data(), lines.size(), MSG_NOSIGNAL);
      if (n <= 0) return;  // the server has closed the connection
      sent += static_cast<std::size_t>(n);
    }
  });
  const std::string line = server.WaitForLog("user=alice outcome=write timed out");
  if (line.empty()) ::shutdown(client.Handle(), SHUT_RDWR);  // lets the flood end
  flood.join();
  ASSERT_TRUE(server.server().connections().WaitUntilAtMost(0, 10s));
}

TEST(Limits, ABodyBelowTheLeastRateIsCutOff) {
  TestServer server([](ServerOptions& o) {
    o.minBodyRate = 1000;
    o.bodyGrace = 200ms;
    o.maxSize = 100000;
    o.bodyBudget = 100000;
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto slow = server.LogIn("alice", "secret1");
  slow->Send("DATA\n100000\n");
  EXPECT_EQ(slow->Receive(), "354 Send 100000 bytes.");
  // Twenty bytes a second, every one of them well inside the idle time.
  EXPECT_TRUE(slow->TrickleUntilClosed(std::string(200, 'x'), 50ms));
  server.WaitForLog("user=alice outcome=body too slow");
  // The budget it held is free: a body of the whole budget is taken at once.
  auto next = server.LogIn("alice", "secret1");
  EXPECT_TRUE(Upload(*next, PseudoRandomBytes(100000, 2)).starts_with("250 Stored"));
  EXPECT_EQ(ReadUploads(server.dataDir()).size(), 1u);
}

TEST(Limits, LargeAnnouncementsDoNotStallSmallUploads) {
  TestServer server([](ServerOptions& o) {
    o.maxSize = 30000;
    o.bodyBudget = 40000;
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  testing::AddUser(server.dataDir(), "mallory", "secret2");
  // Two connections announce large bodies and send nothing of them.
  auto hog = server.LogIn("mallory", "secret2");
  hog->Send("DATA\n20000\n");
  EXPECT_EQ(hog->Receive(), "354 Send 20000 bytes.");
  auto waiting = server.LogIn("mallory", "secret2");
  waiting->Send("DATA\n20000\n");
  // Another account's small snapshot goes through meanwhile.
  auto camera = server.LogIn("alice", "secret1");
  EXPECT_TRUE(Upload(*camera, PseudoRandomBytes(2000, 3)).starts_with("250 Stored"));
  EXPECT_EQ(WaitingReply(*waiting), "");  // still waiting for its turn
}

TEST(Limits, ARemovedAccountStoresNothingMore) {
  TestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto client = server.LogIn("alice", "secret1");
  EXPECT_TRUE(Upload(*client, PseudoRandomBytes(100, 1)).starts_with("250 Stored"));
  auto other = server.LogIn("alice", "secret1");

  testing::RemoveUser(server.dataDir(), "alice");
  EXPECT_EQ(client->Exchange("DATA\n100"), "300 Account removed; log in again.");
  EXPECT_EQ(client->Receive(), "");
  server.WaitForLog("user=alice outcome=account removed uploads=1");

  // Added again under the same name, the account is a new one: old logins do not count.
  testing::AddUser(server.dataDir(), "alice", "secret1");
  EXPECT_EQ(other->Exchange("DATA\n100"), "300 Account removed; log in again.");
  auto fresh = server.LogIn("alice", "secret1");
  EXPECT_TRUE(Upload(*fresh, PseudoRandomBytes(100, 2)).starts_with("250 Stored"));
  EXPECT_EQ(ReadUploads(server.dataDir()).size(), 2u);
}

TEST(Limits, AFloodOfWrongPasswordsCostsOnlyTheAllowedChecks) {
  TestServer server;  // five attempts per address
  // A real hash cost: each check takes its time, so the whole flood is in hand at once.
  testing::AddUser(server.dataDir(), "alice", "secret1", HashCost::kInteractive);
  constexpr int kFlood = 30;
  std::vector<std::unique_ptr<Client>> flood;
  for (int i = 0; i < kFlood; ++i) {
    flood.push_back(server.Connect(1));
    ASSERT_EQ(flood.back()->Exchange("alice"), "331 Password, please.");
  }
  for (auto& client : flood) client->Send("guess1\n");
  int checked = 0;
  for (auto& client : flood) {
    const std::string reply = client->Receive();
    if (reply == "300 Login incorrect.") {
      ++checked;
    } else {
      EXPECT_TRUE(reply == "300 Too many logins at once; try again later." ||
                  reply == "300 Too many failed logins; try again later.")
          << reply;
    }
  }
  EXPECT_GE(checked, 1);
  // Guessing on, one at a time: five checks in all, then the address is refused unchecked,
  // the right password too.
  for (int guess = 0; checked < 5 && guess < 5; ++guess) {
    auto next = server.Connect(1);
    next->Exchange("alice");
    EXPECT_EQ(next->Exchange("guess2"), "300 Login incorrect.");
    ++checked;
  }
  EXPECT_EQ(checked, 5);
  auto again = server.Connect(1);
  EXPECT_EQ(again->Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(again->Exchange("secret1"), "300 Too many failed logins; try again later.");
  auto honest = server.Connect(2);
  EXPECT_EQ(honest->Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(honest->Exchange("secret1"), "200 Welcome, alice.");
}

TEST(Limits, AClientThatHangsUpWhileItsCheckWaitsCostsNoCheck) {
  TestServer server([](ServerOptions& o) { o.verifyThreads = 1; });
  testing::AddUser(server.dataDir(), "alice", "secret1", HashCost::kInteractive);
  // A check from elsewhere holds the one checking thread for the time of a real hash.
  auto running = server.Connect(2);
  ASSERT_EQ(running->Exchange("alice"), "331 Password, please.");
  running->Send("guess1\n");
  // Four guesses whose clients hang up before their checks' turn.
  for (int i = 0; i < 4; ++i) {
    auto gone = server.Connect(1);
    ASSERT_EQ(gone->Exchange("alice"), "331 Password, please.");
    gone->Send("guess2\n");
    const std::string address = gone->LocalAddress();
    gone.reset();
    EXPECT_NE(server.WaitForLog(address + " user=alice outcome=").find("outcome=closed by client"),
              std::string::npos);
  }
  EXPECT_EQ(running->Receive(), "300 Login incorrect.");
  // Taken back unrun, they counted for nothing: the address still has all five attempts.
  for (int guess = 0; guess < 5; ++guess) {
    auto next = server.Connect(1);
    next->Exchange("alice");
    EXPECT_EQ(next->Exchange("guess3"), "300 Login incorrect.") << guess;
  }
}

TEST(Limits, LoggingInToOnesOwnAccountDoesNotClearGuessesAtAnother) {
  TestServer server;
  testing::AddUser(server.dataDir(), "mallory", "secret1");
  testing::AddUser(server.dataDir(), "alice", "secret2");
  for (int i = 0; i < 5; ++i) {
    auto own = server.Connect(1);
    own->Exchange("mallory");
    EXPECT_EQ(own->Exchange("secret1"), "200 Welcome, mallory.");
    auto guess = server.Connect(1);
    guess->Exchange("alice");
    EXPECT_EQ(guess->Exchange("guess" + std::to_string(i)), "300 Login incorrect.");
  }
  auto sixth = server.Connect(1);
  sixth->Exchange("alice");
  EXPECT_EQ(sixth->Exchange("secret2"), "300 Too many failed logins; try again later.");
}

TEST(Limits, LongUserNamesAreCutAndEscapedInTheLog) {
  TestServer server;
  auto client = server.Connect();
  EXPECT_EQ(client->Exchange(std::string(1000, 'n') + " \x1b"), "331 Password, please.");
  EXPECT_EQ(client->Exchange("secret1"), "300 Login incorrect.");
  const std::string line = server.WaitForLog("outcome=login refused");
  EXPECT_NE(line.find("user=" + std::string(64, 'n') + "...(+938 bytes) outcome"),
            std::string::npos)
      << line;
  EXPECT_LT(line.size(), 250u);
}

// The highest descriptor number open in this process.
int HighestDescriptor() {
  int highest = 2;
  DIR* dir = ::opendir("/proc/self/fd");
  while (dirent* entry = ::readdir(dir)) highest = std::max(highest, std::atoi(entry->d_name));
  ::closedir(dir);
  return highest;
}

// The undefined-behaviour sanitizer probes memory through a pipe the first time it checks an
// object's dynamic type, so in a process without a free descriptor it reports sound objects
// as having no valid type. The address sanitizer build always carries it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANTIS_PROBES_NEED_DESCRIPTORS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CORVANTIS_PROBES_NEED_DESCRIPTORS 1
#endif

TEST(Limits, WithoutDescriptorsNewClientsAreStillRefusedPolitely) {
#ifdef CORVANTIS_PROBES_NEED_DESCRIPTORS
  GTEST_SKIP() << "the sanitizer's own checks need descriptors";
#endif
  TestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  // The clients' sockets are made while descriptors remain.
  constexpr int kClients = 5;
  std::vector<int> clients;
  for (int i = 0; i < kClients; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    clients.push_back(fd);
  }
  // Then the process runs out: a low limit, and every number below it taken.
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(HighestDescriptor() + 8);
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> taken{null};
  for (int fd; (fd = ::dup(null)) >= 0;) taken.push_back(fd);
  ASSERT_EQ(errno, EMFILE);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.endpoint().port());
  address.sin_addr.s_addr = htonl(server.endpoint().address().to_v4().to_uint());
  for (int fd : clients) {
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  for (int fd : clients) {
    char reply[1024];
    const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
    EXPECT_EQ(std::string(reply, static_cast<std::size_t>(std::max<ssize_t>(n, 0))), kServerFull);
  }
  server.WaitForLog("out of descriptors (Too many open files): pausing accepts");

  // Given descriptors again, the server accepts and serves as before.
  for (int fd : clients) ::close(fd);
  for (int fd : taken) ::close(fd);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  // (A refusal already under way may take one more client.)
  auto client = server.Connect();
  std::string reply = client->Exchange("alice");
  if (reply == kServerFull) reply = (client = server.Connect())->Exchange("alice");
  EXPECT_EQ(reply, "331 Password, please.");
  EXPECT_EQ(client->Exchange("secret1"), "200 Welcome, alice.");
  EXPECT_TRUE(Upload(*client, PseudoRandomBytes(100, 1)).starts_with("250 Stored"));
}

TEST(Limits, FilesArePrivateWhateverTheUmaskAndAnOpenDataDirectoryIsReported) {
  ::umask(0);
  TestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto client = server.LogIn("alice", "secret1");
  ASSERT_TRUE(Upload(*client, PseudoRandomBytes(100, 1)).starts_with("250 Stored"));
  EXPECT_EQ(client->Exchange("QUIT"), "221 Bye.");
  const auto rows = ReadUploads(server.dataDir());
  ASSERT_EQ(rows.size(), 1u);
  auto mode = [&](const std::filesystem::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat((server.dataDir() / path).c_str(), &status), 0) << path;
    return status.st_mode & 07777;
  };
  EXPECT_EQ(mode("snapshots"), 0700u);
  EXPECT_EQ(mode("snapshots/alice"), 0700u);
  EXPECT_EQ(mode(rows[0].file), 0600u);
  EXPECT_EQ(mode("corvantis-server.db"), 0600u);
  EXPECT_EQ(mode("corvantis-server.db-wal"), 0600u);
  EXPECT_EQ(mode("corvantis-server.db-shm"), 0600u);

  // A data directory open to others is served, with a warning.
  testing::TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  TestServer open([&](ServerOptions& o) { o.dataDir = dir.path(); });
  open.WaitForLog("warning: the data directory " + dir.path().string() +
                  " is open to group or others (mode 0755)");
}

}  // namespace
}  // namespace corvantis::server
