// Modal dialogs built from the program's templates: the dialog window and its controls
// (buttons, edits, statics, sliders, drop-down lists) made as ordinary windows of their
// classes, the dialog procedure in front of the platform's default dialog handling, the
// sliders' and lists' messages, what the user does reaching the dialog as notifications, and
// the modal run with its owner disabled. The display places the template's dialog units,
// shows the controls and runs the modal loop.
#include <algorithm>
#include <mutex>

#include "platform/dialog.h"
#include "platform/threads.h"
#include "platform/window_system/model.h"

namespace window_system {
namespace {

constexpr const char* kDialogClass = "#32770";
constexpr DWORD kButtonTypeMask = 0x0F;
constexpr platform::ControlClass kControlClasses[] = {
    platform::ControlClass::kButton, platform::ControlClass::kEdit, platform::ControlClass::kStatic,
    platform::ControlClass::kTrackbar, platform::ControlClass::kComboBox};

// Under M().mutex: the state of a dialog's control, or null.
DialogData* ControlDataLocked(HWND control, Window** window = nullptr) {
  Window* w = FindWindowLocked(control);
  if (window) *window = w;
  return w && w->dialog && !w->dialog->isDialog ? w->dialog.get() : nullptr;
}

// Under M().mutex: a trackbar's or a drop-down list's message, kept in the control's state.
// False for a message the control leaves to DefWindowProcA.
bool ControlMessageLocked(Window& window, DialogData& data, UINT message, WPARAM wParam,
                          LPARAM lParam, LRESULT* result) {
  *result = 0;
  if (data.kind == platform::ControlClass::kTrackbar) {
    switch (message) {
      case TBM_SETRANGE:
        data.rangeMin = static_cast<int16_t>(LOWORD(lParam));
        data.rangeMax =
            std::max(data.rangeMin, static_cast<int>(static_cast<int16_t>(HIWORD(lParam))));
        data.position = std::clamp(data.position, data.rangeMin, data.rangeMax);
        return true;
      case TBM_SETPOS:
        data.position = std::clamp(static_cast<int>(lParam), data.rangeMin, data.rangeMax);
        return true;
      case TBM_GETPOS:
        *result = data.position;
        return true;
      case TBM_GETRANGEMIN:
        *result = data.rangeMin;
        return true;
      case TBM_GETRANGEMAX:
        *result = data.rangeMax;
        return true;
    }
  } else if (data.kind == platform::ControlClass::kComboBox) {
    switch (message) {
      case CB_ADDSTRING:
        if (!lParam) {
          *result = CB_ERR;
          return true;
        }
        data.items.emplace_back(reinterpret_cast<LPCSTR>(lParam));
        *result = static_cast<LRESULT>(data.items.size() - 1);
        return true;
      case CB_GETCOUNT:
        *result = static_cast<LRESULT>(data.items.size());
        return true;
      case CB_GETCURSEL:
        *result = data.selection;
        return true;
      case CB_RESETCONTENT:
        data.items.clear();
        data.selection = -1;
        window.text.clear();
        return true;
      case CB_SETCURSEL: {
        auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0 || static_cast<size_t>(index) >= data.items.size()) {
          data.selection = -1;
          window.text.clear();
          *result = CB_ERR;
          return true;
        }
        data.selection = index;
        window.text = data.items[static_cast<size_t>(index)];
        *result = index;
        return true;
      }
    }
  }
  return false;
}

// The window procedure of every control; the display shows what a message changed.
LRESULT ControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  bool handled;
  {
    std::lock_guard lock(M().mutex);
    Window* window;
    DialogData* data = ControlDataLocked(control, &window);
    handled = data && ControlMessageLocked(*window, *data, message, wParam, lParam, &result);
  }
  if (!handled) return DefWindowProcA(control, message, wParam, lParam);
  switch (message) {
    case TBM_SETRANGE:
    case TBM_SETPOS:
    case CB_ADDSTRING:
    case CB_RESETCONTENT:
    case CB_SETCURSEL:
      display::ShowWindowState(control);
      break;
  }
  return result;
}

// The window procedure of every dialog: the dialog procedure first, then the platform's
// default dialog handling (a close request cancels).
LRESULT DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC procedure = nullptr;
  {
    std::lock_guard lock(M().mutex);
    DialogData* data = DialogLocked(window);
    if (data && (data->initialised || message == WM_INITDIALOG)) procedure = data->procedure;
  }
  if (procedure) {
    INT_PTR handled = procedure(window, message, wParam, lParam);
    if (message == WM_INITDIALOG || handled) return handled;
  }
  switch (message) {
    case WM_CLOSE:
      NoteUserCommand(window, IDCANCEL);
      return 0;
    case WM_INITDIALOG:
      return TRUE;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void RegisterDialogClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSA cls{};
    cls.lpfnWndProc = DialogWindowProc;
    cls.lpszClassName = kDialogClass;
    RegisterClassA(&cls);
    cls.lpfnWndProc = ControlProc;
    for (platform::ControlClass kind : kControlClasses) {
      cls.lpszClassName = platform::ControlClassName(kind);
      RegisterClassA(&cls);
    }
  });
}

void Attach(HWND window, std::shared_ptr<DialogData> data) {
  std::lock_guard lock(M().mutex);
  if (Window* w = FindWindowLocked(window)) w->dialog = std::move(data);
}

// The outer rectangle of a dialog: the template's client size inside the frame of `style`,
// at the template's place from the owner's client area, or centred on the screen.
RECT PlaceDialog(const platform::DialogTemplate& t, DWORD style, DWORD exStyle, HWND owner) {
  RECT units = display::DialogTemplatePixels(t, nullptr);
  int width = units.right - units.left, height = units.bottom - units.top;
  std::lock_guard lock(M().mutex);
  Window probe;
  probe.style = style;
  probe.exStyle = exStyle;
  probe.rect = {0, 0, width, height};
  RECT client = ClientAreaLocked(probe);
  int outerWidth = width + (width - (client.right - client.left));
  int outerHeight = height + (height - (client.bottom - client.top));
  int x = units.left, y = units.top;
  if (t.style & DS_CENTER) {
    x = std::max(0, (Metric(SM_CXSCREEN) - outerWidth) / 2);
    y = std::max(0, (Metric(SM_CYSCREEN) - outerHeight) / 2);
  } else if (Window* o = FindWindowLocked(owner)) {
    POINT origin = ClientOriginLocked(*o);
    x += origin.x;
    y += origin.y;
  }
  return {x, y, x + outerWidth, y + outerHeight};
}

// Builds the dialog and its controls, runs it modally and destroys it; on the dialog's
// thread.
INT_PTR RunDialog(HINSTANCE instance, const platform::DialogTemplate& t, HWND owner,
                  DLGPROC procedure, LPARAM initParam) {
  if (owner && !WindowExists(owner)) return -1;
  // A dialog belongs to the top-level window of a child owner.
  while (owner && (GetWindowLongA(owner, GWL_STYLE) & WS_CHILD)) owner = GetParent(owner);
  RegisterDialogClasses();
  DWORD style = (t.style | WS_POPUP) & ~(WS_VISIBLE | WS_CHILD | WS_MINIMIZE);
  DWORD exStyle = (t.style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0;
  RECT place = PlaceDialog(t, style, exStyle, owner);
  HWND window = CreateWindowExA(exStyle, kDialogClass, t.caption.c_str(), style, place.left,
                                place.top, place.right - place.left, place.bottom - place.top,
                                owner, nullptr, instance, nullptr);
  if (!window) return -1;
  auto data = std::make_shared<DialogData>(
      DialogData{.isDialog = true, .procedure = procedure, .templateId = t.id});
  Attach(window, data);
  HWND firstTabStop = nullptr;
  for (const platform::ControlTemplate& control : t.controls) {
    RECT r = display::DialogTemplatePixels(t, &control);
    bool list = control.controlClass == platform::ControlClass::kComboBox;
    HWND child = CreateWindowExA(
        0, platform::ControlClassName(control.controlClass), list ? "" : control.text.c_str(),
        control.style | WS_CHILD, r.left, r.top, r.right - r.left, r.bottom - r.top, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
    if (!child) {
      DestroyWindow(window);
      return -1;
    }
    Attach(child, std::make_shared<DialogData>(DialogData{.kind = control.controlClass}));
    // The focus goes to the first control the user can tab to.
    if (!firstTabStop && (control.style & WS_TABSTOP) && !(control.style & WS_DISABLED)) {
      firstTabStop = child;
    }
  }
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  display::DialogBuilt(window, t);
  {
    std::lock_guard lock(M().mutex);
    data->initialised = true;
  }
  LRESULT answer =
      SendMessageA(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), initParam);
  {
    std::lock_guard lock(M().mutex);
    data->initAnswer = answer;
    Window* focus = answer ? FindWindowLocked(firstTabStop) : nullptr;
    if (focus) data->focus = focus->id;
  }
  // A dialog its procedure destroyed has ended too.
  display::RunDialogLoop(window, [data, window] {
    std::lock_guard lock(M().mutex);
    return data->ended || !FindWindowLocked(window);
  });
  INT_PTR result;
  {
    std::lock_guard lock(M().mutex);
    result = data->ended ? data->result : 0;
  }
  if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
  if (IsWindow(window)) DestroyWindow(window);
  return result;
}

void Notify(HWND control, UINT message, WPARAM wParam) {
  SendMessageA(GetParent(control), message, wParam, reinterpret_cast<LPARAM>(control));
}

}  // namespace

DialogData* DialogLocked(HWND dialog) {
  Window* window = FindWindowLocked(dialog);
  return window && window->dialog && window->dialog->isDialog ? window->dialog.get() : nullptr;
}

bool IsDialogLocked(const Window& window) {
  return window.className == kDialogClass;
}

bool IsControlLocked(const Window& window, platform::ControlClass* kind) {
  Window* parent = FindWindowLocked(window.parent);
  if (!parent || !IsDialogLocked(*parent) || !(window.style & WS_CHILD)) return false;
  for (platform::ControlClass candidate : kControlClasses) {
    // The window's class name is the registered one, spelt as the class was registered.
    if (window.className == platform::ControlClassName(candidate)) {
      if (kind) *kind = candidate;
      return true;
    }
  }
  return false;
}

void NoteUserCommand(HWND dialog, int id) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(FindControl(dialog, id)));
}

int EnterButtonId(HWND dialog, HWND focus) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(dialog);
  if (!window) return 0;
  auto pushButton = [](const Window& c) {
    DWORD type = c.style & kButtonTypeMask;
    return c.className == "Button" && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
  };
  const Window* pressed = FindWindowLocked(focus);
  if (pressed && (pressed->parent != dialog || !pushButton(*pressed))) pressed = nullptr;
  for (size_t i = 0; !pressed && i < window->children.size(); ++i) {
    Window* c = FindWindowLocked(window->children[i]);
    if (c && pushButton(*c) && (c->style & kButtonTypeMask) == BS_DEFPUSHBUTTON) pressed = c;
  }
  if (!pressed) return IDOK;
  return (pressed->style & WS_DISABLED) ? 0 : pressed->id;
}

void NoteUserText(HWND edit, const std::string& text) {
  SetWindowTextA(edit, text.c_str());
  Notify(edit, WM_COMMAND, MAKEWPARAM(GetWindowLongA(edit, GWL_ID), EN_CHANGE));
}

bool NoteUserChoice(HWND combo, int index) {
  if (SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == CB_ERR) return false;
  Notify(combo, WM_COMMAND, MAKEWPARAM(GetWindowLongA(combo, GWL_ID), CBN_SELCHANGE));
  return true;
}

void NoteUserSlide(HWND trackbar, int position, WORD code) {
  {
    std::lock_guard lock(M().mutex);
    DialogData* data = ControlDataLocked(trackbar);
    if (!data) return;
    data->position = std::clamp(position, data->rangeMin, data->rangeMax);
    position = data->position;
  }
  WORD carried = code == TB_THUMBTRACK ? static_cast<WORD>(position) : 0;
  Notify(trackbar, WM_HSCROLL, MAKEWPARAM(code, carried));
}

void NoteUserSlideEnd(HWND trackbar) {
  auto position = static_cast<WORD>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
  Notify(trackbar, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position));
  Notify(trackbar, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0));
}

}  // namespace window_system

using namespace window_system;

// The dialog runs on the display's thread (the calling one for a display without its own)
// while the caller waits; -1 with ERROR_NOT_SUPPORTED when nothing can show it.
INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, const platform::DialogTemplate* dialog,
                                HWND owner, DLGPROC procedure, LPARAM initParam) {
  if (!dialog) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  INT_PTR result = -1;
  if (!display::RunOnThreadOf(
          nullptr, [&] { result = RunDialog(instance, *dialog, owner, procedure, initParam); })) {
    SetLastError(ERROR_NOT_SUPPORTED);
  }
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  {
    std::lock_guard lock(M().mutex);
    DialogData* data = DialogLocked(dialog);
    if (!data) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    data->ended = true;
    data->result = result;
    WakeAllLocked();
  }
  ShowWindow(dialog, SW_HIDE);
  return TRUE;
}
