// What every thread's message queue answers alike on both displays: which posted message or
// painting comes next, and dispatching a message to its window's procedure.
#include "platform/threads.h"
#include "platform/window_system/model.h"

namespace window_system {

bool Matches(const MSG& m, HWND filterWindow, UINT filterMin, UINT filterMax) {
  if (filterWindow && m.hwnd != filterWindow) return false;
  if (filterMin == 0 && filterMax == 0) return true;
  return m.message >= filterMin && m.message <= filterMax;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return {window, message, wParam, lParam, static_cast<DWORD>(display::Now()), {0, 0}};
}

bool TakePostedOrPaintLocked(std::deque<MSG>& posted, std::thread::id thread, MSG* out,
                             HWND filterWindow, UINT filterMin, UINT filterMax, bool remove) {
  for (auto it = posted.begin(); it != posted.end();) {
    if (it->hwnd && !FindWindowLocked(it->hwnd)) {
      it = posted.erase(it);  // its window is gone
      continue;
    }
    if (Matches(*it, filterWindow, filterMin, filterMax)) {
      *out = *it;
      if (remove) posted.erase(it);
      return true;
    }
    ++it;
  }
  // The oldest visible window of the thread that needs painting.
  HWND paint = nullptr;
  uint64_t first = UINT64_MAX;
  M().windows.ForEach([&](uint64_t value, const Window& w) {
    if (w.thread != thread || !w.needsPaint || (w.style & WS_MINIMIZE)) return;
    if (!VisibleLocked(w)) return;
    if (value < first) {
      first = value;
      paint = w.handle;
    }
  });
  if (!paint) return false;
  MSG m = MakeMessage(paint, WM_PAINT, 0, 0);
  if (!Matches(m, filterWindow, filterMin, filterMax)) return false;
  *out = m;
  return true;
}

}  // namespace window_system

using namespace window_system;

LRESULT DispatchMessageA(const MSG* message) {
  if (!message || !message->hwnd) return 0;
  if (!IsWindow(message->hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return CallProcedure(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
  if (!message) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (window && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  display::NextMessage(message, window, filterMin, filterMax);
  return message->message == WM_QUIT ? FALSE : TRUE;
}
