// The user's answers to message boxes and the virtual clock of the headless display: nothing
// is shown or played, and time moves only when the program pauses or a test moves it.
#include <atomic>
#include <mutex>

#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/headless/state.h"

namespace headless {
namespace {

std::mutex answerMutex;
std::function<int(const BoxRecord&)> boxHandler;  // guarded by answerMutex
std::atomic<uint64_t> virtualNow{0};              // the virtual clock

}  // namespace

void SetBoxHandler(std::function<int(const BoxRecord&)> handler) {
  std::lock_guard lock(answerMutex);
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

namespace window_system::display {

// The handler's answer, else IDOK.
int RunMessageBox(const BoxRecord& box) {
  std::function<int(const BoxRecord&)> handler;
  {
    std::lock_guard lock(headless::answerMutex);
    handler = headless::boxHandler;
  }
  // The handler runs without the lock so that it may itself look at the logs.
  return handler ? handler(box) : IDOK;
}

void Tone(DWORD, DWORD duration) {
  headless::Advance(duration);
}

void Pause(DWORD milliseconds) {
  headless::Advance(milliseconds);
}

uint64_t Now() {
  return headless::Now();
}

}  // namespace window_system::display
