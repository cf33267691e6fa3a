// What the window system showed, for tests and for runs without a display: every change of
// a window as it happened, every message box and tone, the live windows of a class, and the
// screen metrics a test sets.
// All functions are safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/types.h"

namespace window_system {

// Kinds of logged window events.
enum class WindowEventKind {
  kCreated,      // after WM_CREATE succeeded
  kDestroyed,    // when the window received WM_NCDESTROY
  kShown,        // became visible
  kHidden,       // became hidden
  kMoved,        // position or size changed; `rect` is the new outer rectangle
  kMinimised,    // minimised (CloseWindow, ShowWindow)
  kRestored,     // restored from minimised
  kMenuItem,     // a menu item's state changed: `item` is its id, `flags` its new state
  kTextChanged,  // the window text changed
};

// One logged window event. `rect` is in the parent's client coordinates for child windows
// and in screen coordinates for top-level ones.
struct WindowEvent {
  WindowEventKind kind;
  HWND window;
  std::string className;
  std::string text;  // the window's text at the time
  RECT rect;
  UINT item;
  UINT flags;
  uint64_t time;  // milliseconds on the display's clock
};

// Every window event so far, oldest first.
std::vector<WindowEvent> WindowEvents();
void ClearWindowEvents();
// The live windows of a class (case-insensitive name), oldest first.
std::vector<HWND> WindowsOfClass(const std::string& className);

// One message box as it was asked for.
struct BoxRecord {
  HWND owner;
  std::string caption;
  std::string text;
  UINT flags;
  std::thread::id thread;
  uint64_t time;  // milliseconds on the display's clock when it was shown
};

// One tone.
struct BeepRecord {
  DWORD frequency;
  DWORD duration;
  std::thread::id thread;
  uint64_t time;  // milliseconds on the display's clock when it started
};

// Every box shown so far, oldest first.
std::vector<BoxRecord> Boxes();
// Every beep so far, oldest first.
std::vector<BeepRecord> Beeps();
// Forgets the logged boxes and beeps.
void ClearLogs();

// Screen metrics (GetSystemMetrics): the screen's size comes from the display; borders are
// 1, frames 4, caption and menu bars 19 pixels. Tests may change any index.
void SetSystemMetric(int index, int value);

}  // namespace window_system
