// The Qt driver beside the window system's model: the widgets that are the windows' peers.
// Qt widgets live on the window thread (the thread that created the QApplication) and are
// touched only there; window procedures are always called without the model's mutex held.
#pragma once

#include <QMenuBar>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "platform/window_system/model.h"

// A window's peer: the widget showing the whole window, the one of its client area (the
// same widget for dialog controls) and a top-level window's menu bar. Window thread only.
struct window_system::display::Peer {
  QPointer<QWidget> outer;
  QPointer<QWidget> client;
  QPointer<QMenuBar> menuBar;
};

namespace qtbackend::internal {

using namespace window_system;

// A copy of the window's peer (empty for a stale handle). Takes the model's mutex.
display::Peer PeerOf(HWND window);

// True on the thread that runs the QApplication (the window thread); false when there is
// no QApplication.
bool OnWindowThread();
// Runs `call` on the window thread as a sent message and waits for it: at once on that
// thread, otherwise while it handles messages or Qt events in any of its loops. False
// (without running it) when there is no QApplication.
bool RunOnWindowThread(const std::function<void()>& call);
// Runs `call` on the window thread without waiting: at once on that thread, otherwise when
// it next handles Qt events (never without a QApplication).
void PostToWindowThread(std::function<void()> call);

// Runs a modal loop on the window thread until `done` gives true, dispatching the thread's
// messages meanwhile; `shown` is the box or dialog being shown (for the modal hook). A
// WM_QUIT ends a dialog's loop (not a box's) and stays queued for the outer loop.
void RunModalLoop(QWidget* shown, HWND dialog, const std::function<bool()>& done);

// Dialogs (dialogs.cpp), window thread only: a dialog control's widget made when missing and
// brought in line with the control's state, and the dialog keys.
void SyncControl(HWND control);
// Enter and Escape pressed in a dialog; true when the dialog took the key.
bool DialogKey(HWND dialog, int qtKey);

}  // namespace qtbackend::internal
