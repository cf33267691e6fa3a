// Windows of the window system: classes, creation and destruction, geometry with the frame
// model (borders, caption bar, menu bar from the screen metrics), visibility, text,
// hit-testing and the default window procedure. Every change reaches the window's peer on
// the display's thread; a change asked for on another thread is carried out there while the
// caller waits, as the platform does with the messages such calls send.
#include <strings.h>

#include <algorithm>
#include <cctype>

#include "platform/gdi.h"
#include "platform/surface.h"
#include "platform/threads.h"
#include "platform/window_frame.h"
#include "platform/window_system/model.h"

namespace window_system {

Model& M() {
  static Model* model = new Model;
  return *model;
}

Window* FindWindowLocked(HWND window) {
  if (!window) return nullptr;
  return M().windows.Find(window);
}

Window* CheckedLocked(HWND handle) {
  Window* window = FindWindowLocked(handle);
  if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

bool WindowExists(HWND window) {
  std::lock_guard lock(M().mutex);
  return CheckedLocked(window) != nullptr;
}

void LogEventLocked(WindowEventKind kind, const Window& window, UINT item, UINT flags) {
  M().events.push_back({kind, window.handle, window.className, window.text, window.rect, item,
                        flags, display::Now()});
}

namespace {

// Metrics a test set; guarded by their own mutex so that Metric needs no other lock.
std::mutex metricsMutex;
std::map<int, int> metricOverrides;

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

int Metric(int index) {
  {
    std::lock_guard lock(metricsMutex);
    auto it = metricOverrides.find(index);
    if (it != metricOverrides.end()) return it->second;
  }
  switch (index) {
    case SM_CXSCREEN:
    case SM_CYSCREEN: {
      int width = 0, height = 0;
      display::ScreenSize(&width, &height);
      return index == SM_CXSCREEN ? width : height;
    }
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

void SetSystemMetric(int index, int value) {
  std::lock_guard lock(metricsMutex);
  metricOverrides[index] = value;
}

RECT ClientAreaLocked(const Window& window) {
  return platform::FrameClientArea(ShapeOf(window), platform::ReadFrameMetrics(Metric),
                                   Width(window.rect), Height(window.rect));
}

RECT ClientRectLocked(const Window& window) {
  RECT area = ClientAreaLocked(window);
  return {0, 0, Width(area), Height(area)};
}

RECT ScreenRectLocked(const Window& window) {
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

POINT ClientOriginLocked(const Window& window) {
  RECT screen = ScreenRectLocked(window);
  RECT area = ClientAreaLocked(window);
  return {screen.left + area.left, screen.top + area.top};
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

LRESULT CallProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return 0;
    procedure = window->procedure;
  }
  return procedure ? procedure(handle, message, wParam, lParam) : 0;
}

std::vector<WindowEvent> WindowEvents() {
  std::lock_guard lock(M().mutex);
  return M().events;
}

void ClearWindowEvents() {
  std::lock_guard lock(M().mutex);
  M().events.clear();
}

std::vector<HWND> WindowsOfClass(const std::string& className) {
  std::lock_guard lock(M().mutex);
  std::vector<HWND> found;
  M().windows.ForEach([&](uint64_t, const Window& window) {
    if (strcasecmp(window.className.c_str(), className.c_str()) == 0) {
      found.push_back(window.handle);
    }
  });
  std::ranges::sort(found);  // handle values grow with every window made: oldest first
  return found;
}

namespace {

std::string LowerName(LPCSTR name) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Client size of a window as WM_SIZE carries it.
LPARAM ClientSizeParam(const Window& window) {
  if (window.style & WS_MINIMIZE) return 0;
  RECT area = ClientRectLocked(window);
  return MAKELPARAM(area.right, area.bottom);
}

// Client origin in the parent's client coordinates (screen ones for top-level windows).
LPARAM ClientOriginParam(const Window& window) {
  RECT area = ClientAreaLocked(window);
  return MAKELPARAM(window.rect.left + area.left, window.rect.top + area.top);
}

// Carries out `change` of `window` on the display's thread: at once there, else while the
// caller waits (FALSE with ERROR_NOT_SUPPORTED when there is no display thread).
template <typename F>
BOOL OnDisplayThread(HWND window, F&& change) {
  if (display::OnDisplayThread()) return change();
  BOOL result = FALSE;
  if (!display::RunOnThreadOf(window, [&] { result = change(); })) {
    SetLastError(ERROR_NOT_SUPPORTED);
  }
  return result;
}

// Changes visibility; sends WM_SHOWWINDOW when it changes. Gives the old state.
bool SetVisible(HWND handle, bool visible) {
  bool was;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return false;
    was = (window->style & WS_VISIBLE) != 0;
    if (was == visible) return was;
  }
  CallProcedure(handle, WM_SHOWWINDOW, visible ? TRUE : FALSE, 0);
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return was;
    if (visible) {
      window->style |= WS_VISIBLE;
      window->needsPaint = window->needsErase = true;
      LogEventLocked(WindowEventKind::kShown, *window);
    } else {
      window->style &= ~WS_VISIBLE;
      LogEventLocked(WindowEventKind::kHidden, *window);
    }
    WakeAllLocked();
  }
  display::ShowWindowState(handle);
  return was;
}

// Minimises or restores; sends WM_SIZE as the platform does.
void SetMinimised(HWND handle, bool minimised) {
  LPARAM size;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return;
    bool was = (window->style & WS_MINIMIZE) != 0;
    if (was == minimised) return;
    if (minimised) {
      window->style |= WS_MINIMIZE;
    } else {
      window->style &= ~WS_MINIMIZE;
      window->needsPaint = window->needsErase = true;
    }
    LogEventLocked(minimised ? WindowEventKind::kMinimised : WindowEventKind::kRestored, *window);
    size = ClientSizeParam(*window);
  }
  display::ShowWindowState(handle);
  CallProcedure(handle, WM_SIZE, minimised ? SIZE_MINIMIZED : SIZE_RESTORED, size);
}

// Takes a window that had its last message out of the model (logging kDestroyed when
// `logged`): out of its parent's children, with its menu and timers. Then the display and
// the drawing services forget it.
void RemoveWindow(HWND handle, bool logged) {
  std::unique_ptr<Window> gone;  // let go of once the lock is released
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return;
    if (logged) LogEventLocked(WindowEventKind::kDestroyed, *window);
    if (Window* parent = FindWindowLocked(window->parent)) std::erase(parent->children, handle);
    if (window->menu) DestroyMenuLocked(window->menu);
    std::erase_if(M().timers, [&](const Timer& timer) { return timer.window == handle; });
    gone = M().windows.Remove(handle);
  }
  display::ForgetWindow(handle);
  platform::DropWindowSurface(handle);
  std::lock_guard lock(M().mutex);
  WakeAllLocked();
}

// Destroys one window after its children; the caller checked the thread.
void DestroyTree(HWND handle) {
  std::vector<HWND> children;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window || window->destroying) return;
    window->destroying = true;
    children = window->children;
    if (window->style & WS_VISIBLE) {
      window->style &= ~WS_VISIBLE;
      LogEventLocked(WindowEventKind::kHidden, *window);
    }
  }
  display::ShowWindowState(handle);
  for (HWND child : children) DestroyTree(child);
  CallProcedure(handle, WM_DESTROY, 0, 0);
  CallProcedure(handle, WM_NCDESTROY, 0, 0);
  display::DropPeer(handle);
  RemoveWindow(handle, true);
}

// Under the lock: moves the window to `r`; tells whether it moved and whether it changed
// size, and gives the WM_MOVE and WM_SIZE parameters.
void PlaceLocked(Window& window, const RECT& r, bool* moved, bool* sized, LPARAM* origin,
                 LPARAM* size) {
  *moved = r.left != window.rect.left || r.top != window.rect.top;
  *sized = Width(r) != Width(window.rect) || Height(r) != Height(window.rect);
  window.rect = r;
  if (*moved || *sized) LogEventLocked(WindowEventKind::kMoved, window);
  if (*sized) window.needsPaint = window.needsErase = true;
  *origin = ClientOriginParam(window);
  *size = ClientSizeParam(window);
}

// Moves and sizes a window; sends WM_SIZE and WM_MOVE for what changed.
bool Reposition(HWND handle, int x, int y, int width, int height, UINT flags) {
  bool moved = false, sized = false;
  LPARAM origin = 0, size = 0;
  {
    std::lock_guard lock(M().mutex);
    Window* window = CheckedLocked(handle);
    if (!window) return false;
    RECT r = window->rect;
    if (!(flags & SWP_NOMOVE)) r = {x, y, x + Width(r), y + Height(r)};
    if (!(flags & SWP_NOSIZE)) {
      r.right = r.left + std::max(width, 0);
      r.bottom = r.top + std::max(height, 0);
    }
    PlaceLocked(*window, r, &moved, &sized, &origin, &size);
  }
  if (moved || sized) display::ShowWindowState(handle);
  if (sized) CallProcedure(handle, WM_SIZE, SIZE_RESTORED, size);
  if (moved) CallProcedure(handle, WM_MOVE, 0, origin);
  if (flags & SWP_SHOWWINDOW) SetVisible(handle, true);
  if (flags & SWP_HIDEWINDOW) SetVisible(handle, false);
  return true;
}

}  // namespace

void NoteUserGeometry(HWND handle, int x, int y, int width, int height) {
  bool moved, sized;
  LPARAM origin, size;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return;
    PlaceLocked(*window, {x, y, x + width, y + height}, &moved, &sized, &origin, &size);
    if (moved || sized) WakeAllLocked();
  }
  if (sized) {
    display::ShowWindowState(handle);
    CallProcedure(handle, WM_SIZE, SIZE_RESTORED, size);
  }
  if (moved) CallProcedure(handle, WM_MOVE, 0, origin);
}

void NoteUserMinimised(HWND handle, bool minimised) {
  SetMinimised(handle, minimised);
}

}  // namespace window_system

using namespace window_system;

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc ||
      IS_INTRESOURCE(windowClass->lpszClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard lock(M().mutex);
  std::string key = LowerName(windowClass->lpszClassName);
  if (M().classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  WindowClass entry;
  entry.name = windowClass->lpszClassName;
  entry.atom = M().nextAtom++;
  entry.record = *windowClass;
  // Menus of the program are named by text; a numbered class menu finds none.
  if (windowClass->lpszMenuName && !IS_INTRESOURCE(windowClass->lpszMenuName)) {
    entry.menuName = windowClass->lpszMenuName;
  }
  entry.record.lpszClassName = nullptr;  // the copies above stay; the caller's text may not
  entry.record.lpszMenuName = nullptr;
  ATOM atom = entry.atom;
  M().classes.emplace(key, std::move(entry));
  return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  if (!className || IS_INTRESOURCE(className)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(M().mutex);
  std::string key = LowerName(className);
  auto it = M().classes.find(key);
  if (it == M().classes.end()) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  bool inUse = false;
  M().windows.ForEach([&](uint64_t, const Window& w) {
    if (LowerName(w.className.c_str()) == key) inUse = true;
  });
  if (inUse) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  M().classes.erase(it);
  return TRUE;
}

// A display whose native objects live on one thread refuses a window asked for on any
// other thread with ERROR_NOT_SUPPORTED.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  if (!className || IS_INTRESOURCE(className)) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  if (!display::MayCreateWindows()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  std::string menuName;
  HWND handle;
  CREATESTRUCTA create{};
  {
    std::lock_guard lock(M().mutex);
    auto it = M().classes.find(LowerName(className));
    if (it == M().classes.end()) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (parent && !CheckedLocked(parent)) return nullptr;
    if ((style & WS_CHILD) && !parent) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    bool child = (style & WS_CHILD) != 0;
    if (!child && menu && !M().menus.Find(menu)) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return nullptr;
    }
    const WindowClass& windowClass = it->second;
    auto window = std::make_unique<Window>();
    window->className = windowClass.name;
    window->procedure = windowClass.record.lpfnWndProc;
    window->background = windowClass.record.hbrBackground;
    window->style = style & ~(WS_VISIBLE | WS_MINIMIZE);
    window->exStyle = exStyle;
    window->text = windowName ? windowName : "";
    window->parent = parent;
    window->thread = std::this_thread::get_id();
    window->peer = display::NewPeer();
    if (x == CW_USEDEFAULT) x = y = 0;
    if (width == CW_USEDEFAULT) {
      width = Metric(SM_CXSCREEN) / 2;
      height = Metric(SM_CYSCREEN) / 2;
    }
    window->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
    window->needsPaint = window->needsErase = true;
    if (child) {
      window->id = static_cast<int>(reinterpret_cast<UINT_PTR>(menu));
    } else {
      window->menu = menu;
      if (!menu) menuName = windowClass.menuName;
    }
    create = {param, instance, child ? nullptr : menu,   parent,     height,    width,
              y,     x,        static_cast<LONG>(style), windowName, className, exStyle};
    handle = M().windows.Add<HWND>(std::move(window));
    M().windows.Find(handle)->handle = handle;
    if (Window* p = FindWindowLocked(parent)) p->children.push_back(handle);
    OwnQueueLocked();
  }
  HMENU classMenu = menuName.empty() ? nullptr : LoadMenuA(instance, menuName.c_str());
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (window && classMenu) {
      window->menu = classMenu;
      create.hMenu = classMenu;
    }
    if (Menu* m = window ? M().menus.Find(window->menu) : nullptr) m->owner = handle;
  }
  display::ShowWindowState(handle);
  if (!CallProcedure(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
    CallProcedure(handle, WM_NCDESTROY, 0, 0);
    display::DropPeer(handle);
    RemoveWindow(handle, false);
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
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return nullptr;
    LogEventLocked(WindowEventKind::kCreated, *window);
    size = ClientSizeParam(*window);
    origin = ClientOriginParam(*window);
  }
  CallProcedure(handle, WM_SIZE, SIZE_RESTORED, size);
  CallProcedure(handle, WM_MOVE, 0, origin);
  if (style & WS_MINIMIZE) SetMinimised(handle, true);
  if (style & WS_VISIBLE) SetVisible(handle, true);
  return IsWindow(handle) ? handle : nullptr;
}

// Only the window's own thread may destroy it (ERROR_ACCESS_DENIED otherwise).
BOOL DestroyWindow(HWND window) {
  {
    std::lock_guard lock(M().mutex);
    Window* w = CheckedLocked(window);
    if (!w) return FALSE;
    if (w->thread != std::this_thread::get_id()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
  }
  DestroyTree(window);
  return TRUE;
}

BOOL IsWindow(HWND window) {
  std::lock_guard lock(M().mutex);
  return FindWindowLocked(window) != nullptr;
}

BOOL IsWindowVisible(HWND handle) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(handle);
  return window && VisibleLocked(*window);
}

BOOL IsWindowEnabled(HWND handle) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(handle);
  return window && !(window->style & WS_DISABLED);
}

BOOL IsIconic(HWND handle) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(handle);
  return window && (window->style & WS_MINIMIZE);
}

BOOL EnableWindow(HWND handle, BOOL enable) {
  return OnDisplayThread(handle, [&] {
    BOOL wasDisabled;
    {
      std::lock_guard lock(M().mutex);
      Window* window = CheckedLocked(handle);
      if (!window) return FALSE;
      wasDisabled = (window->style & WS_DISABLED) ? TRUE : FALSE;
      if (enable) {
        window->style &= ~WS_DISABLED;
      } else {
        window->style |= WS_DISABLED;
      }
    }
    display::ShowWindowState(handle);
    return wasDisabled;
  });
}

BOOL ShowWindow(HWND window, int command) {
  return OnDisplayThread(window, [&] {
    BOOL was;
    {
      std::lock_guard lock(M().mutex);
      Window* w = CheckedLocked(window);
      if (!w) return FALSE;
      was = (w->style & WS_VISIBLE) ? TRUE : FALSE;
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
    }
    return was;
  });
}

BOOL UpdateWindow(HWND handle) {
  return OnDisplayThread(handle, [&] {
    bool paint;
    {
      std::lock_guard lock(M().mutex);
      Window* window = CheckedLocked(handle);
      if (!window) return FALSE;
      paint = window->needsPaint && VisibleLocked(*window) && !(window->style & WS_MINIMIZE);
    }
    if (paint) CallProcedure(handle, WM_PAINT, 0, 0);
    return TRUE;
  });
}

// The whole client area is invalidated (the rectangle is not kept). Any thread may call it.
BOOL InvalidateRect(HWND handle, const RECT*, BOOL erase) {
  std::lock_guard lock(M().mutex);
  if (!handle) {
    // Every window of the calling thread.
    M().windows.ForEach([&](uint64_t, const Window& w) {
      if (w.thread != std::this_thread::get_id()) return;
      const_cast<Window&>(w).needsPaint = true;
      if (erase) const_cast<Window&>(w).needsErase = true;
    });
  } else {
    Window* window = CheckedLocked(handle);
    if (!window) return FALSE;
    window->needsPaint = true;
    if (erase) window->needsErase = true;
  }
  WakeAllLocked();
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags) {
  return OnDisplayThread(
      window, [&] { return Reposition(window, x, y, width, height, flags) ? TRUE : FALSE; });
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  return OnDisplayThread(window, [&] {
    if (!Reposition(window, x, y, width, height, SWP_NOZORDER)) return FALSE;
    if (repaint) InvalidateRect(window, nullptr, TRUE);
    return TRUE;
  });
}

BOOL CloseWindow(HWND window) {
  return OnDisplayThread(window, [&] {
    if (!WindowExists(window)) return FALSE;
    SetMinimised(window, true);
    return TRUE;
  });
}

BOOL OpenIcon(HWND window) {
  return OnDisplayThread(window, [&] {
    if (!WindowExists(window)) return FALSE;
    SetMinimised(window, false);
    SetVisible(window, true);
    return TRUE;
  });
}

BOOL GetWindowRect(HWND handle, RECT* rect) {
  std::lock_guard lock(M().mutex);
  Window* window = CheckedLocked(handle);
  if (!window || !rect) return FALSE;
  *rect = ScreenRectLocked(*window);
  return TRUE;
}

BOOL GetClientRect(HWND handle, RECT* rect) {
  std::lock_guard lock(M().mutex);
  Window* window = CheckedLocked(handle);
  if (!window || !rect) return FALSE;
  *rect = (window->style & WS_MINIMIZE) ? RECT{} : ClientRectLocked(*window);
  return TRUE;
}

HWND GetParent(HWND handle) {
  std::lock_guard lock(M().mutex);
  Window* window = CheckedLocked(handle);
  if (!window) return nullptr;
  // A child's parent, or a pop-up's owner.
  return (window->style & (WS_CHILD | WS_POPUP)) ? window->parent : nullptr;
}

int GetWindowTextA(HWND handle, LPSTR text, int maxCount) {
  std::lock_guard lock(M().mutex);
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
  return OnDisplayThread(handle, [&] {
    {
      std::lock_guard lock(M().mutex);
      Window* window = CheckedLocked(handle);
      if (!window) return FALSE;
      window->text = text ? text : "";
      window->needsPaint = true;
      LogEventLocked(WindowEventKind::kTextChanged, *window);
    }
    display::ShowWindowState(handle);
    return TRUE;
  });
}

LONG GetWindowLongA(HWND handle, int index) {
  std::lock_guard lock(M().mutex);
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
      PAINTSTRUCT paint;
      if (BeginPaint(handle, &paint)) EndPaint(handle, &paint);
      return 0;
    }
    case WM_ERASEBKGND: {
      // The class's background brush fills the client area.
      HBRUSH brush;
      RECT area;
      {
        std::lock_guard lock(M().mutex);
        Window* window = FindWindowLocked(handle);
        if (!window) return 0;
        brush = window->background;
        area = ClientRectLocked(*window);
      }
      if (!brush || !wParam) return 0;
      FillRect(reinterpret_cast<HDC>(wParam), &area, brush);
      return 1;
    }
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
      std::lock_guard lock(M().mutex);
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
