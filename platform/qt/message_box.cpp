// Message boxes of the Qt display: a Qt message box with the asked icon and one OK button,
// modal, owned by the window given, shown on the window thread.
#include <QMessageBox>

#include "platform/qt/qt_state.h"

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

}  // namespace

// OK is the only button: closing the box in any way answers OK.
int window_system::display::RunMessageBox(const BoxRecord& record) {
  QWidget* parent = nullptr;
  if (QWidget* owner = PeerOf(record.owner).outer) parent = owner->window();
  QMessageBox box(IconOf(record.flags), QString::fromLocal8Bit(record.caption.c_str()),
                  QString::fromLocal8Bit(record.text.c_str()), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  bool closed = false;
  QObject::connect(&box, &QMessageBox::finished, [&closed] { closed = true; });
  box.show();
  RunModalLoop(&box, nullptr, [&closed] { return closed; });
  return IDOK;
}
