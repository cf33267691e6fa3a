// Message boxes of the Qt backend: a Qt message box with the asked icon and one OK button,
// modal, owned by the window given. The window thread shows it; a box asked for on another
// thread is shown there while the caller waits.
#include <QMessageBox>

#include "platform/qt/qt_state.h"
#include "platform/threads.h"

using namespace qtbackend::internal;

namespace {

QMessageBox::Icon IconOf(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case MB_ICONASTERISK:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

int ShowBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  QWidget* parent = nullptr;
  if (owner) {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(owner);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (window->peer->outer) parent = window->peer->outer->window();
  }
  QMessageBox box(IconOf(type), QString::fromLocal8Bit(caption ? caption : "Error"),
                  QString::fromLocal8Bit(text ? text : ""), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  bool closed = false;
  QObject::connect(&box, &QMessageBox::finished, [&closed] { closed = true; });
  // The owner takes no input while its box is open.
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  box.show();
  RunModalLoop(&box, nullptr, [&closed] { return closed; });
  if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
  // OK is the only button: closing the box in any way answers OK.
  return IDOK;
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  int answer = 0;
  if (!RunOnWindowThread([&] { answer = ShowBox(owner, text, caption, type); })) {
    SetLastError(ERROR_NOT_SUPPORTED);  // no QApplication: nothing can show a box
    return 0;
  }
  return answer;
}
