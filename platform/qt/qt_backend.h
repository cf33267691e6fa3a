// Controls of the Qt backend for the program's entry, its tests and its screenshot tool:
// the widget behind a window, and hooks that run when a modal box or dialog appears and when
// the message loop has nothing to do. The program itself needs none of them.
#pragma once

#include <functional>

#include "platform/types.h"

class QWidget;

namespace qtbackend {

// The widget that shows the whole window (for a dialog control, the control itself), or
// null for a stale handle. Window thread only.
QWidget* WidgetOf(HWND window);
// The widget of the window's client area, or null. Window thread only.
QWidget* ClientWidgetOf(HWND window);

// Called on the window thread each time a message box or dialog has been shown, before its
// modal loop waits for the user: `shown` is the box or dialog, `dialog` the dialog's handle
// (null for a message box). The hook may act as the user (type, click, close). An empty
// function removes it.
void SetModalHook(std::function<void(QWidget* shown, HWND dialog)> hook);

// Called on the window thread when GetMessageA finds nothing to do, before it waits for the
// next event. The hook may post messages (they are fetched at once). An empty function
// removes it.
void SetIdleHook(std::function<void()> hook);

// Handles the calling thread's messages (sent by other threads, posted, painting) until
// `predicate` is true, waiting for Qt events in between without polling. Window thread only.
void PumpUntil(const std::function<bool()>& predicate);

}  // namespace qtbackend
