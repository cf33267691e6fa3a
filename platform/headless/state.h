// The headless driver's state beside the window system's model: scripts and dialog records,
// behind the model's mutex.
// Window procedures, predicates and script callbacks are always called without it held.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/resources.h"
#include "platform/window.h"
#include "platform/window_system/model.h"

namespace window_system {

// A dialog's or a dialog control's own state.
struct DialogData {
  // Dialogs.
  bool isDialog = false;
  DLGPROC procedure = nullptr;
  bool initialised = false;  // WM_INITDIALOG was sent
  bool ended = false;
  INT_PTR result = 0;
  int templateId = 0;
  std::deque<headless::DialogAction> actions;  // the script of this run
  size_t record = 0;                           // index into State::dialogRecords
  int focus = 0;                               // id of the control with the focus
  // Controls.
  platform::ControlClass kind = platform::ControlClass::kStatic;
  int position = 0, rangeMin = 0, rangeMax = 100;  // trackbars
  std::vector<std::string> items;                  // combo boxes
  int selection = -1;
};

}  // namespace window_system

namespace headless::internal {

using namespace window_system;

struct DialogScript {
  bool byCaption = false;
  int templateId = 0;
  std::string caption;
  std::vector<DialogAction> actions;
};

// One step of scripted user input (see headless.h).
struct ScriptStep {
  enum Kind { kPost, kWaitUntil, kAdvance, kCall };
  Kind kind = kCall;
  std::function<HWND()> window;  // kPost
  bool userInput = false;        // kPost: dropped when the window takes no input
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::function<bool()> predicate;  // kWaitUntil
  std::string label;
  uint64_t milliseconds = 0;   // kAdvance
  std::function<void()> call;  // kCall
};

// Guarded by M().mutex.
struct State {
  std::deque<ScriptStep> script;
  uint64_t waitLimitMs = 60000;
  std::deque<DialogScript> dialogScripts;
  std::vector<DialogRecord> dialogRecords;
};

// The one state of the process (never destroyed, so threads ending late may still use it).
State& S();

// Dialog hooks (dialogs.cpp): a dialog's scripted actions, run when its loop is idle.
// Gives true when an action ran (or is waiting), false when the dialog has no script left.
bool RunDialogScriptStep(HWND dialog, bool* waiting, std::string* label);

}  // namespace headless::internal
