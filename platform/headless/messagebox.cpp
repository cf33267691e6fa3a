// Message boxes, beeps and the virtual clock of the headless backend: nothing is shown or
// played; every box and tone is logged, and time moves only when the program pauses.
#include <atomic>
#include <deque>
#include <mutex>

#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/headless/state.h"
#include "platform/sound.h"
#include "platform/threads.h"

namespace headless {
namespace {

std::mutex logMutex;
std::vector<BoxRecord> boxes;                     // guarded by logMutex
std::vector<BeepRecord> beeps;                    // guarded by logMutex
std::deque<int> boxAnswers;                       // guarded by logMutex
std::function<int(const BoxRecord&)> boxHandler;  // guarded by logMutex
std::atomic<uint64_t> virtualNow{0};              // the virtual clock

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

void QueueBoxAnswer(int answer) {
  std::lock_guard lock(logMutex);
  boxAnswers.push_back(answer);
}

void SetBoxHandler(std::function<int(const BoxRecord&)> handler) {
  std::lock_guard lock(logMutex);
  boxHandler = std::move(handler);
}

uint64_t Now() {
  return virtualNow.load();
}

// Loops waiting on the clock (timers, scripted waits) look again once it has moved.
void Advance(uint64_t milliseconds) {
  virtualNow.fetch_add(milliseconds);
  Wake();
}

}  // namespace headless

namespace {

// Logs the box and gives the user's answer.
int ShowBox(const headless::BoxRecord& record) {
  std::function<int(const headless::BoxRecord&)> handler;
  int answer = IDOK;
  {
    std::lock_guard lock(headless::logMutex);
    headless::boxes.push_back(record);
    handler = headless::boxHandler;
    if (!handler && !headless::boxAnswers.empty()) {
      answer = headless::boxAnswers.front();
      headless::boxAnswers.pop_front();
    }
  }
  // The handler runs without the lock so that it may itself look at the logs.
  if (handler) answer = handler(record);
  return answer;
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  headless::BoxRecord record{owner, caption ? caption : "Error", text ? text : "",
                             type,  std::this_thread::get_id(),  headless::Now()};
  if (!owner) return ShowBox(record);
  if (!IsWindow(owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  // The owner's thread shows the box while the asking thread waits.
  return static_cast<int>(headless::internal::RunOnWindowThread(
      owner, [&record] { return static_cast<LRESULT>(ShowBox(record)); }));
}

BOOL Beep(DWORD frequency, DWORD duration) {
  if (frequency < 37 || frequency > 32767) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    std::lock_guard lock(headless::logMutex);
    headless::beeps.push_back({frequency, duration, std::this_thread::get_id(), headless::Now()});
  }
  headless::Advance(duration);
  return TRUE;
}

void Sleep(DWORD milliseconds) {
  headless::Advance(milliseconds);
}

DWORD GetTickCount() {
  return static_cast<DWORD>(headless::Now());
}
