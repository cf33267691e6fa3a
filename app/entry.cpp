// Start-up: default settings, window classes, the welcome dialog, the windows, the camera,
// the layout, and the message loop.
#include "app/entry.h"

#include "app/app_windows.h"
#include "app/error_report.h"
#include "app/main_window.h"
#include "app/menu_commands.h"
#include "app/resources.h"
#include "app/small_dialogs.h"
#include "camera/camera_connection.h"
#include "detect/alarm_state.h"
#include "dib/frame_windows.h"
#include "platform/capture.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/threads.h"
#include "platform/window.h"

int32_t useExtendedStyle = 0;

namespace {

constexpr DWORD kMainWindowStyle = 0x02CE0000;  // caption, system menu, sizing border,
                                                // minimise box, clip children
constexpr DWORD kFrameStyle = 0x4AC40000;       // child, disabled, clip children, caption,
                                                // sizing border; hidden
constexpr DWORD kCaptureStyle = 0x50000300;     // child, visible, the capture class's bits
constexpr DWORD kExtendedStyle = WS_EX_RIGHT | WS_EX_RTLREADING | WS_EX_LEFTSCROLLBAR;

// Registers one class; reports a refusal with the platform's error code.
int RegisterOne(HINSTANCE instance, const char* name, WNDPROC procedure, int brush,
                const char* menu, const char* failure) {
  WNDCLASSA windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  // The resources hold no icon of this name: the windows carry the platform's default icon.
  windowClass.hIcon = LoadIconA(instance, "id_icon2");
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(brush));
  windowClass.lpszMenuName = menu;
  windowClass.lpszClassName = name;
  if (RegisterClassA(&windowClass)) return 1;
  char number[11];
  FormatErrorCode(GetLastError(), number);
  ErrorReport(number, failure, nullptr);
  return 0;
}

HWND CreateFrame(HINSTANCE instance, const char* className, const char* caption) {
  return CreateWindowExA(useExtendedStyle ? kExtendedStyle : 0, className, caption, kFrameStyle, 0,
                         0, 0, 0, MainWindow, nullptr, instance, nullptr);
}

}  // namespace

int RegisterClasses(HINSTANCE instance, HINSTANCE previous) {
  if (previous) return 1;
  return RegisterOne(instance, "Corvantis", MainWndProc, GRAY_BRUSH, "dogMenu",
                     "Sorry! Cannot register main window.") &&
         RegisterOne(instance, "videoFrame", VideoFrameProc, LTGRAY_BRUSH, nullptr,
                     "Sorry! Cannot register frame for video window.") &&
         RegisterOne(instance, "baseFrame", BaseFrameProc, LTGRAY_BRUSH, nullptr,
                     "Sorry! Cannot register frame for base picture.") &&
         RegisterOne(instance, "afterFrame", AfterFrameProc, LTGRAY_BRUSH, nullptr,
                     "Sorry! Cannot register frame for after picture.");
}

int CreateAppWindows(HINSTANCE instance) {
  MainWindow =
      CreateWindowExA(useExtendedStyle ? kExtendedStyle : 0, "Corvantis", "Corvantis",
                      kMainWindowStyle, 0, 0, 600, 300, nullptr, nullptr, instance, nullptr);
  if (!MainWindow) {
    ErrorReport("1.7", "Sorry! Cannot create main window.", nullptr);
    return 0;
  }
  videoFrame = CreateFrame(instance, "videoFrame", "Live Image");
  if (!videoFrame) {
    ErrorReport("1.8", "Sorry! Cannot create frame for video window.", nullptr);
    return 0;
  }
  baseFrame = CreateFrame(instance, "baseFrame", "Reference Image");
  if (!baseFrame) {
    ErrorReport("1.9", "Sorry! Cannot create frame for base picture.", nullptr);
    return 0;
  }
  afterFrame = CreateFrame(instance, "afterFrame", "Upload Image");
  if (!afterFrame) {
    ErrorReport("1.10", "Sorry! Cannot create frame for after picture.", nullptr);
    return 0;
  }
  captureWindow =
      capCreateCaptureWindowA("Capture Window", kCaptureStyle, 0, 0, 0, 0, videoFrame, 0);
  if (!captureWindow) {
    ErrorReport("1.11", "Sorry! Cannot create video window.", nullptr);
    return 0;
  }
  return 1;
}

int WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show) {
  moduleInstance = instance;
  sensitivity.store(30, std::memory_order_relaxed);
  smoothing.store(15, std::memory_order_relaxed);
  useExtendedStyle = 1;
  // The settings dialog's sliders are common controls.
  InitCommonControls();

  if (!RegisterClasses(instance, previous)) {
    MessageBoxA(nullptr, "Application is going to close.", "Sorry!", MB_OK);
    return 0;
  }
  // MainWindow does not exist yet: the welcome dialog has no owner.
  if (DialogBoxParamA(instance, MAKEINTRESOURCEA(kWelcomeDialog), MainWindow, WelcomeDialog, 0) ==
      0) {
    ErrorReport("2.0",
                "Welcome to Corvantis.\nIt will take one minute to connect to digital camara.",
                nullptr);
  }
  if (!CreateAppWindows(instance)) {
    MessageBoxA(nullptr, "Application is going to close.", "Sorry!", MB_OK);
    return 0;
  }
  if (!OpenCamera(captureWindow)) {
    MessageBoxA(nullptr, "Application is going to close.", "Corvantis", MB_OK);
    return 0;
  }
  PlaceMainWindow();
  ShowWindow(MainWindow, show);
  if (AlarmState.testing.load(std::memory_order_relaxed) != 1) ShowWindow(videoFrame, show);
  if (!UpdateWindow(MainWindow)) {
    ErrorReport("1.5", "Sorry! the main window cannot be updated", MainWindow);
    return 0;
  }
  if (!UpdateWindow(videoFrame)) {
    ErrorReport("1.6", "Sorry! the frame for the video window cannot be updated", MainWindow);
    return 0;
  }

  MSG message{};
  BOOL fetched;
  while ((fetched = GetMessageA(&message, nullptr, 0, 0)) != 0) {
    if (fetched == -1) break;  // the loop cannot go on; the windows are left as they are
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // An alarm thread still finishing its last frame after a disarm ends before the program.
  FinishAlarmThread();
  return fetched == -1 ? 0 : static_cast<int>(message.wParam);
}
