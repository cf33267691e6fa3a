// The grab loops against scripted drivers and the demo camera, with the headless backend:
// the test loop on the test's thread, the armed loop on a real alarm thread while the
// test's thread pumps the capture window's messages.
#include "camera/frame_grabber.h"

#include <gtest/gtest.h>

#include <memory>

#include "app/app_windows.h"
#include "camera/camera_connection.h"
#include "camera/camera_test_windows.h"
#include "detect/alarm_state.h"
#include "detect/motion_detector.h"
#include "dib/bitmap_utilities.h"
#include "dib/frame_objects.h"
#include "platform/capture/demo_camera.h"
#include "platform/capture/drivers.h"
#include "platform/capture/scripted_driver.h"
#include "platform/clipboard.h"
#include "platform/gdi/clipboard_testing.h"
#include "platform/headless/headless.h"
#include "platform/threads.h"

namespace {

using platform::CaptureFrame;
using platform::DriverScript;
using platform::ScriptedDriver;

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// A picture whose left half is `left` grey and right half `right` grey.
CaptureFrame HalvesFrame(BYTE left, BYTE right) {
  CaptureFrame frame = ScriptedDriver::SolidFrame(kWidth, kHeight, left, left, left);
  const size_t row = platform::FrameRowBytes(kWidth);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = kWidth / 2; x < kWidth; ++x) {
      BYTE* p = frame.pixels() + row * y + 3 * x;
      p[0] = p[1] = p[2] = right;
    }
  }
  return frame;
}

// The blue, green and red of pixel (x, y) of a device bitmap.
COLORREF BitmapPixel(HBITMAP bitmap, int x, int y) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  COLORREF colour = GetPixel(memory, x, y);
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return colour;
}

class FrameGrabberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    camera_test::CreateProgramWindows();
    DriverScript script;
    script.format = DriverScript::HeaderBytes(platform::MakeFormatHeader(kWidth, kHeight, 24));
    script.statusWidth = kWidth;
    script.statusHeight = kHeight;
    driver = std::make_shared<ScriptedDriver>(script);
    platform::InstallCaptureDrivers({driver});
  }

  // Connects the driver the way start-up does.
  void Open() {
    ASSERT_EQ(OpenCamera(captureWindow), 1);
    headless::ClearLogs();
  }

  // Runs `procedure` on an alarm thread while this thread, the window thread, pumps until
  // it has ended.
  void RunOnAlarmThread(LPTHREAD_START_ROUTINE procedure,
                        const std::function<void()>& whilePumping = {}) {
    HANDLE thread = CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    if (whilePumping) whilePumping();
    EXPECT_TRUE(
        headless::PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }));
    CloseHandle(thread);
  }

  std::shared_ptr<ScriptedDriver> driver;
};

// Motion on every frame from the first: halves that swap each frame.
CaptureFrame Swapping(int n) {
  return n % 2 ? HalvesFrame(230, 20) : HalvesFrame(20, 230);
}

TEST_F(FrameGrabberTest, TestRunEndsAfterTheWarmUpAndShowsBothFrames) {
  driver->SetFrameGenerator(Swapping);
  Open();
  AlarmState.testing = 1;
  CloseWindow(MainWindow);
  ASSERT_EQ(RunTestLoop(), 1);
  EXPECT_NE(AlarmState.motionDetected, 0);
  // The counter went back to 0 after the reference: 60 held-back frames, then motion.
  EXPECT_EQ(driver->CountRequests(WM_CAP_GRAB_FRAME_NOSTOP), 61);
  EXPECT_EQ(driver->CountRequests(WM_CAP_EDIT_COPY), 62);
  EXPECT_EQ(headless::Beeps().size(), 12u + 1u) << "the reference frame beeps as well";
  EXPECT_TRUE(IsWindowVisible(baseFrame));
  EXPECT_TRUE(IsWindowVisible(afterFrame));
  EXPECT_FALSE(IsWindowVisible(videoFrame));
  EXPECT_FALSE(IsIconic(MainWindow));
  RECT base{}, after{};
  GetWindowRect(baseFrame, &base);
  GetWindowRect(afterFrame, &after);
  EXPECT_EQ(base.right - base.left, kWidth + 2);
  EXPECT_EQ(base.bottom - base.top, kHeight + 27);
  EXPECT_EQ(after.left - base.left, kWidth + 4);
  EXPECT_EQ(after.top, base.top);

  // What the windows paint: the reference and the frame that ended the run.
  std::lock_guard lock(frameObjectsMutex);
  ASSERT_NE(referenceBitmap, nullptr);
  ASSERT_NE(uploadBitmap, nullptr);
  EXPECT_EQ(frameAvailable, 1);
  EXPECT_EQ(framePalette, GetStockObject(DEFAULT_PALETTE));
  BITMAPINFOHEADER header{};
  ASSERT_EQ(QueryDibHeader(frameDib, &header), 1);
  EXPECT_EQ(header.biWidth, kWidth);
  EXPECT_EQ(header.biBitCount, 24);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
}

TEST_F(FrameGrabberTest, EachTestRunTakesItsOwnReference) {
  // The first grab of the driver happens at the connection; run one's reference is
  // frame 0 (dark left half), run two's the frame in the driver's buffer at its start.
  driver->SetFrameGenerator(Swapping);
  Open();
  AlarmState.testing = 1;
  ASSERT_EQ(RunTestLoop(), 1);
  HBITMAP first;
  {
    std::lock_guard lock(frameObjectsMutex);
    first = referenceBitmap;
    EXPECT_EQ(GetRValue(BitmapPixel(referenceBitmap, 2, 2)), 20);
  }
  ResetDetector();
  int grabs = driver->CountRequests(WM_CAP_GRAB_FRAME_NOSTOP);
  // Run two starts on a frame with a bright left half.
  int start = driver->grabs();
  driver->SetFrameGenerator([start](int n) { return Swapping(n - start + 1); });
  SendCaptureRequest(WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
  ++grabs;
  ASSERT_EQ(RunTestLoop(), 1);
  std::lock_guard lock(frameObjectsMutex);
  EXPECT_NE(referenceBitmap, first);
  BITMAP gone{};
  EXPECT_EQ(GetObjectA(first, sizeof gone, &gone), 0) << "the old reference is released";
  EXPECT_EQ(GetRValue(BitmapPixel(referenceBitmap, 2, 2)), 230);
  EXPECT_EQ(driver->CountRequests(WM_CAP_GRAB_FRAME_NOSTOP) - grabs, 61);
}

TEST_F(FrameGrabberTest, PaletteCopiesAreReleasedAndTheStockPaletteIsKept) {
  driver->QueueFrame(HalvesFrame(20, 230));
  driver->Edit([](DriverScript& s) { s.palette = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}}; });
  Open();
  ASSERT_EQ(CaptureReference(0), 1);
  HPALETTE copy = framePalette;
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, GetStockObject(DEFAULT_PALETTE));
  WORD entries = 0;
  ASSERT_TRUE(GetObjectA(copy, sizeof entries, &entries));
  EXPECT_EQ(entries, 3);
  EXPECT_EQ(AlarmState.frameCounter, 1) << "the reference frame was handed on";

  GrabFrame();
  HPALETTE second = framePalette;
  EXPECT_NE(second, copy);
  EXPECT_EQ(GetObjectA(copy, sizeof entries, &entries), 0) << "the first copy is released";

  driver->Edit([](DriverScript& s) { s.palette.clear(); });
  GrabFrame();
  EXPECT_EQ(framePalette, GetStockObject(DEFAULT_PALETTE));
  EXPECT_EQ(GetObjectA(second, sizeof entries, &entries), 0);
  HBITMAP upload = uploadBitmap;
  GrabFrame();
  EXPECT_EQ(framePalette, GetStockObject(DEFAULT_PALETTE));
  ASSERT_TRUE(GetObjectA(framePalette, sizeof entries, &entries)) << "never released";
  EXPECT_NE(uploadBitmap, upload);
  BITMAP gone{};
  EXPECT_EQ(GetObjectA(upload, sizeof gone, &gone), 0);
  EXPECT_EQ(AlarmState.frameCounter, 4);

  // The last grabbed frame stays on the clipboard.
  ASSERT_TRUE(OpenClipboard(MainWindow));
  EXPECT_NE(GetClipboardData(CF_BITMAP), nullptr);
  CloseClipboard();
}

TEST_F(FrameGrabberTest, NoBitmapOnTheClipboardHandsThePreviousFrameOnAgain) {
  driver->QueueFrame(HalvesFrame(20, 230));
  Open();
  ASSERT_EQ(CaptureReference(0), 1);
  HGLOBAL reference = frameDib;
  // Without a driver the copies fail, and the reference capture left the clipboard empty.
  ASSERT_EQ(SendCaptureRequest(WM_CAP_DRIVER_DISCONNECT, 0, 0), 1);
  GrabFrame();
  GrabFrame();
  EXPECT_EQ(frameDib, reference);
  EXPECT_EQ(AlarmState.frameCounter, 3);
}

DWORD ArmedLoopThread(LPVOID) {
  return static_cast<DWORD>(RunArmedLoop());
}

TEST_F(FrameGrabberTest, HeldClipboardMakesArmedPassesRepeatWithoutFrames) {
  driver->SetFrameGenerator([](int) { return HalvesFrame(20, 230); });
  Open();
  ASSERT_TRUE(platform::HoldClipboardForOtherApplication());
  AlarmState.armed = 1;
  RunOnAlarmThread(ArmedLoopThread, [&] {
    ASSERT_TRUE(
        headless::PumpUntil([&] { return driver->CountRequests(WM_CAP_GRAB_FRAME_NOSTOP) >= 20; }));
    EXPECT_EQ(AlarmState.frameCounter, 0) << "no frame was handed on";
    EXPECT_EQ(frameAvailable, 0);
    ASSERT_TRUE(platform::ReleaseClipboardOfOtherApplication());
    ASSERT_TRUE(headless::PumpUntil([] { return AlarmState.frameCounter >= 5; }));
    AlarmState.armed = 0;
  });
  EXPECT_GE(AlarmState.frameCounter, 5);
  EXPECT_EQ(frameAvailable, 1);
  EXPECT_EQ(AlarmState.motionDetected, 0);
}

TEST_F(FrameGrabberTest, DisarmDuringTheCountdownCapturesOneReferenceAndGrabsNothing) {
  driver->SetFrameGenerator([](int) { return HalvesFrame(20, 230); });
  Open();
  AlarmState.armed = 1;
  uint64_t start = headless::Now();
  RunOnAlarmThread(AlarmCountdown, [] { AlarmState.armed = 0; });
  std::vector<headless::BeepRecord> beeps = headless::Beeps();
  ASSERT_EQ(beeps.size(), 16u) << "fifteen countdown beeps and the reference frame's";
  for (const headless::BeepRecord& beep : beeps) {
    EXPECT_EQ(beep.frequency, 1000u);
    EXPECT_EQ(beep.duration, 100u);
    EXPECT_NE(beep.thread, std::this_thread::get_id());
  }
  EXPECT_GE(headless::Now() - start, 15u * 1100u);
  EXPECT_GE(beeps[14].time - beeps[0].time, 14u * 1100u);
  EXPECT_EQ(driver->CountRequests(WM_CAP_EDIT_COPY), 1);
  EXPECT_EQ(driver->CountRequests(WM_CAP_GRAB_FRAME_NOSTOP), 0);
  EXPECT_EQ(AlarmState.frameCounter, 1) << "the reference is the first warm-up frame";
  EXPECT_EQ(frameAvailable, 1);
}

TEST_F(FrameGrabberTest, OnlyOneGrabLoopRunsAtATime) {
  driver->SetFrameGenerator([](int) { return HalvesFrame(20, 230); });
  Open();
  AlarmState.armed = 1;
  RunOnAlarmThread(ArmedLoopThread, [&] {
    ASSERT_TRUE(headless::PumpUntil([] { return AlarmState.frameCounter >= 3; }));
    // A second loop meanwhile refuses at once and touches nothing.
    int copies = driver->CountRequests(WM_CAP_EDIT_COPY);
    AlarmState.testing = 1;
    EXPECT_EQ(RunTestLoop(), 0);
    EXPECT_TRUE(IsWindowVisible(videoFrame));
    EXPECT_LE(driver->CountRequests(WM_CAP_EDIT_COPY) - copies, 1);
    AlarmState.armed = 0;
  });
  // Once the first has ended, a loop runs again.
  AlarmState.armed = 0;
  AlarmState.testing = 0;
  EXPECT_EQ(RunArmedLoop(), 1);
}

TEST_F(FrameGrabberTest, DemoCameraRunsATestUntilTheFigureWalksIn) {
  auto demo = std::make_shared<platform::DemoCamera>(11, 160, 120);
  demo->SetWalkSeconds(5);
  platform::InstallCaptureDrivers({demo});
  ASSERT_EQ(SendCaptureRequest(WM_CAP_DRIVER_CONNECT, 0, 0), 1);
  ASSERT_EQ(SendCaptureRequest(WM_CAP_SET_PREVIEWRATE, 33, 0), 1);
  ASSERT_EQ(SendCaptureRequest(WM_CAP_GET_STATUS, sizeof captureStatus,
                               reinterpret_cast<LPARAM>(&captureStatus)),
            1);
  AlarmState.testing = 1;
  ASSERT_EQ(RunTestLoop(), 1);
  EXPECT_EQ(AlarmState.motionDetected, 1);
  EXPECT_TRUE(demo->figureVisible()) << "the motion is the figure, not the noise";
}

}  // namespace
