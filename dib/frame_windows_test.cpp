// The frame windows: what they answer, and what the two picture frames paint, read back
// from the window surfaces.
#include "dib/frame_windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "dib/bitmap_utilities.h"
#include "dib/frame_objects.h"
#include "platform/surface.h"
#include "platform/window.h"

namespace {

class FrameWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    const struct {
      const char* name;
      WNDPROC procedure;
    } classes[] = {{"videoFrame", VideoFrameProc},
                   {"baseFrame", BaseFrameProc},
                   {"afterFrame", AfterFrameProc}};
    for (const auto& c : classes) {
      WNDCLASSA cls{};
      cls.lpfnWndProc = c.procedure;
      cls.lpszClassName = c.name;
      ASSERT_NE(RegisterClassA(&cls), 0);
    }
  }

  void TearDown() override {
    std::lock_guard lock(frameObjectsMutex);
    if (frameDib) GlobalFree(frameDib);
    if (referenceBitmap) DeleteObject(referenceBitmap);
    if (uploadBitmap) DeleteObject(uploadBitmap);
    frameDib = nullptr;
    referenceBitmap = uploadBitmap = nullptr;
    frameAvailable = 0;
  }

  // A borderless visible window of the class with a client area of width x height.
  static HWND Frame(const char* className, int width, int height) {
    return CreateWindowExA(0, className, className, WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                           nullptr, nullptr, nullptr, nullptr);
  }

  // Paints the window and reads its surface back (0x00RRGGBB, top row first).
  static std::vector<uint32_t> Painted(HWND window, int* width) {
    EXPECT_EQ(SendMessageA(window, WM_PAINT, 0, 0), 0);
    std::vector<uint32_t> pixels;
    int height = 0;
    EXPECT_TRUE(platform::ReadWindowSurface(window, &pixels, width, &height));
    return pixels;
  }

  // A 3 x 2 frame whose pixel (x, y) from the top-left is red 10x + y + 1, green 200.
  static HGLOBAL SmallFrame() {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 3;
    h.biHeight = 2;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biSizeImage = 12 * 2;
    HGLOBAL block = GlobalAlloc(GHND, 40 + 24);
    auto* bytes = static_cast<BYTE*>(GlobalLock(block));
    std::memcpy(bytes, &h, sizeof h);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) {
        BYTE* p = bytes + 40 + (1 - y) * 12 + 3 * x;
        p[1] = 200;
        p[2] = static_cast<BYTE>(10 * x + y + 1);
      }
    }
    GlobalUnlock(block);
    return block;
  }

  static uint32_t SmallFramePixel(int x, int y) {
    return (static_cast<uint32_t>(10 * x + y + 1) << 16) | (200u << 8);
  }
};

TEST_F(FrameWindows, NothingIsPaintedBeforeTheFirstFrame) {
  HWND base = Frame("baseFrame", 5, 4);
  {
    std::lock_guard lock(frameObjectsMutex);
    frameDib = SmallFrame();
    referenceBitmap = BitmapFromPackedDib(frameDib, nullptr);
    ASSERT_NE(referenceBitmap, nullptr);
  }
  int width = 0;
  std::vector<uint32_t> pixels = Painted(base, &width);
  EXPECT_EQ(width, 5);
  EXPECT_EQ(pixels, std::vector<uint32_t>(20, 0));
  DestroyWindow(base);
}

TEST_F(FrameWindows, PictureFramesPaintTheirBitmapOrElseTheLatestFrame) {
  HWND base = Frame("baseFrame", 5, 4);
  HWND after = Frame("afterFrame", 4, 3);
  HWND video = Frame("videoFrame", 4, 3);
  {
    std::lock_guard lock(frameObjectsMutex);
    frameDib = SmallFrame();
    frameAvailable = 1;
  }
  // No reference bitmap: the packed frame at its full size from the top-left corner.
  int width = 0;
  std::vector<uint32_t> pixels = Painted(base, &width);
  ASSERT_EQ(pixels.size(), 20u);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) {
      uint32_t want = x < 3 && y < 2 ? SmallFramePixel(x, y) : 0;
      EXPECT_EQ(pixels[y * 5 + x], want) << x << "," << y;
    }
  }

  // The upload frame shows its bitmap: a 2 x 2 white one.
  {
    std::lock_guard lock(frameObjectsMutex);
    uploadBitmap = CreateCompatibleBitmap(nullptr, 2, 2);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, uploadBitmap);
    RECT all{0, 0, 2, 2};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SelectObject(dc, old);
    DeleteDC(dc);
  }
  pixels = Painted(after, &width);
  EXPECT_EQ(pixels, (std::vector<uint32_t>{0xffffff, 0xffffff, 0, 0, 0xffffff, 0xffffff, 0, 0, 0, 0,
                                           0, 0}));
  // The live frame draws nothing of its own.
  pixels = Painted(video, &width);
  EXPECT_EQ(pixels, std::vector<uint32_t>(12, 0));
  DestroyWindow(base);
  DestroyWindow(after);
  DestroyWindow(video);
}

TEST_F(FrameWindows, MessagesTheFramesAnswerThemselves) {
  HWND video = Frame("videoFrame", 4, 3);
  HWND base = Frame("baseFrame", 4, 3);
  HWND after = Frame("afterFrame", 4, 3);
  EXPECT_EQ(SendMessageA(video, WM_MOVE, 0, MAKELPARAM(5, 6)), 0);
  EXPECT_EQ(SendMessageA(base, WM_SIZE, 0, MAKELPARAM(7, 8)), 0);
  EXPECT_EQ(SendMessageA(after, WM_SIZE, 0, MAKELPARAM(7, 8)), 0);
  // Anything else gets default processing (hit-testing a point in the client area).
  EXPECT_EQ(SendMessageA(base, WM_NCHITTEST, 0, MAKELPARAM(1, 1)), HTCLIENT);

  // Closing destroys the window, and a destroyed frame asks the loop to end.
  EXPECT_EQ(SendMessageA(after, WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(IsWindow(after));
  MSG message;
  BOOL got;
  while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) DispatchMessageA(&message);
  EXPECT_EQ(got, FALSE);
  EXPECT_EQ(message.wParam, 0u);
  DestroyWindow(video);
  DestroyWindow(base);
}

TEST_F(FrameWindows, BlitsRefuseWhatIsMissing) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(nullptr, 2, 2);
  EXPECT_EQ(BlitBitmap(nullptr, bitmap, SRCCOPY), 0);
  EXPECT_EQ(BlitBitmap(screen, nullptr, SRCCOPY), 0);
  EXPECT_NE(BlitBitmap(screen, bitmap, SRCCOPY), 0);
  DeleteObject(bitmap);
  EXPECT_EQ(BlitBitmap(screen, bitmap, SRCCOPY), 0);  // stale

  HGLOBAL frame = SmallFrame();
  EXPECT_EQ(BlitPackedDib(screen, 0, 0, 3, 2, frame), 1);
  EXPECT_EQ(GlobalFlags(frame) & 0xff, 0u);
  GlobalFree(frame);
  EXPECT_EQ(BlitPackedDib(screen, 0, 0, 3, 2, frame), 0);
  ReleaseDC(nullptr, screen);
}

}  // namespace
