// The capture window's requests, carried out on scripted drivers through the headless
// windowing backend and the drawing services.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/capture.h"
#include "platform/capture/drivers.h"
#include "platform/capture/scripted_driver.h"
#include "platform/clipboard.h"
#include "platform/gdi.h"
#include "platform/gdi/clipboard_testing.h"
#include "platform/headless/headless.h"
#include "platform/surface.h"
#include "platform/window.h"

namespace platform {
namespace {

LRESULT ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

class CaptureWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DriverScript silent;
    silent.describes = false;
    absent = std::make_shared<ScriptedDriver>(silent);
    camera = std::make_shared<ScriptedDriver>();
    InstallCaptureDrivers({absent, camera});
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ParentProc;
    windowClass.lpszClassName = "captureTestParent";
    RegisterClassA(&windowClass);
    parent = CreateWindowExA(0, "captureTestParent", "Parent", WS_OVERLAPPED | WS_VISIBLE, 0, 0,
                             400, 300, nullptr, nullptr, nullptr, nullptr);
    window =
        capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, 0, 0, 32, 24, parent, 0);
    ASSERT_NE(window, nullptr);
  }

  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageA(window, message, wParam, lParam);
  }

  // The top-left pixel of the window's surface (0xRRGGBB), or -1 when it has none.
  int ShownPixel() {
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    if (!ReadWindowSurface(window, &pixels, &width, &height) || pixels.empty()) return -1;
    return static_cast<int>(pixels[0] & 0xFFFFFF);
  }

  std::shared_ptr<ScriptedDriver> absent, camera;
  HWND parent = nullptr, window = nullptr;
};

TEST_F(CaptureWindowTest, DescribesConnectsAndAnswersFromTheDriver) {
  char name[8], version[100];
  EXPECT_FALSE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));
  EXPECT_FALSE(capGetDriverDescriptionA(2, name, sizeof name, version, sizeof version));
  ASSERT_TRUE(capGetDriverDescriptionA(1, name, sizeof name, version, sizeof version));
  EXPECT_STREQ(name, "Scripte") << "cut to the buffer and terminated";
  EXPECT_STREQ(version, "1.0");

  EXPECT_EQ(Send(WM_CAP_GET_STATUS), 0) << "nothing connected yet";
  EXPECT_EQ(Send(WM_CAP_DRIVER_CONNECT, 2), 0);
  EXPECT_EQ(Send(WM_CAP_DRIVER_CONNECT, 1), 1);
  EXPECT_TRUE(camera->connected());

  // Capabilities: only the bytes asked for are written.
  BYTE caps[sizeof(CAPDRIVERCAPS) + 4];
  std::memset(caps, 0xAB, sizeof caps);
  EXPECT_EQ(Send(WM_CAP_DRIVER_GET_CAPS, 8, reinterpret_cast<LPARAM>(caps)), 1);
  CAPDRIVERCAPS expected = DriverScript::DefaultCaps();
  expected.wDeviceIndex = 1;
  EXPECT_EQ(std::memcmp(caps, &expected, 8), 0);
  EXPECT_EQ(caps[8], 0xAB);
  EXPECT_EQ(Send(WM_CAP_DRIVER_GET_CAPS, 44, reinterpret_cast<LPARAM>(caps)), 1);
  EXPECT_EQ(std::memcmp(caps, &expected, 44), 0);
  EXPECT_EQ(caps[44], 0xAB);

  // The format: its size, then a copy of at most the bytes asked for.
  EXPECT_EQ(Send(WM_CAP_GET_VIDEOFORMAT), 40);
  BITMAPINFOHEADER header{};
  EXPECT_EQ(Send(WM_CAP_GET_VIDEOFORMAT, 100, reinterpret_cast<LPARAM>(&header)), 40);
  EXPECT_EQ(header.biWidth, 320);
  EXPECT_EQ(header.biBitCount, 24);
  camera->Edit([](DriverScript& s) { s.format = {1, 2, 3}; });
  EXPECT_EQ(Send(WM_CAP_GET_VIDEOFORMAT), 3);
  camera->Edit([](DriverScript& s) { s.formatSucceeds = false; });
  EXPECT_EQ(Send(WM_CAP_GET_VIDEOFORMAT), 0);

  // The status and the preview switches.
  camera->Edit([](DriverScript& s) {
    s.statusWidth = 176;
    s.statusHeight = 144;
    s.refusedRates = {66};
  });
  EXPECT_EQ(Send(WM_CAP_SET_PREVIEWRATE, 66), 0);
  EXPECT_EQ(Send(WM_CAP_SET_PREVIEWRATE, 33), 1);
  EXPECT_EQ(Send(WM_CAP_SET_PREVIEW, 1), 1);
  CAPSTATUS status{};
  EXPECT_EQ(Send(WM_CAP_GET_STATUS, sizeof status, reinterpret_cast<LPARAM>(&status)), 1);
  EXPECT_EQ(status.uiImageWidth, 176u);
  EXPECT_EQ(status.uiImageHeight, 144u);
  EXPECT_TRUE(status.fLiveWindow);
  EXPECT_TRUE(status.fUsingDefaultPalette);
  camera->Edit([](DriverScript& s) { s.statusSucceeds = false; });
  EXPECT_EQ(Send(WM_CAP_GET_STATUS, sizeof status, reinterpret_cast<LPARAM>(&status)), 0);
  EXPECT_EQ(Send(WM_CAP_SET_VIDEOFORMAT, 40, reinterpret_cast<LPARAM>(&header)), 0);

  // The dialogs answer as the driver's user did.
  camera->Edit([](DriverScript& s) { s.sourceDialogResult = 0; });
  EXPECT_EQ(Send(WM_CAP_DLG_VIDEOFORMAT), 1);
  EXPECT_EQ(Send(WM_CAP_DLG_VIDEOSOURCE), 0);

  // Every request reached the driver in order, the connect first.
  std::vector<CaptureRequest> requests = camera->Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[0].message, static_cast<UINT>(WM_CAP_DRIVER_CONNECT));
  EXPECT_EQ(requests[0].wParam, 1u);
  EXPECT_EQ(requests[1].message, static_cast<UINT>(WM_CAP_DRIVER_GET_CAPS));
  EXPECT_EQ(requests.back().message, static_cast<UINT>(WM_CAP_DLG_VIDEOSOURCE));
  EXPECT_TRUE(absent->Requests().empty());

  EXPECT_EQ(Send(WM_CAP_DRIVER_DISCONNECT), 1);
  EXPECT_FALSE(camera->connected());
  size_t count = camera->Requests().size();
  EXPECT_EQ(Send(WM_CAP_GRAB_FRAME_NOSTOP), 0);
  EXPECT_EQ(camera->Requests().size(), count) << "a disconnected driver hears nothing";
}

TEST_F(CaptureWindowTest, GrabsPaintAndCopiesFramesToTheClipboard) {
  camera->QueueFrame(ScriptedDriver::SolidFrame(32, 24, 10, 20, 30));
  camera->QueueFrame(ScriptedDriver::SolidFrame(32, 24, 200, 100, 50));
  ASSERT_EQ(Send(WM_CAP_DRIVER_CONNECT, 1), 1);
  EXPECT_EQ(camera->grabs(), 1) << "a connected driver's buffer holds a picture";
  ASSERT_EQ(Send(WM_CAP_GRAB_FRAME_NOSTOP), 1);
  EXPECT_EQ(camera->grabs(), 2);

  // The grabbed frame is in the window's surface.
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  ASSERT_TRUE(ReadWindowSurface(window, &pixels, &width, &height));
  ASSERT_EQ(width, 32);
  EXPECT_EQ(pixels[0] & 0xFFFFFF, 0x3264C8u);

  // The copy: a device bitmap of the frame, no palette, owned by the capture window.
  ASSERT_EQ(Send(WM_CAP_EDIT_COPY), 1);
  EXPECT_EQ(GetClipboardOwner(), window);
  ASSERT_TRUE(OpenClipboard(parent));
  auto bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(GetClipboardData(CF_PALETTE), nullptr);
  BITMAP info{};
  ASSERT_TRUE(GetObjectA(bitmap, sizeof info, &info));
  EXPECT_EQ(info.bmWidth, 32);
  EXPECT_EQ(info.bmHeight, 24);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  EXPECT_EQ(GetPixel(memory, 5, 5), RGB(50, 100, 200));
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  ASSERT_TRUE(CloseClipboard());

  // A driver with a palette puts it beside the bitmap.
  camera->Edit([](DriverScript& s) { s.palette = {{1, 2, 3, 0}, {4, 5, 6, 0}}; });
  ASSERT_EQ(Send(WM_CAP_EDIT_COPY), 1);
  ASSERT_TRUE(OpenClipboard(parent));
  auto palette = static_cast<HPALETTE>(GetClipboardData(CF_PALETTE));
  ASSERT_NE(palette, nullptr);
  WORD entries = 0;
  ASSERT_TRUE(GetObjectA(palette, sizeof entries, &entries));
  EXPECT_EQ(entries, 2);
  ASSERT_TRUE(CloseClipboard());

  // Another application holding the clipboard makes the copy fail.
  ASSERT_TRUE(HoldClipboardForOtherApplication());
  EXPECT_EQ(Send(WM_CAP_EDIT_COPY), 0);
  ASSERT_TRUE(ReleaseClipboardOfOtherApplication());

  // A single grab ends the preview; destroying the window disconnects the driver.
  ASSERT_EQ(Send(WM_CAP_SET_PREVIEW, 1), 1);
  ASSERT_EQ(Send(WM_CAP_GRAB_FRAME), 1);
  CAPSTATUS status{};
  ASSERT_EQ(Send(WM_CAP_GET_STATUS, sizeof status, reinterpret_cast<LPARAM>(&status)), 1);
  EXPECT_FALSE(status.fLiveWindow);
  EXPECT_EQ(status.dwCurrentVideoFrame, 3u);
  DestroyWindow(window);
  EXPECT_FALSE(camera->connected());
}

TEST_F(CaptureWindowTest, PreviewGrabsAtThePreviewRate) {
  camera->SetFrameGenerator(
      [](int n) { return ScriptedDriver::SolidFrame(32, 24, static_cast<BYTE>(n), 0, 0); });
  ASSERT_EQ(Send(WM_CAP_DRIVER_CONNECT, 1), 1);
  ASSERT_EQ(Send(WM_CAP_SET_PREVIEWRATE, 50), 1);
  camera->Edit([](DriverScript& s) { s.previewSucceeds = false; });
  EXPECT_EQ(Send(WM_CAP_SET_PREVIEW, 1), 0);
  camera->Edit([](DriverScript& s) { s.previewSucceeds = true; });
  ASSERT_EQ(Send(WM_CAP_SET_PREVIEW, 1), 1);
  int before = camera->grabs();
  headless::Advance(50);
  ASSERT_TRUE(headless::PumpUntil([&] { return camera->grabs() > before; }));
  EXPECT_EQ(ShownPixel(), camera->grabs() - 1) << "the newest frame is painted";
}

// Frames that cannot be seen (the window hidden, or its top-level window minimised) are not
// painted; the window paints the frame in the buffer once it can be seen again.
TEST_F(CaptureWindowTest, FramesArePaintedOnlyWhereTheyCanBeSeen) {
  camera->SetFrameGenerator(
      [](int n) { return ScriptedDriver::SolidFrame(32, 24, static_cast<BYTE>(10 + n), 0, 0); });
  ASSERT_EQ(Send(WM_CAP_DRIVER_CONNECT, 1), 1);  // grab 0
  EXPECT_EQ(ShownPixel(), 10);
  CloseWindow(parent);
  ASSERT_EQ(Send(WM_CAP_GRAB_FRAME_NOSTOP), 1);  // grab 1, behind the minimised parent
  EXPECT_EQ(ShownPixel(), 10);
  OpenIcon(parent);
  ASSERT_TRUE(headless::PumpUntil([&] { return ShownPixel() == 11; }));
  ShowWindow(window, SW_HIDE);
  ASSERT_EQ(Send(WM_CAP_GRAB_FRAME_NOSTOP), 1);  // grab 2, hidden
  EXPECT_EQ(ShownPixel(), 11);
  ShowWindow(window, SW_SHOW);
  ASSERT_TRUE(headless::PumpUntil([&] { return ShownPixel() == 12; }));
  ASSERT_EQ(Send(WM_CAP_GRAB_FRAME_NOSTOP), 1);  // grab 3, seen
  EXPECT_EQ(ShownPixel(), 13);
}

}  // namespace
}  // namespace platform
