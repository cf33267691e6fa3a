// Window surfaces, with a small window table standing in for the backend's side of
// platform/surface.h (the drawing services sit below the backends and are tested alone).
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "platform/gdi.h"
#include "platform/surface.h"

namespace {

struct TestWindow {
  int width;
  int height;
  int changes = 0;
};

std::mutex windowsMutex;
std::map<HWND, TestWindow> windows;

HWND MakeWindow(uintptr_t id, int width, int height) {
  HWND window = reinterpret_cast<HWND>(id);
  std::lock_guard lock(windowsMutex);
  windows[window] = TestWindow{width, height};
  return window;
}

int Changes(HWND window) {
  std::lock_guard lock(windowsMutex);
  return windows[window].changes;
}

}  // namespace

namespace platform {

bool WindowClientSize(HWND window, int* width, int* height) {
  std::lock_guard lock(windowsMutex);
  auto it = windows.find(window);
  if (it == windows.end()) return false;
  *width = it->second.width;
  *height = it->second.height;
  return true;
}

void WindowSurfaceChanged(HWND window) {
  std::lock_guard lock(windowsMutex);
  windows[window].changes++;
}

}  // namespace platform

namespace {

TEST(WindowSurface, ContextsDrawIntoTheSurfaceWhichFollowsTheClientSize) {
  HWND window = MakeWindow(0x51, 4, 3);
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  EXPECT_FALSE(platform::ReadWindowSurface(window, &pixels, &width, &height));

  HDC dc = GetDC(window);
  ASSERT_NE(dc, nullptr);
  RECT rect{1, 1, 10, 2};
  EXPECT_TRUE(FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH))));
  EXPECT_EQ(GetPixel(dc, 3, 1), RGB(128, 128, 128));
  EXPECT_EQ(Changes(window), 0);
  EXPECT_EQ(ReleaseDC(nullptr, dc), 0);  // not this window's context
  EXPECT_EQ(ReleaseDC(window, dc), 1);
  EXPECT_EQ(Changes(window), 1);
  EXPECT_EQ(ReleaseDC(window, dc), 0);

  ASSERT_TRUE(platform::ReadWindowSurface(window, &pixels, &width, &height));
  EXPECT_EQ(width, 4);
  EXPECT_EQ(height, 3);
  std::vector<uint32_t> expected(12, 0);
  for (int x = 1; x < 4; ++x) expected[4 + x] = 0x808080;
  EXPECT_EQ(pixels, expected);

  // A new size keeps what overlaps and adds black.
  {
    std::lock_guard lock(windowsMutex);
    windows[window].width = 2;
    windows[window].height = 4;
  }
  dc = platform::CreateWindowDC(window);
  ASSERT_NE(dc, nullptr);
  ASSERT_TRUE(platform::ReadWindowSurface(window, &pixels, &width, &height));
  EXPECT_EQ(width, 2);
  EXPECT_EQ(height, 4);
  EXPECT_EQ(pixels, (std::vector<uint32_t>{0, 0, 0, 0x808080, 0, 0, 0, 0}));

  // Once the window's surface is dropped, its remaining context draws nothing.
  platform::DropWindowSurface(window);
  EXPECT_FALSE(platform::ReadWindowSurface(window, &pixels, &width, &height));
  EXPECT_FALSE(FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH))));
  EXPECT_EQ(ReleaseDC(window, dc), 1);
  EXPECT_EQ(GetDC(reinterpret_cast<HWND>(uintptr_t{0x99})), nullptr);  // no such window
}

TEST(WindowSurface, BitmapsBlitIntoAWindow) {
  HWND window = MakeWindow(0x52, 3, 2);
  HBITMAP bitmap = CreateCompatibleBitmap(nullptr, 2, 2);
  HDC memory = CreateCompatibleDC(nullptr);
  SelectObject(memory, bitmap);
  RECT all{0, 0, 2, 2};
  EXPECT_TRUE(FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
  HDC dc = GetDC(window);
  EXPECT_TRUE(BitBlt(dc, 1, 0, 2, 2, memory, 0, 0, SRCCOPY));
  ReleaseDC(window, dc);
  DeleteDC(memory);
  EXPECT_TRUE(DeleteObject(bitmap));
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  ASSERT_TRUE(platform::ReadWindowSurface(window, &pixels, &width, &height));
  EXPECT_EQ(pixels, (std::vector<uint32_t>{0, 0xffffff, 0xffffff, 0, 0xffffff, 0xffffff}));
}

}  // namespace
