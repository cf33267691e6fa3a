// Every thread's message queue: posted messages, messages sent across threads and the waits
// that carry them out, painting, WM_QUIT, the message loop and waiting for messages or
// threads. The display is asked only to wait for its events and to make the next one happen.
#include <algorithm>

#include "platform/thread_events.h"
#include "platform/threads.h"
#include "platform/window_system/model.h"

namespace window_system {
namespace {

// Ends the calling thread's queue when the thread ends: messages still waiting for it are
// answered with 0 so that their senders do not wait for ever.
struct QueueGuard {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueGuard() {
    if (!queue) return;
    std::lock_guard lock(M().mutex);
    queue->alive = false;
    for (auto& sent : queue->sent) sent->done = true;
    queue->sent.clear();
    M().queues.erase(queue->thread);
    WakeAllLocked();
  }
};

thread_local QueueGuard queueGuard;

// Waits for threads (MsgWaitForMultipleObjects) look again when any thread ends.
void WakeOnThreadEnd() {
  std::lock_guard lock(M().mutex);
  WakeAllLocked();
}

// Carries out one message sent by another thread, if any; the lock is released meanwhile.
bool RunOneSent(std::unique_lock<std::mutex>& lock, ThreadQueue& queue) {
  if (queue.sent.empty()) return false;
  std::shared_ptr<SentCall> sent = queue.sent.front();
  queue.sent.pop_front();
  lock.unlock();
  LRESULT result = sent->run();
  lock.lock();
  sent->result = result;
  sent->done = true;
  auto it = M().queues.find(sent->sender);
  if (it != M().queues.end()) it->second->wake.notify_all();
  return true;
}

// Hands `run` to the queue of `thread` and waits for its result, carrying out what is sent to
// the caller meanwhile, so that two threads sending to each other do not wait for ever.
// Under the lock; false when the thread has no live queue.
bool SendLocked(std::unique_lock<std::mutex>& lock, std::thread::id thread,
                std::function<LRESULT()> run, LRESULT* result) {
  auto it = M().queues.find(thread);
  if (it == M().queues.end() || !it->second->alive) return false;
  ThreadQueue& target = *it->second;
  ThreadQueue& own = OwnQueueLocked();
  auto sent = std::make_shared<SentCall>();
  sent->run = std::move(run);
  sent->sender = own.thread;
  target.sent.push_back(sent);
  WakeQueueLocked(target);
  while (!sent->done) {
    if (RunOneSent(lock, own)) continue;
    own.wake.wait(lock, [&] { return sent->done || !own.sent.empty(); });
  }
  *result = sent->result;
  return true;
}

// Under the lock: the queue a message for `window` goes to (the caller's for none), or null
// with ERROR_INVALID_WINDOW_HANDLE.
ThreadQueue* TargetQueueLocked(HWND window) {
  if (!window) return &OwnQueueLocked();
  Window* w = FindWindowLocked(window);
  auto it = w ? M().queues.find(w->thread) : M().queues.end();
  if (it == M().queues.end() || !it->second->alive) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return it->second.get();
}

MSG QuitMessageLocked(ThreadQueue& queue, bool remove) {
  if (remove) queue.quit = false;
  return MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
}

}  // namespace

ThreadQueue& OwnQueueLocked() {
  auto id = std::this_thread::get_id();
  auto it = M().queues.find(id);
  if (it != M().queues.end()) return *it->second;
  static bool listening = false;
  if (!listening) {
    platform::SetThreadEndListener(&WakeOnThreadEnd);
    listening = true;
  }
  auto queue = std::make_shared<ThreadQueue>();
  queue->thread = id;
  M().queues.emplace(id, queue);
  queueGuard.queue = queue;
  return *queue;
}

void WakeQueueLocked(ThreadQueue& queue) {
  ++queue.wakes;
  queue.wake.notify_all();
  display::WakeThreadLocked(queue.thread);
}

void WakeAllLocked() {
  for (auto& [id, queue] : M().queues) WakeQueueLocked(*queue);
}

bool WaitForWakeLocked(std::unique_lock<std::mutex>& lock, ThreadQueue& queue, uint64_t seen,
                       Deadline deadline) {
  auto woken = [&] { return queue.wakes != seen; };
  if (woken()) return true;
  if (display::AwaitDisplayLocked(lock, deadline)) {
    return woken() || std::chrono::steady_clock::now() < deadline;
  }
  if (deadline == Deadline::max()) {
    queue.wake.wait(lock, woken);
    return true;
  }
  return queue.wake.wait_until(lock, deadline, woken);
}

bool RunSentMessages() {
  std::unique_lock lock(M().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  bool any = false;
  while (RunOneSent(lock, queue)) any = true;
  return any;
}

LRESULT SendToWindowThread(HWND handle, std::function<LRESULT()> job) {
  std::unique_lock lock(M().mutex);
  Window* window = CheckedLocked(handle);
  if (!window) return 0;
  if (window->thread == std::this_thread::get_id()) {
    lock.unlock();
    return job();
  }
  LRESULT result = 0;
  SendLocked(lock, window->thread, std::move(job), &result);
  return result;
}

bool RunOnThread(std::thread::id thread, const std::function<void()>& call) {
  if (thread == std::this_thread::get_id()) {
    call();
    return true;
  }
  std::unique_lock lock(M().mutex);
  LRESULT ignored;
  return SendLocked(
      lock, thread,
      [&call] {
        call();
        return LRESULT{0};
      },
      &ignored);
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return {window, message, wParam, lParam, static_cast<DWORD>(display::Now()), {0, 0}};
}

namespace {

// Whether a message passes GetMessageA's or PeekMessageA's filters (0, 0: every message).
bool Matches(const MSG& m, HWND filterWindow, UINT filterMin, UINT filterMax) {
  if (filterWindow && m.hwnd != filterWindow) return false;
  if (filterMin == 0 && filterMax == 0) return true;
  return m.message >= filterMin && m.message <= filterMax;
}

// Under M().mutex: the next of a thread's posted messages that passes the filters (those of
// windows that are gone are dropped), else a WM_PAINT for the oldest visible window of the
// thread that needs painting, else a due WM_TIMER. `remove` takes a posted message out of the
// queue and starts a timer's next period.
bool TakeReadyLocked(ThreadQueue& queue, MSG* out, HWND filterWindow, UINT filterMin,
                     UINT filterMax, bool remove) {
  auto& posted = queue.posted;
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
  // The timer of the thread that has been due longest.
  uint64_t now = display::Now();
  Timer* due = nullptr;
  for (Timer& timer : M().timers) {
    if (timer.thread != queue.thread || timer.due > now) continue;
    if (!Matches(MakeMessage(timer.window, WM_TIMER, timer.id, 0), filterWindow, filterMin,
                 filterMax)) {
      continue;
    }
    if (!due || timer.due < due->due) due = &timer;
  }
  if (!due) return false;
  *out = MakeMessage(due->window, WM_TIMER, due->id, 0);
  if (remove) due->due = now + due->interval;
  return true;
}

// Under M().mutex: when the thread's next timer is due on the display's clock (UINT64_MAX
// for none).
uint64_t NextTimerDueLocked(std::thread::id thread) {
  uint64_t next = UINT64_MAX;
  for (const Timer& timer : M().timers) {
    if (timer.thread == thread) next = std::min(next, timer.due);
  }
  return next;
}

// Takes the calling thread's next message: messages sent by other threads are carried out on
// the way, then come posted messages, WM_PAINT, due timers and WM_QUIT (unless
// `context.keepQuit`); with nothing to take, the display waits for its next event or makes
// one happen. False when `context.done` gave true or the display gave up.
bool NextMessage(MSG* out, HWND filterWindow, UINT filterMin, UINT filterMax,
                 const LoopContext& context) {
  std::unique_lock lock(M().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  WaitProgress progress;
  for (;;) {
    if (RunOneSent(lock, queue)) continue;
    uint64_t seen = queue.wakes;
    if (context.done) {
      lock.unlock();
      bool done = context.done();
      lock.lock();
      if (done) return false;
    }
    if (TakeReadyLocked(queue, out, filterWindow, filterMin, filterMax, true)) return true;
    if (queue.quit && !context.keepQuit) {
      *out = QuitMessageLocked(queue, true);
      return true;
    }
    if (!display::IdleLocked(lock, queue, seen, context, progress,
                             NextTimerDueLocked(queue.thread))) {
      return false;
    }
  }
}

}  // namespace

void RunLoop(const LoopContext& context) {
  MSG message;
  while (NextMessage(&message, nullptr, 0, 0, context)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace window_system

using namespace window_system;

LRESULT DispatchMessageA(const MSG* message) {
  if (!message || !message->hwnd || !WindowExists(message->hwnd)) return 0;
  return CallProcedure(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
  if (!message) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (window && !WindowExists(window)) return -1;
  NextMessage(message, window, filterMin, filterMax, LoopContext{});
  return message->message == WM_QUIT ? FALSE : TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendToWindowThread(window, [=] { return CallProcedure(window, message, wParam, lParam); });
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(M().mutex);
  ThreadQueue* queue = TargetQueueLocked(window);
  if (!queue) return FALSE;
  queue->posted.push_back(MakeMessage(window, message, wParam, lParam));
  WakeQueueLocked(*queue);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  std::lock_guard lock(M().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  queue.quit = true;
  queue.quitCode = exitCode;
  WakeQueueLocked(queue);
}

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
  if (!message) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::unique_lock lock(M().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  // What the display has for the thread (the user's input may post messages), without
  // waiting, and what other threads sent.
  display::AwaitDisplayLocked(lock, Deadline{});
  while (RunOneSent(lock, queue)) {
  }
  if (TakeReadyLocked(queue, message, window, filterMin, filterMax, remove & PM_REMOVE)) {
    return TRUE;
  }
  if (!queue.quit) return FALSE;
  *message = QuitMessageLocked(queue, remove & PM_REMOVE);
  return TRUE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  if (waitAll || (count && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const Deadline deadline = milliseconds == INFINITE ? Deadline::max()
                                                     : std::chrono::steady_clock::now() +
                                                           std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(M().mutex);
  ThreadQueue& queue = OwnQueueLocked();
  for (;;) {
    // A thread that ends after its handle was looked at wakes every queue, so `seen` tells.
    uint64_t seen = queue.wakes;
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
    if (std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
    if (std::function<void()> hook = M().blockingWaitHook) {
      lock.unlock();
      hook();
      lock.lock();
    }
    WaitForWakeLocked(lock, queue, seen, deadline);
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
