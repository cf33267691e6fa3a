// The widgets that show the Qt backend's windows. A top-level window is a Qt window whose
// decorations come from the window manager (a window without a caption bar draws its own
// border); a child window is a plain widget that draws its own border and caption bar. Each
// has a client widget that shows the window's surface, and top-level windows a menu bar.
// Nothing here decides a window's state: the model does, and ShowWindowState makes the
// widgets follow it.
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QRegion>
#include <optional>

#include "platform/gdi.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_state.h"
#include "platform/surface.h"

namespace qtbackend::internal {
namespace {

// The colour a stock brush paints with; none for other brushes.
std::optional<QColor> StockBrushColour(HBRUSH brush) {
  static const struct {
    int index;
    QColor colour;
  } stock[] = {{WHITE_BRUSH, QColor(255, 255, 255)},
               {LTGRAY_BRUSH, QColor(192, 192, 192)},
               {GRAY_BRUSH, QColor(128, 128, 128)},
               {DKGRAY_BRUSH, QColor(64, 64, 64)},
               {BLACK_BRUSH, QColor(0, 0, 0)}};
  for (const auto& s : stock) {
    if (brush && GetStockObject(s.index) == brush) return s.colour;
  }
  return std::nullopt;
}

// Lines along the rectangle's edges: its top and left in `topLeft`, then its bottom and right
// in `bottomRight`.
void DrawEdges(QPainter& painter, const QRect& r, const QColor& topLeft,
               const QColor& bottomRight) {
  painter.setPen(topLeft);
  painter.drawLine(r.topLeft(), r.topRight());
  painter.drawLine(r.topLeft(), r.bottomLeft());
  painter.setPen(bottomRight);
  painter.drawLine(r.bottomLeft(), r.bottomRight());
  painter.drawLine(r.topRight(), r.bottomRight());
}

// A window's client area: the window's surface from the top-left corner, and the class's
// background where the surface does not reach (or before anything was painted).
class ClientArea : public QWidget {
 public:
  ClientArea(HWND window, HBRUSH background, QWidget* parent)
      : QWidget(parent), window_(window), background_(background) {
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  // A dialog's face: the dialog's own colour, and a raised edge when the window has neither
  // border nor caption bar of its own (the dialog frame of a popup dialog).
  void MakeDialogFace(bool raisedEdge) {
    dialogFace_ = true;
    raisedEdge_ = raisedEdge;
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(true);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (dialogFace_) {
      if (raisedEdge_) {
        DrawEdges(painter, rect().adjusted(0, 0, -1, -1), QColor(255, 255, 255),
                  QColor(64, 64, 64));
      }
      return;
    }
    const QColor background =
        StockBrushColour(background_).value_or(palette().color(QPalette::Window));
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    QRect surface;  // where the surface is shown
    if (platform::ReadWindowSurface(window_, &pixels, &width, &height) && width > 0 && height > 0) {
      for (uint32_t& pixel : pixels) pixel |= 0xFF000000u;
      QImage image(reinterpret_cast<const uchar*>(pixels.data()), width, height, width * 4,
                   QImage::Format_RGB32);
      painter.drawImage(0, 0, image);
      surface = image.rect();
    }
    for (const QRect& rest : QRegion(rect()).subtracted(surface)) {
      painter.fillRect(rest, background);
    }
  }

 private:
  HWND window_;
  HBRUSH background_;  // the class's background brush
  bool dialogFace_ = false;
  bool raisedEdge_ = false;
};

// The outer widget of a window: draws the border and caption bar that the window manager
// does not, and turns what the user does to the window into the window's messages.
class WindowWidget : public QWidget {
 public:
  WindowWidget(HWND window, QWidget* parent, Qt::WindowFlags flags)
      : QWidget(parent, flags), window_(window) {}

  struct Frame {
    int edgeX = 0, edgeY = 0;  // border widths drawn here
    bool thick = false;        // a sizing frame rather than a thin border
    int caption = 0;           // caption bar height drawn here
    bool rightAligned = false;
    bool active = false;
    QString title;
  };

  void SetFrame(const Frame& frame) {
    frame_ = frame;
    update();
  }

  // -1 until the window procedure was asked whether the border sizes the window.
  int resizable = -1;

  HWND modelWindow() const { return window_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (frame_.edgeX == 0 && frame_.edgeY == 0 && frame_.caption == 0) return;
    QPainter painter(this);
    const QColor face(212, 208, 200), light(255, 255, 255), shadow(128, 128, 128), dark(64, 64, 64);
    QRect r = rect();
    if (frame_.thick) {
      painter.fillRect(r, face);
      DrawEdges(painter, r, face, dark);
      DrawEdges(painter, r.adjusted(1, 1, -1, -1), light, shadow);
    } else if (frame_.edgeX > 0 || frame_.edgeY > 0) {
      painter.setPen(Qt::black);
      painter.drawRect(r.adjusted(0, 0, -1, -1));
    }
    if (frame_.caption > 0) {
      QRect bar(frame_.edgeX, frame_.edgeY, width() - 2 * frame_.edgeX, frame_.caption - 1);
      QColor deep = frame_.active ? QColor(10, 36, 106) : QColor(128, 128, 128);
      QColor pale = frame_.active ? QColor(166, 202, 240) : QColor(192, 192, 192);
      // The deep end of the gradient sits behind the text.
      QLinearGradient gradient(bar.topLeft(), bar.topRight());
      gradient.setColorAt(0, frame_.rightAligned ? pale : deep);
      gradient.setColorAt(1, frame_.rightAligned ? deep : pale);
      painter.fillRect(bar, gradient);
      painter.setPen(face);
      painter.drawLine(bar.bottomLeft() + QPoint(0, 1), bar.bottomRight() + QPoint(0, 1));
      QFont font = painter.font();
      font.setBold(true);
      painter.setFont(font);
      painter.setPen(frame_.active ? QColor(255, 255, 255) : QColor(232, 232, 232));
      painter.drawText(bar.adjusted(4, 0, -4, 0),
                       Qt::AlignVCenter | (frame_.rightAligned ? Qt::AlignRight : Qt::AlignLeft),
                       frame_.title);
    }
  }

  void closeEvent(QCloseEvent* event) override {
    // The close box asks the window; its procedure decides.
    event->ignore();
    PostMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
  }

  void moveEvent(QMoveEvent* event) override {
    QWidget::moveEvent(event);
    if (!isWindow() || !event->spontaneous()) return;
    RECT r;
    if (!GetWindowRect(window_, &r)) return;
    NoteUserGeometry(window_, pos().x(), pos().y(), r.right - r.left, r.bottom - r.top);
  }

  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    if (!isWindow() || !event->spontaneous() || isMinimized()) return;
    RECT r;
    if (!GetWindowRect(window_, &r)) return;
    QSize size = event->size();
    // The window manager's frame stands for the model's border and caption bar.
    if (!(windowFlags() & Qt::FramelessWindowHint)) size += FrameExtent();
    NoteUserGeometry(window_, r.left, r.top, size.width(), size.height());
  }

  void changeEvent(QEvent* event) override {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && event->spontaneous() && isWindow()) {
      NoteUserMinimised(window_, isMinimized());
    }
    // The desktop's colours changed (the program sets no palette of its own on its windows).
    if (event->type() == QEvent::PaletteChange && isWindow()) {
      SendMessageA(window_, WM_SYSCOLORCHANGE, 0, 0);
    }
  }

  bool event(QEvent* event) override {
    // A top-level window that becomes active may realise its palette; the desktop is true
    // colour, so no window ever hears WM_PALETTECHANGED.
    if (event->type() == QEvent::WindowActivate && isWindow()) {
      SendMessageA(window_, WM_QUERYNEWPALETTE, 0, 0);
    }
    return QWidget::event(event);
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (isWindow() && DialogKey(window_, event->key())) {
      event->accept();
      return;
    }
    QWidget::keyPressEvent(event);
  }

 private:
  // What the model's border and caption bar add to the widget's size (its client area and
  // menu bar).
  QSize FrameExtent() {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(window_);
    if (!window) return QSize(0, 0);
    RECT area = ClientAreaLocked(*window);
    int menu = window->menu ? Metric(SM_CYMENU) : 0;
    int bottomEdge = (window->rect.bottom - window->rect.top) - area.bottom;
    return QSize(2 * area.left, area.top - menu + bottomEdge);
  }

  HWND window_;
  Frame frame_;
};

// The user's input to a window that is disabled, or whose top-level window is, is dropped,
// as the platform drops it: a top-level widget is never disabled in Qt (that would disable
// the boxes Qt parents to it), so this filter, seeing every event first, does it instead.
// It covers the window's own pop-ups (its menus) but no window of another kind, such as a
// message box the window owns.
class DisabledWindowInput : public QObject {
 public:
  static void Install() {
    static DisabledWindowInput* filter = nullptr;
    if (filter) return;
    filter = new DisabledWindowInput(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(filter);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!IsUserInput(event->type()) || !watched->isWidgetType()) return false;
    const HWND handle = ModelWindowOf(static_cast<QWidget*>(watched));
    if (!handle) return false;
    {
      std::lock_guard lock(M().mutex);
      Window* window = FindWindowLocked(handle);
      if (!window || TakesInputLocked(*window)) return false;
    }
    event->ignore();  // a close request too: the window stays
    return true;
  }

 private:
  using QObject::QObject;

  static bool IsUserInput(QEvent::Type type) {
    switch (type) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
      case QEvent::Close:
        return true;
      default:
        return false;
    }
  }

  // The window whose outer widget holds `widget` (through the pop-ups it opens), or null
  // for a widget of no window of the model.
  static HWND ModelWindowOf(QWidget* widget) {
    for (QWidget* w = widget; w; w = w->parentWidget()) {
      if (auto* outer = dynamic_cast<WindowWidget*>(w)) return outer->modelWindow();
      if (w->isWindow() && w->windowType() != Qt::Popup) return nullptr;
    }
    return nullptr;
  }
};

// Under M().mutex: greys the bar's pop-ups and items as the menu's states say. The bar was
// made from the menu: one action for each of its pop-ups and items, in their order.
void ShowMenuStatesLocked(QMenuBar* bar, const Menu& menu) {
  QList<QAction*> popups = bar->actions();
  for (size_t i = 0; i < menu.popups.size() && i < static_cast<size_t>(popups.size()); ++i) {
    const MenuPopup& popup = menu.popups[i];
    popups[i]->setEnabled(!(popup.state & (MF_GRAYED | MF_DISABLED)));
    QList<QAction*> items = popups[i]->menu()->actions();
    for (size_t j = 0; j < popup.items.size() && j < static_cast<size_t>(items.size()); ++j) {
      const MenuItem& item = popup.items[j];
      if (!item.separator) items[j]->setEnabled(!(item.state & (MF_GRAYED | MF_DISABLED)));
    }
  }
}

// The window's menu bar made from its menu, or null when the menu is gone.
QMenuBar* BuildMenuBar(HWND window, HMENU handle, QWidget* parent) {
  std::lock_guard lock(M().mutex);
  Menu* menu = M().menus.Find(handle);
  Window* owner = FindWindowLocked(window);
  if (!menu || !owner) return nullptr;
  auto* bar = new QMenuBar(parent);
  bar->setNativeMenuBar(false);
  for (const MenuPopup& popup : menu->popups) {
    QMenu* qmenu = bar->addMenu(QString::fromStdString(popup.text));
    for (const MenuItem& item : popup.items) {
      if (item.separator) {
        qmenu->addSeparator();
        continue;
      }
      QAction* action = qmenu->addAction(QString::fromStdString(item.text));
      action->setData(item.id);  // the item's command id
      // The command reaches the window through its queue.
      QObject::connect(action, &QAction::triggered, [window, id = item.id] {
        if (IsWindow(window)) PostMessageA(window, WM_COMMAND, MAKELONG(id, 0), 0);
      });
    }
  }
  ShowMenuStatesLocked(bar, *menu);
  owner->peer->menuBar = bar;
  return bar;
}

// Whether the window procedure lets the border size the window (asked once, at the middle
// of the right edge: a sizing hit code means yes).
bool AskResizable(HWND handle) {
  RECT r;
  if (!GetWindowRect(handle, &r)) return false;
  LPARAM point =
      MAKELPARAM(static_cast<WORD>(r.right - 1), static_cast<WORD>((r.top + r.bottom) / 2));
  LRESULT hit = SendMessageA(handle, WM_NCHITTEST, 0, point);
  return hit >= HTLEFT && hit <= HTBOTTOMRIGHT;
}

}  // namespace

}  // namespace qtbackend::internal

namespace window_system::display {

using namespace qtbackend::internal;

void ShowWindowState(HWND handle) {
  if (!OnWindowThread()) return;
  Window copy;
  Peer peer, parent;
  RECT area;
  bool dialog, control;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return;
    copy = *window;
    peer = *window->peer;
    area = ClientAreaLocked(*window);
    dialog = IsDialogLocked(*window);
    control = IsControlLocked(*window);
    if (Window* p = FindWindowLocked(window->parent)) parent = *p->peer;
  }
  if (control) {
    SyncControl(handle);
    return;
  }
  bool child = (copy.style & WS_CHILD) != 0;
  bool visible = (copy.style & WS_VISIBLE) != 0;
  bool minimised = (copy.style & WS_MINIMIZE) != 0;
  bool hasCaption = (copy.style & WS_CAPTION) == WS_CAPTION;
  int width = copy.rect.right - copy.rect.left, height = copy.rect.bottom - copy.rect.top;

  WindowWidget* outer = static_cast<WindowWidget*>(peer.outer.data());
  QWidget* client = peer.client;
  bool frameless = !child && !hasCaption;
  if (!outer) {
    if (child) {
      outer = new WindowWidget(handle, parent.client, Qt::Widget);
    } else {
      Qt::WindowFlags flags = (dialog ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint;
      if (frameless) {
        flags |= Qt::FramelessWindowHint;
      } else {
        flags |= Qt::WindowTitleHint;
        if (copy.style & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (copy.style & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
        if (copy.style & WS_MAXIMIZEBOX) flags |= Qt::WindowMaximizeButtonHint;
      }
      outer = new WindowWidget(handle, parent.outer ? parent.outer->window() : nullptr, flags);
    }
    DisabledWindowInput::Install();
    auto* clientArea = new ClientArea(handle, copy.background, outer);
    if (dialog) {
      clientArea->MakeDialogFace(frameless && !(copy.style & (WS_BORDER | WS_THICKFRAME)));
    }
    client = clientArea;
    std::lock_guard lock(M().mutex);
    if (Window* window = FindWindowLocked(handle)) {
      window->peer->outer = outer;
      window->peer->client = client;
    }
  }

  // The non-client part this widget draws itself.
  WindowWidget::Frame frame;
  if (child || frameless) {
    frame.edgeX = area.left;
    frame.edgeY = height - area.bottom;
    frame.thick = (copy.style & WS_THICKFRAME) != 0;
    frame.caption = hasCaption ? Metric(SM_CYCAPTION) : 0;
  }
  frame.rightAligned = (copy.exStyle & WS_EX_RIGHT) != 0;
  frame.active = !(copy.style & WS_DISABLED) && !child;
  frame.title = QString::fromStdString(copy.text);
  outer->SetFrame(frame);

  int menuHeight = copy.menu ? Metric(SM_CYMENU) : 0;
  QMenuBar* bar = copy.menu ? peer.menuBar.data() : nullptr;
  if (copy.menu && !bar) {
    bar = BuildMenuBar(handle, copy.menu, outer);
    if (bar) bar->show();
  }

  int clientWidth = area.right - area.left, clientHeight = area.bottom - area.top;
  if (child) {
    outer->setGeometry(copy.rect.left, copy.rect.top, width, height);
    client->setGeometry(area.left, area.top, clientWidth, clientHeight);
  } else {
    QSize size = frameless ? QSize(width, height) : QSize(clientWidth, clientHeight + menuHeight);
    int left = frameless ? area.left : 0;
    int top = frameless ? area.top - menuHeight : 0;
    if (bar) bar->setGeometry(left, top, clientWidth, menuHeight);
    client->setGeometry(left, top + menuHeight, clientWidth, clientHeight);
    if (outer->resizable < 0 && visible) {
      outer->resizable = (copy.style & WS_THICKFRAME) && AskResizable(handle) ? 1 : 0;
    }
    if (outer->resizable == 1) {
      outer->setMinimumSize(0, 0);
      outer->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
      if (!minimised) outer->resize(size);
    } else if (!minimised) {
      outer->setFixedSize(size);
    }
    if (!minimised) outer->move(copy.rect.left, copy.rect.top);
    outer->setWindowTitle(QString::fromStdString(copy.text));
  }
  if (child) {
    // A disabled child takes no input. A top-level window is disabled while a dialog or box
    // it owns is open, which Qt's application modality already carries out; disabling its
    // widget as well would disable the box, which Qt parents to it.
    outer->setEnabled(!(copy.style & WS_DISABLED));
    if (outer->isVisibleTo(outer->parentWidget()) != visible) outer->setVisible(visible);
  } else if (!visible) {
    if (outer->isVisible()) outer->hide();
  } else if (minimised) {
    if (!outer->isMinimized() || !outer->isVisible()) outer->showMinimized();
  } else if (outer->isMinimized()) {
    outer->showNormal();
  } else if (!outer->isVisible()) {
    outer->show();
  }
}

void DropPeer(HWND handle) {
  if (!OnWindowThread()) return;
  QPointer<QWidget> outer;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window) return;
    outer = window->peer->outer;
    *window->peer = {};
  }
  if (outer) {
    outer->hide();
    // Later, since the widget may be the one whose event is being handled.
    outer->deleteLater();
  }
}

// The menu bar's widgets belong to the window thread.
void ShowMenuState(HMENU handle) {
  RunOnWindowThread([handle] {
    std::lock_guard lock(M().mutex);
    Menu* menu = M().menus.Find(handle);
    Window* owner = menu ? FindWindowLocked(menu->owner) : nullptr;
    if (owner && owner->peer->menuBar) ShowMenuStatesLocked(owner->peer->menuBar, *menu);
  });
}

}  // namespace window_system::display

namespace qtbackend {

QWidget* WidgetOf(HWND window) {
  return internal::PeerOf(window).outer;
}

QWidget* ClientWidgetOf(HWND window) {
  return internal::PeerOf(window).client;
}

}  // namespace qtbackend
