// Windows of the headless backend: classes, creation and destruction, geometry with a simple
// frame model (borders, caption bar, menu bar from the screen metrics), visibility, text,
// hit-testing and the default window procedure.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/headless/state.h"
#include "platform/surface.h"
#include "platform/threads.h"
#include "platform/window_frame.h"

namespace headless {
namespace internal {

State& S() {
  static State* state = new State;
  return *state;
}

Window* FindWindowLocked(HWND window) {
  if (!window) return nullptr;
  return S().windows.Find(window);
}

void LogEventLocked(WindowEventKind kind, const Window& window, UINT item, UINT flags) {
  S().events.push_back(
      {kind, window.handle, window.className, window.text, window.rect, item, flags, Now()});
}

namespace {

int Metric(int index) {
  auto& metrics = S().metrics;
  auto it = metrics.find(index);
  if (it != metrics.end()) return it->second;
  switch (index) {
    case SM_CXSCREEN:
      return 1024;
    case SM_CYSCREEN:
      return 768;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return 1;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return 4;
    case SM_CYCAPTION:
    case SM_CYMENU:
      return 19;
    default:
      return 0;
  }
}

platform::FrameShape ShapeOf(const Window& window) {
  return {window.style, window.exStyle, window.menu != nullptr};
}

LONG Width(const RECT& r) {
  return r.right - r.left;
}
LONG Height(const RECT& r) {
  return r.bottom - r.top;
}

}  // namespace

RECT ClientAreaLocked(const Window& window) {
  return platform::FrameClientArea(ShapeOf(window), platform::ReadFrameMetrics(Metric),
                                   Width(window.rect), Height(window.rect));
}

// The outer rectangle in screen coordinates.
static RECT ScreenRectLocked(const Window& window) {
  RECT r = window.rect;
  if (!(window.style & WS_CHILD)) return r;  // an owned pop-up stands on the screen
  if (Window* parent = FindWindowLocked(window.parent)) {
    POINT origin = ClientOriginLocked(*parent);
    r.left += origin.x;
    r.right += origin.x;
    r.top += origin.y;
    r.bottom += origin.y;
  }
  return r;
}

bool VisibleLocked(const Window& window) {
  for (const Window* w = &window; w; w = FindWindowLocked(w->parent)) {
    if (!(w->style & WS_VISIBLE)) return false;
    if (!(w->style & WS_CHILD)) break;  // an owner's visibility does not matter
  }
  return true;
}

bool TakesInputLocked(const Window& window) {
  for (const Window* w = &window; w; w = FindWindowLocked(w->parent)) {
    if (w->style & WS_DISABLED) return false;
    if (!(w->style & WS_CHILD)) break;  // an owner's state does not matter
  }
  return true;
}

POINT ClientOriginLocked(const Window& window) {
  RECT screen = ScreenRectLocked(window);
  RECT area = ClientAreaLocked(window);
  return {screen.left + area.left, screen.top + area.top};
}

}  // namespace internal

using namespace internal;

std::vector<WindowEvent> WindowEvents() {
  std::lock_guard lock(S().mutex);
  return S().events;
}

void ClearWindowEvents() {
  std::lock_guard lock(S().mutex);
  S().events.clear();
}

std::vector<HWND> WindowsOfClass(const std::string& className) {
  std::lock_guard lock(S().mutex);
  std::vector<std::pair<uint64_t, HWND>> found;
  S().windows.ForEach([&](uint64_t value, const Window& window) {
    if (strcasecmp(window.className.c_str(), className.c_str()) == 0) {
      found.emplace_back(value, window.handle);
    }
  });
  std::sort(found.begin(), found.end());
  std::vector<HWND> result;
  for (auto& [value, handle] : found) result.push_back(handle);
  return result;
}

void SetSystemMetric(int index, int value) {
  std::lock_guard lock(S().mutex);
  S().metrics[index] = value;
}

}  // namespace headless

using namespace headless;
using namespace headless::internal;

namespace {

// Under the lock: the window or null with ERROR_INVALID_WINDOW_HANDLE.
Window* CheckedLocked(HWND handle) {
  Window* window = FindWindowLocked(handle);
  if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

std::string LowerName(LPCSTR name) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Client size of a window as WM_SIZE carries it.
LPARAM ClientSizeParam(const Window& window) {
  if (window.style & WS_MINIMIZE) return 0;
  RECT area = ClientAreaLocked(window);
  return MAKELPARAM(area.right - area.left, area.bottom - area.top);
}

// Client origin in the parent's client coordinates (screen ones for top-level windows).
LPARAM ClientOriginParam(const Window& window) {
  RECT area = ClientAreaLocked(window);
  return MAKELPARAM(window.rect.left + area.left, window.rect.top + area.top);
}

// Changes visibility; sends WM_SHOWWINDOW and logs when it changes. Gives the old state.
bool SetVisible(HWND handle, bool visible) {
  bool was;
  {
    std::lock_guard lock(S().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return false;
    was = (window->style & WS_VISIBLE) != 0;
    if (was == visible) return was;
  }
  CallProcedure(handle, WM_SHOWWINDOW, visible ? TRUE : FALSE, 0);
  std::lock_guard lock(S().mutex);
  Window* window = FindWindowLocked(handle);
  if (!window) return was;
  if (visible) {
    window->style |= WS_VISIBLE;
    window->needsPaint = true;
    LogEventLocked(WindowEventKind::kShown, *window);
  } else {
    window->style &= ~WS_VISIBLE;
    LogEventLocked(WindowEventKind::kHidden, *window);
  }
  WakeAllLocked();
  return was;
}

// Minimises or restores; sends WM_SIZE as the platform does.
void SetMinimised(HWND handle, bool minimised) {
  LPARAM size;
  {
    std::lock_guard lock(S().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return;
    bool was = (window->style & WS_MINIMIZE) != 0;
    if (was == minimised) return;
    if (minimised) {
      window->style |= WS_MINIMIZE;
    } else {
      window->style &= ~WS_MINIMIZE;
      window->needsPaint = true;
    }
    LogEventLocked(minimised ? WindowEventKind::kMinimised : WindowEventKind::kRestored, *window);
    size = ClientSizeParam(*window);
  }
  CallProcedure(handle, WM_SIZE, minimised ? 1 /* SIZE_MINIMIZED */ : 0 /* SIZE_RESTORED */, size);
}

// Destroys one window after its children; the caller checked the thread.
void DestroyTree(HWND handle) {
  std::vector<HWND> children;
  {
    std::lock_guard lock(S().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window || window->destroying) return;
    window->destroying = true;
    children = window->children;
    if (window->style & WS_VISIBLE) {
      window->style &= ~WS_VISIBLE;
      LogEventLocked(WindowEventKind::kHidden, *window);
    }
  }
  for (auto it = children.begin(); it != children.end(); ++it) DestroyTree(*it);
  CallProcedure(handle, WM_DESTROY, 0, 0);
  CallProcedure(handle, WM_NCDESTROY, 0, 0);
  std::unique_ptr<Window> gone;
  {
    std::lock_guard lock(S().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return;
    LogEventLocked(WindowEventKind::kDestroyed, *window);
    if (Window* parent = FindWindowLocked(window->parent)) {
      auto& siblings = parent->children;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), handle), siblings.end());
    }
    if (window->menu) DestroyMenuLocked(window->menu);
    auto& timers = S().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.window == handle; }),
                 timers.end());
    gone = S().windows.Remove(handle);
    WakeAllLocked();
  }
  platform::DropWindowSurface(handle);
}

// Moves and sizes a window; sends WM_MOVE and WM_SIZE for what changed.
bool Reposition(HWND handle, int x, int y, int width, int height, UINT flags) {
  bool moved = false, sized = false;
  LPARAM origin = 0, size = 0;
  {
    std::lock_guard lock(S().mutex);
    Window* window = CheckedLocked(handle);
    if (!window) return false;
    RECT r = window->rect;
    if (!(flags & SWP_NOMOVE)) {
      r.right = x + (r.right - r.left);
      r.bottom = y + (r.bottom - r.top);
      r.left = x;
      r.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      r.right = r.left + std::max(width, 0);
      r.bottom = r.top + std::max(height, 0);
    }
    moved = r.left != window->rect.left || r.top != window->rect.top;
    sized = Width(r) != Width(window->rect) || Height(r) != Height(window->rect);
    window->rect = r;
    if (moved || sized) {
      LogEventLocked(WindowEventKind::kMoved, *window);
      if (sized) window->needsPaint = true;
    }
    origin = ClientOriginParam(*window);
    size = ClientSizeParam(*window);
  }
  if (sized) CallProcedure(handle, WM_SIZE, 0, size);
  if (moved) CallProcedure(handle, WM_MOVE, 0, origin);
  if (flags & SWP_SHOWWINDOW) SetVisible(handle, true);
  if (flags & SWP_HIDEWINDOW) SetVisible(handle, false);
  return true;
}

// Whether the calling thread may change the window (its own thread only).
bool OwnedByCaller(HWND handle) {
  std::lock_guard lock(S().mutex);
  Window* window = CheckedLocked(handle);
  if (!window) return false;
  if (window->thread != std::this_thread::get_id()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

}  // namespace

LRESULT headless::internal::CallProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure;
  {
    std::lock_guard lock(S().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return 0;
    procedure = window->procedure;
  }
  return procedure ? procedure(handle, message, wParam, lParam) : 0;
}

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc ||
      IS_INTRESOURCE(windowClass->lpszClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard lock(S().mutex);
  std::string key = LowerName(windowClass->lpszClassName);
  if (S().classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  WindowClass entry;
  entry.name = windowClass->lpszClassName;
  entry.atom = S().nextAtom++;
  entry.record = *windowClass;
  if (windowClass->lpszMenuName) {
    if (IS_INTRESOURCE(windowClass->lpszMenuName)) {
      entry.integerMenu = true;
    } else {
      entry.menuName = windowClass->lpszMenuName;
    }
  }
  entry.record.lpszClassName = nullptr;  // the copies above stay; the caller's text may not
  entry.record.lpszMenuName = nullptr;
  ATOM atom = entry.atom;
  S().classes.emplace(key, std::move(entry));
  return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  if (!className || IS_INTRESOURCE(className)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(S().mutex);
  std::string key = LowerName(className);
  auto it = S().classes.find(key);
  if (it == S().classes.end()) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  bool inUse = false;
  S().windows.ForEach([&](uint64_t, const Window& w) {
    if (LowerName(w.className.c_str()) == key) inUse = true;
  });
  if (inUse) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  S().classes.erase(it);
  return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  if (!className || IS_INTRESOURCE(className)) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  std::string menuName;
  HWND handle;
  CREATESTRUCTA create{};
  {
    std::lock_guard lock(S().mutex);
    auto it = S().classes.find(LowerName(className));
    if (it == S().classes.end()) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (parent && !FindWindowLocked(parent)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    if ((style & WS_CHILD) && !parent) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    bool child = (style & WS_CHILD) != 0;
    if (!child && menu && !S().menus.Find(menu)) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return nullptr;
    }
    const WindowClass& windowClass = it->second;
    auto window = std::make_unique<Window>();
    window->className = windowClass.name;
    window->procedure = windowClass.record.lpfnWndProc;
    window->style = style & ~(WS_VISIBLE | WS_MINIMIZE);
    window->exStyle = exStyle;
    window->text = windowName ? windowName : "";
    window->parent = parent;
    window->thread = std::this_thread::get_id();
    if (x == CW_USEDEFAULT) x = y = 0;
    if (width == CW_USEDEFAULT) {
      width = Metric(SM_CXSCREEN) / 2;
      height = Metric(SM_CYSCREEN) / 2;
    }
    window->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
    if (child) {
      window->id = static_cast<int>(reinterpret_cast<UINT_PTR>(menu));
    } else {
      window->menu = menu;
      if (!menu) menuName = windowClass.menuName;
    }
    create = {param, instance, child ? nullptr : menu,   parent,     height,    width,
              y,     x,        static_cast<LONG>(style), windowName, className, exStyle};
    handle = S().windows.Add<HWND>(std::move(window));
    S().windows.Find(handle)->handle = handle;
    if (Window* p = FindWindowLocked(parent)) p->children.push_back(handle);
    OwnQueueLocked();
  }
  if (!menuName.empty()) {
    HMENU classMenu = LoadMenuA(instance, menuName.c_str());
    std::lock_guard lock(S().mutex);
    Window* window = FindWindowLocked(handle);
    if (window && classMenu) {
      window->menu = classMenu;
      create.hMenu = classMenu;
    }
  }
  {
    std::lock_guard lock(S().mutex);
    Window* window = FindWindowLocked(handle);
    if (window && window->menu) {
      if (Menu* m = S().menus.Find(window->menu)) m->owner = handle;
    }
  }
  if (!CallProcedure(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
    CallProcedure(handle, WM_NCDESTROY, 0, 0);
    std::lock_guard lock(S().mutex);
    if (Window* p = FindWindowLocked(parent)) {
      p->children.erase(std::remove(p->children.begin(), p->children.end(), handle),
                        p->children.end());
    }
    if (Window* window = FindWindowLocked(handle); window && window->menu) {
      DestroyMenuLocked(window->menu);
    }
    S().windows.Remove(handle);
    SetLastError(ERROR_SUCCESS);
    return nullptr;
  }
  if (CallProcedure(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyTree(handle);
    SetLastError(ERROR_SUCCESS);
    return nullptr;
  }
  LPARAM size, origin;
  {
    std::lock_guard lock(S().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return nullptr;
    LogEventLocked(WindowEventKind::kCreated, *window);
    size = ClientSizeParam(*window);
    origin = ClientOriginParam(*window);
  }
  CallProcedure(handle, WM_SIZE, 0, size);
  CallProcedure(handle, WM_MOVE, 0, origin);
  if (style & WS_MINIMIZE) SetMinimised(handle, true);
  if (style & WS_VISIBLE) SetVisible(handle, true);
  return IsWindow(handle) ? handle : nullptr;
}

BOOL DestroyWindow(HWND window) {
  if (!OwnedByCaller(window)) return FALSE;
  DestroyTree(window);
  return TRUE;
}

BOOL IsWindow(HWND window) {
  std::lock_guard lock(S().mutex);
  return FindWindowLocked(window) != nullptr;
}

BOOL IsWindowVisible(HWND handle) {
  std::lock_guard lock(S().mutex);
  Window* window = FindWindowLocked(handle);
  return window && VisibleLocked(*window);
}

BOOL IsWindowEnabled(HWND handle) {
  std::lock_guard lock(S().mutex);
  Window* window = FindWindowLocked(handle);
  return window && !(window->style & WS_DISABLED);
}

BOOL IsIconic(HWND handle) {
  std::lock_guard lock(S().mutex);
  Window* window = FindWindowLocked(handle);
  return window && (window->style & WS_MINIMIZE);
}

BOOL EnableWindow(HWND handle, BOOL enable) {
  std::lock_guard lock(S().mutex);
  Window* window = CheckedLocked(handle);
  if (!window) return FALSE;
  BOOL wasDisabled = (window->style & WS_DISABLED) ? TRUE : FALSE;
  if (enable) {
    window->style &= ~WS_DISABLED;
  } else {
    window->style |= WS_DISABLED;
  }
  return wasDisabled;
}

BOOL ShowWindow(HWND window, int command) {
  bool was;
  {
    std::lock_guard lock(S().mutex);
    Window* w = CheckedLocked(window);
    if (!w) return FALSE;
    was = (w->style & WS_VISIBLE) != 0;
  }
  switch (command) {
    case SW_HIDE:
      SetVisible(window, false);
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
      SetMinimised(window, true);
      SetVisible(window, true);
      break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWMAXIMIZED:
    case SW_SHOWDEFAULT:
      SetMinimised(window, false);
      SetVisible(window, true);
      break;
    case SW_SHOW:
    case SW_SHOWNOACTIVATE:
    case SW_SHOWNA:
      SetVisible(window, true);
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return was;
  }
  return was ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND handle) {
  bool paint;
  {
    std::lock_guard lock(S().mutex);
    Window* window = CheckedLocked(handle);
    if (!window) return FALSE;
    paint = window->needsPaint && VisibleLocked(*window) && !(window->style & WS_MINIMIZE);
  }
  if (paint) CallProcedure(handle, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL InvalidateRect(HWND handle, const RECT*, BOOL) {
  std::lock_guard lock(S().mutex);
  if (!handle) {
    // Every window of the calling thread.
    S().windows.ForEach([&](uint64_t, const Window& w) {
      if (w.thread == std::this_thread::get_id()) const_cast<Window&>(w).needsPaint = true;
    });
    WakeAllLocked();
    return TRUE;
  }
  Window* window = CheckedLocked(handle);
  if (!window) return FALSE;
  window->needsPaint = true;
  WakeAllLocked();
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags) {
  return Reposition(window, x, y, width, height, flags) ? TRUE : FALSE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  if (!Reposition(window, x, y, width, height, SWP_NOZORDER)) return FALSE;
  if (repaint) InvalidateRect(window, nullptr, TRUE);
  return TRUE;
}

BOOL CloseWindow(HWND window) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  SetMinimised(window, true);
  return TRUE;
}

BOOL OpenIcon(HWND window) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  SetMinimised(window, false);
  SetVisible(window, true);
  return TRUE;
}

BOOL GetWindowRect(HWND handle, RECT* rect) {
  std::lock_guard lock(S().mutex);
  Window* window = CheckedLocked(handle);
  if (!window || !rect) return FALSE;
  *rect = ScreenRectLocked(*window);
  return TRUE;
}

BOOL GetClientRect(HWND handle, RECT* rect) {
  std::lock_guard lock(S().mutex);
  Window* window = CheckedLocked(handle);
  if (!window || !rect) return FALSE;
  if (window->style & WS_MINIMIZE) {
    *rect = {0, 0, 0, 0};
    return TRUE;
  }
  RECT area = ClientAreaLocked(*window);
  *rect = {0, 0, area.right - area.left, area.bottom - area.top};
  return TRUE;
}

HWND GetParent(HWND handle) {
  std::lock_guard lock(S().mutex);
  Window* window = CheckedLocked(handle);
  if (!window) return nullptr;
  // A child's parent, or a pop-up's owner.
  return (window->style & (WS_CHILD | WS_POPUP)) ? window->parent : nullptr;
}

int GetWindowTextA(HWND handle, LPSTR text, int maxCount) {
  std::lock_guard lock(S().mutex);
  Window* window = CheckedLocked(handle);
  if (!window || !text || maxCount <= 0) {
    if (text && maxCount > 0) text[0] = '\0';
    return 0;
  }
  size_t count = std::min(window->text.size(), static_cast<size_t>(maxCount - 1));
  window->text.copy(text, count);
  text[count] = '\0';
  return static_cast<int>(count);
}

BOOL SetWindowTextA(HWND handle, LPCSTR text) {
  std::lock_guard lock(S().mutex);
  Window* window = CheckedLocked(handle);
  if (!window) return FALSE;
  window->text = text ? text : "";
  window->needsPaint = true;
  LogEventLocked(WindowEventKind::kTextChanged, *window);
  return TRUE;
}

LONG GetWindowLongA(HWND handle, int index) {
  std::lock_guard lock(S().mutex);
  Window* window = CheckedLocked(handle);
  if (!window) return 0;
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG>(window->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(window->exStyle);
    case GWL_ID:
      return window->id;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

int GetSystemMetrics(int index) {
  std::lock_guard lock(S().mutex);
  return Metric(index);
}

LRESULT DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(handle);
      return 0;
    case WM_PAINT: {
      std::lock_guard lock(S().mutex);
      if (Window* window = FindWindowLocked(handle)) window->needsPaint = false;
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE:
          SendMessageA(handle, WM_CLOSE, 0, 0);
          break;
        case SC_MINIMIZE:
          CloseWindow(handle);
          break;
        case SC_RESTORE:
          OpenIcon(handle);
          break;
      }
      return 0;
    case WM_NCHITTEST: {
      std::lock_guard lock(S().mutex);
      Window* window = FindWindowLocked(handle);
      if (!window) return HTNOWHERE;
      return platform::FrameHitTest(ShapeOf(*window), platform::ReadFrameMetrics(Metric),
                                    ScreenRectLocked(*window), static_cast<int16_t>(LOWORD(lParam)),
                                    static_cast<int16_t>(HIWORD(lParam)));
    }
    default:
      return 0;
  }
}
