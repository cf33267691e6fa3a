// Messages of the headless backend: each thread's queue of posted messages and of messages
// sent to it by other threads, the message loop, timers on the virtual clock, scripted user
// input and pumping for tests. Waits are woken by condition variables, never by polling.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/headless/state.h"
#include "platform/thread_events.h"
#include "platform/threads.h"

namespace headless {
namespace internal {
namespace {

using Clock = std::chrono::steady_clock;

void WakeFromThreadEnd() {
  Wake();
}

// Ends the calling thread's queue when the thread ends: messages still waiting for it are
// answered with 0 so that their senders do not wait for ever.
struct QueueGuard {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueGuard() {
    if (!queue) return;
    std::lock_guard lock(S().mutex);
    queue->alive = false;
    for (auto& sent : queue->sent) sent->done = true;
    queue->sent.clear();
    S().queues.erase(queue->thread);
    WakeAllLocked();
  }
};

thread_local QueueGuard queueGuard;

[[noreturn]] void Stuck(const char* what, const std::string& detail) {
  std::fprintf(stderr,
               "headless: %s has nothing to do and nothing can arrive%s%s: the script is "
               "missing a step\n",
               what, detail.empty() ? "" : ": ", detail.c_str());
  std::fflush(stderr);
  std::abort();
}

bool Matches(const MSG& m, HWND filterWindow, UINT filterMin, UINT filterMax) {
  if (filterWindow && m.hwnd != filterWindow) return false;
  if (filterMin == 0 && filterMax == 0) return true;
  return m.message >= filterMin && m.message <= filterMax;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return {window, message, wParam, lParam, static_cast<DWORD>(Now()), {0, 0}};
}

// Carries out one message sent by another thread, if any; the lock is released meanwhile.
bool RunOneSent(std::unique_lock<std::mutex>& lock, ThreadQueue& queue) {
  if (queue.sent.empty()) return false;
  std::shared_ptr<SentMessage> sent = queue.sent.front();
  queue.sent.pop_front();
  lock.unlock();
  LRESULT result = sent->job
                       ? sent->job()
                       : CallProcedure(sent->window, sent->message, sent->wParam, sent->lParam);
  lock.lock();
  sent->result = result;
  sent->done = true;
  auto it = S().queues.find(sent->sender);
  if (it != S().queues.end()) it->second->wake.notify_all();
  return true;
}

// A posted message, a WM_PAINT or a due WM_TIMER for the calling thread (not WM_QUIT).
bool TakeReadyLocked(ThreadQueue& queue, MSG* out, HWND filterWindow, UINT filterMin,
                     UINT filterMax, bool remove = true) {
  for (auto it = queue.posted.begin(); it != queue.posted.end();) {
    if (it->hwnd && !FindWindowLocked(it->hwnd)) {
      it = queue.posted.erase(it);  // its window is gone
      continue;
    }
    if (Matches(*it, filterWindow, filterMin, filterMax)) {
      *out = *it;
      if (remove) queue.posted.erase(it);
      return true;
    }
    ++it;
  }
  HWND paint = nullptr;
  uint64_t first = UINT64_MAX;
  S().windows.ForEach([&](uint64_t value, const Window& w) {
    if (w.thread != queue.thread || !w.needsPaint || (w.style & WS_MINIMIZE)) return;
    if (!VisibleLocked(w)) return;
    if (value < first) {
      first = value;
      paint = w.handle;
    }
  });
  if (paint) {
    MSG m = MakeMessage(paint, WM_PAINT, 0, 0);
    if (Matches(m, filterWindow, filterMin, filterMax)) {
      *out = m;
      return true;
    }
  }
  uint64_t now = Now();
  Timer* due = nullptr;
  for (Timer& timer : S().timers) {
    if (timer.thread != queue.thread || timer.due > now) continue;
    if (!Matches(MakeMessage(timer.window, WM_TIMER, timer.id, 0), filterWindow, filterMin,
                 filterMax)) {
      continue;
    }
    if (!due || timer.due < due->due) due = &timer;
  }
  if (due) {
    *out = MakeMessage(due->window, WM_TIMER, due->id, 0);
    if (remove) due->due = now + due->interval;
    return true;
  }
  return false;
}

// Waits until something wakes the calling thread or `deadline` passes; false on time-out.
bool WaitForWake(std::unique_lock<std::mutex>& lock, ThreadQueue& queue, uint64_t generation,
                 Clock::time_point deadline) {
  return queue.wake.wait_until(lock, deadline, [&] {
    return S().generation != generation || !queue.sent.empty() || !queue.posted.empty();
  });
}

Clock::time_point WaitDeadline() {
  return Clock::now() + std::chrono::milliseconds(S().waitLimitMs);
}

}  // namespace

ThreadQueue& OwnQueueLocked() {
  auto id = std::this_thread::get_id();
  auto it = S().queues.find(id);
  if (it != S().queues.end()) return *it->second;
  static bool listening = false;
  if (!listening) {
    platform::SetThreadEndListener(&WakeFromThreadEnd);
    listening = true;
  }
  auto queue = std::make_shared<ThreadQueue>();
  queue->thread = id;
  S().queues.emplace(id, queue);
  queueGuard.queue = queue;
  return *queue;
}

ThreadQueue* QueueOfLocked(const Window& window) {
  auto it = S().queues.find(window.thread);
  return it == S().queues.end() ? nullptr : it->second.get();
}

void WakeAllLocked() {
  ++S().generation;
  for (auto& [id, queue] : S().queues) queue->wake.notify_all();
}

bool RunSentMessages() {
  std::unique_lock lock(S().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  bool any = false;
  while (RunOneSent(lock, queue)) any = true;
  return any;
}

bool NextMessage(MSG* out, HWND filterWindow, UINT filterMin, UINT filterMax,
                 const LoopContext& context) {
  std::unique_lock lock(S().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  std::string waitingFor;
  Clock::time_point deadline{};
  for (;;) {
    if (RunOneSent(lock, queue)) continue;
    if (context.done) {
      lock.unlock();
      bool done = context.done();
      lock.lock();
      if (done) return false;
    }
    if (TakeReadyLocked(queue, out, filterWindow, filterMin, filterMax)) return true;
    if (queue.quit) {
      queue.quit = false;
      *out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
      return true;
    }
    uint64_t generation = S().generation;
    // A dialog's own script comes before the common one.
    if (context.dialog) {
      bool waiting = false;
      std::string label;
      lock.unlock();
      bool ran = RunDialogScriptStep(context.dialog, &waiting, &label);
      lock.lock();
      if (ran && !waiting) {
        deadline = {};
        continue;
      }
      if (ran && waiting) {
        if (waitingFor != label || deadline == Clock::time_point{}) {
          waitingFor = label;
          deadline = WaitDeadline();
        }
        if (!WaitForWake(lock, queue, generation, deadline)) {
          Stuck(context.what, "gave up waiting until " + label);
        }
        continue;
      }
    }
    if (S().script.empty()) {
      Stuck(context.what, context.dialog ? "a dialog is open" : "");
    }
    ScriptStep& step = S().script.front();
    switch (step.kind) {
      case ScriptStep::kAdvance: {
        uint64_t milliseconds = step.milliseconds;
        S().script.pop_front();
        lock.unlock();
        Advance(milliseconds);
        lock.lock();
        continue;
      }
      case ScriptStep::kCall: {
        std::function<void()> call = std::move(step.call);
        S().script.pop_front();
        lock.unlock();
        call();
        lock.lock();
        continue;
      }
      case ScriptStep::kPost: {
        std::function<HWND()> target = step.window;
        lock.unlock();
        HWND window = target ? target() : nullptr;
        lock.lock();
        if (S().script.empty() || S().script.front().kind != ScriptStep::kPost) continue;
        Window* w = FindWindowLocked(window);
        if (!w) Stuck(context.what, "a scripted message names a window that does not exist");
        if (S().script.front().userInput && !TakesInputLocked(*w)) {
          // The user's click on a disabled window does nothing.
          S().script.pop_front();
          deadline = {};
          continue;
        }
        if (w->thread != queue.thread) {
          // Another thread's loop takes this step.
          if (deadline == Clock::time_point{}) deadline = WaitDeadline();
          if (!WaitForWake(lock, queue, generation, deadline)) {
            Stuck(context.what, "a scripted message for another thread's window was not taken");
          }
          continue;
        }
        queue.posted.push_back(MakeMessage(window, step.message, step.wParam, step.lParam));
        S().script.pop_front();
        deadline = {};
        continue;
      }
      case ScriptStep::kWaitUntil: {
        std::function<bool()> predicate = step.predicate;
        std::string label = step.label;
        lock.unlock();
        bool ready = predicate();
        lock.lock();
        if (ready) {
          if (!S().script.empty() && S().script.front().kind == ScriptStep::kWaitUntil &&
              S().script.front().label == label) {
            S().script.pop_front();
          }
          deadline = {};
          continue;
        }
        if (waitingFor != label || deadline == Clock::time_point{}) {
          waitingFor = label;
          deadline = WaitDeadline();
        }
        if (!WaitForWake(lock, queue, generation, deadline)) {
          Stuck(context.what, "gave up waiting until " + label);
        }
        continue;
      }
    }
  }
}

}  // namespace internal

using namespace internal;

namespace {

void AddStep(ScriptStep step) {
  std::lock_guard lock(S().mutex);
  S().script.push_back(std::move(step));
  WakeAllLocked();
}

ScriptStep PostStep(WindowRef window, UINT message, WPARAM wParam, LPARAM lParam) {
  ScriptStep step;
  step.kind = ScriptStep::kPost;
  step.window = std::move(window);
  step.message = message;
  step.wParam = wParam;
  step.lParam = lParam;
  return step;
}

}  // namespace

void ScriptMessage(WindowRef window, UINT message, WPARAM wParam, LPARAM lParam) {
  AddStep(PostStep(std::move(window), message, wParam, lParam));
}

void ScriptCommand(HWND window, UINT id) {
  ScriptCommand([window] { return window; }, id);
}

// The user's own input: dropped when its window is disabled.
ScriptStep UserStep(WindowRef window, UINT message, WPARAM wParam) {
  ScriptStep step = PostStep(std::move(window), message, wParam, 0);
  step.userInput = true;
  return step;
}

void ScriptCommand(WindowRef window, UINT id) {
  AddStep(UserStep(std::move(window), WM_COMMAND, MAKELONG(id, 0)));
}

void ScriptClose(HWND window) {
  ScriptClose([window] { return window; });
}

void ScriptClose(WindowRef window) {
  AddStep(UserStep(std::move(window), WM_SYSCOMMAND, SC_CLOSE));
}

void ScriptWaitUntil(std::function<bool()> predicate, std::string label) {
  ScriptStep step;
  step.kind = ScriptStep::kWaitUntil;
  step.predicate = std::move(predicate);
  step.label = std::move(label);
  AddStep(std::move(step));
}

void ScriptAdvance(uint64_t milliseconds) {
  ScriptStep step;
  step.kind = ScriptStep::kAdvance;
  step.milliseconds = milliseconds;
  AddStep(std::move(step));
}

void ScriptCall(std::function<void()> call) {
  ScriptStep step;
  step.kind = ScriptStep::kCall;
  step.call = std::move(call);
  AddStep(std::move(step));
}

size_t PendingScriptSteps() {
  std::lock_guard lock(S().mutex);
  return S().script.size();
}

void ClearScript() {
  std::lock_guard lock(S().mutex);
  S().script.clear();
}

void SetWaitLimit(uint64_t milliseconds) {
  std::lock_guard lock(S().mutex);
  S().waitLimitMs = milliseconds;
}

void SetBlockingWaitHook(std::function<void()> hook) {
  std::lock_guard lock(S().mutex);
  S().blockingWaitHook = std::move(hook);
}

void Wake() {
  std::lock_guard lock(S().mutex);
  WakeAllLocked();
}

bool PumpUntil(std::function<bool()> predicate) {
  std::unique_lock lock(S().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  auto deadline = WaitDeadline();
  for (;;) {
    if (RunOneSent(lock, queue)) continue;
    uint64_t generation = S().generation;
    lock.unlock();
    if (predicate()) return true;
    lock.lock();
    MSG message;
    if (TakeReadyLocked(queue, &message, nullptr, 0, 0)) {
      lock.unlock();
      DispatchMessageA(&message);
      lock.lock();
      continue;
    }
    if (!WaitForWake(lock, queue, generation, deadline)) {
      lock.unlock();
      return predicate();
    }
  }
}

}  // namespace headless

using namespace headless;
using namespace headless::internal;

namespace {

// Hands a message (or a job) to the window's thread and waits for its result.
LRESULT SendAcross(HWND handle, UINT message, WPARAM wParam, LPARAM lParam,
                   std::function<LRESULT()> job) {
  std::unique_lock lock(S().mutex);
  Window* window = FindWindowLocked(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (window->thread == std::this_thread::get_id()) {
    lock.unlock();
    return job ? job() : CallProcedure(handle, message, wParam, lParam);
  }
  ThreadQueue* target = QueueOfLocked(*window);
  if (!target || !target->alive) return 0;
  ThreadQueue& own = OwnQueueLocked();
  auto sent = std::make_shared<SentMessage>();
  sent->window = handle;
  sent->message = message;
  sent->wParam = wParam;
  sent->lParam = lParam;
  sent->sender = own.thread;
  sent->job = std::move(job);
  target->sent.push_back(sent);
  target->wake.notify_all();
  // Messages sent to this thread meanwhile are carried out, so two threads sending to each
  // other do not wait for ever.
  while (!sent->done) {
    if (RunOneSent(lock, own)) continue;
    own.wake.wait(lock, [&] { return sent->done || !own.sent.empty(); });
  }
  return sent->result;
}

}  // namespace

LRESULT headless::internal::RunOnWindowThread(HWND window, std::function<LRESULT()> job) {
  return SendAcross(window, WM_NULL, 0, 0, std::move(job));
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendAcross(handle, message, wParam, lParam, nullptr);
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(S().mutex);
  ThreadQueue* queue;
  if (!handle) {
    queue = &OwnQueueLocked();
  } else {
    Window* window = FindWindowLocked(handle);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    queue = QueueOfLocked(*window);
    if (!queue || !queue->alive) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
  }
  queue->posted.push_back({handle, message, wParam, lParam, static_cast<DWORD>(Now()), {0, 0}});
  queue->wake.notify_all();
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  std::lock_guard lock(S().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  queue.quit = true;
  queue.quitCode = exitCode;
  queue.wake.notify_all();
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
  LoopContext context;
  NextMessage(message, window, filterMin, filterMax, context);
  return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
  if (!message) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::unique_lock lock(S().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  while (RunOneSent(lock, queue)) {
  }
  if (TakeReadyLocked(queue, message, window, filterMin, filterMax, remove & PM_REMOVE)) {
    return TRUE;
  }
  if (queue.quit) {
    if (remove & PM_REMOVE) queue.quit = false;
    *message = {nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, static_cast<DWORD>(Now()),
                {0, 0}};
    return TRUE;
  }
  return FALSE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  if (waitAll || (count && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(S().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  for (;;) {
    uint64_t generation = S().generation;
    lock.unlock();
    for (DWORD i = 0; i < count; ++i) {
      DWORD state = WaitForSingleObject(handles[i], 0);
      if (state == WAIT_OBJECT_0) return WAIT_OBJECT_0 + i;
      if (state == WAIT_FAILED) return WAIT_FAILED;
    }
    lock.lock();
    bool sent = (wakeMask & QS_SENDMESSAGE) && !queue.sent.empty();
    bool posted = (wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) && !queue.posted.empty();
    if (sent || posted) return WAIT_OBJECT_0 + count;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    if (std::function<void()> hook = S().blockingWaitHook) {
      lock.unlock();
      hook();
      lock.lock();
    }
    auto woken = [&] {
      return S().generation != generation || !queue.sent.empty() || !queue.posted.empty();
    };
    if (milliseconds == INFINITE) {
      queue.wake.wait(lock, woken);
    } else if (!queue.wake.wait_until(lock, deadline, woken)) {
      return WAIT_TIMEOUT;
    }
  }
}

BOOL TranslateMessage(const MSG* message) {
  if (!message || message->message != WM_KEYDOWN) return FALSE;
  WPARAM key = message->wParam;
  // Keys that type a character: space, digits and letters (no shift state: lower case).
  if (key == ' ' || (key >= '0' && key <= '9')) {
    PostMessageA(message->hwnd, WM_CHAR, key, message->lParam);
    return TRUE;
  }
  if (key >= 'A' && key <= 'Z') {
    PostMessageA(message->hwnd, WM_CHAR, key - 'A' + 'a', message->lParam);
    return TRUE;
  }
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
  if (!message || !message->hwnd) return 0;
  if (!IsWindow(message->hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return CallProcedure(message->hwnd, message->message, message->wParam, message->lParam);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, void*) {
  std::lock_guard lock(S().mutex);
  if (window) {
    Window* w = FindWindowLocked(window);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (w->thread != std::this_thread::get_id()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
  } else {
    id = S().nextTimerId++;
  }
  UINT interval = std::max<UINT>(milliseconds, 10);  // the platform's shortest period
  auto& timers = S().timers;
  for (Timer& timer : timers) {
    if (timer.window == window && timer.id == id) {
      timer.interval = interval;
      timer.due = Now() + interval;
      return window ? 1 : id;
    }
  }
  timers.push_back({window, id, interval, Now() + interval, std::this_thread::get_id()});
  return window ? 1 : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  std::lock_guard lock(S().mutex);
  auto& timers = S().timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it == timers.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  timers.erase(it);
  return TRUE;
}
