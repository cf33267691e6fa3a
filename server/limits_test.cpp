// The server's limits and what it keeps private, against a real server on loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "server/test_support.h"

namespace corvantis::server {
namespace {

using testing::Client;
using testing::PseudoRandomBytes;
using testing::ReadUploads;
using testing::TestServer;

// Sends a snapshot the way the camera does and returns the reply to its body.
std::string Upload(Client& client, const std::string& body) {
  client.Send("DATA\n" + std::to_string(body.size()) + "\n");
  const std::string ready = client.Receive();
  if (ready != "354 Send " + std::to_string(body.size()) + " bytes.") return ready;
  for (std::size_t at = 0; at < body.size(); at += 1024) client.Send(body.substr(at, 1024));
  return client.Receive();
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
