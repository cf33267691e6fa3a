// The Qt display: widgets on the window thread (the thread of the QApplication) are the
// peers of the model's windows; changes asked for on other threads are carried out there,
// the screen is Qt's primary screen and the clock is the real one.
#include <QGuiApplication>
#include <QScreen>
#include <atomic>

#include "platform/qt/qt_state.h"

namespace qtbackend::internal {

display::Peer PeerOf(HWND handle) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(handle);
  return window ? *window->peer : display::Peer{};
}

}  // namespace qtbackend::internal

namespace window_system::display {

using namespace qtbackend::internal;

namespace {

// The screen's size as last read on the window thread (other threads may not ask Qt).
std::atomic<int> screenWidth{0};
std::atomic<int> screenHeight{0};

void ReadScreenSize() {
  if (!OnWindowThread()) return;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    screenWidth.store(screen->geometry().width());
    screenHeight.store(screen->geometry().height());
  }
}

}  // namespace

// Windows are widgets, which Qt keeps on the thread of the QApplication.
bool MayCreateWindows() {
  return OnWindowThread();
}

bool OnDisplayThread() {
  return OnWindowThread();
}

// Every window lives on the window thread.
bool RunOnThreadOf(HWND, const std::function<void()>& call) {
  return RunOnWindowThread(call);
}

std::shared_ptr<Peer> NewPeer() {
  return std::make_shared<Peer>();
}

// Nothing is kept beside a window's peer, which goes with the window.
void ForgetWindow(HWND) {}

// Any thread may report new pixels; the window thread repaints the client widget when it
// next handles Qt events.
void ShowSurface(HWND window) {
  PostToWindowThread([window] {
    if (QWidget* client = PeerOf(window).client) client->update();
  });
}

void ScreenSize(int* width, int* height) {
  if (OnWindowThread()) {
    ReadScreenSize();
  } else if (screenWidth.load() == 0) {
    RunOnWindowThread(ReadScreenSize);
  }
  *width = screenWidth.load();
  *height = screenHeight.load();
}

}  // namespace window_system::display
