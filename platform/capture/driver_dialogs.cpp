// The drivers' dialogs. Each dialog procedure finds its state through the pointer passed
// with WM_INITDIALOG, kept per dialog window while the dialog runs.
#include "platform/capture/driver_dialogs.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/dialog.h"

namespace platform {
namespace {

constexpr DWORD kDialogStyle =
    DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE;
// Slider positions are 16-bit; a wider range is walked in steps.
constexpr int kMaxSliderPositions = 1000;

std::mutex contextMutex;
std::map<HWND, void*> contexts;  // guarded by contextMutex

void Remember(HWND dialog, void* context) {
  std::lock_guard lock(contextMutex);
  contexts[dialog] = context;
}

template <typename T>
T* ContextOf(HWND dialog) {
  std::lock_guard lock(contextMutex);
  auto it = contexts.find(dialog);
  return it == contexts.end() ? nullptr : static_cast<T*>(it->second);
}

void Finish(HWND dialog, INT_PTR result) {
  {
    std::lock_guard lock(contextMutex);
    contexts.erase(dialog);
  }
  EndDialog(dialog, result);
}

std::vector<ControlTemplate> Buttons(int y, int width) {
  return {{ControlClass::kButton, IDOK, "OK", kChildStyle | WS_TABSTOP | BS_DEFPUSHBUTTON,
           width / 2 - 50, y, 45, 14},
          {ControlClass::kButton, IDCANCEL, "Cancel", kChildStyle | WS_TABSTOP | BS_PUSHBUTTON,
           width / 2 + 5, y, 45, 14}};
}

struct SizeChoice {
  const std::vector<FrameSize>* sizes;
  int current;
  int chosen;
};

INT_PTR SizeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* choice = reinterpret_cast<SizeChoice*>(lParam);
    Remember(dialog, choice);
    for (const FrameSize& size : *choice->sizes) {
      char text[32];
      std::snprintf(text, sizeof text, "%d x %d", size.width, size.height);
      SendDlgItemMessageA(dialog, kFrameSizeListId, CB_ADDSTRING, 0,
                          reinterpret_cast<LPARAM>(text));
    }
    SendDlgItemMessageA(dialog, kFrameSizeListId, CB_SETCURSEL,
                        static_cast<WPARAM>(choice->current), 0);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  auto* choice = ContextOf<SizeChoice>(dialog);
  if (LOWORD(wParam) == IDOK && choice) {
    LRESULT index = SendDlgItemMessageA(dialog, kFrameSizeListId, CB_GETCURSEL, 0, 0);
    if (index < 0 || static_cast<size_t>(index) >= choice->sizes->size()) {
      Finish(dialog, 0);
    } else {
      choice->chosen = static_cast<int>(index);
      Finish(dialog, 1);
    }
    return TRUE;
  }
  if (LOWORD(wParam) == IDCANCEL) {
    Finish(dialog, 0);
    return TRUE;
  }
  return FALSE;
}

// Position of a value on its slider, and back.
int Stride(const Setting& s) {
  return std::max(1, (s.maximum - s.minimum + kMaxSliderPositions - 1) / kMaxSliderPositions);
}
int PositionOf(const Setting& s, int value) {
  return (value - s.minimum) / Stride(s);
}
int ValueAt(const Setting& s, int position) {
  return std::clamp(s.minimum + position * Stride(s), s.minimum, s.maximum);
}

INT_PTR SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* settings = reinterpret_cast<std::vector<Setting>*>(lParam);
    Remember(dialog, settings);
    for (size_t i = 0; i < settings->size(); ++i) {
      const Setting& s = (*settings)[i];
      int id = kFirstSettingId + static_cast<int>(i);
      SendDlgItemMessageA(dialog, id, TBM_SETRANGE, TRUE, MAKELPARAM(0, PositionOf(s, s.maximum)));
      SendDlgItemMessageA(dialog, id, TBM_SETPOS, TRUE, PositionOf(s, s.value));
    }
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  auto* settings = ContextOf<std::vector<Setting>>(dialog);
  if (LOWORD(wParam) == IDOK && settings) {
    for (size_t i = 0; i < settings->size(); ++i) {
      Setting& s = (*settings)[i];
      LRESULT position =
          SendDlgItemMessageA(dialog, kFirstSettingId + static_cast<int>(i), TBM_GETPOS, 0, 0);
      s.value = ValueAt(s, static_cast<int>(position));
    }
    Finish(dialog, 1);
    return TRUE;
  }
  if (LOWORD(wParam) == IDCANCEL) {
    Finish(dialog, 0);
    return TRUE;
  }
  return FALSE;
}

// Runs a dialog and forgets its state however it ended.
INT_PTR RunDialog(HWND owner, const DialogTemplate& dialog, DLGPROC procedure, void* context) {
  INT_PTR result = DialogBoxIndirectParamA(nullptr, &dialog, owner, procedure,
                                           reinterpret_cast<LPARAM>(context));
  {
    std::lock_guard lock(contextMutex);
    std::erase_if(contexts, [&](const auto& entry) { return entry.second == context; });
  }
  return result > 0 ? result : 0;
}

}  // namespace

INT_PTR ChooseFrameSize(HWND owner, const char* caption, const std::vector<FrameSize>& sizes,
                        FrameSize* size) {
  if (sizes.empty()) return 0;
  SizeChoice choice{&sizes, 0, -1};
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (sizes[i] == *size) choice.current = static_cast<int>(i);
  }
  DialogTemplate dialog{0, kDialogStyle, caption, "MS Sans Serif", 8, 0, 0, 160, 62, {}};
  dialog.controls = {
      {ControlClass::kStatic, -1, "Picture size:", kChildStyle | SS_LEFT, 8, 10, 50, 10},
      {ControlClass::kComboBox, kFrameSizeListId, "", kChildStyle | WS_TABSTOP | CBS_DROPDOWNLIST,
       60, 8, 90, 80}};
  for (ControlTemplate& button : Buttons(40, 160)) dialog.controls.push_back(button);
  INT_PTR result = RunDialog(owner, dialog, SizeDialogProc, &choice);
  if (result != 0) *size = sizes[static_cast<size_t>(choice.chosen)];
  return result;
}

INT_PTR AdjustSettings(HWND owner, const char* caption, std::vector<Setting>* settings) {
  std::vector<Setting> working = *settings;
  const int rows = static_cast<int>(working.size());
  DialogTemplate dialog{0,   kDialogStyle,   caption, "MS Sans Serif", 8, 0, 0,
                        220, 36 + 20 * rows, {}};
  for (int i = 0; i < rows; ++i) {
    dialog.controls.push_back({ControlClass::kStatic, -1, working[i].label, kChildStyle | SS_LEFT,
                               8, 10 + 20 * i, 80, 10});
    dialog.controls.push_back({ControlClass::kTrackbar, kFirstSettingId + i, "",
                               kChildStyle | WS_TABSTOP | TBS_HORZ, 92, 8 + 20 * i, 120, 14});
  }
  if (rows == 0) {
    dialog.controls.push_back(
        {ControlClass::kStatic, -1, "No settings.", kChildStyle | SS_LEFT, 8, 10, 120, 10});
    dialog.cy += 20;
  }
  for (ControlTemplate& button : Buttons(dialog.cy - 22, 220)) dialog.controls.push_back(button);
  INT_PTR result = RunDialog(owner, dialog, SettingsDialogProc, &working);
  if (result != 0) *settings = std::move(working);
  return result;
}

}  // namespace platform
