// The program's settings dialog on the system's own controls, from the template compiled into
// corvantis.exe: its sliders are the system's trackbars (the common controls the entry
// loads), and the thresholds follow them. A timer of the dialog's thread plays the user.
#include <gtest/gtest.h>
#include <windows.h>
// The common controls need the types <windows.h> declares.
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/resources.h"
#include "app/small_dialogs.h"
#include "detect/alarm_state.h"

namespace {

HMODULE Program() {
  static HMODULE module = LoadLibraryExA(CORVANTIS_PROGRAM, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}

// What the user does once the dialog is up, and what the sliders said before.
struct Play {
  LPARAM drag;  // where the user drags the smoothing slider
  bool cancel;
  std::vector<LRESULT> before;  // minimum, maximum, position of each slider
  int32_t whileOpen = 0;        // smoothing after the slider moved
};
Play* play = nullptr;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  char name[16] = "";
  GetClassNameA(window, name, sizeof name);
  if (std::string(name) != "#32770" || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

void CALLBACK Step(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (!dialog) return;  // not shown yet: the next tick looks again
  KillTimer(nullptr, timer);
  for (int id : {kSmoothingSlider, kSensitivitySlider}) {
    for (UINT message : {TBM_GETRANGEMIN, TBM_GETRANGEMAX, TBM_GETPOS}) {
      play->before.push_back(SendDlgItemMessageA(dialog, id, message, 0, 0));
    }
  }
  // The user drags the smoothing slider, past its end: the trackbar stops there.
  HWND slider = GetDlgItem(dialog, kSmoothingSlider);
  SendMessageA(slider, TBM_SETPOS, TRUE, play->drag);
  SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
  play->whileOpen = smoothing.load();
  SendMessageA(GetDlgItem(dialog, play->cancel ? IDCANCEL : IDOK), BM_CLICK, 0, 0);
}

INT_PTR RunSettings(Play* user) {
  play = user;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, Step);
  INT_PTR result =
      DialogBoxParamA(Program(), MAKEINTRESOURCEA(kSettingsDialog), nullptr, SettingsDialog, 0);
  KillTimer(nullptr, timer);
  play = nullptr;
  return result;
}

TEST(SystemDialogs, TheThresholdsFollowTheSystemsSlidersAndCancelRestoresThem) {
  ASSERT_NE(Program(), nullptr);
  InitCommonControls();
  smoothing = 15;
  sensitivity = 30;

  Play ok{99, false, {}};
  EXPECT_EQ(RunSettings(&ok), 1);
  EXPECT_EQ(ok.before, (std::vector<LRESULT>{5, 25, 15, 10, 50, 30}));
  EXPECT_EQ(ok.whileOpen, 25);
  EXPECT_EQ(smoothing.load(), 25);
  EXPECT_EQ(sensitivity.load(), 30);

  Play cancel{0, true, {}};
  EXPECT_EQ(RunSettings(&cancel), 1);
  EXPECT_EQ(cancel.before, (std::vector<LRESULT>{5, 25, 25, 10, 50, 30}));
  EXPECT_EQ(cancel.whileOpen, 5);
  EXPECT_EQ(smoothing.load(), 25);  // as it was when the dialog opened
}

}  // namespace
