// The display driver beneath the window system: what the model asks of the display that
// shows it. The model keeps every window's state; a driver only shows that state and tells
// the model what the user did. Exactly one driver is linked into a program (headless for
// tests and runs without a display, qt for the desktop), and it defines these calls.
// Unless a call says otherwise, it is made without the model's lock held.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/resources.h"
#include "platform/types.h"
#include "platform/window_system/record.h"

namespace window_system {

struct ThreadQueue;
struct LoopContext;
struct WaitProgress;
// A moment on the real clock until which a wait may last.
using Deadline = std::chrono::steady_clock::time_point;

}  // namespace window_system

namespace window_system::display {

// The driver's native objects for one window (null for a driver that shows nothing).
struct Peer;

// ---- Threads ------------------------------------------------------------------------------

// Whether the calling thread may create windows: a driver whose native objects live on one
// thread answers true only there.
bool MayCreateWindows();
// Whether the calling thread may change a window's native peer directly. When false, the
// model hands the change to the display's thread with RunOnThreadOf.
bool OnDisplayThread();
// Runs `call` on the thread that shows `window` (for a null window, on the display's thread
// or the calling one) and waits for it, serving what is sent to the caller meanwhile; false
// (without running it) when there is no such thread.
bool RunOnThreadOf(HWND window, const std::function<void()>& call);

// ---- Peers ----------------------------------------------------------------------------------

// Creates the peer of a newly created window, before its first message (null when the
// driver keeps none). Called under the model's lock; it must not touch native objects yet.
std::shared_ptr<Peer> NewPeer();
// The window's state changed (visibility, geometry, enabled state, text, minimised, and for
// a dialog's control its slider position and range or its list's items and selection): the
// peer follows, creating its native objects when missing. Display thread only.
void ShowWindowState(HWND window);
// The window is being destroyed: its native objects go. Display thread only.
void DropPeer(HWND window);
// The window is gone from the model: the driver forgets what it kept for it.
void ForgetWindow(HWND window);
// The window's surface has new pixels: its peer shows them. Any thread.
void ShowSurface(HWND window);
// A menu item's or pop-up's greyed state changed: the menu bar shows it. Any thread.
void ShowMenuState(HMENU menu);

// ---- Waiting ------------------------------------------------------------------------------

// The queue of `thread` was woken (a message posted or sent to it, a wake-up of every
// thread): a driver whose display waits for that thread ends the wait, and has the thread
// carry out the messages sent to it even while it is inside one of the display's own loops.
// Called under the model's lock.
void WakeThreadLocked(std::thread::id thread);
// On a thread whose waits are the display's own (the thread of a display that must handle
// its events there): handles the display's events until at least one came (a wake-up is
// one) or `deadline` passed (a deadline already passed handles only the pending ones), with
// `lock` (the model's) released meanwhile, and gives true. Elsewhere gives false at once and
// the model waits on the queue itself.
bool AwaitDisplayLocked(std::unique_lock<std::mutex>& lock, Deadline deadline);
// A message loop of the calling thread found nothing to take (`seen`: its queue's wake-ups
// then; `timerDue`: when its next timer is due on the display's clock, UINT64_MAX for none):
// the driver waits for the next event or makes one happen (a step of a test's script, an
// idle hook). False ends the loop: the driver gave up. Called and returns with `lock` held.
bool IdleLocked(std::unique_lock<std::mutex>& lock, ThreadQueue& queue, uint64_t seen,
                const LoopContext& context, WaitProgress& progress, uint64_t timerDue);

// ---- Dialogs ------------------------------------------------------------------------------

// Where the display puts a dialog built from `dialog`, in pixels: for a control of the
// template, its rectangle in the dialog's client area; for none, the dialog's position
// (from its owner's client area) and its client size. Dialog units follow the display's
// dialog font. Dialog thread only.
RECT DialogTemplatePixels(const platform::DialogTemplate& dialog,
                          const platform::ControlTemplate* control);
// The model built a modal dialog and its controls from `dialog`; WM_INITDIALOG comes next.
// The driver readies what it shows or records of the dialog. Dialog thread only.
void DialogBuilt(HWND window, const platform::DialogTemplate& dialog);
// The dialog answered WM_INITDIALOG (the model keeps the answer and the control given the
// focus): the driver shows it unless it already ended and runs its modal loop, carrying out
// the thread's messages (and those sent by other threads) until `ended` gives true or a
// WM_QUIT arrives, which stays queued for the outer loop. The model destroys the dialog next.
// Dialog thread only.
void RunDialogLoop(HWND window, const std::function<bool()>& ended);

// ---- Boxes and tones ----------------------------------------------------------------------

// Shows a message box, modal, on the thread the model chose, and gives the user's answer.
// The model has disabled the box's owner meanwhile.
int RunMessageBox(const BoxRecord& box);
// Plays a tone of `frequency` Hz for `duration` milliseconds; returns when it ended.
void Tone(DWORD frequency, DWORD duration);
// Pauses the calling thread for `milliseconds` on the display's clock.
void Pause(DWORD milliseconds);

// ---- Screen and clock ---------------------------------------------------------------------

// The screen's size in pixels. Any thread.
void ScreenSize(int* width, int* height);
// The display's clock in milliseconds (a virtual one for a driver without a display).
uint64_t Now();

}  // namespace window_system::display
