// MenuProc and the transitions of the alarm's states.
#include "app/menu_commands.h"

#include "app/app_windows.h"
#include "app/credential_dialogs.h"
#include "app/error_report.h"
#include "app/main_window.h"
#include "app/resources.h"
#include "app/small_dialogs.h"
#include "camera/camera_connection.h"
#include "camera/frame_grabber.h"
#include "detect/alarm_state.h"
#include "detect/motion_detector.h"
#include "net/server_link.h"
#include "platform/capture.h"
#include "platform/dialog.h"
#include "platform/threads.h"
#include "platform/window.h"
#include "snapshot/snapshot_writer.h"

std::atomic<AlarmShellState> alarmShellState{Idle};
HANDLE alarmThread = nullptr;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr UINT kGreyed = MF_GRAYED | MF_DISABLED;

// The items greyed while the alarm is armed, in the order they are greyed and enabled.
constexpr UINT kArmedItems[] = {
    kExitCommand,        kArmCommand, kTestCommand, kSettingsCommand, kImageDimensionsCommand,
    kImageQualityCommand};

// The banner shown as the number of the About failure report.
constexpr const char* kProgramBanner = "Corvantis.\nVersion 1.0";

void Box(const char* text, const char* caption) {
  MessageBoxA(MainWindow, text, caption, MB_OK);
}

AlarmShellState RestingState() {
  return AlarmState.testing.load(kRelaxed) ? Tested : Idle;
}

void Arm(HMENU menu) {
  if (AlarmState.armed.load(kRelaxed) != 0) {
    Box("Sorry, but alarm is already on.", "Alarm is on!");
    return;
  }
  // An earlier alarm thread may still be counting down after a disarm: it must see the armed
  // flag at 0 and end before this arming sets it again, or it would run on beside the new one.
  WaitForAlarmThread();
  ResetDetector();
  AlarmState.motionDetected.store(0, kRelaxed);
  AlarmState.testing.store(0, kRelaxed);
  AlarmState.armed.store(1, kRelaxed);
  alarmShellState = Arming;
  INT_PTR result = DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(kCredentialsDialog), MainWindow,
                                   LoginDialog, 0);
  // Only an accepted login arms: a dialog that could not even be shown (-1) arms nothing.
  if (result != 1) {
    AlarmState.armed.store(0, kRelaxed);
    alarmShellState = RestingState();
    Box("Alarm could not be turned on, try again", "Corvantis");
    return;
  }
  for (UINT item : kArmedItems) EnableMenuItem(menu, item, MF_BYCOMMAND | kGreyed);
  alarmThread = CreateThread(nullptr, 0, AlarmCountdown, nullptr, 0, nullptr);
  if (alarmThread) {
    alarmShellState = Armed;
  } else {
    alarmShellState = ArmedBlocking;
    ErrorReport("4.0", "Sorry! cannot create thread", MainWindow);
    Box("When you want to turn alarm off, please use the Ctrl + Alt + Del. keys, thank you",
        "Do not forget");
    RunArmedLoop();
  }
  CloseWindow(MainWindow);
}

void Disarm(HMENU menu) {
  if (AlarmState.armed.load(kRelaxed) == 0) {
    Box("Alarm is already OFF", "Corvantis");
    return;
  }
  INT_PTR result = DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(kCredentialsDialog), MainWindow,
                                   DisarmDialog, 0);
  // Only typed credentials that match disarm: a dialog that could not be shown leaves it on.
  if (result != 1) {
    Box("Alarm still ON", "Do not forget");
    return;
  }
  AlarmState.armed.store(0, kRelaxed);
  for (UINT item : kArmedItems) EnableMenuItem(menu, item, MF_BYCOMMAND | MF_ENABLED);
  alarmShellState = RestingState();
}

void Test(HMENU menu) {
  if (AlarmState.armed.load(kRelaxed) != 0) {
    Box("You have to turn off the alarm before testing it.", "Alarm is ON");
    return;
  }
  // After a disarm the alarm thread may still be finishing its last frame: it shares the
  // alarm's state and the grab loop, so the test run starts only once it has ended.
  WaitForAlarmThread();
  AlarmState.frameCounter.store(0, kRelaxed);
  AlarmState.motionDetected.store(0, kRelaxed);
  AlarmState.testing.store(1, kRelaxed);
  EnableMenuItem(menu, kImageQualityCommand, MF_BYCOMMAND | kGreyed);
  EnableMenuItem(menu, kImageDimensionsCommand, MF_BYCOMMAND | kGreyed);
  int width = static_cast<int>(captureStatus.uiImageWidth);
  int height = static_cast<int>(captureStatus.uiImageHeight);
  SetWindowPos(MainWindow, nullptr, 0, 0, 2 * width + 18, height + 76, SWP_NOZORDER);
  CloseWindow(MainWindow);
  alarmShellState = Testing;
  RunTestLoop();
  ResetDetector();
  alarmShellState = Tested;
}

void Settings() {
  if (AlarmState.armed.load(kRelaxed) != 0) {
    Box("Must turn alarm OFF before changing settings", "Corvantis");
    return;
  }
  if (DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(kSettingsDialog), MainWindow, SettingsDialog,
                      0) == 0) {
    Box("Alarm is using default settings.", "Settings");
  }
}

}  // namespace

void WaitForAlarmThread() {
  if (!alarmThread) return;
  // The main window takes no input meanwhile: what the user does to it is dropped, as for a
  // window disabled behind a modal dialog, so nothing clicked now is carried out later inside
  // the dialog that follows. Only what the alarm thread sends is served.
  const bool wasEnabled = IsWindowEnabled(MainWindow) != FALSE;
  if (wasEnabled) EnableWindow(MainWindow, FALSE);
  for (;;) {
    DWORD state = MsgWaitForMultipleObjects(1, &alarmThread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (state != WAIT_OBJECT_0 + 1) break;  // ended (or the handle failed)
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // carries out the sent messages
  }
  if (wasEnabled && IsWindow(MainWindow)) EnableWindow(MainWindow, TRUE);
  CloseHandle(alarmThread);
  alarmThread = nullptr;
}

void FinishAlarmThread() {
  if (!alarmThread) return;
  AlarmState.armed.store(0, kRelaxed);
  WaitForAlarmThread();
}

void ChooseImageDimensions() {
  if (!SendCaptureRequest(WM_CAP_DLG_VIDEOFORMAT, 0, 0)) return;
  LRESULT size = SendCaptureRequest(WM_CAP_GET_VIDEOFORMAT, 0, 0);
  // The block keeps the size it got at start-up: a larger format is read only as far as
  // the block reaches (the header, which is all that is read from it, comes first).
  SIZE_T bytes = size > 0 ? static_cast<SIZE_T>(size) : 0;
  if (bytes > videoFormatBytes) bytes = videoFormatBytes;
  if (bmpptr) {
    SendCaptureRequest(WM_CAP_GET_VIDEOFORMAT, bytes, reinterpret_cast<LPARAM>(bmpptr));
    videoHeight.store(bmpptr->biHeight, kRelaxed);
    videoWidth.store(bmpptr->biWidth, kRelaxed);
  }
  if (!SendCaptureRequest(WM_CAP_GET_STATUS, sizeof(CAPSTATUS),
                          reinterpret_cast<LPARAM>(&captureStatus))) {
    ErrorReport("3.3", "Sorry! Cannot get driver status", captureWindow);
  }
  PlaceMainWindow();
  LayoutVideo();
}

void ChooseImageQuality() {
  SendCaptureRequest(WM_CAP_DLG_VIDEOSOURCE, 0, 0);
}

LRESULT MenuProc(HWND, WPARAM wParam, LPARAM) {
  SetServerHostName();
  HMENU menu = GetMenu(MainWindow);
  switch (LOWORD(wParam)) {
    case kExitCommand:
      if (!DestroyWindow(MainWindow)) {
        char number[11];
        FormatErrorCode(GetLastError(), number);
        ErrorReport(number, "Sorry! Cannot destroy main window.", MainWindow);
      }
      break;
    case kArmCommand:
      Arm(menu);
      break;
    case kDisarmCommand:
      Disarm(menu);
      break;
    case kTestCommand:
      Test(menu);
      break;
    case kAboutCommand:
      if (DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(kAboutDialog), MainWindow, AboutDialog,
                          0) == 0) {
        ErrorReport(kProgramBanner, "Error: 2.1", MainWindow);
      }
      break;
    case kSettingsCommand:
      Settings();
      break;
    case kImageDimensionsCommand:
      if (AlarmState.armed.load(kRelaxed) == 1 || AlarmState.testing.load(kRelaxed) == 1) break;
      ChooseImageDimensions();
      break;
    case kImageQualityCommand:
      ChooseImageQuality();
      break;
    default:
      break;  // ids of no item do nothing
  }
  return 0;
}
