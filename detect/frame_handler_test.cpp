#include "detect/frame_handler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "detect/alarm_state.h"
#include "detect/motion_detector.h"
#include "net/server_link.h"
#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/memory.h"
#include "platform/sockets_testing.h"
#include "snapshot/snapshot_writer.h"
#include "tests/support/main_window.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/script_server.h"
#include "tests/support/socket_faults.h"
#include "tests/support/striped_frame.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

HGLOBAL StripedFrame(bool inverted, int width = kWidth, int height = kHeight) {
  return testsupport::StripedFrame(inverted, width, height);
}

std::string ReadFile(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FrameHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    MainWindow = testsupport::CreateTestMainWindow();
    ASSERT_NE(MainWindow, nullptr);
    videoWidth = kWidth;
    videoHeight = kHeight;
    ResetDetector();
    AlarmState.frameCounter = 0;
    AlarmState.testing = 0;
    serverHost.valid = 0;
    std::strcpy(storedUserName, "alice\n");
    std::strcpy(storedPassword, "secret\n");
    headless::ClearLogs();
    testsupport::InstallSocketFaults();
    frames_[0] = StripedFrame(false);
    frames_[1] = StripedFrame(true);
  }
  void TearDown() override {
    socketCalls = kDefaultSocketCalls;
    GlobalFree(frames_[0]);
    GlobalFree(frames_[1]);
  }
  // Points serverHost at 127.83.5.`last`; gives that address as text.
  static std::string UseAddress(int last) {
    const uint8_t bytes[4] = {127, 83, 5, static_cast<uint8_t>(last)};
    std::memcpy(&serverHost.address, bytes, 4);
    serverHost.valid = 1;
    return "127.83.5." + std::to_string(last);
  }
  // The server side of one accepted upload of any size.
  static void ScriptUpload(testsupport::ScriptServer& server) {
    server.Expect("alice\n").Reply("200 hello").Expect("secret\n").Reply("200 welcome");
    server.ExpectLine().ExpectLine().Reply("200 go").ExpectCountedBody().Reply("250 stored");
    server.Expect("QUIT\n").Reply("221 bye");
  }
  // The next frame of heavy motion: the two striped frames by turns.
  HGLOBAL NextFrame() { return frames_[next_++ % 2]; }

  testsupport::ScratchDirectory scratch_;
  HGLOBAL frames_[2];
  int next_ = 0;
};

TEST_F(FrameHandlerTest, ANullBlockChangesNothing) {
  AlarmState.frameCounter = 7;
  AlarmState.motionDetected = 1;
  EXPECT_EQ(HandleFrame(nullptr), 0);
  EXPECT_EQ(AlarmState.frameCounter, 7);
  EXPECT_EQ(AlarmState.motionDetected, 1);
  EXPECT_TRUE(headless::Beeps().empty());
}

TEST_F(FrameHandlerTest, TheWarmUpHoldsBackSixtyFramesThenTheFirstMotionIsUploaded) {
  testsupport::ScriptServer server(UseAddress(1));
  ASSERT_TRUE(server.Listening());
  ScriptUpload(server);
  server.Start();

  std::vector<int> beepingFrames;
  for (int frame = 1; frame <= 60; ++frame) {
    size_t beepsBefore = headless::Beeps().size();
    ASSERT_EQ(HandleFrame(NextFrame()), 1);
    EXPECT_EQ(AlarmState.motionDetected, 0) << "frame " << frame;
    if (headless::Beeps().size() > beepsBefore) beepingFrames.push_back(frame);
  }
  EXPECT_EQ(beepingFrames, (std::vector<int>{1, 6, 11, 16, 21, 26, 31, 36, 41, 46, 51, 56}));
  for (const auto& beep : headless::Beeps()) {
    EXPECT_EQ(beep.frequency, 1000u);
    EXPECT_EQ(beep.duration, 100u);
  }
  EXPECT_EQ(AlarmState.frameCounter, 60);
  EXPECT_FALSE(std::filesystem::exists(kSnapshotFileName));
  EXPECT_EQ(testsupport::socketFaults.sockets, 0);

  // The 61st frame publishes its motion, is written and uploaded.
  EXPECT_EQ(HandleFrame(NextFrame()), 1);
  EXPECT_EQ(AlarmState.motionDetected, 1);
  EXPECT_EQ(AlarmState.frameCounter, 60);
  EXPECT_EQ(headless::Beeps().size(), 12u);
  std::string written = ReadFile(kSnapshotFileName);
  ASSERT_GT(written.size(), 2u);
  EXPECT_EQ(written.substr(0, 2), "\xff\xd8");
  EXPECT_EQ(server.Finish(),
            "alice\nsecret\nDATA\n" + std::to_string(written.size()) + "\n" + written + "QUIT\n");
  EXPECT_TRUE(headless::Boxes().empty());
  // The frame went back to the grabber unlocked.
  EXPECT_EQ(GlobalFlags(frames_[0]) & 0xff, 0u);
  EXPECT_EQ(GlobalFlags(frames_[1]) & 0xff, 0u);
}

TEST_F(FrameHandlerTest, ATestRunPublishesMotionButWritesAndSendsNothing) {
  AlarmState.testing = 1;
  AlarmState.frameCounter = 60;
  UseAddress(2);  // nobody listens: nothing may try
  EXPECT_EQ(HandleFrame(NextFrame()), 1);
  EXPECT_EQ(AlarmState.motionDetected, 0);  // the first frame becomes the reference
  EXPECT_EQ(HandleFrame(NextFrame()), 1);
  EXPECT_EQ(AlarmState.motionDetected, 1);
  EXPECT_FALSE(std::filesystem::exists(kSnapshotFileName));
  EXPECT_EQ(testsupport::socketFaults.sockets, 0);
  EXPECT_TRUE(headless::Beeps().empty());
}

TEST_F(FrameHandlerTest, RefusedFramesAreReportedEveryTimeAndTriggerAfterTheWarmUp) {
  HGLOBAL small = StripedFrame(false, kWidth / 2, kHeight / 2);
  // During the warm-up: a box per refused frame, the published result held at 0.
  ASSERT_EQ(HandleFrame(NextFrame()), 1);  // the reference, 160 x 120
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(HandleFrame(small), 1);
    EXPECT_EQ(AlarmState.motionDetected, 0);
  }
  auto boxes = headless::Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text, "malloc error");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.flags, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.owner, MainWindow);
  }
  EXPECT_FALSE(std::filesystem::exists(kSnapshotFileName));

  // After the warm-up, armed: the refused frame is written and uploaded like motion.
  AlarmState.frameCounter = 60;
  testsupport::ScriptServer server(UseAddress(3));
  ASSERT_TRUE(server.Listening());
  ScriptUpload(server);
  server.Start();
  ASSERT_EQ(HandleFrame(small), 1);
  EXPECT_EQ(AlarmState.motionDetected, 2);
  EXPECT_EQ(headless::Boxes().size(), 3u);
  std::string written = ReadFile(kSnapshotFileName);
  EXPECT_FALSE(written.empty());
  EXPECT_EQ(server.Finish(),
            "alice\nsecret\nDATA\n" + std::to_string(written.size()) + "\n" + written + "QUIT\n");

  // In a test run it is only reported.
  std::filesystem::remove(kSnapshotFileName);
  AlarmState.testing = 1;
  ASSERT_EQ(HandleFrame(small), 1);
  EXPECT_EQ(AlarmState.motionDetected, 2);
  EXPECT_EQ(headless::Boxes().size(), 4u);
  EXPECT_FALSE(std::filesystem::exists(kSnapshotFileName));
  GlobalFree(small);
}

// The first six entries, in zig-zag order, of the luminance quantisation table of a JPEG file.
std::vector<int> LuminanceTableStart(const std::string& jpeg) {
  size_t marker = jpeg.find("\xff\xdb");
  if (marker == std::string::npos || marker + 5 + 6 > jpeg.size()) return {};
  std::vector<int> entries;
  for (size_t i = 0; i < 6; ++i)
    entries.push_back(static_cast<unsigned char>(jpeg[marker + 5 + i]));
  return entries;
}

// The entries that the JPEG library's quality scaling gives the standard luminance table
// (zig-zag order) at `quality` (50 to 100).
std::vector<int> ScaledLuminanceTableStart(int quality) {
  const int standard[6] = {16, 11, 12, 14, 12, 10};
  int scale = 200 - 2 * quality;
  std::vector<int> entries;
  for (int value : standard) entries.push_back((value * scale + 50) / 100);
  return entries;
}

TEST_F(FrameHandlerTest,
       SnapshotsAreWrittenAtQualitySeventyWhateverTheSettingsAndFailedUploadsLeaveNoTrace) {
  AlarmState.frameCounter = 60;
  ASSERT_EQ(HandleFrame(NextFrame()), 1);  // the reference
  ASSERT_NE(ScaledLuminanceTableStart(70), ScaledLuminanceTableStart(75));
  const int settings[][2] = {{5, 10}, {25, 50}};
  for (const auto& [pixel, total] : settings) {
    smoothing = pixel;
    sensitivity = total;
    std::filesystem::remove(kSnapshotFileName);
    // No server address: every upload fails, and the next frame is handled all the same.
    ASSERT_EQ(HandleFrame(NextFrame()), 1);
    EXPECT_EQ(AlarmState.motionDetected, 1);
    EXPECT_EQ(LuminanceTableStart(ReadFile(kSnapshotFileName)), ScaledLuminanceTableStart(70));
  }
  EXPECT_EQ(testsupport::socketFaults.sockets, 0);
}

}  // namespace
