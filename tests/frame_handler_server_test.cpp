// From a frame to a stored snapshot: frames go through the frame handler into the real alarm
// server on a loopback address of this test's own.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "detect/alarm_state.h"
#include "detect/frame_handler.h"
#include "detect/motion_detector.h"
#include "net/login_exchange.h"
#include "net/server_link.h"
#include "platform/headless/headless.h"
#include "platform/sockets_testing.h"
#include "snapshot/snapshot_writer.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/server_process.h"
#include "tests/support/striped_frame.h"

namespace {

constexpr char kAddress[] = "127.83.6.1";
constexpr char kHostName[] = "alarm-server.test";

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The snapshot files the server has stored for `user`.
std::vector<std::filesystem::path> StoredSnapshots(const std::filesystem::path& dataDir,
                                                   const std::string& user) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(dataDir / "snapshots" / user, error)) {
    if (entry.path().extension() == ".jpeg" && entry.path().filename().string()[0] != '.')
      files.push_back(entry.path());
  }
  return files;
}

TEST(FrameHandlerServer, ATriggeringFrameIsStoredByTheServerByteForByte) {
#ifndef CORVANTIS_SERVER_BINARY
  GTEST_SKIP() << "built without the alarm server";
#else
  testsupport::ScratchDirectory scratchDirectory;
  const std::filesystem::path& scratch = scratchDirectory.path();
  ASSERT_FALSE(scratch.empty());
  std::filesystem::path dataDir = scratch / "server-data";
  ASSERT_EQ(testsupport::RunProgram({CORVANTIS_SERVER_BINARY, "--data", dataDir.string(), "user",
                                     "add", "watcher", "--hash-cost", "min"},
                                    "s3cret-pw\n"),
            0);
  testsupport::ServerProcess server(CORVANTIS_SERVER_BINARY, dataDir.string(),
                                    std::string(kAddress) + ":1100",
                                    (scratch / "server.log").string());
  ASSERT_TRUE(server.Ready()) << server.FirstLine();

  // Log in the way the login dialog does, through the server's name.
  std::strcpy(serverHostName, kHostName);
  ASSERT_TRUE(SetTestHostAddress(kHostName, kAddress));
  ASSERT_STREQ(LoginExchange("watcher\n", "s3cret-pw\n"), "200 Welcome, watcher.");

  // Armed after the warm-up: the first frame is the reference, the second is motion.
  videoWidth = 320;
  videoHeight = 240;
  ResetDetector();
  AlarmState.testing = 0;
  AlarmState.frameCounter = 60;
  HGLOBAL frames[2] = {testsupport::StripedFrame(false, 320, 240),
                       testsupport::StripedFrame(true, 320, 240)};
  ASSERT_EQ(HandleFrame(frames[0]), 1);
  EXPECT_EQ(AlarmState.motionDetected, 0);
  EXPECT_TRUE(StoredSnapshots(dataDir, "watcher").empty());
  ASSERT_EQ(HandleFrame(frames[1]), 1);
  EXPECT_EQ(AlarmState.motionDetected, 1);
  // The upload ran to its end: the reply to "QUIT" is in the reply buffer.
  EXPECT_STREQ(ServerReply, "221 Bye.");

  std::string written = ReadFile(kSnapshotFileName);
  ASSERT_FALSE(written.empty());
  auto stored = StoredSnapshots(dataDir, "watcher");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_TRUE(ReadFile(stored[0]) == written) << "the stored snapshot differs from Temp.jpeg";

  // A second motion frame is a second snapshot.
  ASSERT_EQ(HandleFrame(frames[0]), 1);
  EXPECT_EQ(StoredSnapshots(dataDir, "watcher").size(), 2u);
  EXPECT_TRUE(headless::Boxes().empty());
  EXPECT_EQ(server.Stop(), 0);
  GlobalFree(frames[0]);
  GlobalFree(frames[1]);
#endif
}

}  // namespace
