// Message boxes, tones and the clock: the model records every box and tone, keeps a box's
// owner disabled while it is open, and leaves showing, playing and waiting to the display.
#include <mutex>

#include "platform/dialog.h"
#include "platform/sound.h"
#include "platform/threads.h"
#include "platform/window_system/model.h"

namespace window_system {
namespace {

std::mutex logMutex;
std::vector<BoxRecord> boxes;   // guarded by logMutex
std::vector<BeepRecord> beeps;  // guarded by logMutex

}  // namespace

std::vector<BoxRecord> Boxes() {
  std::lock_guard lock(logMutex);
  return boxes;
}

std::vector<BeepRecord> Beeps() {
  std::lock_guard lock(logMutex);
  return beeps;
}

void ClearLogs() {
  std::lock_guard lock(logMutex);
  boxes.clear();
  beeps.clear();
}

}  // namespace window_system

using namespace window_system;

// The box is shown by the thread of its owner (the display's thread for a box without one)
// while the asking thread waits.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (owner && !WindowExists(owner)) return 0;
  BoxRecord record{owner, caption ? caption : "Error", text ? text : "",
                   type,  std::this_thread::get_id(),  display::Now()};
  int answer = 0;
  auto show = [&] {
    {
      std::lock_guard lock(logMutex);
      boxes.push_back(record);
    }
    // The owner takes no input while its box is open.
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);
    answer = display::RunMessageBox(record);
    if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
  };
  if (!display::RunOnThreadOf(owner, show)) {
    SetLastError(ERROR_NOT_SUPPORTED);  // nothing can show a box
    return 0;
  }
  return answer;
}

BOOL Beep(DWORD frequency, DWORD duration) {
  if (frequency < 37 || frequency > 32767) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    std::lock_guard lock(logMutex);
    beeps.push_back({frequency, duration, std::this_thread::get_id(), display::Now()});
  }
  display::Tone(frequency, duration);
  return TRUE;
}

void Sleep(DWORD milliseconds) {
  display::Pause(milliseconds);
}

DWORD GetTickCount() {
  return static_cast<DWORD>(display::Now());
}
