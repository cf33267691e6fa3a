// The headless display: it shows nothing, so every thread changes the model directly, the
// screen is 1024 x 768 and the clock is the virtual one. Tests read what was shown from the
// model's record, the surfaces and the logs of this driver.
#include "platform/headless/state.h"

namespace window_system::display {

using namespace headless::internal;

bool MayCreateWindows() {
  return true;
}

bool OnDisplayThread() {
  return true;
}

// A window's changes are made by any thread; what runs on a window's thread (a box it owns)
// is sent there as a message.
bool RunOnThreadOf(HWND window, const std::function<void()>& call) {
  if (!window) {
    call();
    return true;
  }
  bool ran = false;
  SendToWindowThread(window, [&] {
    call();
    ran = true;
    return LRESULT{0};
  });
  return ran;
}

std::shared_ptr<Peer> NewPeer() {
  return nullptr;
}

void ShowWindowState(HWND) {}

void DropPeer(HWND) {}

void ForgetWindow(HWND) {}

void ShowSurface(HWND) {}

void ShowMenuState(HMENU) {}

void ScreenSize(int* width, int* height) {
  *width = 1024;
  *height = 768;
}

}  // namespace window_system::display
