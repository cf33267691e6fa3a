// Messages of the Qt backend: each thread's queue of posted messages, the calls other threads
// hand to the window thread (sent messages among them), the message loop on top of Qt's event
// processing, modal loops, and timers on QTimer. The window thread waits inside Qt's event
// loop; other threads wake it by posting a Qt event, never by polling.
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_state.h"
#include "platform/thread_events.h"
#include "platform/threads.h"

namespace qtbackend {
namespace {

std::mutex hookMutex;
std::function<void(QWidget*, HWND)> modalHook;  // guarded by hookMutex
std::function<void()> idleHook;                 // guarded by hookMutex

}  // namespace

void SetModalHook(std::function<void(QWidget*, HWND)> hook) {
  std::lock_guard lock(hookMutex);
  modalHook = std::move(hook);
}

void SetIdleHook(std::function<void()> hook) {
  std::lock_guard lock(hookMutex);
  idleHook = std::move(hook);
}

namespace internal {
namespace {

// A posted message or a WM_PAINT for the calling thread (not WM_QUIT).
bool TakeReadyLocked(ThreadQueue& queue, MSG* out, HWND filterWindow, UINT filterMin,
                     UINT filterMax, bool remove = true) {
  return TakePostedOrPaintLocked(queue.posted, queue.thread, out, filterWindow, filterMin,
                                 filterMax, remove);
}

// Waits on the window thread until Qt has handled at least one event (a wake-up included).
void WaitForQtEvent() {
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace

ThreadQueue& QueueLocked(std::thread::id thread) {
  auto it = S().queues.find(thread);
  if (it != S().queues.end()) return *it->second;
  auto queue = std::make_shared<ThreadQueue>();
  queue->thread = thread;
  S().queues.emplace(thread, queue);
  return *queue;
}

bool OnWindowThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void WakeWindowThread() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  // A queued call carries out what other threads handed over; it also ends the window
  // thread's wait in any Qt event loop.
  QMetaObject::invokeMethod(
      app, [] { RunCrossThreadCalls(); }, Qt::QueuedConnection);
}

bool RunCrossThreadCalls() {
  if (!OnWindowThread()) return false;
  bool any = false;
  for (;;) {
    std::shared_ptr<CrossThreadCall> call;
    {
      std::lock_guard lock(M().mutex);
      if (S().calls.empty()) return any;
      call = S().calls.front();
      S().calls.pop_front();
    }
    call->run();
    any = true;
    std::lock_guard lock(M().mutex);
    call->done = true;
    S().callDone.notify_all();
  }
}

bool RunOnWindowThread(const std::function<void()>& run) {
  if (OnWindowThread()) {
    run();
    return true;
  }
  if (!QCoreApplication::instance()) return false;
  auto call = std::make_shared<CrossThreadCall>();
  call->run = run;
  std::unique_lock lock(M().mutex);
  S().calls.push_back(call);
  lock.unlock();
  WakeWindowThread();
  lock.lock();
  S().callDone.wait(lock, [&] { return call->done; });
  return true;
}

bool NextMessage(MSG* out, HWND filterWindow, UINT filterMin, UINT filterMax,
                 const LoopContext& context) {
  bool windowThread = OnWindowThread();
  bool idleHookRan = false;
  for (;;) {
    if (windowThread && RunCrossThreadCalls()) continue;
    if (context.done && context.done()) return false;
    {
      std::unique_lock lock(M().mutex);
      ThreadQueue& queue = QueueLocked(std::this_thread::get_id());
      if (TakeReadyLocked(queue, out, filterWindow, filterMin, filterMax)) return true;
      if (queue.quit && !context.modal) {
        queue.quit = false;
        *out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
        return true;
      }
      if (!windowThread) {
        // A thread without windows waits for its own posted messages and its quit message.
        queue.wake.wait(lock, [&] { return !queue.posted.empty() || queue.quit; });
        continue;
      }
    }
    if (!context.modal && !idleHookRan) {
      std::function<void()> hook;
      {
        std::lock_guard lock(hookMutex);
        hook = idleHook;
      }
      idleHookRan = true;
      if (hook) {
        hook();
        continue;
      }
    }
    WaitForQtEvent();
    idleHookRan = false;
  }
}

void RunModalLoop(QWidget* shown, HWND dialog, const std::function<bool()>& done) {
  std::function<void(QWidget*, HWND)> hook;
  {
    std::lock_guard lock(hookMutex);
    hook = modalHook;
  }
  if (hook && !done()) hook(shown, dialog);
  LoopContext context;
  context.modal = true;
  context.done = done;
  MSG message;
  while (NextMessage(&message, nullptr, 0, 0, context)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace internal

void PumpUntil(const std::function<bool()>& predicate) {
  internal::LoopContext context;
  context.modal = true;  // neither WM_QUIT nor the idle hook
  context.done = predicate;
  MSG message;
  while (internal::NextMessage(&message, nullptr, 0, 0, context)) DispatchMessageA(&message);
}

}  // namespace qtbackend

using namespace qtbackend::internal;

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  }
  if (OnWindowThread()) return CallProcedure(handle, message, wParam, lParam);
  // The window's procedure runs on the window thread while this thread waits.
  LRESULT result = 0;
  RunOnWindowThread([&] { result = CallProcedure(handle, message, wParam, lParam); });
  return result;
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard lock(M().mutex);
    ThreadQueue* queue;
    if (!handle) {
      queue = &QueueLocked(std::this_thread::get_id());
    } else {
      Window* window = FindWindowLocked(handle);
      if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
      }
      queue = &QueueLocked(window->thread);
    }
    queue->posted.push_back(MakeMessage(handle, message, wParam, lParam));
    queue->wake.notify_all();
  }
  WakeWindowThread();
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  {
    std::lock_guard lock(M().mutex);
    ThreadQueue& queue = QueueLocked(std::this_thread::get_id());
    queue.quit = true;
    queue.quitCode = exitCode;
    queue.wake.notify_all();
  }
  WakeWindowThread();
}

void window_system::display::NextMessage(MSG* message, HWND filterWindow, UINT filterMin,
                                         UINT filterMax) {
  LoopContext context;
  qtbackend::internal::NextMessage(message, filterWindow, filterMin, filterMax, context);
}

// Keystrokes reach the widgets as Qt key events, which type their own characters; the
// message loop carries no keystroke messages to translate.
BOOL TranslateMessage(const MSG* message) {
  (void)message;
  return FALSE;
}

// Timers run on the window thread's QTimer; each timeout posts WM_TIMER unless one for the
// same timer is still waiting in the queue. A window's timers can only be set by its own
// thread (ERROR_ACCESS_DENIED otherwise).
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, void*) {
  if (!OnWindowThread()) {
    SetLastError(window ? ERROR_ACCESS_DENIED : ERROR_NOT_SUPPORTED);
    return 0;
  }
  {
    std::lock_guard lock(M().mutex);
    if (window) {
      Window* w = FindWindowLocked(window);
      if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
      }
    } else {
      id = S().nextTimerId++;
    }
  }
  UINT interval = std::max<UINT>(milliseconds, 10);  // the platform's shortest period
  QTimer* timer = nullptr;
  {
    std::lock_guard lock(M().mutex);
    for (Timer& existing : S().timers) {
      if (existing.window == window && existing.id == id) timer = existing.timer;
    }
  }
  if (!timer) {
    timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [window, id] {
      std::lock_guard lock(M().mutex);
      if (window && !FindWindowLocked(window)) return;
      ThreadQueue& queue = QueueLocked(std::this_thread::get_id());
      for (const MSG& m : queue.posted) {
        if (m.message == WM_TIMER && m.hwnd == window && m.wParam == id) return;
      }
      queue.posted.push_back(MakeMessage(window, WM_TIMER, id, 0));
    });
    std::lock_guard lock(M().mutex);
    S().timers.push_back({window, id, timer});
  }
  timer->start(static_cast<int>(interval));
  return window ? 1 : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  if (!OnWindowThread()) {
    BOOL result = FALSE;
    if (!RunOnWindowThread([&] { result = KillTimer(window, id); })) {
      SetLastError(ERROR_INVALID_PARAMETER);
    }
    return result;
  }
  QTimer* timer = nullptr;
  {
    std::lock_guard lock(M().mutex);
    auto& timers = S().timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == timers.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    timer = it->timer;
    timers.erase(it);
    // A WM_TIMER still waiting in the queue goes with its timer.
    auto& posted = QueueLocked(std::this_thread::get_id()).posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [&](const MSG& m) {
                                  return m.message == WM_TIMER && m.hwnd == window &&
                                         m.wParam == id;
                                }),
                 posted.end());
  }
  timer->stop();
  timer->deleteLater();
  return TRUE;
}

namespace {

// Told on every thread that ends: waits for threads (MsgWaitForMultipleObjects) look again.
void WakeOnThreadEnd() {
  {
    std::lock_guard lock(M().mutex);
    for (auto& [id, queue] : S().queues) queue->wake.notify_all();
  }
  WakeWindowThread();
}

}  // namespace

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
  if (!message) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (OnWindowThread()) {
    // What other threads handed over, and what the user did meanwhile (Qt's pending events,
    // which may post messages), without waiting.
    RunCrossThreadCalls();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  std::lock_guard lock(M().mutex);
  ThreadQueue& queue = QueueLocked(std::this_thread::get_id());
  if (TakeReadyLocked(queue, message, window, filterMin, filterMax, remove & PM_REMOVE)) {
    return TRUE;
  }
  if (queue.quit) {
    if (remove & PM_REMOVE) queue.quit = false;
    *message = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
    return TRUE;
  }
  return FALSE;
}

// On the window thread the wait is Qt's event wait: what other threads hand over meanwhile
// is carried out at once, so a thread waited for that sends to the window thread can always
// finish.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  if (waitAll || (count && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  static std::once_flag listening;
  std::call_once(listening, [] { platform::SetThreadEndListener(&WakeOnThreadEnd); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  const bool windowThread = OnWindowThread();
  bool timedOut = false;
  QTimer timer;
  if (windowThread && milliseconds != INFINITE && milliseconds != 0) {
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&timedOut] { timedOut = true; });
    timer.start(static_cast<int>(milliseconds));
  }
  for (;;) {
    // Checked under the lock that the end of a thread takes to wake the waiters.
    std::unique_lock lock(M().mutex);
    for (DWORD i = 0; i < count; ++i) {
      DWORD state = WaitForSingleObject(handles[i], 0);
      if (state == WAIT_OBJECT_0) return WAIT_OBJECT_0 + i;
      if (state == WAIT_FAILED) return WAIT_FAILED;
    }
    ThreadQueue& queue = QueueLocked(std::this_thread::get_id());
    bool sent = (wakeMask & QS_SENDMESSAGE) && windowThread && !S().calls.empty();
    bool posted = (wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) && !queue.posted.empty();
    if (sent || posted) return WAIT_OBJECT_0 + count;
    if (milliseconds == 0 || timedOut) return WAIT_TIMEOUT;
    if (windowThread) {
      lock.unlock();
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
      continue;
    }
    auto woken = [&] { return !queue.posted.empty(); };
    if (milliseconds == INFINITE) {
      queue.wake.wait(lock);
    } else if (queue.wake.wait_until(lock, deadline, woken)) {
      return WAIT_OBJECT_0 + count;
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return WAIT_TIMEOUT;
    }
  }
}
