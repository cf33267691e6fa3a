// A stand-in for the program's main window in tests that show boxes owned by it: a plain
// top-level window of the calling thread (message boxes owned by it are shown on that
// thread).
#pragma once

#include "platform/window.h"

namespace testsupport {

inline HWND CreateTestMainWindow() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.lpszClassName = "testMainWindow";
  RegisterClassA(&windowClass);  // already registered on a second call: that is fine
  return CreateWindowExA(0, "testMainWindow", "Corvantis", WS_CAPTION, 0, 0, 640, 480, nullptr,
                         nullptr, nullptr, nullptr);
}

}  // namespace testsupport
