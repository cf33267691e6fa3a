// Modal dialogs of the headless backend: a dialog window with its controls (buttons, edits,
// statics, sliders, drop-down lists) built from a template, the dialog procedure behind it,
// the modal loop, and the scripted user actions that tests give each dialog.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/dialog.h"
#include "platform/headless/state.h"
#include "platform/threads.h"

using namespace headless;
using namespace headless::internal;
using platform::ControlClass;

namespace {

constexpr const char* kDialogClass = "#32770";

// Under the lock: the dialog data of a window, or null.
DialogData* DataLocked(HWND window) {
  Window* w = FindWindowLocked(window);
  return w && w->dialog ? w->dialog.get() : nullptr;
}

DialogData* DialogLocked(HWND window) {
  DialogData* data = DataLocked(window);
  return data && data->isDialog ? data : nullptr;
}

void LogDialogLocked(const DialogData& data, std::string event) {
  auto& records = S().dialogRecords;
  if (data.record < records.size()) records[data.record].events.push_back(std::move(event));
}

[[noreturn]] void ScriptFault(int templateId, const std::string& what) {
  std::fprintf(stderr, "headless: the script of dialog %d: %s\n", templateId, what.c_str());
  std::fflush(stderr);
  std::abort();
}

LRESULT ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::unique_lock lock(S().mutex);
  Window* w = FindWindowLocked(window);
  DialogData* data = w && w->dialog ? w->dialog.get() : nullptr;
  if (!data) {
    lock.unlock();
    return DefWindowProcA(window, message, wParam, lParam);
  }
  if (data->kind == ControlClass::kTrackbar) {
    auto clamp = [data](int value) {
      return value < data->rangeMin   ? data->rangeMin
             : value > data->rangeMax ? data->rangeMax
                                      : value;
    };
    switch (message) {
      case TBM_SETRANGE:
        data->rangeMin = static_cast<int16_t>(LOWORD(lParam));
        data->rangeMax = static_cast<int16_t>(HIWORD(lParam));
        if (data->rangeMax < data->rangeMin) data->rangeMax = data->rangeMin;
        data->position = clamp(data->position);
        return 0;
      case TBM_SETPOS:
        data->position = clamp(static_cast<int>(lParam));
        return 0;
      case TBM_GETPOS:
        return data->position;
      case TBM_GETRANGEMIN:
        return data->rangeMin;
      case TBM_GETRANGEMAX:
        return data->rangeMax;
    }
  } else if (data->kind == ControlClass::kComboBox) {
    switch (message) {
      case CB_ADDSTRING:
        if (!lParam) return CB_ERR;
        data->items.emplace_back(reinterpret_cast<LPCSTR>(lParam));
        return static_cast<LRESULT>(data->items.size() - 1);
      case CB_GETCOUNT:
        return static_cast<LRESULT>(data->items.size());
      case CB_GETCURSEL:
        return data->selection;
      case CB_RESETCONTENT:
        data->items.clear();
        data->selection = -1;
        w->text.clear();
        return 0;
      case CB_SETCURSEL: {
        auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0 || static_cast<size_t>(index) >= data->items.size()) {
          data->selection = -1;
          w->text.clear();
          return CB_ERR;
        }
        data->selection = index;
        w->text = data->items[index];
        return index;
      }
    }
  }
  lock.unlock();
  return DefWindowProcA(window, message, wParam, lParam);
}

// The window procedure of every dialog: the dialog procedure first, then the platform's
// default dialog handling (a close request cancels).
LRESULT DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC procedure = nullptr;
  {
    std::lock_guard lock(S().mutex);
    DialogData* data = DialogLocked(window);
    if (data && (data->initialised || message == WM_INITDIALOG)) procedure = data->procedure;
  }
  if (procedure) {
    INT_PTR handled = procedure(window, message, wParam, lParam);
    if (message == WM_INITDIALOG || handled) return handled;
  }
  switch (message) {
    case WM_CLOSE:
      SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
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
    for (ControlClass kind : {ControlClass::kButton, ControlClass::kEdit, ControlClass::kStatic,
                              ControlClass::kTrackbar, ControlClass::kComboBox}) {
      cls.lpszClassName = platform::ControlClassName(kind);
      RegisterClassA(&cls);
    }
  });
}

// A template's dialog units are 16-bit values, as the platform's templates hold them; a wider
// value counts as the nearest 16-bit one.
int TemplateUnits(int units) {
  return std::clamp(units, -32768, 32767);
}

// Dialog units of an 8-point dialog font: 4 horizontal units are 6 pixels, 8 vertical ones
// 13 pixels.
int UnitsToX(int units) {
  return TemplateUnits(units) * 6 / 4;
}
int UnitsToY(int units) {
  return TemplateUnits(units) * 13 / 8;
}

DialogSnapshot SnapshotLocked(HWND dialog) {
  DialogSnapshot snapshot;
  Window* w = FindWindowLocked(dialog);
  if (!w) return snapshot;
  snapshot.caption = w->text;
  if (w->dialog) snapshot.focus = w->dialog->focus;
  for (HWND child : w->children) {
    Window* c = FindWindowLocked(child);
    if (!c) continue;
    ControlState state;
    state.id = c->id;
    state.className = c->className;
    state.text = state.shown = c->text;
    state.style = c->style;
    if (c->dialog) {
      const DialogData& d = *c->dialog;
      if (d.kind == ControlClass::kEdit && (c->style & ES_PASSWORD)) {
        // One mark per typed character: the text is UTF-8, whose continuation bytes
        // (10xxxxxx) start no character.
        state.shown.assign(static_cast<size_t>(std::count_if(
                               c->text.begin(), c->text.end(),
                               [](char byte) { return (static_cast<BYTE>(byte) & 0xC0) != 0x80; })),
                           '*');
      }
      state.position = d.position;
      state.rangeMin = d.rangeMin;
      state.rangeMax = d.rangeMax;
      state.items = d.items;
      state.selection = d.selection;
    }
    snapshot.controls.push_back(std::move(state));
  }
  return snapshot;
}

HWND Control(HWND dialog, int id, int templateId) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) ScriptFault(templateId, "the dialog has no control " + std::to_string(id));
  return control;
}

void Log(HWND dialog, std::string event) {
  std::lock_guard lock(S().mutex);
  if (DialogData* data = DialogLocked(dialog)) LogDialogLocked(*data, std::move(event));
}

void Command(HWND dialog, int id, WORD notification, HWND control) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(control));
}

// Carries out one scripted action in the dialog.
void Perform(HWND dialog, int templateId, const DialogAction& action) {
  switch (action.kind) {
    case DialogAction::kType: {
      HWND control = Control(dialog, action.id, templateId);
      Log(dialog, "type " + std::to_string(action.id) + " " + action.text);
      SetWindowTextA(control, action.text.c_str());
      Command(dialog, action.id, EN_CHANGE, control);
      break;
    }
    case DialogAction::kSlide: {
      HWND control = Control(dialog, action.id, templateId);
      SendMessageA(control, TBM_SETPOS, TRUE, action.value);
      auto position = static_cast<WORD>(SendMessageA(control, TBM_GETPOS, 0, 0));
      Log(dialog, "slide " + std::to_string(action.id) + " " + std::to_string(position));
      SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
                   reinterpret_cast<LPARAM>(control));
      SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                   reinterpret_cast<LPARAM>(control));
      break;
    }
    case DialogAction::kPress: {
      HWND control = Control(dialog, action.id, templateId);
      if (!IsWindowEnabled(control)) {
        ScriptFault(templateId, "button " + std::to_string(action.id) + " is disabled");
      }
      Log(dialog, "press " + std::to_string(action.id));
      Command(dialog, action.id, BN_CLICKED, control);
      break;
    }
    case DialogAction::kEnter: {
      int id = IDOK;
      {
        std::lock_guard lock(S().mutex);
        Window* w = FindWindowLocked(dialog);
        for (HWND child : w ? w->children : std::vector<HWND>{}) {
          Window* c = FindWindowLocked(child);
          if (c && c->className == "Button" && (c->style & 0x0F) == BS_DEFPUSHBUTTON) {
            id = c->id;
            break;
          }
        }
      }
      Log(dialog, "enter " + std::to_string(id));
      Command(dialog, id, BN_CLICKED, GetDlgItem(dialog, id));
      break;
    }
    case DialogAction::kEscape:
      Log(dialog, "escape");
      Command(dialog, IDCANCEL, BN_CLICKED, GetDlgItem(dialog, IDCANCEL));
      break;
    case DialogAction::kCloseBox:
      if (!(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU)) {
        ScriptFault(templateId, "the dialog has no close box");
      }
      Log(dialog, "close box");
      SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case DialogAction::kSelect: {
      HWND control = Control(dialog, action.id, templateId);
      if (SendMessageA(control, CB_SETCURSEL, action.value, 0) == CB_ERR) {
        ScriptFault(templateId, "list " + std::to_string(action.id) + " has no item " +
                                    std::to_string(action.value));
      }
      Log(dialog, "select " + std::to_string(action.id) + " " + std::to_string(action.value));
      Command(dialog, action.id, CBN_SELCHANGE, control);
      break;
    }
    case DialogAction::kCapture: {
      std::lock_guard lock(S().mutex);
      DialogData* data = DialogLocked(dialog);
      if (data && data->record < S().dialogRecords.size()) {
        S().dialogRecords[data->record].captured.push_back(SnapshotLocked(dialog));
      }
      break;
    }
    case DialogAction::kCall:
      if (action.call) action.call(dialog);
      break;
    case DialogAction::kWaitUntil:
      break;
  }
}

bool Ended(HWND dialog) {
  std::lock_guard lock(S().mutex);
  DialogData* data = DialogLocked(dialog);
  return !data || data->ended;
}

}  // namespace

namespace headless {

namespace internal {

bool RunDialogScriptStep(HWND dialog, bool* waiting, std::string* label) {
  *waiting = false;
  DialogAction action;
  int templateId;
  {
    std::lock_guard lock(S().mutex);
    DialogData* data = DialogLocked(dialog);
    if (!data || data->actions.empty()) return false;
    action = data->actions.front();
    templateId = data->templateId;
    if (action.kind != DialogAction::kWaitUntil) data->actions.pop_front();
  }
  if (action.kind == DialogAction::kWaitUntil) {
    bool ready = !action.predicate || action.predicate();
    std::lock_guard lock(S().mutex);
    DialogData* data = DialogLocked(dialog);
    if (ready) {
      if (data && !data->actions.empty()) data->actions.pop_front();
    } else {
      *waiting = true;
      *label = action.text;
    }
    return true;
  }
  Perform(dialog, templateId, action);
  return true;
}

}  // namespace internal

namespace {

DialogAction Make(DialogAction::Kind kind) {
  DialogAction action;
  action.kind = kind;
  return action;
}

}  // namespace

DialogAction TypeText(int id, std::string text) {
  DialogAction action = Make(DialogAction::kType);
  action.id = id;
  action.text = std::move(text);
  return action;
}

DialogAction MoveSlider(int id, int position) {
  DialogAction action = Make(DialogAction::kSlide);
  action.id = id;
  action.value = position;
  return action;
}

DialogAction PressButton(int id) {
  DialogAction action = Make(DialogAction::kPress);
  action.id = id;
  return action;
}

DialogAction PressEnter() {
  return Make(DialogAction::kEnter);
}
DialogAction PressEscape() {
  return Make(DialogAction::kEscape);
}
DialogAction PressCloseBox() {
  return Make(DialogAction::kCloseBox);
}

DialogAction SelectItem(int id, int index) {
  DialogAction action = Make(DialogAction::kSelect);
  action.id = id;
  action.value = index;
  return action;
}

DialogAction WaitUntil(std::function<bool()> predicate, std::string label) {
  DialogAction action = Make(DialogAction::kWaitUntil);
  action.predicate = std::move(predicate);
  action.text = std::move(label);
  return action;
}

DialogAction CaptureDialog() {
  return Make(DialogAction::kCapture);
}

DialogAction CallInDialog(std::function<void(HWND)> call) {
  DialogAction action = Make(DialogAction::kCall);
  action.call = std::move(call);
  return action;
}

void ScriptDialog(int templateId, std::vector<DialogAction> actions) {
  std::lock_guard lock(S().mutex);
  S().dialogScripts.push_back({false, templateId, "", std::move(actions)});
  WakeAllLocked();
}

void ScriptDialog(const std::string& caption, std::vector<DialogAction> actions) {
  std::lock_guard lock(S().mutex);
  S().dialogScripts.push_back({true, 0, caption, std::move(actions)});
  WakeAllLocked();
}

size_t PendingDialogScripts() {
  std::lock_guard lock(S().mutex);
  return S().dialogScripts.size();
}

void ClearDialogScripts() {
  std::lock_guard lock(S().mutex);
  S().dialogScripts.clear();
}

std::vector<DialogRecord> DialogRecords() {
  std::lock_guard lock(S().mutex);
  return S().dialogRecords;
}

void ClearDialogRecords() {
  std::lock_guard lock(S().mutex);
  S().dialogRecords.clear();
}

const ControlState* DialogSnapshot::Control(int id) const {
  for (const ControlState& control : controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

std::string DialogSnapshot::Text(int id) const {
  const ControlState* control = Control(id);
  return control ? control->text : "";
}

int DialogSnapshot::Position(int id) const {
  const ControlState* control = Control(id);
  return control ? control->position : -1;
}

}  // namespace headless

INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, const platform::DialogTemplate* dialog,
                                HWND owner, DLGPROC procedure, LPARAM initParam) {
  if (!dialog) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (owner && !IsWindow(owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  RegisterDialogClasses();
  DWORD style = (dialog->style | WS_POPUP) & ~(WS_VISIBLE | WS_CHILD);
  int width = UnitsToX(dialog->cx), height = UnitsToY(dialog->cy);
  // The outer size holds the client area inside the frame and the caption bar.
  RECT client{};
  {
    std::lock_guard lock(S().mutex);
    Window probe;
    probe.style = style;
    probe.exStyle = (dialog->style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0;
    probe.rect = {0, 0, width, height};
    client = ClientAreaLocked(probe);
  }
  int outerWidth = width + (width - (client.right - client.left));
  int outerHeight = height + (height - (client.bottom - client.top));
  int x = UnitsToX(dialog->x), y = UnitsToY(dialog->y);
  if (dialog->style & DS_CENTER) {
    x = (GetSystemMetrics(SM_CXSCREEN) - outerWidth) / 2;
    y = (GetSystemMetrics(SM_CYSCREEN) - outerHeight) / 2;
  } else if (owner) {
    RECT ownerRect;
    GetWindowRect(owner, &ownerRect);
    x += ownerRect.left;
    y += ownerRect.top;
  }
  HWND window = CreateWindowExA((dialog->style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0,
                                kDialogClass, dialog->caption.c_str(), style, x, y, outerWidth,
                                outerHeight, owner, nullptr, instance, nullptr);
  if (!window) return -1;
  auto data = std::make_shared<DialogData>();
  data->isDialog = true;
  data->procedure = procedure;
  data->templateId = dialog->id;
  HWND firstTabStop = nullptr;
  for (const platform::ControlTemplate& control : dialog->controls) {
    HWND child = CreateWindowExA(
        0, platform::ControlClassName(control.controlClass), control.text.c_str(),
        control.style | WS_CHILD, UnitsToX(control.x), UnitsToY(control.y), UnitsToX(control.cx),
        UnitsToY(control.cy), window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
        instance, nullptr);
    if (!child) {
      DestroyWindow(window);
      return -1;
    }
    auto controlData = std::make_shared<DialogData>();
    controlData->kind = control.controlClass;
    if (control.controlClass == ControlClass::kComboBox) {
      SetWindowTextA(child, "");
    }
    std::lock_guard lock(S().mutex);
    Window* c = FindWindowLocked(child);
    c->dialog = controlData;
    c->id = control.id;
    if (!firstTabStop && (control.style & WS_TABSTOP)) firstTabStop = child;
  }
  std::string what = "the modal loop of dialog " + std::to_string(dialog->id);
  {
    std::lock_guard lock(S().mutex);
    Window* w = FindWindowLocked(window);
    w->dialog = data;
    DialogRecord record;
    record.templateId = dialog->id;
    record.caption = dialog->caption;
    record.dialog = window;
    record.owner = owner;
    record.thread = std::this_thread::get_id();
    record.opened = Now();
    data->record = S().dialogRecords.size();
    S().dialogRecords.push_back(std::move(record));
    auto& scripts = S().dialogScripts;
    for (auto it = scripts.begin(); it != scripts.end(); ++it) {
      if (it->byCaption ? it->caption == dialog->caption : it->templateId == dialog->id) {
        data->actions.assign(it->actions.begin(), it->actions.end());
        scripts.erase(it);
        break;
      }
    }
    data->initialised = true;
  }
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  LRESULT focus =
      SendMessageA(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), initParam);
  {
    std::lock_guard lock(S().mutex);
    LogDialogLocked(*data, "init " + std::to_string(focus));
    if (focus && firstTabStop) {
      if (Window* c = FindWindowLocked(firstTabStop)) {
        data->focus = c->id;
        LogDialogLocked(*data, "focus " + std::to_string(c->id));
      }
    }
  }
  if (!Ended(window)) ShowWindow(window, SW_SHOW);
  {
    std::lock_guard lock(S().mutex);
    S().dialogRecords[data->record].initial = SnapshotLocked(window);
  }
  LoopContext context;
  context.dialog = window;
  context.done = [window] { return Ended(window); };
  context.what = what.c_str();
  MSG message;
  while (!Ended(window) && NextMessage(&message, nullptr, 0, 0, context)) {
    if (message.message == WM_QUIT) {
      // The dialog ends and the quit message stays for the outer loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  INT_PTR result;
  {
    std::lock_guard lock(S().mutex);
    DialogRecord& record = S().dialogRecords[data->record];
    record.final = SnapshotLocked(window);
    record.ended = data->ended;
    record.result = result = data->ended ? data->result : 0;
    record.unusedActions = data->actions.size();
  }
  if (IsWindow(window)) DestroyWindow(window);
  if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
  return result;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM initParam) {
  const platform::DialogTemplate* dialog = platform::FindDialogTemplate(templateName);
  if (!dialog) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return -1;
  }
  return DialogBoxIndirectParamA(instance, dialog, owner, procedure, initParam);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  {
    std::lock_guard lock(S().mutex);
    DialogData* data = DialogLocked(dialog);
    if (!data) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    data->ended = true;
    data->result = result;
    LogDialogLocked(*data, "end " + std::to_string(result));
    WakeAllLocked();
  }
  ShowWindow(dialog, SW_HIDE);
  return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  std::lock_guard lock(S().mutex);
  Window* w = FindWindowLocked(dialog);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (HWND child : w->children) {
    Window* c = FindWindowLocked(child);
    if (c && c->id == id) return child;
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
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
