// Scripted user input of the headless display: a message loop with nothing to take runs the
// next step of its dialog's script or of the common script, or waits for another thread to
// make progress; pumping for tests. Waits are woken by the model's wake-ups, never by
// polling, and give up after the wait limit on the real clock.
#include <cstdio>
#include <cstdlib>

#include "platform/headless/state.h"

namespace headless {
namespace internal {

State& S() {
  static State* state = new State;
  return *state;
}

namespace {

[[noreturn]] void Stuck(const char* what, const std::string& detail) {
  std::fprintf(stderr,
               "headless: %s has nothing to do and nothing can arrive%s%s: the script is "
               "missing a step\n",
               what, detail.empty() ? "" : ": ", detail.c_str());
  std::fflush(stderr);
  std::abort();
}

Deadline WaitDeadline() {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(S().waitLimitMs);
}

// Waits for a wake-up while the loop is held by `label`; stops the process with `stuck` when
// nothing happened within the wait limit since the loop began waiting for it.
void WaitOrStuck(std::unique_lock<std::mutex>& lock, ThreadQueue& queue, uint64_t seen,
                 const LoopContext& context, WaitProgress& progress, const std::string& label,
                 const std::string& stuck) {
  if (progress.waitingFor != label || progress.giveUpAt == Deadline{}) {
    progress.waitingFor = label;
    progress.giveUpAt = WaitDeadline();
  }
  if (!WaitForWakeLocked(lock, queue, seen, progress.giveUpAt)) Stuck(context.what, stuck);
}

// Takes the common script's next step; the lock is released while it runs.
void RunScriptStep(std::unique_lock<std::mutex>& lock, ThreadQueue& queue, uint64_t seen,
                   const LoopContext& context, WaitProgress& progress) {
  if (S().script.empty()) Stuck(context.what, context.dialog ? "a dialog is open" : "");
  ScriptStep& step = S().script.front();
  switch (step.kind) {
    case ScriptStep::kAdvance: {
      uint64_t milliseconds = step.milliseconds;
      S().script.pop_front();
      lock.unlock();
      Advance(milliseconds);
      lock.lock();
      break;
    }
    case ScriptStep::kCall: {
      std::function<void()> call = std::move(step.call);
      S().script.pop_front();
      lock.unlock();
      call();
      lock.lock();
      break;
    }
    case ScriptStep::kPost: {
      std::function<HWND()> target = step.window;
      lock.unlock();
      HWND window = target ? target() : nullptr;
      lock.lock();
      if (S().script.empty() || S().script.front().kind != ScriptStep::kPost) return;
      Window* w = FindWindowLocked(window);
      if (!w) Stuck(context.what, "a scripted message names a window that does not exist");
      if (S().script.front().userInput && !TakesInputLocked(*w)) {
        // The user's click on a disabled window does nothing.
        S().script.pop_front();
        break;
      }
      if (w->thread != queue.thread) {
        // Another thread's loop takes this step.
        const std::string label = "another thread takes a scripted message";
        WaitOrStuck(lock, queue, seen, context, progress, label,
                    "a scripted message for another thread's window was not taken");
        return;
      }
      queue.posted.push_back(MakeMessage(window, step.message, step.wParam, step.lParam));
      S().script.pop_front();
      break;
    }
    case ScriptStep::kWaitUntil: {
      std::function<bool()> predicate = step.predicate;
      std::string label = step.label;
      lock.unlock();
      bool ready = predicate();
      lock.lock();
      if (!ready) {
        WaitOrStuck(lock, queue, seen, context, progress, label, "gave up waiting until " + label);
        return;
      }
      if (!S().script.empty() && S().script.front().kind == ScriptStep::kWaitUntil &&
          S().script.front().label == label) {
        S().script.pop_front();
      }
      break;
    }
  }
  progress.giveUpAt = {};
}

}  // namespace
}  // namespace internal

using namespace internal;

namespace {

void AddStep(ScriptStep step) {
  std::lock_guard lock(M().mutex);
  S().script.push_back(std::move(step));
  WakeAllLocked();
}

// `userInput`: the user's own input, dropped when its window is disabled.
ScriptStep PostStep(WindowRef window, UINT message, WPARAM wParam, LPARAM lParam, bool userInput) {
  return {.kind = ScriptStep::kPost,
          .window = std::move(window),
          .userInput = userInput,
          .message = message,
          .wParam = wParam,
          .lParam = lParam};
}

}  // namespace

void ScriptMessage(WindowRef window, UINT message, WPARAM wParam, LPARAM lParam) {
  AddStep(PostStep(std::move(window), message, wParam, lParam, false));
}

void ScriptCommand(HWND window, UINT id) {
  ScriptCommand([window] { return window; }, id);
}

void ScriptCommand(WindowRef window, UINT id) {
  AddStep(PostStep(std::move(window), WM_COMMAND, MAKELONG(id, 0), 0, true));
}

void ScriptClose(HWND window) {
  ScriptClose([window] { return window; });
}

void ScriptClose(WindowRef window) {
  AddStep(PostStep(std::move(window), WM_SYSCOMMAND, SC_CLOSE, 0, true));
}

void ScriptWaitUntil(std::function<bool()> predicate, std::string label) {
  AddStep({.kind = ScriptStep::kWaitUntil,
           .predicate = std::move(predicate),
           .label = std::move(label)});
}

void ScriptAdvance(uint64_t milliseconds) {
  AddStep({.kind = ScriptStep::kAdvance, .milliseconds = milliseconds});
}

void ScriptCall(std::function<void()> call) {
  AddStep({.kind = ScriptStep::kCall, .call = std::move(call)});
}

size_t PendingScriptSteps() {
  std::lock_guard lock(M().mutex);
  return S().script.size();
}

void ClearScript() {
  std::lock_guard lock(M().mutex);
  S().script.clear();
}

void SetWaitLimit(uint64_t milliseconds) {
  std::lock_guard lock(M().mutex);
  S().waitLimitMs = milliseconds;
}

void SetBlockingWaitHook(std::function<void()> hook) {
  std::lock_guard lock(M().mutex);
  M().blockingWaitHook = std::move(hook);
}

void Wake() {
  std::lock_guard lock(M().mutex);
  WakeAllLocked();
}

bool PumpUntil(std::function<bool()> predicate) {
  LoopContext context;
  context.done = predicate;
  context.keepQuit = true;
  context.pump = true;
  RunLoop(context);
  return predicate();
}

}  // namespace headless

namespace window_system::display {

using namespace headless::internal;

// Nothing shows, so every thread waits on its own queue.
void WakeThreadLocked(std::thread::id) {}

bool AwaitDisplayLocked(std::unique_lock<std::mutex>&, Deadline) {
  return false;
}

// Time moves only with the scripts and the program's pauses, which wake every loop, so the
// next timer needs no wait of its own.
bool IdleLocked(std::unique_lock<std::mutex>& lock, ThreadQueue& queue, uint64_t seen,
                const LoopContext& context, WaitProgress& progress, uint64_t) {
  if (context.pump) {
    if (progress.giveUpAt == Deadline{}) progress.giveUpAt = WaitDeadline();
    return WaitForWakeLocked(lock, queue, seen, progress.giveUpAt);
  }
  // A dialog's own script comes before the common one.
  if (context.dialog) {
    bool waiting = false;
    std::string label;
    lock.unlock();
    bool ran = RunDialogScriptStep(context.dialog, &waiting, &label);
    lock.lock();
    if (ran && !waiting) {
      progress.giveUpAt = {};
      return true;
    }
    if (ran) {
      WaitOrStuck(lock, queue, seen, context, progress, label, "gave up waiting until " + label);
      return true;
    }
  }
  RunScriptStep(lock, queue, seen, context, progress);
  return true;
}

}  // namespace window_system::display
