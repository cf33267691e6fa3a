// Modal dialogs of the Qt backend, built from the program's templates: the dialog is a window
// whose controls are real Qt widgets (edit fields, push buttons, texts, group boxes, pictures,
// sliders, drop-down lists), each also a window with its own id. Positions and sizes in dialog
// units are converted with the dialog font's metrics. The dialog's own procedure comes first;
// what it leaves alone gets the platform's dialog behaviour: Enter presses the default
// button, Escape and the close box send IDCANCEL.
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "platform/qt/qt_state.h"
#include "platform/resources.h"
#include "platform/threads.h"

namespace qtbackend::internal {

// Trackbar notification codes carried by WM_HSCROLL.
constexpr WORD kTbLineUp = 0, kTbLineDown = 1, kTbPageUp = 2, kTbPageDown = 3, kTbThumbPosition = 4,
               kTbThumbTrack = 5, kTbTop = 6, kTbBottom = 7, kTbEndTrack = 8;
// Button styles kept in the low four bits.
constexpr DWORD kButtonTypeMask = 0xF;
constexpr DWORD kStaticTypeMask = 0x1F;

}  // namespace qtbackend::internal

struct window_system::DialogData {
  bool control = false;
  // A dialog's state.
  DLGPROC procedure = nullptr;
  bool ended = false;
  INT_PTR result = 0;
  // A control's state.
  platform::ControlClass controlClass = platform::ControlClass::kStatic;
  DWORD controlStyle = 0;
  HWND dialog = nullptr;
  bool settingSlider = false;  // the program, not the user, moves the slider
  WORD scrollCode = qtbackend::internal::kTbThumbTrack;  // the user's last slider action
};

namespace qtbackend::internal {

bool IsDialogLocked(const Window& window) {
  return window.dialog && !window.dialog->control;
}
bool IsControlLocked(const Window& window) {
  return window.dialog && window.dialog->control;
}

namespace {

std::shared_ptr<DialogData> DataOf(HWND handle) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(handle);
  return window ? window->dialog : nullptr;
}

QWidget* ControlWidget(HWND control) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(control);
  return window ? window->peer->outer.data() : nullptr;
}

// The control of a dialog with the given id, or null.
// The dialog's default push button id (IDOK when it has none).
int DefaultButtonId(HWND dialog) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(dialog);
  if (!window) return IDOK;
  for (HWND child : window->children) {
    Window* c = FindWindowLocked(child);
    if (c && c->dialog && c->dialog->controlClass == platform::ControlClass::kButton &&
        (c->dialog->controlStyle & kButtonTypeMask) == BS_DEFPUSHBUTTON) {
      return c->id;
    }
  }
  return IDOK;
}

void Notify(HWND dialog, int id, WORD code, HWND control) {
  SendMessageA(dialog, WM_COMMAND, MAKELONG(id, code), reinterpret_cast<LPARAM>(control));
}

void SetModelText(HWND control, const QString& text) {
  std::lock_guard lock(M().mutex);
  if (Window* window = FindWindowLocked(control)) window->text = text.toStdString();
}

// The window procedure of every dialog: the program's dialog procedure first, then the
// platform's defaults.
LRESULT DialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<DialogData> data = DataOf(dialog);
  if (!data) return 0;
  INT_PTR handled = data->procedure ? data->procedure(dialog, message, wParam, lParam) : FALSE;
  if (message == WM_INITDIALOG || handled) return handled;
  switch (message) {
    case WM_CLOSE:
      Notify(dialog, IDCANCEL, 0, FindControl(dialog, IDCANCEL));
      return 0;
    case WM_PAINT: {
      // The controls draw themselves; the dialog's face is the widget's own.
      std::lock_guard lock(M().mutex);
      if (Window* window = FindWindowLocked(dialog))
        window->needsPaint = window->needsErase = false;
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    default:
      return DefWindowProcA(dialog, message, wParam, lParam);
  }
}

// The window procedure of every control: the trackbar and drop-down list messages.
LRESULT ControlWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<DialogData> data = DataOf(control);
  QWidget* widget = ControlWidget(control);
  if (data && widget && data->controlClass == platform::ControlClass::kTrackbar) {
    auto* slider = static_cast<QSlider*>(widget);
    switch (message) {
      case TBM_GETPOS:
        return slider->value();
      case TBM_GETRANGEMIN:
        return slider->minimum();
      case TBM_GETRANGEMAX:
        return slider->maximum();
      case TBM_SETRANGE:
        data->settingSlider = true;
        slider->setRange(static_cast<int16_t>(LOWORD(lParam)),
                         static_cast<int16_t>(HIWORD(lParam)));
        data->settingSlider = false;
        return 0;
      case TBM_SETPOS:
        data->settingSlider = true;
        slider->setValue(static_cast<int>(lParam));
        data->settingSlider = false;
        return 0;
    }
  }
  if (data && widget && data->controlClass == platform::ControlClass::kComboBox) {
    auto* combo = static_cast<QComboBox*>(widget);
    switch (message) {
      case CB_ADDSTRING:
        if (!lParam) return CB_ERR;
        combo->addItem(QString::fromLocal8Bit(reinterpret_cast<const char*>(lParam)));
        return combo->count() - 1;
      case CB_GETCOUNT:
        return combo->count();
      case CB_GETCURSEL:
        return combo->currentIndex() < 0 ? CB_ERR : combo->currentIndex();
      case CB_SETCURSEL: {
        int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0 || index >= combo->count()) {
          combo->setCurrentIndex(-1);
          return CB_ERR;
        }
        combo->setCurrentIndex(index);
        return index;
      }
    }
  }
  return DefWindowProcA(control, message, wParam, lParam);
}

// The dialog font and its base units (average character width and height in pixels).
struct DialogFont {
  QFont font;
  int baseX;
  int baseY;
};

DialogFont FontOf(const platform::DialogTemplate& dialog) {
  DialogFont result;
  result.font = QApplication::font();
  if ((dialog.style & DS_SETFONT) || !dialog.fontName.empty()) {
    // A face the desktop lacks ("MS Sans Serif") falls back to its sans-serif face.
    result.font = QFont(QString::fromStdString(dialog.fontName));
    result.font.setStyleHint(QFont::SansSerif);
    if (dialog.pointSize > 0) result.font.setPointSize(dialog.pointSize);
  }
  QFontMetrics metrics(result.font);
  int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  result.baseX = std::max(1, (letters / 26 + 1) / 2);
  result.baseY = std::max(1, metrics.height());
  return result;
}

// Dialog units in pixels of the dialog's font. A template's units are 16-bit values, as the
// platform's templates hold them (a wider value counts as the nearest 16-bit one).
int Scale(int units, int base, int divisor) {
  const int64_t pixels = (int64_t{std::clamp(units, -32768, 32767)} * base + divisor / 2) / divisor;
  return static_cast<int>(std::clamp<int64_t>(pixels, INT_MIN, INT_MAX));
}

// Creates one control's window and widget inside the dialog.
HWND CreateControl(HWND dialog, QWidget* face, const platform::ControlTemplate& t,
                   const DialogFont& font) {
  int x = Scale(t.x, font.baseX, 4), y = Scale(t.y, font.baseY, 8);
  int width = Scale(t.cx, font.baseX, 4), height = Scale(t.cy, font.baseY, 8);
  QWidget* widget = nullptr;
  const char* className = "Static";
  std::string text = t.text;
  switch (t.controlClass) {
    case platform::ControlClass::kButton:
      className = "Button";
      if ((t.style & kButtonTypeMask) == BS_GROUPBOX) {
        widget = new QGroupBox(QString::fromStdString(t.text), face);
      } else {
        auto* button = new QPushButton(QString::fromStdString(t.text), face);
        button->setAutoDefault(false);
        button->setDefault((t.style & kButtonTypeMask) == BS_DEFPUSHBUTTON);
        widget = button;
      }
      break;
    case platform::ControlClass::kEdit: {
      className = "Edit";
      auto* edit = new QLineEdit(QString::fromStdString(t.text), face);
      edit->setFrame((t.style & WS_BORDER) != 0);
      if (t.style & ES_PASSWORD) edit->setEchoMode(QLineEdit::Password);
      widget = edit;
      break;
    }
    case platform::ControlClass::kStatic: {
      auto* label = new QLabel(face);
      label->setTextFormat(Qt::PlainText);
      if ((t.style & kStaticTypeMask) == SS_BITMAP) {
        // "#118" names bitmap 118; the control takes the picture's size.
        const platform::BitmapResource* bitmap =
            t.text.size() > 1 && t.text[0] == '#'
                ? platform::FindBitmapResource(std::atoi(t.text.c_str() + 1))
                : nullptr;
        QImage image;
        if (bitmap)
          image.loadFromData(bitmap->file.data(), static_cast<int>(bitmap->file.size()), "BMP");
        if (!image.isNull()) {
          label->setPixmap(QPixmap::fromImage(image));
          width = image.width();
          height = image.height();
        }
      } else {
        label->setWordWrap(true);
        label->setAlignment(
            ((t.style & kStaticTypeMask) == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft) |
            Qt::AlignTop);
        label->setText(QString::fromStdString(t.text));
      }
      widget = label;
      break;
    }
    case platform::ControlClass::kTrackbar: {
      className = "msctls_trackbar32";
      auto* slider = new QSlider(Qt::Horizontal, face);
      slider->setTickPosition((t.style & TBS_NOTICKS) ? QSlider::NoTicks
                              : (t.style & TBS_BOTH)  ? QSlider::TicksBothSides
                                                      : QSlider::TicksBelow);
      slider->setRange(0, 100);
      widget = slider;
      break;
    }
    case platform::ControlClass::kComboBox: {
      className = "ComboBox";
      auto* combo = new QComboBox(face);
      // The template's height is the dropped-down list's; the box itself is one line high.
      height = std::min(height, combo->sizeHint().height());
      widget = combo;
      text.clear();
      break;
    }
  }
  widget->setFocusPolicy((t.style & WS_TABSTOP)                              ? Qt::StrongFocus
                         : t.controlClass == platform::ControlClass::kStatic ? Qt::NoFocus
                                                                             : Qt::ClickFocus);
  widget->setGeometry(x, y, width, height);
  if (t.controlClass == platform::ControlClass::kButton &&
      (t.style & kButtonTypeMask) == BS_GROUPBOX) {
    widget->lower();  // a group box frames the controls above it
  }

  auto data = std::make_shared<DialogData>();
  data->control = true;
  data->controlClass = t.controlClass;
  data->controlStyle = t.style;
  data->dialog = dialog;
  auto window = std::make_unique<Window>();
  window->className = className;
  window->procedure = ControlWindowProc;
  window->style = (t.style | WS_CHILD) & ~WS_MINIMIZE;
  window->text = text;
  window->parent = dialog;
  window->id = t.id;
  window->rect = {x, y, x + width, y + height};
  window->thread = std::this_thread::get_id();
  window->dialog = data;
  window->peer = display::NewPeer();
  window->peer->outer = widget;
  window->peer->client = widget;
  HWND handle;
  {
    std::lock_guard lock(M().mutex);
    handle = M().windows.Add<HWND>(std::move(window));
    M().windows.Find(handle)->handle = handle;
    if (Window* d = FindWindowLocked(dialog)) d->children.push_back(handle);
  }
  widget->setVisible((t.style & WS_VISIBLE) != 0);
  widget->setEnabled(!(t.style & WS_DISABLED));

  // What the user does reaches the dialog as the platform's notifications.
  int id = t.id;
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    QObject::connect(button, &QPushButton::clicked,
                     [dialog, id, handle] { Notify(dialog, id, BN_CLICKED, handle); });
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    QObject::connect(edit, &QLineEdit::textEdited,
                     [handle](const QString& typed) { SetModelText(handle, typed); });
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    QObject::connect(combo, &QComboBox::currentTextChanged,
                     [handle](const QString& chosen) { SetModelText(handle, chosen); });
  } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
    QObject::connect(slider, &QSlider::actionTriggered, [data](int action) {
      switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
          data->scrollCode = kTbLineDown;
          break;
        case QAbstractSlider::SliderSingleStepSub:
          data->scrollCode = kTbLineUp;
          break;
        case QAbstractSlider::SliderPageStepAdd:
          data->scrollCode = kTbPageDown;
          break;
        case QAbstractSlider::SliderPageStepSub:
          data->scrollCode = kTbPageUp;
          break;
        case QAbstractSlider::SliderToMinimum:
          data->scrollCode = kTbTop;
          break;
        case QAbstractSlider::SliderToMaximum:
          data->scrollCode = kTbBottom;
          break;
        default:
          data->scrollCode = kTbThumbTrack;
          break;
      }
    });
    QObject::connect(slider, &QSlider::valueChanged, [data, dialog, handle](int value) {
      if (data->settingSlider) return;
      WORD code = data->scrollCode;
      WORD position = (code == kTbThumbTrack) ? static_cast<WORD>(value) : 0;
      SendMessageA(dialog, WM_HSCROLL, MAKELONG(code, position), reinterpret_cast<LPARAM>(handle));
      data->scrollCode = kTbThumbTrack;
    });
    QObject::connect(slider, &QSlider::sliderReleased, [slider, dialog, handle] {
      SendMessageA(dialog, WM_HSCROLL,
                   MAKELONG(kTbThumbPosition, static_cast<WORD>(slider->value())),
                   reinterpret_cast<LPARAM>(handle));
      SendMessageA(dialog, WM_HSCROLL, MAKELONG(kTbEndTrack, 0), reinterpret_cast<LPARAM>(handle));
    });
  }
  return handle;
}

INT_PTR RunDialog(const platform::DialogTemplate& t, HWND owner, DLGPROC procedure,
                  LPARAM initParam) {
  if (owner && !IsWindow(owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  // A dialog belongs to the top-level window of its owner.
  while (owner && GetParent(owner)) owner = GetParent(owner);
  DialogFont font = FontOf(t);
  int clientWidth = Scale(t.cx, font.baseX, 4), clientHeight = Scale(t.cy, font.baseY, 8);

  auto data = std::make_shared<DialogData>();
  data->procedure = procedure;
  auto window = std::make_unique<Window>();
  window->className = "#32770";
  window->procedure = DialogWindowProc;
  window->style = (t.style | WS_POPUP) & ~(WS_VISIBLE | WS_CHILD | WS_MINIMIZE);
  window->exStyle = (t.style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0;
  window->text = t.caption;
  window->parent = owner;
  window->thread = std::this_thread::get_id();
  window->peer = display::NewPeer();
  window->dialog = data;
  HWND dialog;
  {
    std::lock_guard lock(M().mutex);
    dialog = M().windows.Add<HWND>(std::move(window));
    OwnQueueLocked();
    Window* w = M().windows.Find(dialog);
    w->handle = dialog;
    // The outer size is the client size with the frame around it.
    w->rect = {0, 0, clientWidth, clientHeight};
    RECT area = ClientAreaLocked(*w);
    int outerWidth = clientWidth + area.left + (clientWidth - area.right);
    int outerHeight = clientHeight + area.top + (clientHeight - area.bottom);
    int x, y;
    if (t.style & DS_CENTER) {
      x = std::max(0, (Metric(SM_CXSCREEN) - outerWidth) / 2);
      y = std::max(0, (Metric(SM_CYSCREEN) - outerHeight) / 2);
    } else {
      x = Scale(t.x, font.baseX, 4);
      y = Scale(t.y, font.baseY, 8);
      if (Window* o = FindWindowLocked(owner)) {
        RECT screen = ScreenRectLocked(*o);
        RECT ownerArea = ClientAreaLocked(*o);
        x += screen.left + ownerArea.left;
        y += screen.top + ownerArea.top;
      }
    }
    w->rect = {x, y, x + outerWidth, y + outerHeight};
  }
  SyncWidget(dialog);
  QWidget* outer = nullptr;
  QWidget* face = nullptr;
  {
    std::lock_guard lock(M().mutex);
    Window* w = FindWindowLocked(dialog);
    outer = w->peer->outer;
    face = w->peer->client;
  }
  outer->setFont(font.font);
  outer->setWindowModality(Qt::ApplicationModal);
  face->setAutoFillBackground(true);

  HWND firstTabStop = nullptr;
  for (const platform::ControlTemplate& control : t.controls) {
    HWND handle = CreateControl(dialog, face, control, font);
    if (!firstTabStop && (control.style & WS_TABSTOP) && !(control.style & WS_DISABLED)) {
      firstTabStop = handle;
    }
  }

  // The owner takes no input while its dialog is open.
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  if (CallProcedure(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), initParam) &&
      firstTabStop) {
    if (QWidget* widget = ControlWidget(firstTabStop)) widget->setFocus(Qt::OtherFocusReason);
  }
  if (!data->ended) {
    ShowWindow(dialog, SW_SHOW);
    outer->activateWindow();
    RunModalLoop(outer, dialog, [data] { return data->ended; });
  }
  if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
  INT_PTR result = data->result;
  DestroyWindow(dialog);
  return result;
}

}  // namespace

void ApplyControlText(HWND control, const std::string& text) {
  std::shared_ptr<DialogData> data = DataOf(control);
  QWidget* widget = ControlWidget(control);
  if (!data || !widget) return;
  QString value = QString::fromStdString(text);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    if (edit->text() != value) edit->setText(value);
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(value);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(value);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    if ((data->controlStyle & kStaticTypeMask) != SS_BITMAP) label->setText(value);
  }
}

bool DialogKey(HWND dialog, int key) {
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(dialog);
    if (!window || !IsDialogLocked(*window)) return false;
  }
  if (key == Qt::Key_Escape) {
    Notify(dialog, IDCANCEL, 0, FindControl(dialog, IDCANCEL));
    return true;
  }
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  // A push button with the focus is pressed; otherwise the default button.
  int id = DefaultButtonId(dialog);
  HWND control = FindControl(dialog, id);
  if (QWidget* focus = QApplication::focusWidget(); qobject_cast<QPushButton*>(focus)) {
    std::lock_guard lock(M().mutex);
    M().windows.ForEach([&](uint64_t, const Window& w) {
      if (w.peer->outer == focus && w.parent == dialog) {
        id = w.id;
        control = w.handle;
      }
    });
  }
  if (control && !IsWindowEnabled(control)) return true;
  Notify(dialog, id, 0, control);
  return true;
}

}  // namespace qtbackend::internal

using namespace qtbackend::internal;

// Dialogs are widgets of the window thread: a dialog asked for on another thread is run by
// the window thread while the caller waits (-1 with ERROR_NOT_SUPPORTED when there is no
// QApplication).
INT_PTR DialogBoxIndirectParamA(HINSTANCE, const platform::DialogTemplate* dialog, HWND owner,
                                DLGPROC procedure, LPARAM initParam) {
  if (!dialog) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  INT_PTR result = -1;
  if (!RunOnWindowThread([&] { result = RunDialog(*dialog, owner, procedure, initParam); })) {
    SetLastError(ERROR_NOT_SUPPORTED);
  }
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  std::shared_ptr<DialogData> data;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(dialog);
    if (!window || !IsDialogLocked(*window)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    data = window->dialog;
    data->ended = true;
    data->result = result;
  }
  WakeWindowThread();
  return TRUE;
}
