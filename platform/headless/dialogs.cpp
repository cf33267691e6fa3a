// Dialogs on the headless display: dialog units of a fixed 8-point dialog font, the modal
// loop, and the scripted user actions that tests give each dialog, with the record of what
// each dialog showed.
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

// Under the lock: the script and record of a running dialog, or null.
DialogRun* RunLocked(HWND dialog) {
  auto it = S().dialogRuns.find(dialog);
  return it == S().dialogRuns.end() ? nullptr : &it->second;
}

void LogDialogLocked(HWND dialog, std::string event) {
  DialogRun* run = RunLocked(dialog);
  auto& records = S().dialogRecords;
  if (run && run->record < records.size()) records[run->record].events.push_back(std::move(event));
}

[[noreturn]] void ScriptFault(int templateId, const std::string& what) {
  std::fprintf(stderr, "headless: the script of dialog %d: %s\n", templateId, what.c_str());
  std::fflush(stderr);
  std::abort();
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
        auto starts = [](char byte) { return (static_cast<BYTE>(byte) & 0xC0) != 0x80; };
        state.shown.assign(static_cast<size_t>(std::ranges::count_if(c->text, starts)), '*');
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
  std::lock_guard lock(M().mutex);
  LogDialogLocked(dialog, std::move(event));
}

// Carries out one scripted action in the dialog.
void Perform(HWND dialog, int templateId, const DialogAction& action) {
  const std::string id = std::to_string(action.id);
  auto control = [&] { return Control(dialog, action.id, templateId); };  // stops without one
  switch (action.kind) {
    case DialogAction::kType:
      Log(dialog, "type " + id + " " + action.text);
      NoteUserText(control(), action.text);
      break;
    case DialogAction::kSlide: {
      HWND slider = control();
      SendMessageA(slider, TBM_SETPOS, TRUE, action.value);
      auto position = static_cast<WORD>(SendMessageA(slider, TBM_GETPOS, 0, 0));
      Log(dialog, "slide " + id + " " + std::to_string(position));
      NoteUserSlideEnd(slider);
      break;
    }
    case DialogAction::kPress:
      if (!IsWindowEnabled(control())) ScriptFault(templateId, "button " + id + " is disabled");
      Log(dialog, "press " + id);
      NoteUserCommand(dialog, action.id);
      break;
    case DialogAction::kEnter: {
      int pressed = EnterButtonId(dialog, nullptr);
      if (!pressed) ScriptFault(templateId, "the button Enter presses is disabled");
      Log(dialog, "enter " + std::to_string(pressed));
      NoteUserCommand(dialog, pressed);
      break;
    }
    case DialogAction::kEscape:
      Log(dialog, "escape");
      NoteUserCommand(dialog, IDCANCEL);
      break;
    case DialogAction::kCloseBox:
      if (!(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU)) {
        ScriptFault(templateId, "the dialog has no close box");
      }
      Log(dialog, "close box");
      SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case DialogAction::kSelect:
      Log(dialog, "select " + id + " " + std::to_string(action.value));
      if (!NoteUserChoice(control(), action.value)) {
        ScriptFault(templateId, "list " + id + " has no item " + std::to_string(action.value));
      }
      break;
    case DialogAction::kCapture: {
      std::lock_guard lock(M().mutex);
      DialogRun* run = RunLocked(dialog);
      if (run && run->record < S().dialogRecords.size()) {
        S().dialogRecords[run->record].captured.push_back(SnapshotLocked(dialog));
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

}  // namespace

namespace headless {

namespace internal {

bool RunDialogScriptStep(HWND dialog, bool* waiting, std::string* label) {
  *waiting = false;
  DialogAction action;
  int templateId;
  {
    std::lock_guard lock(M().mutex);
    DialogRun* run = RunLocked(dialog);
    DialogData* data = DialogLocked(dialog);
    if (!run || !data || run->actions.empty()) return false;
    action = run->actions.front();
    templateId = data->templateId;
    if (action.kind != DialogAction::kWaitUntil) run->actions.pop_front();
  }
  if (action.kind == DialogAction::kWaitUntil) {
    bool ready = !action.predicate || action.predicate();
    std::lock_guard lock(M().mutex);
    DialogRun* run = RunLocked(dialog);
    if (ready) {
      if (run && !run->actions.empty()) run->actions.pop_front();
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

DialogAction TypeText(int id, std::string text) {
  return {.kind = DialogAction::kType, .id = id, .text = std::move(text)};
}
DialogAction MoveSlider(int id, int position) {
  return {.kind = DialogAction::kSlide, .id = id, .value = position};
}
DialogAction PressButton(int id) {
  return {.kind = DialogAction::kPress, .id = id};
}
DialogAction PressEnter() {
  return {.kind = DialogAction::kEnter};
}
DialogAction PressEscape() {
  return {.kind = DialogAction::kEscape};
}
DialogAction PressCloseBox() {
  return {.kind = DialogAction::kCloseBox};
}
DialogAction SelectItem(int id, int index) {
  return {.kind = DialogAction::kSelect, .id = id, .value = index};
}
DialogAction WaitUntil(std::function<bool()> predicate, std::string label) {
  return {.kind = DialogAction::kWaitUntil,
          .text = std::move(label),
          .predicate = std::move(predicate)};
}
DialogAction CaptureDialog() {
  return {.kind = DialogAction::kCapture};
}
DialogAction CallInDialog(std::function<void(HWND)> call) {
  return {.kind = DialogAction::kCall, .call = std::move(call)};
}

void ScriptDialog(int templateId, std::vector<DialogAction> actions) {
  std::lock_guard lock(M().mutex);
  S().dialogScripts.push_back({false, templateId, "", std::move(actions)});
  WakeAllLocked();
}

void ScriptDialog(const std::string& caption, std::vector<DialogAction> actions) {
  std::lock_guard lock(M().mutex);
  S().dialogScripts.push_back({true, 0, caption, std::move(actions)});
  WakeAllLocked();
}

size_t PendingDialogScripts() {
  std::lock_guard lock(M().mutex);
  return S().dialogScripts.size();
}

void ClearDialogScripts() {
  std::lock_guard lock(M().mutex);
  S().dialogScripts.clear();
}

std::vector<DialogRecord> DialogRecords() {
  std::lock_guard lock(M().mutex);
  return S().dialogRecords;
}

void ClearDialogRecords() {
  std::lock_guard lock(M().mutex);
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

namespace window_system::display {

RECT DialogTemplatePixels(const platform::DialogTemplate& dialog,
                          const platform::ControlTemplate* control) {
  int x = control ? control->x : dialog.x, y = control ? control->y : dialog.y;
  int cx = control ? control->cx : dialog.cx, cy = control ? control->cy : dialog.cy;
  return {UnitsToX(x), UnitsToY(y), UnitsToX(x) + UnitsToX(cx), UnitsToY(y) + UnitsToY(cy)};
}

// The dialog's record starts, and the first script waiting for it becomes its own.
void DialogBuilt(HWND window, const platform::DialogTemplate& dialog) {
  std::lock_guard lock(M().mutex);
  DialogRecord record;
  record.templateId = dialog.id;
  record.caption = dialog.caption;
  record.dialog = window;
  if (Window* w = FindWindowLocked(window)) record.owner = w->parent;
  DialogRun& run = S().dialogRuns[window];
  run = DialogRun{};
  run.record = S().dialogRecords.size();
  S().dialogRecords.push_back(std::move(record));
  auto& scripts = S().dialogScripts;
  for (auto it = scripts.begin(); it != scripts.end(); ++it) {
    if (it->byCaption ? it->caption == dialog.caption : it->templateId == dialog.id) {
      run.actions.assign(it->actions.begin(), it->actions.end());
      scripts.erase(it);
      break;
    }
  }
}

// The loop takes the thread's messages and, when there are none, the dialog's script; the
// record keeps what the dialog showed at its start.
void RunDialogLoop(HWND window, const std::function<bool()>& ended) {
  std::string what = "the modal loop of dialog ";
  {
    std::lock_guard lock(M().mutex);
    if (DialogData* data = DialogLocked(window)) {
      what += std::to_string(data->templateId);
      LogDialogLocked(window, "init " + std::to_string(data->initAnswer));
      if (data->focus) LogDialogLocked(window, "focus " + std::to_string(data->focus));
    }
  }
  if (!ended()) ShowWindow(window, SW_SHOW);
  {
    std::lock_guard lock(M().mutex);
    if (DialogRun* run = RunLocked(window)) {
      S().dialogRecords[run->record].initial = SnapshotLocked(window);
    }
  }
  LoopContext context;
  context.dialog = window;
  context.done = ended;
  context.what = what.c_str();
  RunLoop(context);  // a WM_QUIT ends the dialog and stays for the outer loop
  std::lock_guard lock(M().mutex);
  DialogRun* run = RunLocked(window);
  if (!run) return;
  DialogRecord& record = S().dialogRecords[run->record];
  if (DialogData* data = DialogLocked(window); data && data->ended) {
    LogDialogLocked(window, "end " + std::to_string(data->result));
    record.ended = true;
    record.result = data->result;
  }
  record.unusedActions = run->actions.size();
  S().dialogRuns.erase(window);
}

}  // namespace window_system::display
