// The program's windows as start-up makes them, for the camera tests: a main window, the
// three frame windows and the capture window inside the live frame.
#pragma once

#include "app/app_windows.h"
#include "dib/frame_windows.h"
#include "platform/capture.h"
#include "platform/window.h"

namespace camera_test {

inline LRESULT PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

inline void RegisterTestClass(const char* name, WNDPROC procedure) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = procedure;
  windowClass.lpszClassName = name;
  RegisterClassA(&windowClass);
}

// Creates MainWindow, videoFrame, baseFrame, afterFrame and captureWindow on the calling
// thread, which becomes the window thread.
inline void CreateProgramWindows() {
  RegisterTestClass("testMainWindow", PlainWindowProc);
  RegisterTestClass("videoFrame", VideoFrameProc);
  RegisterTestClass("baseFrame", BaseFrameProc);
  RegisterTestClass("afterFrame", AfterFrameProc);
  MainWindow =
      CreateWindowExA(0, "testMainWindow", "Corvantis", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 0,
                      0, 700, 320, nullptr, nullptr, nullptr, nullptr);
  videoFrame = CreateWindowExA(0, "videoFrame", "Live Image", WS_CHILD | WS_VISIBLE, 3, 3, 322, 267,
                               MainWindow, nullptr, nullptr, nullptr);
  baseFrame = CreateWindowExA(0, "baseFrame", "Reference Image", WS_CHILD | WS_DISABLED, 0, 0, 10,
                              10, MainWindow, nullptr, nullptr, nullptr);
  afterFrame = CreateWindowExA(0, "afterFrame", "Upload Image", WS_CHILD | WS_DISABLED, 0, 0, 10,
                               10, MainWindow, nullptr, nullptr, nullptr);
  captureWindow = capCreateCaptureWindowA("Capture Window", 0x50000300, 0, 0, 0, 0, videoFrame, 0);
}

}  // namespace camera_test
