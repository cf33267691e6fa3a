// Timers: each is kept with its period and the moment it is next due on the display's clock;
// its thread's message loop makes WM_TIMER when it is due and nothing else is waiting.
#include <algorithm>

#include "platform/threads.h"
#include "platform/window_system/model.h"

using namespace window_system;

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, void*) {
  std::lock_guard lock(M().mutex);
  if (window) {
    Window* w = CheckedLocked(window);
    if (!w) return 0;
    // A window's timers belong to its own thread.
    if (w->thread != std::this_thread::get_id()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
  } else {
    id = M().nextTimerId++;
  }
  UINT interval = std::max<UINT>(milliseconds, 10);  // the platform's shortest period
  uint64_t due = display::Now() + interval;
  auto& timers = M().timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it != timers.end()) {
    it->interval = interval;
    it->due = due;
  } else {
    timers.push_back({window, id, interval, due, std::this_thread::get_id()});
  }
  // A wait of this thread that began before looks at the new timer.
  WakeQueueLocked(OwnQueueLocked());
  return window ? 1 : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  std::lock_guard lock(M().mutex);
  auto& timers = M().timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it == timers.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  timers.erase(it);
  return TRUE;
}
