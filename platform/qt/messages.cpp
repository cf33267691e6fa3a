// Waiting on the Qt display: the window thread (the thread of the QApplication) waits inside
// Qt's event processing, so that the user's input and repaints go on meanwhile; other threads
// wake it by posting a Qt event, never by polling. The hooks of tests and the screenshot
// tool, and the modal loops of boxes and dialogs.
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>

#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_state.h"

namespace qtbackend {
namespace {

std::mutex hookMutex;
std::function<void(QWidget*, HWND)> modalHook;  // guarded by hookMutex
std::function<void()> idleHook;                 // guarded by hookMutex

// The window thread, once it has asked whether it is.
std::atomic<std::thread::id> windowThread;

// A copy of a hook, to run without hookMutex held.
template <typename Hook>
Hook CopyOf(const Hook& hook) {
  std::lock_guard lock(hookMutex);
  return hook;
}

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

bool OnWindowThread() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return false;
  windowThread.store(std::this_thread::get_id());
  return true;
}

bool RunOnWindowThread(const std::function<void()>& call) {
  if (OnWindowThread()) {
    call();
    return true;
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  bool known;
  {
    std::lock_guard lock(M().mutex);
    known = M().queues.count(windowThread.load()) != 0;
  }
  if (!known) {
    // The window thread has not used its queue yet: it makes it when it next handles events.
    QMetaObject::invokeMethod(
        app,
        [] {
          OnWindowThread();
          std::lock_guard lock(M().mutex);
          OwnQueueLocked();
        },
        Qt::BlockingQueuedConnection);
  }
  return RunOnThread(windowThread.load(), call);
}

void PostToWindowThread(std::function<void()> call) {
  if (OnWindowThread()) {
    call();
  } else if (QCoreApplication* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
  }
}

void RunModalLoop(QWidget* shown, HWND dialog, const std::function<bool()>& done) {
  auto hook = CopyOf(modalHook);
  if (hook && !done()) hook(shown, dialog);
  // A WM_QUIT ends a dialog, not a box.
  RunLoop({.done = done, .keepQuit = !dialog, .dialog = dialog});
}

}  // namespace internal

void PumpUntil(const std::function<bool()>& predicate) {
  internal::RunLoop({.done = predicate, .keepQuit = true});
}

}  // namespace qtbackend

namespace window_system::display {

using namespace qtbackend::internal;

// The window thread waits in Qt's event processing: a queued call ends the wait in any Qt
// event loop and carries out what other threads sent to it.
void WakeThreadLocked(std::thread::id thread) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || thread != qtbackend::windowThread.load()) return;
  QMetaObject::invokeMethod(
      app, [] { RunSentMessages(); }, Qt::QueuedConnection);
}

bool AwaitDisplayLocked(std::unique_lock<std::mutex>& lock, Deadline deadline) {
  if (!OnWindowThread()) return false;
  lock.unlock();
  auto now = std::chrono::steady_clock::now();
  if (deadline <= now) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  } else {
    // A timer ends the wait at the deadline.
    QTimer timer;
    if (deadline != Deadline::max()) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      timer.setSingleShot(true);
      timer.start(static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX)));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  lock.lock();
  return true;
}

// GetMessageA's loop runs the idle hook each time it has nothing to do; every loop then waits
// for the next event or its thread's next timer.
bool IdleLocked(std::unique_lock<std::mutex>& lock, ThreadQueue& queue, uint64_t seen,
                const LoopContext& context, WaitProgress&, uint64_t timerDue) {
  if (!context.done && OnWindowThread()) {
    auto hook = qtbackend::CopyOf(qtbackend::idleHook);
    if (hook) {
      lock.unlock();
      hook();
      lock.lock();
      if (queue.wakes != seen) return true;
    }
  }
  Deadline deadline = Deadline::max();
  if (timerDue != UINT64_MAX) {
    uint64_t now = Now();
    deadline = std::chrono::steady_clock::now() +
               std::chrono::milliseconds(timerDue > now ? timerDue - now : 0);
  }
  WaitForWakeLocked(lock, queue, seen, deadline);
  return true;
}

}  // namespace window_system::display
