// The headless driver's state beside the window system's model: scripts and dialog records,
// behind the model's mutex.
// Window procedures, predicates and script callbacks are always called without it held.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/window.h"
#include "platform/window_system/model.h"

namespace headless::internal {

using namespace window_system;

// A running dialog's script and the index of its record in State::dialogRecords.
struct DialogRun {
  std::deque<DialogAction> actions;
  size_t record = 0;
};

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
  std::function<HWND()> window{};  // kPost
  bool userInput = false;          // kPost: dropped when the window takes no input
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::function<bool()> predicate{};  // kWaitUntil
  std::string label{};
  uint64_t milliseconds = 0;     // kAdvance
  std::function<void()> call{};  // kCall
};

// Guarded by M().mutex.
struct State {
  std::deque<ScriptStep> script;
  uint64_t waitLimitMs = 60000;
  std::deque<DialogScript> dialogScripts;
  std::vector<DialogRecord> dialogRecords;
  std::map<HWND, DialogRun> dialogRuns;  // the running dialogs
};

// The one state of the process (never destroyed, so threads ending late may still use it).
State& S();

// Dialog hooks (dialogs.cpp): a dialog's scripted actions, run when its loop is idle.
// Gives true when an action ran (or is waiting), false when the dialog has no script left.
bool RunDialogScriptStep(HWND dialog, bool* waiting, std::string* label);

}  // namespace headless::internal
