// The headless backend's shared state: windows, classes, menus, timers and the message
// queues of every thread, behind one mutex. Window procedures, predicates and script
// callbacks are always called without that mutex held.
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
#include "platform/handle_table.h"
#include "platform/headless/headless.h"
#include "platform/resources.h"
#include "platform/window.h"

namespace headless::internal {

struct WindowClass {
  std::string name;
  ATOM atom;
  WNDCLASSA record;
  std::string menuName;  // a copy of the class's menu name (empty for none)
  bool integerMenu = false;
};

// A dialog's or a dialog control's own state.
struct DialogData {
  // Dialogs.
  bool isDialog = false;
  DLGPROC procedure = nullptr;
  bool initialised = false;  // WM_INITDIALOG was sent
  bool ended = false;
  INT_PTR result = 0;
  int templateId = 0;
  std::deque<DialogAction> actions;  // the script of this run
  size_t record = 0;                 // index into State::dialogRecords
  int focus = 0;                     // id of the control with the focus
  // Controls.
  platform::ControlClass kind = platform::ControlClass::kStatic;
  int position = 0, rangeMin = 0, rangeMax = 100;  // trackbars
  std::vector<std::string> items;                  // combo boxes
  int selection = -1;
};

struct DialogScript {
  bool byCaption = false;
  int templateId = 0;
  std::string caption;
  std::vector<DialogAction> actions;
};

struct Window {
  HWND handle = nullptr;
  std::string className;
  WNDPROC procedure = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::string text;
  HWND parent = nullptr;
  std::vector<HWND> children;  // in creation order
  RECT rect{};                 // outer rectangle: screen coordinates, or parent client ones
  HMENU menu = nullptr;        // top-level windows only
  int id = 0;                  // child windows only
  bool needsPaint = false;
  bool destroying = false;
  bool classBackground = true;  // the class has a background brush
  std::thread::id thread;       // the thread that created the window
  std::shared_ptr<DialogData> dialog;
};

struct MenuItem {
  std::string text;
  UINT id = 0;
  UINT state = 0;  // MF_GRAYED, MF_DISABLED bits
  bool separator = false;
};

struct MenuPopup {
  std::string text;
  UINT state = 0;
  std::vector<MenuItem> items;
};

struct Menu {
  std::vector<MenuPopup> popups;
  HWND owner = nullptr;  // the window the menu belongs to, once attached
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

struct State {
  std::mutex mutex;
  platform::HandleTable<Window> windows{platform::HandleKind::kWindow};
  platform::HandleTable<Menu> menus{platform::HandleKind::kMenu};
  std::map<std::string, WindowClass> classes;  // keyed by lower-case name
  ATOM nextAtom = 0xC000;
  std::map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;
  std::vector<Timer> timers;
  UINT_PTR nextTimerId = 1;
  std::deque<ScriptStep> script;
  std::vector<WindowEvent> events;
  std::map<int, int> metrics;
  uint64_t generation = 0;  // bumped by every wake-up
  uint64_t waitLimitMs = 60000;
  std::function<void()> blockingWaitHook;
  std::deque<DialogScript> dialogScripts;
  std::vector<DialogRecord> dialogRecords;
};

// The one state of the process (never destroyed, so threads ending late may still use it).
State& S();

// Under S().mutex: the window, or null for a stale handle.
Window* FindWindowLocked(HWND window);
// Under S().mutex: the calling thread's queue, created on first use.
ThreadQueue& OwnQueueLocked();
// Under S().mutex: the queue of a window's thread, or null.
ThreadQueue* QueueOfLocked(const Window& window);
// Under S().mutex: appends to the window event log.
void LogEventLocked(WindowEventKind kind, const Window& window, UINT item = 0, UINT flags = 0);
// Under S().mutex: wakes every thread waiting for messages.
void WakeAllLocked();
// Under S().mutex: a menu item by command id (searching every popup) or null.
MenuItem* FindMenuItemLocked(Menu& menu, UINT id);

// Calls the window's procedure on the calling thread (0 for a stale handle).
LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Carries out the messages other threads sent to the calling thread; true when there was one.
bool RunSentMessages();
// Runs `job` on the thread of `window` (at once when that is the calling thread) while the
// caller waits, as a sent message; 0 when the window or its thread is gone.
LRESULT RunOnWindowThread(HWND window, std::function<LRESULT()> job);
// Destroys a menu (its windows forget it).
void DestroyMenuLocked(HMENU menu);

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

// Client rectangle of a window in its own outer coordinates (frame model).
RECT ClientAreaLocked(const Window& window);
// Whether the window and every parent up to its top-level window are visible.
bool VisibleLocked(const Window& window);
// Whether the window takes the user's input: neither it nor a parent up to its top-level
// window is disabled.
bool TakesInputLocked(const Window& window);
// Screen origin of a window's client area.
POINT ClientOriginLocked(const Window& window);

}  // namespace headless::internal
