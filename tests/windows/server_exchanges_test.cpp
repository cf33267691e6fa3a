// The login and upload exchanges through the system's own sockets against the real alarm
// server, which runs on Linux beside wine (tests/windows/with_alarm_server starts it with
// the accounts alice and bobby and names its address and data folder).
#include <gtest/gtest.h>
#include <winsock.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "net/login_exchange.h"
#include "net/server_link.h"
#include "net/upload_exchange.h"
#include "snapshot/snapshot_writer.h"

namespace {

namespace fs = std::filesystem;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Points the exchanges at `address` as the program's host name would.
void UseServer(const std::string& address) {
  ASSERT_LT(address.size(), sizeof serverHostName);
  std::memcpy(serverHostName, address.c_str(), address.size() + 1);
}

std::vector<char> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The snapshots the server stored for an account, by file name.
std::vector<fs::path> StoredSnapshots(const std::string& account) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(
           fs::path(Environment("CORVANTIS_TEST_DATA")) / "snapshots" / account, error)) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A 24-bit packed bitmap of noise, so its JPEG file spans many 1024-byte chunks.
std::vector<unsigned char> NoisyFrame(int width, int height, unsigned seed) {
  const size_t stride = (size_t{3} * width + 3) & ~size_t{3};
  std::vector<unsigned char> frame(40 + stride * height);
  BITMAPINFOHEADER header{};
  header.biSize = 40;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  std::memcpy(frame.data(), &header, sizeof header);
  std::mt19937 random(seed);
  for (size_t i = 40; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(random());
  return frame;
}

// Each test writes its snapshot into a fresh directory of its own.
class ServerExchangesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Environment("CORVANTIS_TEST_SERVER").empty()) << "run by with_alarm_server";
    previous_ = fs::current_path();
    std::random_device random;
    directory_ = fs::temp_directory_path() / ("exchanges-test-" + std::to_string(random()));
    ASSERT_TRUE(fs::create_directory(directory_));
    fs::current_path(directory_);
    UseServer(Environment("CORVANTIS_TEST_SERVER"));
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code error;
    fs::remove_all(directory_, error);
  }
  // Writes a new snapshot and uploads it; gives the upload's outcome.
  std::string UploadNew(unsigned seed) {
    videoWidth = 320;
    videoHeight = 240;
    WriteSnapshot(NoisyFrame(320, 240, seed).data(), 70);
    return UploadExchange();
  }
  fs::path previous_;
  fs::path directory_;
};

TEST(ServerLink, TheHostNameComesFromTheBuildOption) {
  std::memset(serverHostName, 'x', sizeof serverHostName);
  SetServerHostName();
  EXPECT_STREQ(serverHostName, CORVANTIS_SERVER_HOST);
}

TEST_F(ServerExchangesTest, TheServerAcceptsAnAccountsPasswordAndRefusesOthers) {
  EXPECT_STREQ(LoginExchange("alice\n", "alice-pass\n"), "200 Welcome, alice.");
  EXPECT_STREQ(storedUserName, "alice\n");
  EXPECT_STREQ(storedPassword, "alice-pass\n");
  ASSERT_EQ(serverHost.valid, 1);
  EXPECT_EQ(serverHost.address.s_addr, inet_addr(Environment("CORVANTIS_TEST_SERVER").c_str()));

  EXPECT_STREQ(LoginExchange("alice\n", "bobby-pass\n"), "300 Login incorrect.");
  EXPECT_STREQ(LoginExchange("nobody\n", "alice-pass\n"), "300 Login incorrect.");
  EXPECT_STREQ(LoginExchange("bobby\n", "bobby-pass\n"), "200 Welcome, bobby.");
}

TEST_F(ServerExchangesTest, EachUploadIsStoredWholeForTheAccountThatLoggedIn) {
  ASSERT_STREQ(LoginExchange("alice\n", "alice-pass\n"), "200 Welcome, alice.");
  const size_t aliceBefore = StoredSnapshots("alice").size();
  const size_t bobBefore = StoredSnapshots("bobby").size();
  EXPECT_STREQ(UploadNew(1).c_str(), "221 Bye.");
  const std::vector<char> aliceSnapshot = FileBytes("Temp.jpeg");
  ASSERT_GT(aliceSnapshot.size(), 10000u);  // many chunks

  ASSERT_STREQ(LoginExchange("bobby\n", "bobby-pass\n"), "200 Welcome, bobby.");
  EXPECT_STREQ(UploadNew(2).c_str(), "221 Bye.");
  const std::vector<char> bobSnapshot = FileBytes("Temp.jpeg");
  ASSERT_NE(aliceSnapshot, bobSnapshot);

  const std::vector<fs::path> alice = StoredSnapshots("alice");
  const std::vector<fs::path> bob = StoredSnapshots("bobby");
  ASSERT_EQ(alice.size(), aliceBefore + 1);
  ASSERT_EQ(bob.size(), bobBefore + 1);
  EXPECT_EQ(FileBytes(alice.back()), aliceSnapshot);
  EXPECT_EQ(FileBytes(bob.back()), bobSnapshot);
}

TEST_F(ServerExchangesTest, WithoutASnapshotNothingIsSent) {
  ASSERT_STREQ(LoginExchange("alice\n", "alice-pass\n"), "200 Welcome, alice.");
  const size_t before = StoredSnapshots("alice").size();
  EXPECT_STREQ(UploadExchange(), "300 ");
  EXPECT_EQ(StoredSnapshots("alice").size(), before);
}

TEST_F(ServerExchangesTest, AnAddressWhereNobodyListensGivesCannotConnect) {
  // The test server's address with the last byte changed: nothing of the test's listens there.
  std::string address = Environment("CORVANTIS_TEST_SERVER");
  address = address.substr(0, address.rfind('.')) + ".254";
  UseServer(address);
  EXPECT_STREQ(LoginExchange("alice\n", "alice-pass\n"), "300 Cannot connect socket");
  EXPECT_STREQ(UploadNew(3).c_str(), "300 Cannot connect socket.");
}

}  // namespace
