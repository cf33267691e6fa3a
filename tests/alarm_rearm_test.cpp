// A new Arm right after a Disarm, while the earlier alarm thread is still busy with its last
// frame: the window thread waits for that thread to end and, while it waits, carries out
// what the thread asks of it (here a box owned by the main window), so neither waits for
// the other for ever.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
#include "tests/support/scratch_directory.h"
#include "tests/support/script_server.h"

namespace {

using headless::PressButton;
using headless::TypeText;
using platform::CaptureFrame;
using platform::ScriptedDriver;

// Each test listens on its own loopback address, so the tests can run side by side.
constexpr char kRearmAddress[] = "127.85.2.1";
constexpr char kRetestAddress[] = "127.85.2.2";
constexpr char kDroppedClickAddress[] = "127.85.2.3";
const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
const headless::WindowRef kMain = [] { return MainWindow; };

std::atomic<int> personFrom{INT_MAX};

CaptureFrame Room(bool person) {
  CaptureFrame frame = ScriptedDriver::SolidFrame(320, 240, 200, 200, 200);
  const size_t row = platform::FrameRowBytes(320);
  for (int y = 0; y < 240; ++y) {
    for (int x = 160; x < 320; ++x) {
      BYTE* p = frame.pixels() + row * y + 3 * x;
      p[0] = p[1] = p[2] = 60;
    }
    for (int x = 130; person && y >= 40 && y < 220 && x < 190; ++x) {
      BYTE* p = frame.pixels() + row * y + 3 * x;
      p[0] = p[1] = p[2] = 10;
    }
  }
  return frame;
}

// The upload's connection attempt on the alarm thread is held until the window thread blocks
// in its wait for that thread.
std::mutex holdMutex;
std::condition_variable holdChanged;
bool uploadHeld = false;      // guarded by holdMutex
bool uploadReleased = false;  // guarded by holdMutex
std::thread::id windowThread;

int HeldConnect(SOCKET s, const sockaddr* address, int length) {
  if (std::this_thread::get_id() == windowThread) {
    return kDefaultSocketCalls.connect(s, address, length);
  }
  {
    std::unique_lock lock(holdMutex);
    uploadHeld = true;
    holdChanged.notify_all();
  }
  headless::Wake();
  {
    std::unique_lock lock(holdMutex);
    holdChanged.wait(lock, [] { return uploadReleased; });
  }
  // As the alarm thread's error reports do: a box owned by the main window, which only the
  // window thread can show.
  MessageBoxA(MainWindow, "held back", "Upload", MB_OK);
  WSASetLastError(WSAECONNREFUSED);
  return SOCKET_ERROR;
}

bool UploadHeld() {
  std::lock_guard lock(holdMutex);
  return uploadHeld;
}

// Starts a script server that accepts one login, points the program at it, holds the alarm
// thread's upload until the window thread blocks, and installs a camera whose picture
// changes every 50 frames (`changing`) or shows a person from `personFrom` on.
struct HeldUploadRun {
  testsupport::ScratchDirectory scratch;
  const char* address;
  testsupport::ScriptServer server;

  HeldUploadRun(const char* serverAddress, bool changing)
      : address(serverAddress), server(serverAddress) {
    windowThread = std::this_thread::get_id();
    server.Expect("watcher\n").Reply("200 hello").Expect("pw 1234\n").Reply("200 welcome");
    server.Expect("QUIT\n").Reply("221 bye");
    if (server.Listening()) server.Start();  // a server that could not listen has no thread
    SetServerHostName();
    EXPECT_TRUE(SetTestHostAddress(serverHostName, address));
    socketCalls.connect = HeldConnect;
    headless::SetBlockingWaitHook([] {
      std::lock_guard lock(holdMutex);
      if (uploadHeld) uploadReleased = true;
      holdChanged.notify_all();
    });
    platform::InstallResources(ProgramResources());
    auto driver = std::make_shared<ScriptedDriver>();
    if (changing) {
      driver->SetFrameGenerator([](int n) { return Room(n % 100 >= 50); });
    } else {
      driver->SetFrameGenerator([](int n) { return Room(n >= personFrom.load()); });
    }
    platform::InstallCaptureDrivers({driver});
  }

  ~HeldUploadRun() {
    headless::SetBlockingWaitHook(nullptr);
    socketCalls.connect = kDefaultSocketCalls.connect;
    if (server.Listening()) server.Finish();
  }

  // Scripts the welcome, an accepted Arm, the countdown and warm-up, a frame that starts an
  // upload, and a Disarm while that upload is still held on the alarm thread.
  static void ScriptArmAndDisarmDuringAnUpload() {
    headless::ScriptDialog(kWelcomeDialog, {headless::PressEnter()});
    headless::ScriptCommand(kMain, kArmCommand);
    headless::ScriptDialog(kCredentialsDialog,
                           {TypeText(kUserNameField, "watcher"),
                            TypeText(kPasswordField, "pw 1234"), headless::PressEnter()});
    headless::ScriptWaitUntil(
        [] { return headless::Beeps().size() >= 27 && AlarmState.frameCounter.load() == 60; },
        "the countdown and the warm-up are over");
    headless::ScriptCall([] { personFrom = 0; });
    headless::ScriptWaitUntil(UploadHeld, "the upload is under way");
    headless::ScriptCommand(kMain, kDisarmCommand);
    headless::ScriptDialog(kCredentialsDialog,
                           {TypeText(kUserNameField, "watcher"),
                            TypeText(kPasswordField, "pw 1234"), PressButton(IDOK)});
  }
};

std::vector<std::string> BoxTexts() {
  std::vector<std::string> texts;
  for (const auto& box : headless::Boxes()) texts.push_back(box.text);
  return texts;
}

// The boxes of an armed run disarmed during an upload and a second Arm cancelled at its login.
const std::vector<std::string> kRearmCancelledBoxes{" welcome", "Alarm is now OFF", "held back",
                                                    "Alarm could not be turned on, try again"};

TEST(AlarmRearm, ANewArmWaitsForTheEarlierAlarmThreadAndServesItMeanwhile) {
  HeldUploadRun run(kRearmAddress, false);
  ASSERT_FALSE(run.scratch.path().empty());
  ASSERT_TRUE(run.server.Listening());
  HeldUploadRun::ScriptArmAndDisarmDuringAnUpload();
  bool threadEndedBeforeLogin = false;
  headless::ScriptCommand(kMain, kArmCommand);
  headless::ScriptDialog(kCredentialsDialog, {headless::CallInDialog([&](HWND) {
                                                threadEndedBeforeLogin = alarmThread == nullptr;
                                                EXPECT_EQ(AlarmState.armed.load(), 1);
                                              }),
                                              PressButton(IDCANCEL)});
  headless::ScriptCommand(kMain, kExitCommand);

  EXPECT_EQ(WinMain(kInstance, nullptr, nullptr, SW_SHOWNORMAL), 0);

  EXPECT_TRUE(threadEndedBeforeLogin);
  EXPECT_EQ(BoxTexts(), kRearmCancelledBoxes);
  EXPECT_NE(headless::Boxes().at(2).thread, windowThread);  // asked for by the alarm thread
  EXPECT_EQ(alarmShellState.load(), Idle);
}

// The user's clicks on the main window are dropped while it is disabled: during Arm's wait
// for the earlier thread and behind the login dialog. A Disarm clicked there must not open
// the disarm dialog over the login dialog.
TEST(AlarmRearm, ClicksOnTheMainWindowBehindTheLoginAreDropped) {
  HeldUploadRun run(kDroppedClickAddress, false);
  ASSERT_FALSE(run.scratch.path().empty());
  ASSERT_TRUE(run.server.Listening());
  HeldUploadRun::ScriptArmAndDisarmDuringAnUpload();
  HWND login = nullptr;
  bool disabledBehindTheLogin = false;
  headless::ScriptCommand(kMain, kArmCommand);
  headless::ScriptDialog(kCredentialsDialog, {headless::CallInDialog([&](HWND dialog) {
                           login = dialog;
                           disabledBehindTheLogin = !IsWindowEnabled(MainWindow);
                         })});
  // The dialog's own actions are done: the user clicks the main window's Disarm, then
  // cancels the login.
  headless::ScriptCommand(kMain, kDisarmCommand);
  headless::ScriptMessage([&] { return login; }, WM_COMMAND, IDCANCEL, 0);
  headless::ScriptCommand(kMain, kExitCommand);

  EXPECT_EQ(WinMain(kInstance, nullptr, nullptr, SW_SHOWNORMAL), 0);

  EXPECT_TRUE(disabledBehindTheLogin);
  EXPECT_EQ(BoxTexts(), kRearmCancelledBoxes);
  int credentialDialogs = 0;
  for (const auto& record : headless::DialogRecords()) {
    credentialDialogs += record.templateId == kCredentialsDialog;
  }
  EXPECT_EQ(credentialDialogs, 3);  // the first login, the disarm, the second login
  EXPECT_EQ(AlarmState.armed.load(), 0);
}

// Test right after a Disarm: the test run starts only once the earlier alarm thread has left
// its grab loop, so it really runs to the first motion instead of finding the loop taken.
TEST(AlarmRearm, ATestRightAfterADisarmWaitsForTheEarlierAlarmThread) {
  HeldUploadRun run(kRetestAddress, true);
  ASSERT_FALSE(run.scratch.path().empty());
  ASSERT_TRUE(run.server.Listening());
  HeldUploadRun::ScriptArmAndDisarmDuringAnUpload();
  headless::ScriptCommand(kMain, kTestCommand);
  bool framesShown = false;
  bool restored = false;
  headless::ScriptCall([&] {
    framesShown = IsWindowVisible(baseFrame) && IsWindowVisible(afterFrame);
    restored = !IsIconic(MainWindow);
  });
  headless::ScriptCommand(kMain, kExitCommand);

  EXPECT_EQ(WinMain(kInstance, nullptr, nullptr, SW_SHOWNORMAL), 0);

  EXPECT_TRUE(framesShown);
  EXPECT_TRUE(restored);
  EXPECT_EQ(AlarmState.motionDetected.load(), 0);  // reset after the test run
  std::vector<std::string> expected{" welcome", "Alarm is now OFF", "held back"};
  EXPECT_EQ(BoxTexts(), expected);
  EXPECT_EQ(alarmShellState.load(), Tested);
}

}  // namespace
