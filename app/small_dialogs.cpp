// The settings, welcome and about dialogs.
#include "app/small_dialogs.h"

#include "app/app_windows.h"
#include "app/error_report.h"
#include "app/resources.h"
#include "detect/alarm_state.h"
#include "platform/dialog.h"

int32_t savedSmoothing = 0;
int32_t savedSensitivity = 0;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

int32_t SliderPosition(HWND dialog, int id) {
  return static_cast<int32_t>(SendMessageA(GetDlgItem(dialog, id), TBM_GETPOS, 0, 0));
}

void SetSlider(HWND dialog, int id, int minimum, int maximum, int32_t position) {
  HWND slider = GetDlgItem(dialog, id);
  SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(minimum, maximum));
  SendMessageA(slider, TBM_SETPOS, TRUE, position);
}

}  // namespace

INT_PTR SettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetSlider(dialog, kSmoothingSlider, 5, 25, smoothing.load(kRelaxed));
      SetSlider(dialog, kSensitivitySlider, 10, 50, sensitivity.load(kRelaxed));
      savedSmoothing = smoothing.load(kRelaxed);
      savedSensitivity = sensitivity.load(kRelaxed);
      return TRUE;
    case WM_HSCROLL:
      // Whichever slider moved, both values follow the sliders at once.
      smoothing.store(SliderPosition(dialog, kSmoothingSlider), kRelaxed);
      sensitivity.store(SliderPosition(dialog, kSensitivitySlider), kRelaxed);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        savedSmoothing = smoothing.load(kRelaxed);
        savedSensitivity = sensitivity.load(kRelaxed);
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        smoothing.store(savedSmoothing, kRelaxed);
        sensitivity.store(savedSensitivity, kRelaxed);
        EndDialog(dialog, 1);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR WelcomeDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    if (!EndDialog(dialog, 1)) {
      ErrorReport("2.1", "Sorry! cannot end dialog", MainWindow);
      return FALSE;
    }
    return TRUE;
  }
  return FALSE;
}

INT_PTR AboutDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    EndDialog(dialog, 1);
    return TRUE;
  }
  return FALSE;
}
