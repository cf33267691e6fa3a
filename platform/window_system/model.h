// The window system's model: classes, windows and their tree, menus, dialogs, every thread's
// message queue and timers, screen metrics and the record of what was shown, behind one
// mutex. The display drivers keep what they need beside it under the same mutex. Window
// procedures are always called without the mutex held.
#pragma once

#include <chrono>
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
#include "platform/resources.h"
#include "platform/window.h"
#include "platform/window_system/display.h"
#include "platform/window_system/record.h"

namespace window_system {

struct WindowClass {
  std::string name;
  ATOM atom;
  WNDCLASSA record;
  std::string menuName;  // a copy of the class's menu name (empty for none)
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
  LRESULT initAnswer = 0;  // what the dialog answered to WM_INITDIALOG
  int focus = 0;           // id of the control given the focus
  // Controls.
  platform::ControlClass kind = platform::ControlClass::kStatic;
  int position = 0, rangeMin = 0, rangeMax = 100;  // trackbars
  std::vector<std::string> items{};                // combo boxes
  int selection = -1;
};

struct Window {
  HWND handle = nullptr;
  std::string className;
  WNDPROC procedure = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  HBRUSH background = nullptr;  // the class's background brush
  std::string text;
  HWND parent = nullptr;       // the parent of a child window, the owner of a pop-up
  std::vector<HWND> children;  // in creation order
  RECT rect{};                 // outer rectangle: screen coordinates, or parent client ones
  HMENU menu = nullptr;        // top-level windows only
  int id = 0;                  // child windows only
  bool needsPaint = false;
  bool needsErase = false;
  bool destroying = false;
  std::thread::id thread;  // the thread that created the window
  std::shared_ptr<DialogData> dialog;
  std::shared_ptr<display::Peer> peer;
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

// A message sent by another thread (or a call handed over to this thread), waiting for the
// queue's thread to carry it out; the sender waits until `done`.
struct SentCall {
  std::function<LRESULT()> run;
  LRESULT result = 0;
  bool done = false;
  std::thread::id sender;
};

// A thread's message queue, made when the thread first uses messages or owns a window.
struct ThreadQueue {
  std::thread::id thread;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentCall>> sent;
  bool quit = false;  // PostQuitMessage was called
  int quitCode = 0;
  bool alive = true;   // false once the thread ended
  uint64_t wakes = 0;  // counts the wake-ups, so that a waiter sees one that came meanwhile
  std::condition_variable wake;
};

// A timer of SetTimer: WM_TIMER is made for it when it is due and its thread looks for work.
struct Timer {
  HWND window;
  UINT_PTR id;
  UINT interval;
  uint64_t due;  // on the display's clock
  std::thread::id thread;
};

struct Model {
  std::mutex mutex;
  platform::HandleTable<Window> windows{platform::HandleKind::kWindow};
  platform::HandleTable<Menu> menus{platform::HandleKind::kMenu};
  std::map<std::string, WindowClass> classes;  // keyed by lower-case name
  ATOM nextAtom = 0xC000;
  std::vector<WindowEvent> events;
  std::map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;
  std::vector<Timer> timers;
  UINT_PTR nextTimerId = 1;
  std::function<void()> blockingWaitHook;  // see SetBlockingWaitHook
};

// The one model of the process (never destroyed, so threads ending late may still use it).
Model& M();

// Under M().mutex: the window, or null for a stale handle.
Window* FindWindowLocked(HWND window);
// Under M().mutex: the window, or null with ERROR_INVALID_WINDOW_HANDLE.
Window* CheckedLocked(HWND window);
// Whether the window exists; false with ERROR_INVALID_WINDOW_HANDLE when it does not.
bool WindowExists(HWND window);
// Under M().mutex: appends to the record of window events.
void LogEventLocked(WindowEventKind kind, const Window& window, UINT item = 0, UINT flags = 0);
// Under M().mutex: destroys a menu (its window forgets it).
void DestroyMenuLocked(HMENU menu);

// Screen metric of `index` (GetSystemMetrics); callable with or without M().mutex.
int Metric(int index);
// Client rectangle of a window in its own outer coordinates (frame model: sizing frame or
// thin border, caption bar, menu bar).
RECT ClientAreaLocked(const Window& window);
// The same area from (0, 0), as GetClientRect gives it (minimised or not).
RECT ClientRectLocked(const Window& window);
// Outer rectangle in screen coordinates.
RECT ScreenRectLocked(const Window& window);
// Screen origin of a window's client area.
POINT ClientOriginLocked(const Window& window);
// Whether the window and every parent up to its top-level window are visible.
bool VisibleLocked(const Window& window);
// Whether the window takes the user's input: neither it nor a parent up to its top-level
// window is disabled.
bool TakesInputLocked(const Window& window);

// The control of `id` among the dialog's children, or null (no error is set).
HWND FindControl(HWND dialog, int id);
// Under M().mutex: the state of a dialog (not of a control), or null.
DialogData* DialogLocked(HWND dialog);
// Under M().mutex: whether the window is a dialog, or a dialog's control (with its class).
// Both follow from the window's class, so they hold from the window's creation on.
bool IsDialogLocked(const Window& window);
bool IsControlLocked(const Window& window, platform::ControlClass* kind = nullptr);

// What the user did in a dialog, as the display reports it: the dialog hears of it through
// the platform's notifications. Called on the dialog's thread.
// A button pressed (a click, Enter, Escape): WM_COMMAND (id, BN_CLICKED) to the dialog.
void NoteUserCommand(HWND dialog, int id);
// The id of the button Enter presses: the push button with the focus (`focus`, null for
// none), else the default push button, else IDOK; 0 when that button is disabled.
int EnterButtonId(HWND dialog, HWND focus);
// Text typed into an edit control: the control's new text, then EN_CHANGE.
void NoteUserText(HWND edit, const std::string& text);
// An item chosen in a drop-down list: the selection and the control's text, then
// CBN_SELCHANGE; false (nothing sent) for an index outside the list.
bool NoteUserChoice(HWND combo, int index);
// A slider moved by the user to `position` (clamped to its range) with a TB_* scroll code:
// WM_HSCROLL to the dialog, carrying the position for TB_THUMBTRACK.
void NoteUserSlide(HWND trackbar, int position, WORD code);
// The user let go of a slider: WM_HSCROLL TB_THUMBPOSITION with the position, then
// TB_ENDTRACK.
void NoteUserSlideEnd(HWND trackbar);

// ---- Message queues ---------------------------------------------------------------------

// Under M().mutex: the calling thread's queue, made on first use.
ThreadQueue& OwnQueueLocked();
// Under M().mutex: wakes the queue's thread wherever it waits.
void WakeQueueLocked(ThreadQueue& queue);
// Under M().mutex: wakes every thread, so that every wait looks again (a window to paint or
// gone, a thread ended, the clock moved).
void WakeAllLocked();
// Waits until `queue` (the caller's) is woken after `seen` (its `wakes` then) or `deadline`
// passes; false on time-out. Under M().mutex, released meanwhile. On the display's own
// thread the display's events are handled meanwhile.
bool WaitForWakeLocked(std::unique_lock<std::mutex>& lock, ThreadQueue& queue, uint64_t seen,
                       Deadline deadline);
// Carries out the messages other threads sent to the calling thread; true when there was one.
bool RunSentMessages();
// Runs `job` on the thread of `window` as a sent message while the caller waits (at once
// when that is the calling thread), serving what is sent to the caller meanwhile; 0 when the
// window or its thread is gone.
LRESULT SendToWindowThread(HWND window, std::function<LRESULT()> job);
// The same for a thread; false (without running it) when the thread has no live queue.
bool RunOnThread(std::thread::id thread, const std::function<void()>& call);

// How a message loop (GetMessageA, a modal loop, a test's pump) looks for work.
struct LoopContext {
  std::function<bool()> done;  // the loop ends once it gives true (none for GetMessageA)
  bool keepQuit = false;       // WM_QUIT stays queued for an outer loop
  bool pump = false;           // a test's pump: the driver gives up after its wait limit
  HWND dialog = nullptr;       // the dialog whose modal loop this is
  const char* what = "GetMessageA";
};
// What a loop's waits have seen so far, kept by the loop across its calls to the driver (a
// driver gives up on a wait that makes no progress for too long).
struct WaitProgress {
  std::string waitingFor;
  Deadline giveUpAt{};
};
// Carries out the calling thread's messages (translated and dispatched) until the display
// gives up or `context.done` gives true. A WM_QUIT it takes ends the loop too and is queued again
// for the outer loop.
void RunLoop(const LoopContext& context);

// A message stamped with the display's clock.
MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Calls the window's procedure on the calling thread (0 for a stale handle).
LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What the display reports the user did to a window through the window manager: a move or
// a resize (the new outer rectangle), a minimise or a restore. The model follows and the
// window procedure hears of it. Display thread only.
void NoteUserGeometry(HWND window, int x, int y, int width, int height);
void NoteUserMinimised(HWND window, bool minimised);

}  // namespace window_system
