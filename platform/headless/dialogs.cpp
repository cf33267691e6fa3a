// Modal dialogs of the headless backend.
#include "platform/headless/state.h"

namespace headless::internal {

bool RunDialogScriptStep(HWND, bool* waiting, std::string*) {
  *waiting = false;
  return false;
}

}  // namespace headless::internal
