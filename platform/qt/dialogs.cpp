// Dialogs on the Qt display: each control of a dialog is a real Qt widget (edit field, push
// button, text, group box, picture, slider, drop-down list) that shows the control's state in
// the model and reports what the user does to it; dialog units follow the dialog font's
// metrics; the modal loop is the window thread's, with the modal hook.
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <map>

#include "platform/qt/qt_state.h"
#include "platform/resources.h"

namespace qtbackend::internal {
namespace {

using platform::ControlClass;

// Button and static styles kept in the low bits.
constexpr DWORD kButtonTypeMask = 0xF;
constexpr DWORD kStaticTypeMask = 0x1F;

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

bool IsPicture(ControlClass kind, DWORD style) {
  return kind == ControlClass::kStatic && (style & kStaticTypeMask) == SS_BITMAP;
}

// The picture a static control's text names ("#118": bitmap 118), or a null image.
QImage PictureOf(const std::string& text) {
  const platform::BitmapResource* bitmap =
      text.size() > 1 && text[0] == '#' ? platform::FindBitmapResource(std::atoi(text.c_str() + 1))
                                        : nullptr;
  if (!bitmap) return QImage();
  return QImage::fromData(bitmap->file.data(), static_cast<int>(bitmap->file.size()), "BMP");
}

// A slider's user action as a trackbar scroll code (a drag, or any other: TB_THUMBTRACK).
WORD ScrollCode(int action) {
  using Slider = QAbstractSlider;
  static const std::map<int, WORD> codes = {
      {Slider::SliderSingleStepAdd, TB_LINEDOWN}, {Slider::SliderSingleStepSub, TB_LINEUP},
      {Slider::SliderPageStepAdd, TB_PAGEDOWN},   {Slider::SliderPageStepSub, TB_PAGEUP},
      {Slider::SliderToMinimum, TB_TOP},          {Slider::SliderToMaximum, TB_BOTTOM}};
  auto code = codes.find(action);
  return code == codes.end() ? TB_THUMBTRACK : code->second;
}

// Makes the widget of a control inside its dialog's face, wired to report the user's input.
QWidget* MakeControlWidget(HWND handle, HWND dialog, int id, ControlClass kind, DWORD style,
                           QWidget* face) {
  QWidget* widget = nullptr;
  switch (kind) {
    case ControlClass::kButton:
      if ((style & kButtonTypeMask) == BS_GROUPBOX) {
        widget = new QGroupBox(face);
        widget->lower();  // a group box frames the controls above it
      } else {
        auto* button = new QPushButton(face);
        button->setAutoDefault(false);
        button->setDefault((style & kButtonTypeMask) == BS_DEFPUSHBUTTON);
        QObject::connect(button, &QPushButton::clicked,
                         [dialog, id] { NoteUserCommand(dialog, id); });
        widget = button;
      }
      break;
    case ControlClass::kEdit: {
      auto* edit = new QLineEdit(face);
      edit->setFrame((style & WS_BORDER) != 0);
      if (style & ES_PASSWORD) edit->setEchoMode(QLineEdit::Password);
      QObject::connect(edit, &QLineEdit::textEdited, [handle](const QString& typed) {
        NoteUserText(handle, typed.toStdString());
      });
      widget = edit;
      break;
    }
    case ControlClass::kStatic: {
      auto* label = new QLabel(face);
      label->setTextFormat(Qt::PlainText);
      if (!IsPicture(kind, style)) {
        label->setWordWrap(true);
        label->setAlignment(
            ((style & kStaticTypeMask) == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft) |
            Qt::AlignTop);
      }
      widget = label;
      break;
    }
    case ControlClass::kTrackbar: {
      auto* slider = new QSlider(Qt::Horizontal, face);
      slider->setTickPosition((style & TBS_NOTICKS) ? QSlider::NoTicks
                              : (style & TBS_BOTH)  ? QSlider::TicksBothSides
                                                    : QSlider::TicksBelow);
      // The scroll code of the user's last action goes with the value it brings.
      auto code = std::make_shared<WORD>(TB_THUMBTRACK);
      QObject::connect(slider, &QSlider::actionTriggered,
                       [code](int action) { *code = ScrollCode(action); });
      QObject::connect(slider, &QSlider::valueChanged, [code, handle](int value) {
        NoteUserSlide(handle, value, *code);
        *code = TB_THUMBTRACK;
      });
      QObject::connect(slider, &QSlider::sliderReleased, [handle] { NoteUserSlideEnd(handle); });
      widget = slider;
      break;
    }
    case ControlClass::kComboBox: {
      auto* combo = new QComboBox(face);
      QObject::connect(combo, QOverload<int>::of(&QComboBox::activated),
                       [handle](int index) { NoteUserChoice(handle, index); });
      widget = combo;
      break;
    }
  }
  widget->setFocusPolicy((style & WS_TABSTOP)            ? Qt::StrongFocus
                         : kind == ControlClass::kStatic ? Qt::NoFocus
                                                         : Qt::ClickFocus);
  return widget;
}

// Brings a control's widget in line with the control's text and value, with its signals held
// back: only the user's input is reported.
void ShowControlValue(QWidget* widget, DWORD style, const std::string& text,
                      const DialogData& value) {
  QSignalBlocker block(widget);
  QString shown = QString::fromStdString(text);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    if (edit->text() != shown) edit->setText(shown);
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(shown);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(shown);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (!IsPicture(ControlClass::kStatic, style)) {
      label->setText(shown);
    } else if (label->pixmap().isNull()) {
      QImage image = PictureOf(text);
      if (!image.isNull()) label->setPixmap(QPixmap::fromImage(image));
    }
  } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
    slider->setRange(value.rangeMin, value.rangeMax);
    slider->setValue(value.position);
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    QStringList items;
    for (const std::string& item : value.items) items.push_back(QString::fromStdString(item));
    QStringList listed;
    for (int i = 0; i < combo->count(); ++i) listed.push_back(combo->itemText(i));
    if (listed != items) {
      combo->clear();
      combo->addItems(items);
    }
    combo->setCurrentIndex(value.selection);
  }
}

}  // namespace

void SyncControl(HWND handle) {
  ControlClass kind{};
  Window control;
  DialogData value;
  QPointer<QWidget> widget, face;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window || !IsControlLocked(*window, &kind)) return;
    control = *window;
    if (window->dialog) value = *window->dialog;
    widget = window->peer->outer;
    if (Window* parent = FindWindowLocked(window->parent)) face = parent->peer->client;
  }
  const DWORD style = control.style;
  if (!widget) {
    if (!face) return;
    widget = MakeControlWidget(handle, control.parent, control.id, kind, style, face);
    std::lock_guard lock(M().mutex);
    if (Window* window = FindWindowLocked(handle))
      window->peer->outer = window->peer->client = widget;
  }
  const RECT& r = control.rect;
  widget->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
  widget->setEnabled(!(style & WS_DISABLED));
  bool visible = (style & WS_VISIBLE) != 0;
  if (widget->isVisibleTo(widget->parentWidget()) != visible) widget->setVisible(visible);
  ShowControlValue(widget, style, control.text, value);
}

bool DialogKey(HWND dialog, int key) {
  HWND focus = nullptr;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(dialog);
    if (!window || !IsDialogLocked(*window)) return false;
    QWidget* focused = QApplication::focusWidget();
    for (HWND child : window->children) {
      Window* c = FindWindowLocked(child);
      if (focused && c && c->peer->outer == focused) focus = child;
    }
  }
  if (key == Qt::Key_Escape) {
    NoteUserCommand(dialog, IDCANCEL);
    return true;
  }
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  if (int id = EnterButtonId(dialog, focus)) NoteUserCommand(dialog, id);
  return true;
}

}  // namespace qtbackend::internal

namespace window_system::display {

using namespace qtbackend::internal;

RECT DialogTemplatePixels(const platform::DialogTemplate& dialog,
                          const platform::ControlTemplate* control) {
  DialogFont font = FontOf(dialog);
  int x = control ? control->x : dialog.x, y = control ? control->y : dialog.y;
  int cx = control ? control->cx : dialog.cx, cy = control ? control->cy : dialog.cy;
  int left = Scale(x, font.baseX, 4), top = Scale(y, font.baseY, 8);
  int width = Scale(cx, font.baseX, 4), height = Scale(cy, font.baseY, 8);
  if (control && IsPicture(control->controlClass, control->style)) {
    // A picture takes its own size.
    if (QImage image = PictureOf(control->text); !image.isNull()) {
      width = image.width();
      height = image.height();
    }
  } else if (control && control->controlClass == platform::ControlClass::kComboBox) {
    // The template's height is the dropped-down list's; the box itself is one line high.
    QComboBox probe;
    probe.setFont(font.font);
    height = std::min(height, probe.sizeHint().height());
  }
  return {left, top, left + width, top + height};
}

// The dialog's widget takes the dialog font (its controls follow it) and keeps the rest of
// the program from the user while it is open.
void DialogBuilt(HWND window, const platform::DialogTemplate& dialog) {
  QPointer<QWidget> outer = PeerOf(window).outer;
  if (!outer) return;
  outer->setFont(FontOf(dialog).font);
  outer->setWindowModality(Qt::ApplicationModal);
}

void RunDialogLoop(HWND window, const std::function<bool()>& ended) {
  int focusId;
  {
    std::lock_guard lock(M().mutex);
    DialogData* data = DialogLocked(window);
    if (!data) return;
    focusId = data->focus;
  }
  QPointer<QWidget> outer = PeerOf(window).outer;
  if (focusId) {
    if (QWidget* focus = PeerOf(FindControl(window, focusId)).outer) {
      focus->setFocus(Qt::OtherFocusReason);
    }
  }
  if (ended() || !outer) return;
  ShowWindow(window, SW_SHOW);
  outer->activateWindow();
  RunModalLoop(outer, window, ended);
}

}  // namespace window_system::display
