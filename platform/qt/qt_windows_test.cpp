// The Qt backend's windows as widgets: what a main window with its menu and frame windows
// shows, how user actions become messages, timers, and work handed over by other threads.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/qt/qt_backend.h"
#include "platform/resources.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace {

struct Seen {
  HWND window;
  UINT message;
  std::thread::id thread;
};
std::vector<Seen> seen;  // window thread only, or after a join
std::mutex seenMutex;

size_t Count(HWND window, UINT message) {
  std::lock_guard lock(seenMutex);
  size_t n = 0;
  for (const Seen& s : seen) n += s.window == window && s.message == message;
  return n;
}

void Note(HWND window, UINT message) {
  std::lock_guard lock(seenMutex);
  seen.push_back({window, message, std::this_thread::get_id()});
}

// A main window as the program makes it: the sizing border answers as the caption, and a
// close request only records itself.
LRESULT MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Note(window, message);
  switch (message) {
    case WM_CLOSE:
      return 0;
    case WM_NCHITTEST: {
      LRESULT hit = DefWindowProcA(window, message, wParam, lParam);
      return hit >= HTLEFT && hit <= HTBOTTOMRIGHT ? HTCAPTION : hit;
    }
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// Frames paint their client area white.
LRESULT FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Note(window, message);
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

const platform::ResourceTable& Resources() {
  static const platform::ResourceTable table = [] {
    platform::ResourceTable t;
    t.menus.push_back(
        {"dogMenu",
         {{"&File", {{"E&xit", 40001}}},
          {"A&larm", {{"Ar&m", 40002}, {"&Disarm", 40003}, {"", 0}, {"&Test", 40004}}},
          {"&Help", {{"&About", 40005}}}}});
    return t;
  }();
  return table;
}

void RegisterClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  platform::InstallResources(&Resources());
  WNDCLASSA main{};
  main.lpfnWndProc = MainProc;
  main.lpszClassName = "qtMain";
  main.lpszMenuName = "dogMenu";
  main.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  ASSERT_NE(RegisterClassA(&main), 0);
  WNDCLASSA frame{};
  frame.lpfnWndProc = FrameProc;
  frame.lpszClassName = "qtFrame";
  frame.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
  ASSERT_NE(RegisterClassA(&frame), 0);
}

// Lets the window thread handle what is in its queue now.
void HandleQueued() {
  PostMessageA(nullptr, WM_USER + 99, 0, 0);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0 && message.message != WM_USER + 99) {
    DispatchMessageA(&message);
  }
}

TEST(QtWindows, MainWindowShowsMenuFramesAndSurfaces) {
  RegisterClasses();
  HWND main = CreateWindowExA(0x7000, "qtMain", "Corvantis", 0x02CE0000, 0, 0, 600, 300, nullptr,
                              nullptr, nullptr, nullptr);
  HWND frame = CreateWindowExA(0x7000, "qtFrame", "Reference Image", 0x4AC40000, 0, 0, 0, 0, main,
                               nullptr, nullptr, nullptr);
  ASSERT_TRUE(main && frame);
  ASSERT_TRUE(SetWindowPos(frame, nullptr, 3, 3, 322, 267, SWP_NOZORDER));
  ShowWindow(main, SW_SHOWNORMAL);
  ShowWindow(frame, SW_SHOW);
  UpdateWindow(main);
  UpdateWindow(frame);
  EXPECT_EQ(Count(frame, WM_PAINT), 1u);

  QWidget* widget = qtbackend::WidgetOf(main);
  ASSERT_NE(widget, nullptr);
  EXPECT_TRUE(widget->isWindow());
  EXPECT_EQ(widget->windowTitle(), "Corvantis");
  // The border does not size the window: its procedure answers as the caption there.
  EXPECT_EQ(widget->minimumSize(), widget->maximumSize());
  const int frameWidth = GetSystemMetrics(SM_CXFRAME), caption = GetSystemMetrics(SM_CYCAPTION),
            menuHeight = GetSystemMetrics(SM_CYMENU);
  EXPECT_EQ(widget->width(), 600 - 2 * frameWidth);
  EXPECT_EQ(widget->height(), 300 - 2 * frameWidth - caption);

  auto* bar = widget->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  QStringList titles;
  for (QAction* action : bar->actions()) titles << action->text();
  EXPECT_EQ(titles, (QStringList{"&File", "A&larm", "&Help"}));
  QAction* arm = nullptr;
  for (QAction* action : bar->actions()[1]->menu()->actions()) {
    if (action->text() == "Ar&m") arm = action;
  }
  ASSERT_NE(arm, nullptr);
  EXPECT_TRUE(arm->isEnabled());
  EnableMenuItem(GetMenu(main), 40002, MF_GRAYED | MF_DISABLED);
  EXPECT_FALSE(arm->isEnabled());
  EnableMenuItem(GetMenu(main), 40002, MF_ENABLED);
  EXPECT_TRUE(arm->isEnabled());
  // A menu command reaches the window through its queue.
  arm->trigger();
  HandleQueued();
  ASSERT_GE(Count(main, WM_COMMAND), 1u);

  // The frame is a disabled child pane at its place in the client area.
  QWidget* pane = qtbackend::WidgetOf(frame);
  ASSERT_NE(pane, nullptr);
  EXPECT_FALSE(pane->isWindow());
  EXPECT_FALSE(pane->isEnabled());
  EXPECT_EQ(pane->geometry(), QRect(3, 3, 322, 267));
  EXPECT_EQ(qtbackend::ClientWidgetOf(frame)->geometry(),
            QRect(frameWidth, frameWidth + caption, 322 - 2 * frameWidth,
                  267 - 2 * frameWidth - caption));

  QImage shot = widget->grab().toImage();
  ASSERT_FALSE(shot.isNull());
  // The main window's client area is erased with its gray class brush, the frame's client
  // area shows what it painted (white).
  EXPECT_EQ(QColor(shot.pixel(500, menuHeight + 100)), QColor(128, 128, 128));
  EXPECT_EQ(QColor(shot.pixel(3 + 100, menuHeight + 3 + frameWidth + caption + 100)),
            QColor(255, 255, 255));
  // The caption text is right-aligned: bright text pixels only in the right half of the bar.
  int captionRow = menuHeight + 3 + frameWidth + caption / 2;
  int left = 0, right = 0;
  for (int x = 3 + frameWidth; x < 3 + 322 - frameWidth; ++x) {
    for (int y = captionRow - 4; y <= captionRow + 4; ++y) {
      if (qGray(shot.pixel(x, y)) > 215) (x < 3 + 161 ? left : right)++;
    }
  }
  EXPECT_EQ(left, 0);
  EXPECT_GT(right, 10);

  // Hiding a frame hides its pane.
  ShowWindow(frame, SW_HIDE);
  EXPECT_FALSE(pane->isVisible());

  // The close box asks the window, whose procedure refuses here.
  widget->close();
  HandleQueued();
  EXPECT_EQ(Count(main, WM_CLOSE), 1u);
  EXPECT_TRUE(IsWindow(main));

  // A change of the desktop's colours reaches the top-level window.
  QApplication::setPalette(QPalette(QColor(40, 90, 160)));
  QCoreApplication::processEvents();  // Qt delivers the change as events
  EXPECT_GE(Count(main, WM_SYSCOLORCHANGE), 1u);
  EXPECT_EQ(Count(frame, WM_SYSCOLORCHANGE), 0u);

  // Minimise and restore.
  CloseWindow(main);
  EXPECT_TRUE(widget->isMinimized());
  OpenIcon(main);
  EXPECT_FALSE(widget->isMinimized());
  EXPECT_TRUE(widget->isVisible());
  DestroyWindow(main);
  EXPECT_EQ(qtbackend::WidgetOf(main), nullptr);
}

// Clicks a menu bar's pop-up title and then the item with `text`, as the user does.
void ClickMenu(QMenuBar* bar, int popup, const QString& text) {
  QAction* title = bar->actions()[popup];
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(title).center());
  for (QAction* item : title->menu()->actions()) {
    if (item->text() == text) {
      QTest::mouseClick(title->menu(), Qt::LeftButton, {},
                        title->menu()->actionGeometry(item).center());
    }
  }
  title->menu()->close();
}

TEST(QtWindows, ADisabledWindowDropsTheUsersInputButNotItsBoxes) {
  RegisterClasses();
  HWND main = CreateWindowExA(0, "qtMain", "Corvantis", 0x02CE0000, 0, 0, 600, 300, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_NE(main, nullptr);
  ShowWindow(main, SW_SHOWNORMAL);
  QWidget* widget = qtbackend::WidgetOf(main);
  auto* bar = widget->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);

  ClickMenu(bar, 1, "&Disarm");
  HandleQueued();
  EXPECT_EQ(Count(main, WM_COMMAND), 1u) << "an enabled window takes the click";

  EnableWindow(main, FALSE);
  ClickMenu(bar, 1, "&Disarm");
  QTest::keyClick(widget, Qt::Key_L, Qt::AltModifier);
  widget->close();
  HandleQueued();
  EXPECT_EQ(Count(main, WM_COMMAND), 1u) << "the clicks on the disabled window are dropped";
  EXPECT_EQ(Count(main, WM_CLOSE), 0u);
  // A box the disabled window owns still takes the user's answer.
  bool answered = false;
  qtbackend::SetModalHook([&](QWidget* shown, HWND) {
    QTest::keyClick(shown, Qt::Key_Return);
    answered = true;
  });
  EXPECT_EQ(MessageBoxA(main, "text", "caption", MB_OK), IDOK);
  qtbackend::SetModalHook(nullptr);
  EXPECT_TRUE(answered);
  EXPECT_FALSE(IsWindowEnabled(main)) << "the box leaves its owner as it found it";

  EnableWindow(main, TRUE);
  ClickMenu(bar, 1, "&Disarm");
  HandleQueued();
  EXPECT_EQ(Count(main, WM_COMMAND), 2u);
  DestroyWindow(main);
}

TEST(QtWindows, AWindowWhoseBorderSizesItIsResizable) {
  RegisterClasses();
  HWND frame = CreateWindowExA(0, "qtFrame", "Sizable", WS_CAPTION | WS_THICKFRAME | WS_VISIBLE, 10,
                               10, 200, 150, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(frame, nullptr);
  QWidget* widget = qtbackend::WidgetOf(frame);
  ASSERT_NE(widget, nullptr);
  EXPECT_NE(widget->minimumSize(), widget->maximumSize());
  DestroyWindow(frame);
}

TEST(QtWindows, OtherThreadsWorkThroughTheWindowThread) {
  RegisterClasses();
  HWND frame = CreateWindowExA(0, "qtFrame", "", WS_CAPTION, 0, 0, 100, 100, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(frame, nullptr);
  std::atomic<BOOL> moved{FALSE};
  HWND created = reinterpret_cast<HWND>(1);
  DWORD createError = 0;
  std::thread worker([&] {
    // A window change made by another thread is carried out by the window thread.
    moved = SetWindowPos(frame, nullptr, 0, 0, 150, 120, SWP_NOMOVE | SWP_NOZORDER);
    created = CreateWindowExA(0, "qtFrame", "", WS_CAPTION, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                              nullptr);
    createError = GetLastError();
    SendMessageA(frame, WM_USER + 5, 0, 0);
    PostMessageA(frame, WM_USER + 6, 0, 0);
  });
  // GetMessageA carries out what the other thread handed over while it waits.
  MSG message;
  do {
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    DispatchMessageA(&message);
  } while (message.message != WM_USER + 6);
  worker.join();
  EXPECT_TRUE(moved.load());
  EXPECT_EQ(created, nullptr);
  EXPECT_EQ(createError, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  std::lock_guard lock(seenMutex);
  bool sized = false, sent = false;
  for (const Seen& s : seen) {
    if (s.window != frame) continue;
    if (s.message == WM_SIZE) sized = s.thread == std::this_thread::get_id();
    if (s.message == WM_USER + 5) sent = s.thread == std::this_thread::get_id();
  }
  EXPECT_TRUE(sized);
  EXPECT_TRUE(sent);
  EXPECT_EQ(qtbackend::WidgetOf(frame)->width(), 150 - 2);  // thin caption border of 1
}

TEST(QtWindows, TheIdleHookRunsWhenTheLoopHasNothingToDo) {
  RegisterClasses();
  HWND frame = CreateWindowExA(0, "qtFrame", "", WS_CAPTION, 0, 0, 100, 100, nullptr, nullptr,
                               nullptr, nullptr);
  int calls = 0;
  qtbackend::SetIdleHook([&] {
    if (++calls == 1) PostMessageA(frame, WM_USER + 7, 0, 0);
    if (calls == 2) PostQuitMessage(3);
  });
  MSG message;
  ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 7));
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
  EXPECT_EQ(message.wParam, 3u);
  EXPECT_EQ(calls, 2);
  qtbackend::SetIdleHook(nullptr);
  DestroyWindow(frame);
}

}  // namespace
