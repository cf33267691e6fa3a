// Windows on either display: classes, creation and destruction order, the frame model,
// hit-testing, showing and minimising, painting and menus. Compiled into the contract suite
// of each display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/resources.h"
#include "platform/surface.h"
#include "platform/threads.h"
#include "platform/window.h"
#include "platform/window_system/record.h"

namespace {

// Messages seen by TraceProc, as "window-text:message".
std::vector<std::string> trace;
UINT closeAnswer = 0;     // 1: TraceProc swallows WM_CLOSE
HWND refusing = nullptr;  // the window named "refusing", which refuses WM_NCCREATE

std::string NameOf(HWND window) {
  char text[64];
  GetWindowTextA(window, text, sizeof text);
  return text;
}

LRESULT TraceProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
      trace.push_back(std::string(create->lpszName) + ":NCCREATE");
      if (std::string(create->lpszName) != "refusing") break;
      refusing = window;
      SetTimer(window, 3, 10, nullptr);
      return FALSE;
    }
    case WM_CREATE:
      trace.push_back(NameOf(window) + ":CREATE");
      break;
    case WM_DESTROY:
      trace.push_back(NameOf(window) + ":DESTROY");
      break;
    case WM_NCDESTROY:
      trace.push_back(NameOf(window) + ":NCDESTROY");
      break;
    case WM_SIZE:
      trace.push_back(NameOf(window) + ":SIZE " + std::to_string(wParam) + " " +
                      std::to_string(LOWORD(lParam)) + "x" + std::to_string(HIWORD(lParam)));
      break;
    case WM_MOVE:
      trace.push_back(NameOf(window) + ":MOVE " + std::to_string(LOWORD(lParam)) + "," +
                      std::to_string(HIWORD(lParam)));
      break;
    case WM_PAINT: {
      trace.push_back(NameOf(window) + ":PAINT");
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_CLOSE:
      trace.push_back(NameOf(window) + ":CLOSE");
      if (closeAnswer) return 0;
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

const platform::ResourceTable* TestResources() {
  static platform::ResourceTable table{
      {{"testMenu",
        {{"&File", {{"E&xit", 100}, {"", 0}, {"&Arm", 101}}}, {"&Help", {{"&About", 102}}}}}},
      {},
      {},
      {{140, {{}}}}};
  return &table;
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::InstallResources(TestResources());
    trace.clear();
    WNDCLASSA cls{};
    cls.lpfnWndProc = TraceProc;
    cls.lpszClassName = "traced";
    cls.lpszMenuName = "TESTMENU";
    ASSERT_TRUE(RegisterClassA(&cls) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
    cls.lpszClassName = "plain";
    cls.lpszMenuName = nullptr;
    ASSERT_TRUE(RegisterClassA(&cls) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
  }

  HWND Top(const char* text, DWORD style = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME) {
    return CreateWindowExA(0, "traced", text, style, 10, 20, 300, 200, nullptr, nullptr, nullptr,
                           nullptr);
  }
  HWND Child(HWND parent, const char* text, int id = 7) {
    return CreateWindowExA(0, "plain", text, WS_CHILD | WS_CAPTION | WS_THICKFRAME, 0, 2, 100, 80,
                           parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr,
                           nullptr);
  }
};

TEST_F(Windows, ClassesAreRegisteredOnceAndUnknownClassesAreRefused) {
  WNDCLASSA cls{};
  cls.lpfnWndProc = TraceProc;
  cls.lpszClassName = "TRACED";  // names are compared without regard to case
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&cls), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  EXPECT_EQ(CreateWindowExA(0, "missing", "x", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  // A child window needs a live parent.
  EXPECT_EQ(Child(nullptr, "orphan"), nullptr);
  HWND top = Top("top");
  DestroyWindow(top);
  EXPECT_EQ(Child(top, "late"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  // A window that refuses WM_NCCREATE is not made, and nothing it set up stays behind.
  EXPECT_EQ(Top("refusing"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(IsWindow(refusing));
  EXPECT_FALSE(KillTimer(refusing, 3));
  // A class goes with UnregisterClassA and may then come again.
  cls.lpszClassName = "once";
  ASSERT_NE(RegisterClassA(&cls), 0);
  EXPECT_TRUE(UnregisterClassA("ONCE", nullptr));
  EXPECT_NE(RegisterClassA(&cls), 0);
}

TEST_F(Windows, CreationSendsCreateMessagesAndTakesTheClassMenu) {
  HWND top = Top("top");
  ASSERT_NE(top, nullptr);
  HWND child = Child(top, "child", 42);
  ASSERT_NE(child, nullptr);
  // Client of a 300 x 200 window with a sizing frame of 4, a caption and a menu bar of 19.
  std::vector<std::string> expected{"top:NCCREATE",       "top:CREATE",     "top:SIZE 0 292x154",
                                    "top:MOVE 14,62",     "child:NCCREATE", "child:CREATE",
                                    "child:SIZE 0 92x53", "child:MOVE 4,25"};
  EXPECT_EQ(trace, expected);
  EXPECT_EQ(GetParent(child), top);
  EXPECT_EQ(GetParent(top), nullptr);
  EXPECT_EQ(GetWindowLongA(child, GWL_ID), 42);
  EXPECT_EQ(GetMenu(child), nullptr);
  HMENU menu = GetMenu(top);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(GetMenuState(menu, 101, MF_BYCOMMAND), static_cast<UINT>(MF_ENABLED));
  EXPECT_FALSE(IsWindowVisible(top));
  char text[16];
  EXPECT_EQ(GetWindowTextA(child, text, sizeof text), 5);
  EXPECT_STREQ(text, "child");
  // The styles stay as given: a window created disabled takes no input.
  HWND disabled = CreateWindowExA(WS_EX_RIGHT, "plain", "off", WS_CHILD | WS_DISABLED, 0, 0, 9, 9,
                                  top, nullptr, nullptr, nullptr);
  EXPECT_EQ(GetWindowLongA(disabled, GWL_EXSTYLE), WS_EX_RIGHT);
  EXPECT_FALSE(IsWindowEnabled(disabled));
  EXPECT_TRUE(IsWindowEnabled(top));
  auto created = window_system::WindowsOfClass("TRACED");
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0], top);
}

TEST_F(Windows, DestructionTakesChildrenFirstAndLeavesStaleHandles) {
  HWND top = Top("top");
  HWND a = Child(top, "a");
  HWND b = Child(top, "b");
  HWND a1 = Child(a, "a1");
  HMENU menu = GetMenu(top);
  trace.clear();
  window_system::ClearWindowEvents();
  ASSERT_TRUE(DestroyWindow(top));
  std::vector<std::string> expected{"a1:DESTROY", "a1:NCDESTROY", "a:DESTROY",   "a:NCDESTROY",
                                    "b:DESTROY",  "b:NCDESTROY",  "top:DESTROY", "top:NCDESTROY"};
  EXPECT_EQ(trace, expected);
  std::vector<HWND> destroyed;
  for (const auto& event : window_system::WindowEvents()) {
    if (event.kind == window_system::WindowEventKind::kDestroyed) destroyed.push_back(event.window);
  }
  EXPECT_EQ(destroyed, (std::vector<HWND>{a1, a, b, top}));
  for (HWND w : {top, a, b, a1}) EXPECT_FALSE(IsWindow(w));
  // Stale handles fail every call.
  RECT r;
  EXPECT_FALSE(GetWindowRect(a, &r));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(UpdateWindow(top));
  EXPECT_FALSE(DestroyWindow(top));
  EXPECT_EQ(SendMessageA(top, WM_USER, 0, 0), 0);
  EXPECT_FALSE(PostMessageA(top, WM_USER, 0, 0));
  EXPECT_EQ(EnableMenuItem(menu, 101, MF_GRAYED), -1);  // the menu went with its window
}

TEST_F(Windows, GeometryFollowsTheFrameModelAndTheMetrics) {
  window_system::SetSystemMetric(SM_CXFRAME, 3);
  HWND top = Top("top");
  HWND child = Child(top, "child");
  HWND bare =
      CreateWindowExA(0, "plain", "bare", WS_CHILD, 5, 6, 50, 40, child, nullptr, nullptr, nullptr);
  RECT r;
  ASSERT_TRUE(GetClientRect(top, &r));
  EXPECT_EQ(r.right, 300 - 2 * 3);
  EXPECT_EQ(r.bottom, 200 - 2 * 4 - 19 - 19);
  ASSERT_TRUE(GetWindowRect(child, &r));
  // Child at (0, 2) in the client area of a window at (10, 20): client origin (13, 62).
  EXPECT_EQ(r.left, 13);
  EXPECT_EQ(r.top, 64);
  EXPECT_EQ(r.right, 113);
  EXPECT_EQ(r.bottom, 144);
  ASSERT_TRUE(GetWindowRect(bare, &r));
  EXPECT_EQ(r.left, 13 + 3 + 5);
  EXPECT_EQ(r.top, 64 + 4 + 19 + 6);
  ASSERT_TRUE(GetClientRect(bare, &r));
  EXPECT_EQ(r.right, 50);
  EXPECT_EQ(r.bottom, 40);
  ASSERT_TRUE(GetClientRect(child, &r));
  EXPECT_EQ(r.right, 100 - 2 * 3);
  EXPECT_EQ(r.bottom, 80 - 2 * 4 - 19);

  trace.clear();
  ASSERT_TRUE(SetWindowPos(top, nullptr, 30, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
  ASSERT_TRUE(SetWindowPos(top, nullptr, 0, 0, 320, 200, SWP_NOMOVE | SWP_NOZORDER));
  ASSERT_TRUE(SetWindowPos(top, nullptr, 30, 40, 320, 200, SWP_NOZORDER));  // no change
  ASSERT_TRUE(MoveWindow(child, 1, 2, 100, 80, FALSE));
  std::vector<std::string> expected{"top:MOVE 33,82", "top:SIZE 0 314x154", "child:MOVE 4,25"};
  EXPECT_EQ(trace, expected);
  ASSERT_TRUE(GetWindowRect(top, &r));
  EXPECT_EQ(r.left, 30);
  EXPECT_EQ(r.right, 350);
  int moves = 0;
  for (const auto& event : window_system::WindowEvents()) {
    if (event.kind == window_system::WindowEventKind::kMoved && event.window == top) {
      ++moves;
      EXPECT_EQ(event.rect.left, 30);
    }
  }
  EXPECT_EQ(moves, 2);
  EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
  EXPECT_GT(GetSystemMetrics(SM_CYSCREEN), 0);
  EXPECT_EQ(GetSystemMetrics(SM_CXBORDER), 1);
  int screen = GetSystemMetrics(SM_CXSCREEN);
  window_system::SetSystemMetric(SM_CXSCREEN, 639);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 639);
  window_system::SetSystemMetric(SM_CXSCREEN, screen);
  window_system::SetSystemMetric(SM_CXFRAME, 4);
}

TEST_F(Windows, HitTestsAnswerFromTheWindowsGeometry) {
  HWND top = Top("top");  // (10, 20) to (310, 220), frame 4, caption 19, menu 19
  auto hit = [&](int x, int y) { return DefWindowProcA(top, WM_NCHITTEST, 0, MAKELPARAM(x, y)); };
  EXPECT_EQ(hit(11, 21), HTTOPLEFT);
  EXPECT_EQ(hit(150, 21), HTTOP);
  EXPECT_EQ(hit(308, 22), HTTOPRIGHT);
  EXPECT_EQ(hit(11, 100), HTLEFT);
  EXPECT_EQ(hit(309, 100), HTRIGHT);
  EXPECT_EQ(hit(10, 219), HTBOTTOMLEFT);
  EXPECT_EQ(hit(150, 217), HTBOTTOM);
  EXPECT_EQ(hit(307, 216), HTBOTTOMRIGHT);
  EXPECT_EQ(hit(150, 30), HTCAPTION);
  EXPECT_EQ(hit(150, 50), HTMENU);
  EXPECT_EQ(hit(150, 100), HTCLIENT);
  EXPECT_EQ(hit(5, 100), HTNOWHERE);
  // Without a sizing frame the edge is a plain border.
  HWND fixed = Top("fixed", WS_CAPTION | WS_SYSMENU);
  EXPECT_EQ(DefWindowProcA(fixed, WM_NCHITTEST, 0, MAKELPARAM(10, 100)), HTBORDER);
  EXPECT_EQ(DefWindowProcA(fixed, WM_NCHITTEST, 0, MAKELPARAM(11, 100)), HTCLIENT);
}

TEST_F(Windows, ShowingMinimisingAndPainting) {
  HWND top = Top("top");
  HWND child = Child(top, "child");
  EXPECT_FALSE(ShowWindow(child, SW_SHOW));  // was hidden
  EXPECT_FALSE(IsWindowVisible(child));      // its parent is still hidden
  trace.clear();
  // A hidden window has nothing to paint.
  EXPECT_TRUE(UpdateWindow(top));
  EXPECT_TRUE(trace.empty());
  EXPECT_FALSE(ShowWindow(top, SW_SHOWNORMAL));
  EXPECT_TRUE(ShowWindow(top, SW_SHOWNORMAL));
  EXPECT_TRUE(IsWindowVisible(child));
  EXPECT_TRUE(UpdateWindow(top));
  EXPECT_TRUE(UpdateWindow(top));  // painted and validated: no second paint
  EXPECT_EQ(trace, std::vector<std::string>{"top:PAINT"});
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  ASSERT_TRUE(platform::ReadWindowSurface(top, &pixels, &width, &height));
  EXPECT_EQ(width, 292);
  EXPECT_EQ(height, 154);
  InvalidateRect(top, nullptr, TRUE);
  UpdateWindow(top);
  EXPECT_EQ(trace.size(), 2u);
  // Invalid windows are painted, oldest first, before the message loop ends.
  EXPECT_TRUE(InvalidateRect(top, nullptr, TRUE));
  PostQuitMessage(0);
  MSG message;
  std::vector<HWND> painted;
  while (GetMessageA(&message, nullptr, 0, 0) == TRUE) {
    EXPECT_EQ(message.message, static_cast<UINT>(WM_PAINT));
    painted.push_back(message.hwnd);
    DispatchMessageA(&message);
  }
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(painted, (std::vector<HWND>{top, child}));
  EXPECT_FALSE(UpdateWindow(reinterpret_cast<HWND>(0x1234)));

  trace.clear();
  ASSERT_TRUE(CloseWindow(top));
  EXPECT_TRUE(IsIconic(top));
  EXPECT_TRUE(IsWindow(top));
  RECT r;
  GetClientRect(top, &r);
  EXPECT_EQ(r.right, 0);
  ASSERT_TRUE(OpenIcon(top));
  EXPECT_FALSE(IsIconic(top));
  EXPECT_EQ(trace, (std::vector<std::string>{"top:SIZE 1 0x0", "top:SIZE 0 292x154"}));
  ShowWindow(top, SW_SHOWMINIMIZED);
  EXPECT_TRUE(IsIconic(top));
  EXPECT_TRUE(GetWindowLongA(top, GWL_STYLE) & WS_MINIMIZE);

  std::vector<window_system::WindowEventKind> kinds;
  for (const auto& event : window_system::WindowEvents()) {
    if (event.window == top) kinds.push_back(event.kind);
  }
  using K = window_system::WindowEventKind;
  EXPECT_EQ(kinds,
            (std::vector<K>{K::kCreated, K::kShown, K::kMinimised, K::kRestored, K::kMinimised}));
  // The surface goes with the window.
  DestroyWindow(top);
  EXPECT_FALSE(platform::ReadWindowSurface(top, &pixels, &width, &height));
}

TEST_F(Windows, CloseRequestsGoThroughTheWindowProcedure) {
  HWND top = Top("top");
  closeAnswer = 1;
  DefWindowProcA(top, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(IsWindow(top));  // the procedure refused
  closeAnswer = 0;
  DefWindowProcA(top, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(IsWindow(top));
  EXPECT_EQ(trace.back(), "top:NCDESTROY");
}

TEST_F(Windows, MenuItemsKeepTheirStateAndTheChangesAreLogged) {
  HWND top = Top("top");
  HMENU menu = GetMenu(top);
  window_system::ClearWindowEvents();
  EXPECT_EQ(EnableMenuItem(menu, 101, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED), MF_ENABLED);
  EXPECT_EQ(EnableMenuItem(menu, 101, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED),
            MF_GRAYED | MF_DISABLED);
  EXPECT_EQ(GetMenuState(menu, 101, MF_BYCOMMAND), static_cast<UINT>(MF_GRAYED | MF_DISABLED));
  EXPECT_EQ(EnableMenuItem(menu, 101, MF_BYCOMMAND | MF_ENABLED), MF_GRAYED | MF_DISABLED);
  EXPECT_EQ(EnableMenuItem(menu, 999, MF_GRAYED), -1);
  EXPECT_EQ(GetMenuState(menu, 999, MF_BYCOMMAND), 0xFFFFFFFFu);
  EXPECT_EQ(GetMenuState(menu, 1, MF_BYPOSITION), static_cast<UINT>(MF_POPUP | (1 << 8)));
  auto events = window_system::WindowEvents();
  ASSERT_EQ(events.size(), 2u);  // the repeated greying changed nothing
  EXPECT_EQ(events[0].kind, window_system::WindowEventKind::kMenuItem);
  EXPECT_EQ(events[0].window, top);
  EXPECT_EQ(events[0].item, 101u);
  EXPECT_EQ(events[0].flags, static_cast<UINT>(MF_GRAYED | MF_DISABLED));
  EXPECT_EQ(events[1].flags, static_cast<UINT>(MF_ENABLED));
  // By position: the pop-ups of the bar.
  EXPECT_EQ(EnableMenuItem(menu, 1, MF_BYPOSITION | MF_GRAYED), MF_ENABLED);
  EXPECT_EQ(GetMenuState(menu, 1, MF_BYPOSITION) & MF_GRAYED, static_cast<UINT>(MF_GRAYED));
  // Two windows of the class get menus of their own.
  HWND other = Top("other");
  EXPECT_NE(GetMenu(other), menu);
  EXPECT_EQ(GetMenuState(GetMenu(other), 101, MF_BYCOMMAND), static_cast<UINT>(MF_ENABLED));
}

TEST_F(Windows, ResourcesTheProgramLacksGiveNull) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
  EXPECT_EQ(LoadIconA(instance, "id_icon2"), nullptr);
  EXPECT_NE(LoadIconA(instance, MAKEINTRESOURCEA(140)), nullptr);
  EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
  EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(LoadMenuA(instance, "noSuchMenu"), nullptr);
  EXPECT_NE(LoadMenuA(instance, "testmenu"), nullptr);
}

}  // namespace
