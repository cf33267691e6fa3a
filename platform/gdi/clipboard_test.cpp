// The in-process clipboard: one opener, ownership on emptying, release of what it holds.
#include <gtest/gtest.h>

#include <thread>

#include "platform/clipboard.h"
#include "platform/gdi.h"
#include "platform/gdi/clipboard_testing.h"
#include "platform/memory.h"
#include "platform/threads.h"

namespace {

HWND FakeWindow(uintptr_t id) {
  return reinterpret_cast<HWND>(id);
}

bool IsLiveBitmap(HBITMAP bitmap) {
  BITMAP shape;
  return GetObjectA(bitmap, sizeof shape, &shape) != 0;
}

bool OpenOnOtherThread(HWND window) {
  bool opened = false;
  std::thread other([&] {
    opened = OpenClipboard(window);
    if (opened) CloseClipboard();
  });
  other.join();
  return opened;
}

TEST(Clipboard, OneOpenerAtATime) {
  HWND first = FakeWindow(0x10), second = FakeWindow(0x20);
  EXPECT_FALSE(CloseClipboard());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLIPBOARD_NOT_OPEN));
  ASSERT_TRUE(OpenClipboard(first));
  EXPECT_TRUE(OpenClipboard(first));    // the same window again
  EXPECT_FALSE(OpenClipboard(second));  // another window
  EXPECT_FALSE(OpenOnOtherThread(first));
  EXPECT_TRUE(CloseClipboard());
  EXPECT_TRUE(OpenOnOtherThread(second));

  // Held open on another thread, it cannot be used or closed here.
  std::mutex mutex;
  std::condition_variable changed;
  int stage = 0;
  std::thread holder([&] {
    OpenClipboard(second);
    std::unique_lock lock(mutex);
    stage = 1;
    changed.notify_all();
    changed.wait(lock, [&] { return stage == 2; });
    CloseClipboard();
  });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return stage == 1; });
  }
  EXPECT_FALSE(OpenClipboard(first));
  EXPECT_FALSE(CloseClipboard());
  EXPECT_FALSE(EmptyClipboard());
  {
    std::lock_guard lock(mutex);
    stage = 2;
  }
  changed.notify_all();
  holder.join();
  EXPECT_TRUE(OpenClipboard(first));
  EXPECT_TRUE(CloseClipboard());
}

TEST(Clipboard, AnotherApplicationHoldingItShutsEveryWindowOut) {
  ASSERT_TRUE(platform::HoldClipboardForOtherApplication());
  EXPECT_FALSE(platform::HoldClipboardForOtherApplication());
  EXPECT_FALSE(OpenClipboard(FakeWindow(0x10)));
  EXPECT_FALSE(CloseClipboard());
  EXPECT_TRUE(platform::ReleaseClipboardOfOtherApplication());
  EXPECT_FALSE(platform::ReleaseClipboardOfOtherApplication());
  ASSERT_TRUE(OpenClipboard(FakeWindow(0x10)));
  EXPECT_FALSE(platform::HoldClipboardForOtherApplication());
  EXPECT_FALSE(platform::ReleaseClipboardOfOtherApplication());
  EXPECT_TRUE(CloseClipboard());
}

TEST(Clipboard, EmptyingReleasesWhatItHoldsAndMakesTheOpenerTheOwner) {
  HWND driver = FakeWindow(0x30), reader = FakeWindow(0x40);
  HBITMAP bitmap = CreateCompatibleBitmap(nullptr, 2, 2);
  EXPECT_EQ(SetClipboardData(CF_BITMAP, bitmap), nullptr);  // not open
  EXPECT_EQ(GetClipboardOwner(), nullptr);

  ASSERT_TRUE(OpenClipboard(driver));
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_EQ(GetClipboardOwner(), driver);
  EXPECT_EQ(SetClipboardData(CF_BITMAP, bitmap), bitmap);
  alignas(LOGPALETTE) BYTE block[sizeof(LOGPALETTE)] = {};
  reinterpret_cast<LOGPALETTE*>(block)->palVersion = 0x300;
  reinterpret_cast<LOGPALETTE*>(block)->palNumEntries = 1;
  HPALETTE palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(block));
  EXPECT_EQ(SetClipboardData(CF_PALETTE, bitmap), nullptr);  // a bitmap is no palette
  EXPECT_EQ(SetClipboardData(CF_PALETTE, palette), palette);
  // Replacing the bitmap releases the one before.
  HBITMAP second = CreateCompatibleBitmap(nullptr, 3, 3);
  EXPECT_EQ(SetClipboardData(CF_BITMAP, second), second);
  EXPECT_FALSE(IsLiveBitmap(bitmap));
  EXPECT_TRUE(CloseClipboard());

  // The reader finds the objects, still the clipboard's, and not while it is closed.
  EXPECT_EQ(GetClipboardData(CF_BITMAP), nullptr);
  ASSERT_TRUE(OpenClipboard(reader));
  EXPECT_EQ(GetClipboardData(CF_BITMAP), second);
  EXPECT_EQ(GetClipboardData(CF_PALETTE), palette);
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
  EXPECT_TRUE(CloseClipboard());
  EXPECT_TRUE(IsLiveBitmap(second));

  ASSERT_TRUE(OpenClipboard(reader));
  HGLOBAL text = GlobalAlloc(GHND, 4);
  EXPECT_EQ(SetClipboardData(CF_TEXT, text), text);
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_EQ(GetClipboardOwner(), reader);
  EXPECT_EQ(GetClipboardData(CF_BITMAP), nullptr);
  EXPECT_FALSE(IsLiveBitmap(second));
  DWORD count = 0;
  EXPECT_EQ(GetObjectA(palette, sizeof count, &count), 0);
  EXPECT_EQ(GlobalSize(text), 0u);
  EXPECT_TRUE(CloseClipboard());
}

}  // namespace
