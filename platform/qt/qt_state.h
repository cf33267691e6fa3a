// The Qt driver's state beside the window system's model: the widgets that are the windows'
// peers, timers and the message queues of every thread, behind the model's mutex. Qt widgets
// live on the window thread (the thread that created the QApplication) and are touched only
// there; window procedures are always called without the mutex held.
#pragma once

#include <QPointer>
#include <QWidget>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialog.h"
#include "platform/window.h"
#include "platform/window_system/model.h"

class QTimer;

// A window's peer: the widget showing the whole window and the one of its client area (the
// same widget for dialog controls). Window thread only.
struct window_system::display::Peer {
  QPointer<QWidget> outer;
  QPointer<QWidget> client;
};

namespace qtbackend::internal {

using namespace window_system;

struct Timer {
  HWND window;
  UINT_PTR id;
  QTimer* timer;  // owned by the window thread
};

// Work handed to the window thread by another thread (a sent message, a call that touches
// widgets); the sender waits until `done`.
struct CrossThreadCall {
  std::function<void()> run;
  bool done = false;
};

struct ThreadQueue {
  std::thread::id thread;
  std::deque<MSG> posted;
  bool quit = false;
  int quitCode = 0;
  std::condition_variable wake;
};

// Guarded by M().mutex.
struct State {
  std::map<HMENU, QPointer<QWidget>> menuBars;  // window thread only: each shown menu's bar
  std::map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;
  std::deque<std::shared_ptr<CrossThreadCall>> calls;  // for the window thread
  std::condition_variable callDone;
  std::vector<Timer> timers;
  UINT_PTR nextTimerId = 1;
};

// The one state of the process (never destroyed, so threads ending late may still use it).
State& S();

// Under M().mutex: the queue of a thread, created on first use.
ThreadQueue& QueueLocked(std::thread::id thread);

// True on the thread that runs the QApplication (the window thread); false when there is
// no QApplication.
bool OnWindowThread();
// Runs `call` on the window thread and waits for it: at once when the caller is that thread;
// otherwise the window thread runs it while it fetches messages, runs a modal loop or
// handles Qt events. Gives false (without running it) when there is no QApplication.
bool RunOnWindowThread(const std::function<void()>& call);
// Carries out the calls other threads handed to the window thread; true when there was one.
bool RunCrossThreadCalls();
// Wakes the window thread's loops (from any thread).
void WakeWindowThread();

// How a modal loop or GetMessageA looks for work.
struct LoopContext {
  bool modal = false;          // a dialog's or a message box's loop
  std::function<bool()> done;  // the modal loop's end condition
};
// Takes the next message for the calling thread: calls from other threads are carried out on
// the way, then posted messages, WM_PAINT and WM_QUIT (not in modal loops). Returns false
// when `context.done` became true.
bool NextMessage(MSG* message, HWND filterWindow, UINT filterMin, UINT filterMax,
                 const LoopContext& context);
// Runs a modal loop on the window thread until `done` gives true, dispatching the thread's
// messages meanwhile; `shown` is the box or dialog being shown (for the modal hook).
void RunModalLoop(QWidget* shown, HWND dialog, const std::function<bool()>& done);

// Window thread only: brings the window's widgets in line with its model (geometry,
// visibility, enabled state, texts); creates them when missing.
void SyncWidget(HWND window);
// Window thread only: repaints the window's client widget from its surface.
void RepaintClient(HWND window);
// Window thread only: forgets and deletes the window's widgets.
void DropWidgets(HWND window);
// Window thread only: brings the menu bar of a menu in line with its items' states.
void SyncMenuBar(HMENU menu);

// Dialogs (dialogs.cpp), window thread only: a dialog control's widget made when missing and
// brought in line with the control's state, and the dialog keys.
void SyncControl(HWND control);
// Enter and Escape pressed in a dialog; true when the dialog took the key.
bool DialogKey(HWND dialog, int qtKey);

}  // namespace qtbackend::internal
