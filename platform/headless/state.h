// The headless driver's state beside the window system's model: timers on the virtual clock,
// the message queues of every thread, scripts and dialog records, behind the model's mutex.
// Window procedures, predicates and script callbacks are always called without it held.
#pragma once

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
#include "platform/headless/headless.h"
#include "platform/resources.h"
#include "platform/window.h"
#include "platform/window_system/model.h"

namespace headless::internal {

using namespace window_system;

// A running dialog's script and the index of its record in State::dialogRecords.
struct DialogRun {
  std::deque<DialogAction> actions;
  size_t record = 0;
};

struct DialogScript {
  bool byCaption = false;
  int templateId = 0;
  std::string caption;
  std::vector<DialogAction> actions;
};

struct Timer {
  HWND window;
  UINT_PTR id;
  UINT interval;
  uint64_t due;  // virtual milliseconds
  std::thread::id thread;
};

// A message sent from another thread, waiting for the window's thread to carry it out.
struct SentMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
  std::thread::id sender;
  std::function<LRESULT()> job;  // run instead of the window procedure when set
};

struct ThreadQueue {
  std::thread::id thread;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quit = false;
  int quitCode = 0;
  bool alive = true;
  std::condition_variable wake;
};

// One step of scripted user input (see headless.h).
struct ScriptStep {
  enum Kind { kPost, kWaitUntil, kAdvance, kCall };
  Kind kind = kCall;
  std::function<HWND()> window;  // kPost
  bool userInput = false;        // kPost: dropped when the window takes no input
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::function<bool()> predicate;  // kWaitUntil
  std::string label;
  uint64_t milliseconds = 0;   // kAdvance
  std::function<void()> call;  // kCall
};

// Guarded by M().mutex.
struct State {
  std::map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;
  std::vector<Timer> timers;
  UINT_PTR nextTimerId = 1;
  std::deque<ScriptStep> script;
  uint64_t generation = 0;  // bumped by every wake-up
  uint64_t waitLimitMs = 60000;
  std::function<void()> blockingWaitHook;
  std::deque<DialogScript> dialogScripts;
  std::vector<DialogRecord> dialogRecords;
  std::map<HWND, DialogRun> dialogRuns;  // the running dialogs
};

// The one state of the process (never destroyed, so threads ending late may still use it).
State& S();

// Under M().mutex: the calling thread's queue, created on first use.
ThreadQueue& OwnQueueLocked();
// Under M().mutex: the queue of a window's thread, or null.
ThreadQueue* QueueOfLocked(const Window& window);
// Under M().mutex: wakes every thread waiting for messages.
void WakeAllLocked();

// Carries out the messages other threads sent to the calling thread; true when there was one.
bool RunSentMessages();
// Runs `job` on the thread of `window` (at once when that is the calling thread) while the
// caller waits, as a sent message; 0 when the window or its thread is gone.
LRESULT RunOnWindowThread(HWND window, std::function<LRESULT()> job);

// How a modal loop or GetMessageA looks for work.
struct LoopContext {
  HWND dialog = nullptr;       // the dialog of a modal loop, or null
  std::function<bool()> done;  // the modal loop's end condition
  const char* what = "GetMessageA";
};
// Takes the next message for the calling thread: sent messages are carried out on the way,
// then posted messages, WM_PAINT, due timers, and finally script steps. Returns false
// when `context.done` became true. Aborts the process with a clear message when nothing can
// ever arrive.
bool NextMessage(MSG* message, HWND filterWindow, UINT filterMin, UINT filterMax,
                 const LoopContext& context);

// Dialog hooks (dialogs.cpp): a dialog's scripted actions, run when its loop is idle.
// Gives true when an action ran (or is waiting), false when the dialog has no script left.
bool RunDialogScriptStep(HWND dialog, bool* waiting, std::string* label);

}  // namespace headless::internal
