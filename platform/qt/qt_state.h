// The Qt backend's shared state: windows, classes, menus, timers and the message queues of
// every thread, behind one mutex. Qt widgets live on the window thread (the thread that
// created the QApplication) and are touched only there; window procedures are always called
// without the mutex held.
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
#include "platform/handle_table.h"
#include "platform/window.h"

class QTimer;

namespace qtbackend::internal {

struct WindowClass {
  std::string name;
  ATOM atom;
  WNDCLASSA record;
  std::string menuName;  // a copy of the class's menu name (empty for none)
};

struct DialogData;  // a dialog's or a control's own state (dialogs.cpp)

struct Window {
  HWND handle = nullptr;
  std::string className;
  WNDPROC procedure = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  UINT classStyle = 0;
  HBRUSH background = nullptr;  // the class's background brush
  std::string text;
  HWND parent = nullptr;       // the parent of a child window, the owner of a dialog
  std::vector<HWND> children;  // in creation order
  RECT rect{};                 // outer rectangle: screen coordinates, or parent client ones
  HMENU menu = nullptr;        // top-level windows only
  int id = 0;                  // child windows only
  bool needsPaint = false;
  bool needsErase = false;
  bool destroying = false;
  std::thread::id thread;  // the thread that created the window
  std::shared_ptr<DialogData> dialog;
  // Window thread only: the widget showing the whole window and the one of its client area
  // (the same widget for dialog controls).
  QPointer<QWidget> outer;
  QPointer<QWidget> client;
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
  HWND owner = nullptr;   // the window the menu belongs to, once attached
  QPointer<QWidget> bar;  // window thread only: its menu bar once shown
};

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

struct State {
  std::mutex mutex;
  platform::HandleTable<Window> windows{platform::HandleKind::kWindow};
  platform::HandleTable<Menu> menus{platform::HandleKind::kMenu};
  std::map<std::string, WindowClass> classes;  // keyed by lower-case name
  ATOM nextAtom = 0xC000;
  std::map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;
  std::deque<std::shared_ptr<CrossThreadCall>> calls;  // for the window thread
  std::condition_variable callDone;
  std::vector<Timer> timers;
  UINT_PTR nextTimerId = 1;
};

// The one state of the process (never destroyed, so threads ending late may still use it).
State& S();

// Under S().mutex: the window, or null for a stale handle.
Window* FindWindowLocked(HWND window);
// Under S().mutex: the queue of a thread, created on first use.
ThreadQueue& QueueLocked(std::thread::id thread);
// Under S().mutex: a menu item by command id (searching every popup) or null.
MenuItem* FindMenuItemLocked(Menu& menu, UINT id);
// Under S().mutex: destroys a menu (its window forgets it).
void DestroyMenuLocked(HMENU menu);

// Screen metric of `index` (GetSystemMetrics without the window-thread hop).
int Metric(int index);
// Client rectangle of a window in its own outer coordinates (frame model: sizing frame or
// thin border, caption bar, menu bar).
RECT ClientAreaLocked(const Window& window);
// Outer rectangle in screen coordinates.
RECT ScreenRectLocked(const Window& window);

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

// Calls the window's procedure on the calling thread (0 for a stale handle).
LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

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

// The window thread learns of what the user did through the window manager: a move or a
// resize (the new outer rectangle) and a minimise or restore. The model follows and the
// window procedure hears of it.
void NoteUserGeometry(HWND window, int x, int y, int width, int height);
void NoteUserMinimised(HWND window, bool minimised);

// Dialogs (dialogs.cpp), window thread only: whether the window is a dialog or a dialog
// control, the control's widget text brought in line with the model, and the dialog keys.
bool IsDialogLocked(const Window& window);
bool IsControlLocked(const Window& window);
void ApplyControlText(HWND control, const std::string& text);
// Enter and Escape pressed in a dialog; true when the dialog took the key.
bool DialogKey(HWND dialog, int qtKey);

}  // namespace qtbackend::internal
