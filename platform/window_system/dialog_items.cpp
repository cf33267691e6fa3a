// The controls of a dialog by id, and the dialog templates by name: what every dialog
// answers the same way whichever display runs it.
#include "platform/dialog.h"
#include "platform/resources.h"
#include "platform/threads.h"
#include "platform/window_system/model.h"

using namespace window_system;

namespace window_system {

HWND FindControl(HWND dialog, int id) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(dialog);
  if (!window) return nullptr;
  for (HWND child : window->children) {
    Window* c = FindWindowLocked(child);
    if (c && c->id == id) return child;
  }
  return nullptr;
}

}  // namespace window_system

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM initParam) {
  const platform::DialogTemplate* dialog = platform::FindDialogTemplate(templateName);
  if (!dialog) {
    SetLastError(platform::InstalledResources() ? ERROR_RESOURCE_NAME_NOT_FOUND
                                                : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return -1;
  }
  return DialogBoxIndirectParamA(instance, dialog, owner, procedure, initParam);
}

HWND GetDlgItem(HWND dialog, int id) {
  if (!WindowExists(dialog)) return nullptr;
  HWND control = FindControl(dialog, id);
  if (!control) SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return control;
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int maxCount) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) {
    if (text && maxCount > 0) text[0] = '\0';
    return 0;
  }
  return static_cast<UINT>(GetWindowTextA(control, text, maxCount));
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND control = GetDlgItem(dialog, id);
  return control ? SetWindowTextA(control, text) : FALSE;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND control = GetDlgItem(dialog, id);
  return control ? SendMessageA(control, message, wParam, lParam) : 0;
}
