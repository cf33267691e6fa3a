// The whole alarm through the program's entry on the headless backend: a scripted camera,
// the real alarm server on a loopback address of this test's own, and a user who tests the
// alarm, arms it, lets a person walk in front of the camera, and disarms it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/entry.h"
#include "app/menu_commands.h"
#include "app/resources.h"
#include "detect/alarm_state.h"
#include "net/server_link.h"
#include "platform/capture/drivers.h"
#include "platform/capture/scripted_driver.h"
#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/sockets_testing.h"
#include "platform/surface.h"
#include "platform/threads.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/server_process.h"
#include "tests/support/stored_snapshots.h"

namespace {

using headless::PressButton;
using headless::TypeText;
using platform::CaptureFrame;
using platform::ScriptedDriver;

constexpr char kAddress[] = "127.85.1.1";
const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
const headless::WindowRef kMain = [] { return MainWindow; };

// The grab from which a person stands in front of the camera (read on the window thread
// during the test run and on the alarm thread while armed).
std::atomic<int> personFrom{70};

// A room: a bright left half, a dark right half; with a person, a dark figure in the middle.
CaptureFrame Room(bool person) {
  CaptureFrame frame = ScriptedDriver::SolidFrame(320, 240, 200, 200, 200);
  const size_t row = platform::FrameRowBytes(320);
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      BYTE* p = frame.pixels() + row * y + 3 * x;
      bool figure = person && x >= 130 && x < 190 && y >= 40 && y < 220;
      BYTE grey = figure ? 10 : (x < 160 ? 200 : 60);
      p[0] = p[1] = p[2] = grey;
    }
  }
  return frame;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::filesystem::path> StoredSnapshots(const std::filesystem::path& dataDir) {
  return testsupport::StoredSnapshots(dataDir, "watcher");
}

std::vector<std::pair<std::string, std::string>> BoxesSince(size_t first) {
  std::vector<std::pair<std::string, std::string>> boxes;
  auto all = headless::Boxes();
  for (size_t i = first; i < all.size(); ++i) boxes.emplace_back(all[i].caption, all[i].text);
  return boxes;
}

// (item, state) of the menu changes logged from event `first` on.
std::vector<std::pair<UINT, UINT>> MenuChangesSince(size_t first) {
  std::vector<std::pair<UINT, UINT>> changes;
  auto events = headless::WindowEvents();
  for (size_t i = first; i < events.size(); ++i) {
    if (events[i].kind == headless::WindowEventKind::kMenuItem) {
      changes.emplace_back(events[i].item, events[i].flags);
    }
  }
  return changes;
}

bool SurfaceShows(HWND window, uint32_t grey) {
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  if (!platform::ReadWindowSurface(window, &pixels, &width, &height)) return false;
  uint32_t wanted = grey << 16 | grey << 8 | grey;
  return std::any_of(pixels.begin(), pixels.end(),
                     [&](uint32_t p) { return (p & 0xFFFFFF) == wanted; });
}

TEST(AlarmEndToEnd, TestArmCatchAPersonAndDisarm) {
#ifndef CORVANTIS_SERVER_BINARY
  GTEST_SKIP() << "built without the alarm server";
#else
  testsupport::ScratchDirectory scratchDirectory;
  std::filesystem::path scratch = scratchDirectory.path();
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
  SetServerHostName();
  ASSERT_TRUE(SetTestHostAddress(serverHostName, kAddress));

  platform::InstallResources(ProgramResources());
  auto driver = std::make_shared<ScriptedDriver>();
  driver->SetFrameGenerator([](int n) { return Room(n >= personFrom.load()); });
  platform::InstallCaptureDrivers({driver});

  size_t beepsAfterTest = 0, boxesBeforeArm = 0, eventsBeforeArm = 0;
  uint64_t countdownStart = 0;

  // Welcome.
  headless::ScriptDialog(kWelcomeDialog, {headless::PressEnter()});
  headless::ScriptCall([] {
    RECT main;
    GetWindowRect(MainWindow, &main);
    EXPECT_EQ(main.left, 302);
    EXPECT_EQ(main.top, 164);
    EXPECT_EQ(main.right - main.left, 329);
    EXPECT_EQ(main.bottom - main.top, 315);
  });

  // Test: the run ends at the person and shows the reference and the upload frames.
  headless::ScriptCommand(kMain, kTestCommand);
  headless::ScriptWaitUntil(
      [] { return SurfaceShows(afterFrame, 10) && SurfaceShows(baseFrame, 200); },
      "both frames are painted");
  headless::ScriptCall([&] {
    EXPECT_EQ(alarmShellState.load(), Tested);
    EXPECT_TRUE(IsWindowVisible(baseFrame));
    EXPECT_TRUE(IsWindowVisible(afterFrame));
    EXPECT_FALSE(IsWindowVisible(videoFrame));
    personFrom = INT_MAX;  // the person leaves
    beepsAfterTest = headless::Beeps().size();
    boxesBeforeArm = headless::Boxes().size();
    eventsBeforeArm = headless::WindowEvents().size();
  });

  // Arm: a wrong password first, then the right one.
  headless::ScriptCommand(kMain, kArmCommand);
  headless::ScriptDialog(kCredentialsDialog,
                         {TypeText(kUserNameField, "watcher"), TypeText(kPasswordField, "guess1"),
                          PressButton(IDOK), TypeText(kUserNameField, "watcher"),
                          TypeText(kPasswordField, "s3cret-pw"), headless::PressEnter()});
  headless::ScriptCall([&] {
    EXPECT_EQ(AlarmState.armed.load(), 1);
    EXPECT_EQ(alarmShellState.load(), Armed);
    EXPECT_TRUE(IsIconic(MainWindow));
  });
  // A close request while armed is refused.
  headless::ScriptClose(kMain);
  headless::ScriptCall([] { EXPECT_TRUE(IsWindow(MainWindow)); });
  // The countdown and the warm-up run on the alarm thread; then a person walks in.
  headless::ScriptWaitUntil(
      [&] {
        return headless::Beeps().size() >= beepsAfterTest + 15 + 12 &&
               AlarmState.frameCounter.load() == 60;
      },
      "the countdown and the warm-up are over");
  headless::ScriptCall([] { personFrom = 0; });
  headless::ScriptWaitUntil([&] { return StoredSnapshots(dataDir).size() == 1; },
                            "the server stored the snapshot");

  // Disarm: wrong credentials first, then the right ones.
  headless::ScriptCommand(kMain, kDisarmCommand);
  headless::ScriptDialog(
      kCredentialsDialog,
      {TypeText(kUserNameField, "watcher"), TypeText(kPasswordField, "S3cret-pw"),
       PressButton(IDOK), TypeText(kUserNameField, "watcher"),
       TypeText(kPasswordField, "s3cret-pw"), PressButton(IDOK)});
  headless::ScriptWaitUntil([] { return WaitForSingleObject(alarmThread, 0) == WAIT_OBJECT_0; },
                            "the alarm thread ended");
  headless::ScriptCommand(kMain, kExitCommand);

  EXPECT_EQ(WinMain(kInstance, nullptr, nullptr, SW_SHOWNORMAL), 0);
  EXPECT_EQ(headless::PendingScriptSteps(), 0u);
  EXPECT_EQ(headless::PendingDialogScripts(), 0u);
  EXPECT_EQ(AlarmState.armed.load(), 0);

  // The server's refusal text is its own; the rest is fixed.
  auto boxes = BoxesSince(boxesBeforeArm);
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].first, "Please try again: ");
  EXPECT_EQ(boxes[0].second[0], ' ');
  EXPECT_EQ(boxes[1], std::make_pair(std::string("Welcome: "), std::string(" Welcome, watcher.")));
  EXPECT_EQ(boxes[2], std::make_pair(std::string("Please login again: "),
                                     std::string("Wrong user name or password")));
  EXPECT_EQ(boxes[3], std::make_pair(std::string("Corvantis"), std::string("Alarm is now OFF")));

  // Six items greyed on arming and enabled again on disarming, in this order; Image Quality
  // and Image Dimensions were greyed by the test already.
  auto changes = MenuChangesSince(eventsBeforeArm);
  std::vector<std::pair<UINT, UINT>> expectedChanges{{40001, 3}, {40002, 3}, {40004, 3}, {40008, 3},
                                                     {40001, 0}, {40002, 0}, {40004, 0}, {40008, 0},
                                                     {40013, 0}, {40014, 0}};
  EXPECT_EQ(changes, expectedChanges);

  // Fifteen countdown beeps a second apart (a 1-second pause, then a 100 ms tone), then the
  // warm-up's beeps.
  auto beeps = headless::Beeps();
  ASSERT_GE(beeps.size(), beepsAfterTest + 27);
  countdownStart = beeps[beepsAfterTest].time;
  for (size_t i = 0; i < 15; ++i) {
    const auto& beep = beeps[beepsAfterTest + i];
    EXPECT_EQ(beep.frequency, 1000u);
    EXPECT_EQ(beep.duration, 100u);
    EXPECT_EQ(beep.time - countdownStart, i * 1100) << i;
    EXPECT_NE(beep.thread, std::this_thread::get_id());
  }
  EXPECT_EQ(beeps.size(), beepsAfterTest + 27);

  // The stored snapshot is the snapshot file, byte for byte.
  auto stored = StoredSnapshots(dataDir);
  ASSERT_EQ(stored.size(), 1u);
  std::string snapshot = ReadFile(scratch / "Temp.jpeg");
  ASSERT_GT(snapshot.size(), 100u);
  EXPECT_EQ(ReadFile(stored[0]), snapshot);
  EXPECT_EQ(server.Stop(), 0);
#endif
}

TEST(AlarmEndToEnd, WithoutACameraTheProgramReportsAndCloses) {
  platform::InstallResources(ProgramResources());
  platform::InstallCaptureDrivers({});
  headless::ScriptDialog(kWelcomeDialog, {headless::PressEnter()});
  EXPECT_EQ(WinMain(kInstance, nullptr, nullptr, SW_SHOWNORMAL), 0);
  std::vector<std::string> captions, texts;
  for (const auto& box : headless::Boxes()) {
    captions.push_back(box.caption);
    texts.push_back(box.text);
  }
  ASSERT_GE(captions.size(), 3u);
  EXPECT_EQ(captions[0], "Error number: 3.1");
  EXPECT_EQ(captions[1], "Error number: 3.2");
  EXPECT_EQ(captions.back(), "Corvantis");
  EXPECT_EQ(texts.back(), "Application is going to close.");
  EXPECT_EQ(headless::Boxes().back().owner, nullptr);
}

}  // namespace
