// What a new user sees first: the program on the demo camera, armed as demo / demo1234 with
// the default thresholds against the real alarm server, and left alone for two walks (the
// user sets walks every five seconds or so through Image Quality, so that the test is short).
// The camera keeps real time on the headless backend's virtual clock. Each walk of four
// seconds (120 frames) gives one run of uploads, one for every frame that shows enough of
// the figure; between walks, when only the sensor noise changes, nothing is uploaded.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/entry.h"
#include "app/menu_commands.h"
#include "app/resources.h"
#include "detect/alarm_state.h"
#include "net/server_link.h"
#include "platform/capture/demo_camera.h"
#include "platform/capture/driver_dialogs.h"
#include "platform/capture/drivers.h"
#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/resources.h"
#include "platform/sockets_testing.h"
#include "platform/threads.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/server_process.h"
#include "tests/support/stored_snapshots.h"

namespace {

using headless::TypeText;

constexpr char kAddress[] = "127.85.9.2";
const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
const headless::WindowRef kMain = [] { return MainWindow; };
constexpr int kWalksWatched = 2;

// The demo camera, noting for each frame it hands to a grab whether the figure is in it,
// once it is told to watch; a walk under way then is left out. Its grabs run on the window
// thread, as do the script's checks.
class WatchedCamera : public platform::DemoCamera {
 public:
  using DemoCamera::DemoCamera;

  bool Grab() override {
    if (!DemoCamera::Grab()) return false;
    const bool visible = figureVisible();
    if (watching_) {
      if (visible && !inWalk_) walkStarts_.push_back(frameTime());
      const bool watchedWalk = walkStarts_.size() > walkEnds_.size();
      if (!visible && inWalk_ && watchedWalk) walkEnds_.push_back(frameTime());
      if (visible && watchedWalk) ++walkFrames_;
      if (!visible) ++quietFrames_;
    }
    inWalk_ = visible;
    return true;
  }

  void StartWatching() { watching_ = true; }
  // Watched walks whose frames have all been grabbed, and more than a second besides.
  int WalksOverForASecond() const {
    const int over = static_cast<int>(walkEnds_.size());
    return over > 0 && frameTime() < walkEnds_.back() + 1000 ? over - 1 : over;
  }
  const std::vector<int64_t>& walkStarts() const { return walkStarts_; }
  const std::vector<int64_t>& walkEnds() const { return walkEnds_; }
  int walkFrames() const { return walkFrames_; }
  int quietFrames() const { return quietFrames_; }

 private:
  bool watching_ = false;
  bool inWalk_ = false;
  std::vector<int64_t> walkStarts_, walkEnds_;  // frame times of the first frames in and out
  int walkFrames_ = 0, quietFrames_ = 0;
};

TEST(DemoCameraWalks, ArmedWithTheDefaultThresholdsEachWalkIsOneRunOfUploadsAndNothingElse) {
#ifndef CORVANTIS_SERVER_BINARY
  GTEST_SKIP() << "built without the alarm server";
#else
  testsupport::ScratchDirectory scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::filesystem::path dataDir = scratch.path() / "server-data";
  ASSERT_EQ(testsupport::RunProgram({CORVANTIS_SERVER_BINARY, "--data", dataDir.string(), "user",
                                     "add", "demo", "--hash-cost", "min"},
                                    "demo1234\n"),
            0);
  testsupport::ServerProcess server(CORVANTIS_SERVER_BINARY, dataDir.string(),
                                    std::string(kAddress) + ":1100");
  ASSERT_TRUE(server.Ready()) << server.FirstLine();
  SetServerHostName();
  ASSERT_TRUE(SetTestHostAddress(serverHostName, kAddress));
  platform::InstallResources(ProgramResources());
  auto camera = std::make_shared<WatchedCamera>(21);
  platform::InstallCaptureDrivers({camera});
  auto stored = [&] { return testsupport::StoredSnapshots(dataDir, "demo").size(); };

  headless::ScriptDialog(kWelcomeDialog, {headless::PressEnter()});
  headless::ScriptDialog("Demo Camera Format", {headless::PressEnter()});
  headless::ScriptCommand(kMain, kImageQualityCommand);
  // The slider of the seconds between walks starts at its least, 5.
  headless::ScriptDialog(
      "Demo Camera Source",
      {headless::MoveSlider(platform::kFirstSettingId + 1, 0), headless::PressEnter()});
  headless::ScriptCommand(kMain, kArmCommand);
  headless::ScriptDialog(kCredentialsDialog,
                         {TypeText(kUserNameField, "demo"), TypeText(kPasswordField, "demo1234"),
                          headless::PressEnter()});
  headless::ScriptWaitUntil(
      [] { return headless::Beeps().size() >= 15 + 12 && AlarmState.frameCounter.load() == 60; },
      "the countdown and the warm-up are over");
  headless::ScriptCall([&] { camera->StartWatching(); });
  // The uploads stored when each watched walk started and once it had been over for a second:
  // the alarm thread handles one frame after the other, so by then every upload of the walk
  // is in.
  std::vector<size_t> atStart, afterEnd;
  for (int walk = 1; walk <= kWalksWatched; ++walk) {
    headless::ScriptWaitUntil(
        [&, walk] { return static_cast<int>(camera->walkStarts().size()) >= walk; },
        "walk " + std::to_string(walk) + " starts");
    headless::ScriptCall([&] { atStart.push_back(stored()); });
    headless::ScriptWaitUntil([&, walk] { return camera->WalksOverForASecond() >= walk; },
                              "walk " + std::to_string(walk) + " is over");
    headless::ScriptCall([&] { afterEnd.push_back(stored()); });
  }
  headless::ScriptCommand(kMain, kDisarmCommand);
  headless::ScriptDialog(kCredentialsDialog,
                         {TypeText(kUserNameField, "demo"), TypeText(kPasswordField, "demo1234"),
                          headless::PressEnter()});
  headless::ScriptWaitUntil([] { return WaitForSingleObject(alarmThread, 0) == WAIT_OBJECT_0; },
                            "the alarm thread ended");
  headless::ScriptCommand(kMain, kExitCommand);

  EXPECT_EQ(WinMain(kInstance, nullptr, nullptr, SW_SHOWNORMAL), 0);
  EXPECT_EQ(headless::PendingScriptSteps(), 0u);

  ASSERT_EQ(atStart.size(), static_cast<size_t>(kWalksWatched));
  ASSERT_EQ(afterEnd.size(), static_cast<size_t>(kWalksWatched));
  EXPECT_EQ(camera->walkSeconds(), 5);
  for (int i = 0; i < kWalksWatched; ++i) {
    // A walk is 120 frames; in the first and last fifteen or so, as the figure comes in and
    // goes out at the picture's edges, too little of it shows to count as motion.
    const size_t uploads = afterEnd[i] - atStart[i];
    EXPECT_GE(uploads, 75u) << "walk " << i + 1;
    EXPECT_LE(uploads, 120u) << "walk " << i + 1;
    EXPECT_NEAR(camera->walkEnds()[i] - camera->walkStarts()[i], 4000, 34);
    if (i > 0) {
      EXPECT_EQ(atStart[i], afterEnd[i - 1]) << "nothing between walks " << i << " and " << i + 1;
      // Pauses of two thirds to four thirds of the five seconds set.
      EXPECT_GE(camera->walkStarts()[i] - camera->walkEnds()[i - 1], 3333 - 34);
      EXPECT_LE(camera->walkStarts()[i] - camera->walkEnds()[i - 1], 6667 + 34);
    }
  }
  EXPECT_EQ(stored(), afterEnd.back()) << "nothing after the last walk";
  EXPECT_EQ(camera->walkFrames(), kWalksWatched * 120);
  EXPECT_GT(camera->quietFrames(), 30 * 3) << "the quiet frames between walks were grabbed";
  EXPECT_EQ(server.Stop(), 0);
#endif
}

}  // namespace
