// Controls of the headless backend for tests and for runs without a display: what was shown
// (message boxes, beeps), the answers the "user" gives, and the virtual clock on which
// Sleep, Beep and GetTickCount run. All functions are safe to call from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"
#include "platform/window_system/record.h"

namespace headless {

// What the window system showed (boxes, beeps, window events) and the screen metrics: see
// platform/window_system/record.h.
using window_system::BeepRecord;
using window_system::Beeps;
using window_system::Boxes;
using window_system::BoxRecord;
using window_system::ClearLogs;
using window_system::ClearWindowEvents;
using window_system::SetSystemMetric;
using window_system::WindowEventKind;
using window_system::WindowEvents;

// Called for every box (on the thread that asked for it); its result is the box's answer.
// Without a handler (an empty function removes it) every box answers IDOK.
void SetBoxHandler(std::function<int(const BoxRecord&)> handler);

// The virtual clock, in milliseconds since the process started.
uint64_t Now();
// Moves the virtual clock forward (Sleep and Beep do this for the calling thread).
void Advance(uint64_t milliseconds);

// ---- Scripted user input ------------------------------------------------------------------
// A message loop (GetMessageA, a modal dialog's loop) that finds nothing to do (no posted or
// sent message, no window to paint, no due timer) takes the next script step. When there is
// no step either, nothing can ever arrive: the process stops with a message on standard
// error naming the loop, so that a badly scripted test fails instead of hanging.
// A step that names a window is taken only by that window's thread; the others by any loop.

// A window named now or looked up when the step runs (e.g. [] { return MainWindow; }).
using WindowRef = std::function<HWND()>;

// Posts a message to the window when the step runs.
void ScriptMessage(WindowRef window, UINT message, WPARAM wParam, LPARAM lParam);
// The user's own input. It is dropped when the window is disabled (or a parent up to its
// top-level window is), as the platform drops a click on a window disabled behind a modal
// dialog, so a step taken inside a dialog's loop never reaches the dialog's owner.
// The user picks menu command `id`: WM_COMMAND (id, 0) is posted to the window.
void ScriptCommand(HWND window, UINT id);
void ScriptCommand(WindowRef window, UINT id);
// The user presses the window's close box: WM_SYSCOMMAND SC_CLOSE is posted.
void ScriptClose(HWND window);
void ScriptClose(WindowRef window);
// Holds the loop until `predicate` is true; the loop goes on handling messages meanwhile and
// re-checks whenever it is woken (messages, ended threads, Wake, the clock moving). After
// the wait limit on the real clock the process stops with `label` on standard error.
void ScriptWaitUntil(std::function<bool()> predicate, std::string label);
// Moves the virtual clock forward (timers that become due fire afterwards).
void ScriptAdvance(uint64_t milliseconds);
// Runs `call` on the loop's thread.
void ScriptCall(std::function<void()> call);
// Steps not yet taken.
size_t PendingScriptSteps();
// Forgets every script step.
void ClearScript();
// Real milliseconds a wait (ScriptWaitUntil, PumpUntil) may last before it gives up.
void SetWaitLimit(uint64_t milliseconds);

// ---- Pumping ------------------------------------------------------------------------------

// Handles the calling thread's messages (sent, posted, painting, due timers) until
// `predicate` is true; true then, false when the wait limit passed first. Woken without
// polling by messages from other threads, by the end of any thread started with
// CreateThread, by Wake and by the clock moving. Script steps are not taken.
bool PumpUntil(std::function<bool()> predicate);
// Wakes every waiting loop so that it checks its predicate again.
void Wake();
// Called on a thread each time MsgWaitForMultipleObjects is about to block (after it found
// nothing to return yet), so a test can let another thread go on exactly then. An empty
// function removes it.
void SetBlockingWaitHook(std::function<void()> hook);

// ---- Modal dialogs ------------------------------------------------------------------------
// A dialog script is a list of user actions for the next dialog of a template. The dialog's
// modal loop takes one action whenever it has nothing else to do; when the actions run out
// before the dialog ends, the loop goes on with the common script (above).

// One user action in a dialog.
struct DialogAction {
  enum Kind {
    kType,       // replaces the text of edit `id` (EN_CHANGE follows)
    kSlide,      // moves slider `id` to `value` (TBM_SETPOS, then WM_HSCROLL to the dialog)
    kPress,      // presses button `id` (WM_COMMAND id, BN_CLICKED)
    kEnter,      // the Enter key: presses the default push button (IDOK when there is none)
    kEscape,     // the Escape key: WM_COMMAND IDCANCEL, as the platform's dialogs do
    kCloseBox,   // the close box (WS_SYSMENU only): WM_SYSCOMMAND SC_CLOSE, then IDCANCEL
    kSelect,     // selects item `value` of drop-down list `id` (CBN_SELCHANGE follows)
    kWaitUntil,  // holds the script until `predicate` is true
    kCapture,    // records what the dialog shows (DialogRecord::captured)
    kCall,       // runs `call` with the dialog's handle
  };
  Kind kind = kCall;
  int id = 0;
  std::string text{};
  int value = 0;
  std::function<bool()> predicate{};
  std::function<void(HWND)> call{};
};

DialogAction TypeText(int id, std::string text);
DialogAction MoveSlider(int id, int position);
DialogAction PressButton(int id);
DialogAction PressEnter();
DialogAction PressEscape();
DialogAction PressCloseBox();
DialogAction SelectItem(int id, int index);
DialogAction WaitUntil(std::function<bool()> predicate, std::string label);
DialogAction CaptureDialog();
DialogAction CallInDialog(std::function<void(HWND)> call);

// Scripts the next dialog built from template `templateId` (the template's id field, 0 for
// most templates a caller holds), or the next one with `caption`.
void ScriptDialog(int templateId, std::vector<DialogAction> actions);
void ScriptDialog(const std::string& caption, std::vector<DialogAction> actions);
// Dialog scripts no dialog has taken yet.
size_t PendingDialogScripts();
// Forgets the dialog scripts no dialog has taken yet.
void ClearDialogScripts();

// What one control of a dialog showed.
struct ControlState {
  int id = 0;
  std::string className;  // "Button", "Edit", "Static", "msctls_trackbar32", "ComboBox"
  std::string text;       // the control's text (the real one for a password field)
  std::string shown;      // as displayed: a password field shows one '*' per character
  DWORD style = 0;
  int position = 0, rangeMin = 0, rangeMax = 0;  // sliders
  std::vector<std::string> items;                // drop-down lists
  int selection = -1;                            // drop-down lists: the selected index or -1
};

// What a dialog showed at one moment.
struct DialogSnapshot {
  std::string caption;
  std::vector<ControlState> controls;
  int focus = 0;  // id of the control with the focus, 0 for none
  // The control of `id` (the first one), or null.
  const ControlState* Control(int id) const;
  // The control's text ("" when there is none).
  std::string Text(int id) const;
  // The slider's position (-1 when there is none).
  int Position(int id) const;
};

// One modal dialog run.
struct DialogRecord {
  int templateId = 0;
  std::string caption;
  HWND dialog = nullptr;
  HWND owner = nullptr;
  std::vector<std::string> events;  // "init 1", "focus 1000", "type 1000 abc", "press 1", ...
  DialogSnapshot initial;           // just after WM_INITDIALOG
  std::vector<DialogSnapshot> captured;
  bool ended = false;
  INT_PTR result = 0;
  size_t unusedActions = 0;  // script actions left when the dialog ended
};

// Every dialog run so far (the running ones included), oldest first.
std::vector<DialogRecord> DialogRecords();
// Forgets the records of the dialogs run so far. Only while no dialog runs.
void ClearDialogRecords();

}  // namespace headless
