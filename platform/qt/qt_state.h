// The Qt driver's state beside the window system's model: the widgets that are the windows'
// peers and the menu bars, behind the model's mutex. Qt widgets
// live on the window thread (the thread that created the QApplication) and are touched only
// there; window procedures are always called without the mutex held.
#pragma once

#include <QPointer>
#include <QWidget>
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

// A window's peer: the widget showing the whole window and the one of its client area (the
// same widget for dialog controls). Window thread only.
struct window_system::display::Peer {
  QPointer<QWidget> outer;
  QPointer<QWidget> client;
};

namespace qtbackend::internal {

using namespace window_system;

// Guarded by M().mutex.
struct State {
  std::map<HMENU, QPointer<QWidget>> menuBars;  // window thread only: each shown menu's bar
};

// The one state of the process (never destroyed, so threads ending late may still use it).
State& S();

// True on the thread that runs the QApplication (the window thread); false when there is
// no QApplication.
bool OnWindowThread();
// Runs `call` on the window thread as a sent message and waits for it: at once when the
// caller is that thread; otherwise the window thread runs it while it fetches messages, runs
// a modal loop or handles Qt events. Gives false (without running it) when there is no
// QApplication.
bool RunOnWindowThread(const std::function<void()>& call);

// Runs a modal loop on the window thread until `done` gives true, dispatching the thread's
// messages meanwhile; `shown` is the box or dialog being shown (for the modal hook). A
// WM_QUIT ends a dialog's loop (not a box's) and stays queued for the outer loop.
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
