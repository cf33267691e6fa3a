// The application shell through its entry on the headless backend with a scripted camera:
// start-up and layout, closing, the menu commands and their refusals, the test run, the
// settings, the driver's dialogs, and the failures of start-up.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/entry.h"
#include "app/menu_commands.h"
#include "app/resources.h"
#include "camera/camera_connection.h"
#include "detect/alarm_state.h"
#include "net/server_link.h"
#include "platform/capture/drivers.h"
#include "platform/capture/scripted_driver.h"
#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "snapshot/snapshot_writer.h"

namespace {

using headless::WindowEventKind;
using platform::CaptureFrame;
using platform::ScriptedDriver;

const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
const headless::WindowRef kMain = [] { return MainWindow; };

// A 320 x 240 picture whose left half is `left` grey and right half `right` grey.
CaptureFrame Halves(BYTE left, BYTE right) {
  CaptureFrame frame = ScriptedDriver::SolidFrame(320, 240, left, left, left);
  const size_t row = platform::FrameRowBytes(320);
  for (int y = 0; y < 240; ++y) {
    for (int x = 160; x < 320; ++x) {
      BYTE* p = frame.pixels() + row * y + 3 * x;
      p[0] = p[1] = p[2] = right;
    }
  }
  return frame;
}

RECT RectOf(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

// The window's outer rectangle in its parent's client coordinates.
RECT PlaceOf(HWND window) {
  RECT r = RectOf(window), parent = RectOf(GetParent(window));
  RECT client;
  GetClientRect(GetParent(window), &client);
  // The parent's client area ends at its bottom-right frame, which is as wide as its left one.
  int frameX = ((parent.right - parent.left) - client.right) / 2;
  int frameBottom = frameX;
  int top = (parent.bottom - parent.top) - client.bottom - frameBottom;
  return {r.left - parent.left - frameX, r.top - parent.top - top, r.right - parent.left - frameX,
          r.bottom - parent.top - top};
}

std::vector<std::string> Captions() {
  std::vector<std::string> captions;
  for (const auto& box : headless::Boxes()) captions.push_back(box.caption);
  return captions;
}

std::vector<std::string> Texts() {
  std::vector<std::string> texts;
  for (const auto& box : headless::Boxes()) texts.push_back(box.text);
  return texts;
}

// (item, state) of every menu change, in order.
std::vector<std::pair<UINT, UINT>> MenuChanges() {
  std::vector<std::pair<UINT, UINT>> changes;
  for (const auto& event : headless::WindowEvents()) {
    if (event.kind == WindowEventKind::kMenuItem) changes.emplace_back(event.item, event.flags);
  }
  return changes;
}

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::InstallResources(ProgramResources());
    driver = std::make_shared<ScriptedDriver>();
    driver->QueueFrame(Halves(20, 230));
    platform::InstallCaptureDrivers({driver});
    headless::ScriptDialog(kWelcomeDialog, {headless::PressEnter()});
  }

  static int Run(HINSTANCE previous = nullptr) {
    return WinMain(kInstance, previous, nullptr, SW_SHOWNORMAL);
  }

  std::shared_ptr<ScriptedDriver> driver;
};

TEST_F(Shell, StartUpBuildsAndPlacesTheWindowsAndACloseDestroysThemInOrder) {
  headless::ScriptCall([] {
    EXPECT_EQ(sensitivity.load(), 30);
    EXPECT_EQ(smoothing.load(), 15);
    RECT main = RectOf(MainWindow);
    EXPECT_EQ(main.left, 302);
    EXPECT_EQ(main.top, 164);
    EXPECT_EQ(main.right - main.left, 329);
    EXPECT_EQ(main.bottom - main.top, 315);
    RECT live = PlaceOf(videoFrame);
    EXPECT_EQ(live.left, 0);
    EXPECT_EQ(live.top, 2);
    EXPECT_EQ(live.right - live.left, 322);
    EXPECT_EQ(live.bottom - live.top, 267);
    RECT capture = PlaceOf(captureWindow);
    EXPECT_EQ(capture.left, 0);
    EXPECT_EQ(capture.top, 0);
    EXPECT_EQ(capture.right - capture.left, 320);
    EXPECT_EQ(capture.bottom - capture.top, 240);
    EXPECT_EQ(GetWindowLongA(MainWindow, GWL_STYLE) & ~WS_VISIBLE, 0x02CE0000);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(baseFrame, GWL_STYLE)), 0x4AC40000u);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(afterFrame, GWL_STYLE)), 0x4AC40000u);
    for (HWND w : {MainWindow, videoFrame, baseFrame, afterFrame}) {
      EXPECT_EQ(GetWindowLongA(w, GWL_EXSTYLE), 0x7000);
    }
    EXPECT_EQ(GetWindowLongA(captureWindow, GWL_EXSTYLE), 0);
    EXPECT_TRUE(IsWindowVisible(videoFrame));
    EXPECT_FALSE(IsWindowVisible(baseFrame));
    EXPECT_FALSE(IsWindowEnabled(videoFrame));
    EXPECT_EQ(GetParent(captureWindow), videoFrame);
    for (UINT id : {40001, 40002, 40003, 40004, 40005, 40008, 40013, 40014}) {
      EXPECT_EQ(GetMenuState(GetMenu(MainWindow), id, MF_BYCOMMAND), 0u) << id;
    }
    // A drag on any edge moves the window instead of sizing it.
    EXPECT_EQ(SendMessageA(MainWindow, WM_NCHITTEST, 0, MAKELPARAM(302, 300)), HTCAPTION);
    EXPECT_EQ(SendMessageA(MainWindow, WM_NCHITTEST, 0, MAKELPARAM(630, 478)), HTCAPTION);
    EXPECT_EQ(SendMessageA(MainWindow, WM_NCHITTEST, 0, MAKELPARAM(400, 300)), HTCLIENT);
    EXPECT_EQ(SendMessageA(MainWindow, WM_SYSCOLORCHANGE, 0, 0), 1);
    headless::ClearWindowEvents();
  });
  headless::ScriptClose(kMain);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(headless::Boxes().empty());
  std::vector<std::string> destroyed;
  for (const auto& event : headless::WindowEvents()) {
    if (event.kind == WindowEventKind::kDestroyed) destroyed.push_back(event.text);
  }
  EXPECT_EQ(destroyed, (std::vector<std::string>{"Capture Window", "Live Image", "Reference Image",
                                                 "Upload Image", "Corvantis"}));
  auto welcome = headless::DialogRecords().at(0);
  EXPECT_EQ(welcome.templateId, kWelcomeDialog);
  EXPECT_EQ(welcome.owner, nullptr);
  EXPECT_EQ(welcome.result, 1);
}

TEST_F(Shell, TheWelcomeAndAboutBoxesStayOpenOnEscape) {
  headless::ClearDialogScripts();
  headless::ScriptDialog(kWelcomeDialog, {headless::PressEscape(), headless::PressButton(IDOK)});
  headless::ScriptCommand(kMain, kAboutCommand);
  headless::ScriptDialog(
      kAboutDialog, {headless::PressEscape(), headless::CaptureDialog(), headless::PressEnter()});
  headless::ScriptCommand(kMain, kExitCommand);
  EXPECT_EQ(Run(), 0);
  auto records = headless::DialogRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].events,
            (std::vector<std::string>{"init 1", "focus 1", "escape", "press 1", "end 1"}));
  EXPECT_EQ(records[1].caption, "About Corvantis");
  EXPECT_EQ(records[1].owner, MainWindow);
  EXPECT_EQ(records[1].captured.size(), 1u);  // still open after Escape
  EXPECT_EQ(records[1].result, 1);
  EXPECT_TRUE(headless::Boxes().empty());
}

TEST_F(Shell, ANarrowScreenIsWarnedAboutOnceAndLargeVideosArePlacedAtTheCorner) {
  headless::SetSystemMetric(SM_CXSCREEN, 639);
  headless::SetSystemMetric(SM_CYSCREEN, 400);
  headless::ScriptCall([] {
    RECT main = RectOf(MainWindow);
    EXPECT_EQ(main.left, (639 - 320 - 100) / 2);
    EXPECT_EQ(main.top, 0);  // 400 - 240 - 200 is negative
  });
  headless::ScriptCommand(kMain, kExitCommand);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{"Monitor resolution should be at minimum of 640 x 480"}));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Please change monintor settings"}));
}

TEST_F(Shell, CommandsRefusedWhileArmedAndIdsOfNoItemDoNothing) {
  int formatDialogs = 0;
  headless::ScriptCall([&] {
    formatDialogs = driver->CountRequests(WM_CAP_DLG_VIDEOFORMAT);
    AlarmState.armed = 1;
  });
  for (UINT id : {kArmCommand, kTestCommand, kSettingsCommand, kImageDimensionsCommand}) {
    headless::ScriptCommand(kMain, id);
  }
  headless::ScriptClose(kMain);  // refused without a word
  headless::ScriptCall([&] {
    EXPECT_TRUE(IsWindow(MainWindow));
    EXPECT_TRUE(IsWindow(captureWindow));
    EXPECT_EQ(driver->CountRequests(WM_CAP_DLG_VIDEOFORMAT), formatDialogs);
    AlarmState.armed = 0;
    std::strcpy(serverHostName, "stale");
  });
  headless::ScriptCommand(kMain, kDisarmCommand);
  headless::ScriptCommand(kMain, 40006);
  headless::ScriptCall([] { EXPECT_STREQ(serverHostName, "localhost"); });
  headless::ScriptCommand(kMain, kImageQualityCommand);
  headless::ScriptCommand(kMain, kExitCommand);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Sorry, but alarm is already on.",
                                               "You have to turn off the alarm before testing it.",
                                               "Must turn alarm OFF before changing settings",
                                               "Alarm is already OFF"}));
  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"Alarm is on!", "Alarm is ON", "Corvantis", "Corvantis"}));
  EXPECT_EQ(driver->CountRequests(WM_CAP_DLG_VIDEOSOURCE), 1);
  EXPECT_TRUE(headless::DialogRecords().size() == 1);  // the welcome dialog only
}

TEST_F(Shell, ACancelledLoginLeavesTheAlarmOffAndTheMenuAsItWas) {
  headless::ScriptCall([] { headless::ClearWindowEvents(); });
  headless::ScriptCommand(kMain, kArmCommand);
  headless::ScriptDialog(kCredentialsDialog, {headless::CallInDialog([](HWND) {
                                                EXPECT_EQ(AlarmState.armed.load(), 1);
                                                EXPECT_EQ(alarmShellState.load(), Arming);
                                                // A close request while the login dialog is open is
                                                // refused.
                                                SendMessageA(MainWindow, WM_CLOSE, 0, 0);
                                                EXPECT_TRUE(IsWindow(MainWindow));
                                              }),
                                              headless::PressButton(IDCANCEL)});
  headless::ScriptCall([] {
    EXPECT_EQ(AlarmState.armed.load(), 0);
    EXPECT_EQ(alarmShellState.load(), Idle);
    EXPECT_FALSE(IsIconic(MainWindow));
  });
  headless::ScriptCommand(kMain, kExitCommand);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Alarm could not be turned on, try again"}));
  EXPECT_TRUE(MenuChanges().empty());
  EXPECT_EQ(headless::DialogRecords().at(1).owner, MainWindow);
}

TEST_F(Shell, ATestRunsUntilMotionAndGreysTheDriverCommandsUntilADisarm) {
  driver->SetFrameGenerator([](int n) { return n < 70 ? Halves(20, 230) : Halves(230, 20); });
  int formatDialogs = -1;
  headless::ScriptCall([&] {
    headless::ClearWindowEvents();
    formatDialogs = driver->CountRequests(WM_CAP_DLG_VIDEOFORMAT);
  });
  headless::ScriptCommand(kMain, kTestCommand);
  headless::ScriptCall([&] {
    EXPECT_EQ(alarmShellState.load(), Tested);
    EXPECT_EQ(AlarmState.testing.load(), 1);
    EXPECT_EQ(AlarmState.motionDetected.load(), 0);  // reset after the run
    EXPECT_TRUE(IsWindowVisible(baseFrame));
    EXPECT_TRUE(IsWindowVisible(afterFrame));
  });
  headless::ScriptCommand(kMain, kImageDimensionsCommand);  // refused while testing is 1
  headless::ScriptCommand(kMain, kExitCommand);
  EXPECT_EQ(Run(), 0);
  EXPECT_GE(driver->grabs(), 70);
  EXPECT_EQ(MenuChanges(), (std::vector<std::pair<UINT, UINT>>{{kImageQualityCommand, 3},
                                                               {kImageDimensionsCommand, 3}}));
  // The main window went to (0, 0) at 658 x 316 and was minimised before the run.
  bool resized = false, minimised = false;
  for (const auto& event : headless::WindowEvents()) {
    if (event.window != MainWindow && event.text != "Corvantis") continue;
    if (event.kind == WindowEventKind::kMoved && event.rect.left == 0 && event.rect.top == 0 &&
        event.rect.right == 658 && event.rect.bottom == 316) {
      resized = true;
    }
    if (event.kind == WindowEventKind::kMinimised) minimised = resized;
  }
  EXPECT_TRUE(resized);
  EXPECT_TRUE(minimised);
  // Image Dimensions after the test asked the driver for nothing.
  EXPECT_EQ(driver->CountRequests(WM_CAP_DLG_VIDEOFORMAT), formatDialogs);
}

TEST_F(Shell, SettingsFollowTheSlidersAndCancelRestoresThem) {
  headless::ScriptCommand(kMain, kSettingsCommand);
  headless::ScriptDialog(kSettingsDialog, {headless::MoveSlider(kSmoothingSlider, 20),
                                           headless::CallInDialog([](HWND) {
                                             EXPECT_EQ(smoothing.load(), 20);
                                             EXPECT_EQ(sensitivity.load(), 30);
                                           }),
                                           headless::PressEscape()});
  headless::ScriptCommand(kMain, kSettingsCommand);
  headless::ScriptDialog(
      kSettingsDialog, {headless::MoveSlider(kSensitivitySlider, 99), headless::PressButton(IDOK)});
  headless::ScriptCommand(kMain, kSettingsCommand);
  headless::ScriptDialog(kSettingsDialog,
                         {headless::MoveSlider(kSmoothingSlider, 5), headless::PressCloseBox()});
  headless::ScriptCall([] {
    EXPECT_EQ(smoothing.load(), 15);
    EXPECT_EQ(sensitivity.load(), 50);
  });
  headless::ScriptCommand(kMain, kExitCommand);
  EXPECT_EQ(Run(), 0);
  auto records = headless::DialogRecords();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[1].initial.Position(kSmoothingSlider), 15);
  EXPECT_EQ(records[1].initial.Position(kSensitivitySlider), 30);
  EXPECT_EQ(records[1].initial.Control(kSmoothingSlider)->rangeMin, 5);
  EXPECT_EQ(records[1].initial.Control(kSmoothingSlider)->rangeMax, 25);
  EXPECT_EQ(records[2].initial.Control(kSensitivitySlider)->rangeMin, 10);
  EXPECT_EQ(records[2].initial.Control(kSensitivitySlider)->rangeMax, 50);
  EXPECT_EQ(records[3].initial.Position(kSensitivitySlider), 50);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(records[i].result, 1);
  EXPECT_TRUE(headless::Boxes().empty());  // no "default settings" box
}

TEST_F(Shell, ImageDimensionsFollowsTheDriversNewFormat) {
  driver->Edit([](platform::DriverScript& script) {
    script.formatDialogResult = 0;  // the first dialog is cancelled: nothing changes
  });
  headless::ScriptCommand(kMain, kImageDimensionsCommand);
  headless::ScriptCall([&] {
    EXPECT_EQ(videoWidth.load(), 320);
    EXPECT_EQ(RectOf(MainWindow).left, 302);
    driver->Edit([](platform::DriverScript& script) {
      script.formatDialogResult = 1;
      script.formatAfterDialog =
          platform::DriverScript::HeaderBytes(platform::MakeFormatHeader(640, 480, 24));
      script.statusWidth = 640;
      script.statusHeight = 480;
    });
  });
  headless::ScriptCommand(kMain, kImageDimensionsCommand);
  headless::ScriptCall([] {
    EXPECT_EQ(videoWidth.load(), 640);
    EXPECT_EQ(videoHeight.load(), 480);
    RECT main = RectOf(MainWindow);
    EXPECT_EQ(main.left, (1024 - 640 - 100) / 2);
    EXPECT_EQ(main.top, (768 - 480 - 200) / 2);
    EXPECT_EQ(main.right - main.left, 649);
    EXPECT_EQ(main.bottom - main.top, 555);
    RECT capture = PlaceOf(captureWindow);
    EXPECT_EQ(capture.right - capture.left, 640);
  });
  headless::ScriptCommand(kMain, kExitCommand);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(headless::Boxes().empty());
}

TEST_F(Shell, ARefusedClassIsReportedWithItsErrorCodeAndStartUpEnds) {
  WNDCLASSA taken{};
  taken.lpfnWndProc = DefWindowProcA;
  taken.lpszClassName = "baseFrame";
  ASSERT_NE(RegisterClassA(&taken), 0);
  headless::ClearScript();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Error number: 1410", "Sorry!"}));
  auto boxes = headless::Boxes();
  EXPECT_EQ(boxes[0].text.rfind("Sorry! Cannot register frame for base picture.", 0), 0u);
  EXPECT_EQ(boxes[1].text, "Application is going to close.");
  EXPECT_EQ(boxes[1].owner, nullptr);
  EXPECT_EQ(headless::PendingDialogScripts(), 1u);  // no welcome dialog was shown
}

TEST_F(Shell, WithAPreviousInstanceNoClassIsRegisteredAndTheMainWindowCannotBeMade) {
  EXPECT_EQ(Run(kInstance), 0);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Error number: 1.7", "Sorry!"}));
  EXPECT_EQ(headless::Boxes()[0].text.rfind("Sorry! Cannot create main window.", 0), 0u);
}

}  // namespace
