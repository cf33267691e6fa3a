// corvantis-screenshots: runs the program on the demo camera, acts as its user and saves
// pictures of what it shows: the welcome dialog, the main window after a test run (the
// reference and upload frames side by side) and the login dialog with credentials typed in.
//   corvantis-screenshots OUTPUT-DIR
// Writes screenshot-welcome.png, screenshot-main.png and screenshot-login.png; exits 0 when
// all three were written.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <memory>

#include "app/app_windows.h"
#include "app/entry.h"
#include "app/resources.h"
#include "detect/alarm_state.h"
#include "platform/capture/demo_camera.h"
#include "platform/capture/drivers.h"
#include "platform/dialog.h"
#include "platform/qt/qt_backend.h"
#include "platform/resources.h"
#include "platform/window.h"

namespace {

QString outputDir;
int saved = 0;
// The demo camera alone, so that the pictures never show a real room.
const auto camera = std::make_shared<platform::DemoCamera>(7);

void Save(QWidget* widget, const char* name) {
  QString path = QDir(outputDir).filePath(name);
  if (widget->grab().save(path)) {
    ++saved;
    std::printf("wrote %s\n", path.toLocal8Bit().constData());
  } else {
    std::fprintf(stderr, "corvantis-screenshots: cannot write %s\n",
                 path.toLocal8Bit().constData());
  }
}

void Press(HWND dialog, int id) {
  if (auto* button = qobject_cast<QPushButton*>(qtbackend::WidgetOf(GetDlgItem(dialog, id)))) {
    button->click();
  }
}

// The user at the dialogs and boxes: OK on the welcome dialog, credentials typed into the
// login dialog and then Cancel, OK on every box.
void ActAsUser(QWidget* shown, HWND dialog) {
  if (!dialog) {
    static_cast<QMessageBox*>(shown)->button(QMessageBox::Ok)->click();
    return;
  }
  if (GetDlgItem(dialog, kUserNameField)) {
    QTest::keyClicks(qtbackend::WidgetOf(GetDlgItem(dialog, kUserNameField)), "demo");
    QTest::keyClicks(qtbackend::WidgetOf(GetDlgItem(dialog, kPasswordField)), "demo1234");
    Save(shown, "screenshot-login.png");
    Press(dialog, IDCANCEL);
    return;
  }
  if (!MainWindow) Save(shown, "screenshot-welcome.png");
  Press(dialog, IDOK);
}

// The user at the main window, whenever the program waits for input: Test, then (once the
// test run has shown its frames) a picture and Arm, then Exit.
void ActAtMainWindow() {
  static int step = 0;
  if (!MainWindow) return;
  switch (step) {
    case 0:
      // The figure walks in as the test run's two seconds of warm-up end.
      camera->StartWalkIn(1800);
      PostMessageA(MainWindow, WM_COMMAND, kTestCommand, 0);
      ++step;
      break;
    case 1:
      if (AlarmState.testing.load() != 1 || !IsWindowVisible(afterFrame)) return;
      Save(qtbackend::WidgetOf(MainWindow), "screenshot-main.png");
      PostMessageA(MainWindow, WM_COMMAND, kArmCommand, 0);
      ++step;
      break;
    case 2:
      PostMessageA(MainWindow, WM_COMMAND, kExitCommand, 0);
      ++step;
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvantis-screenshots OUTPUT-DIR\n");
    return 2;
  }
  outputDir = QString::fromLocal8Bit(argv[1]);
  platform::InstallResources(ProgramResources());
  platform::InstallCaptureDrivers({camera});
  qtbackend::SetModalHook(ActAsUser);
  qtbackend::SetIdleHook(ActAtMainWindow);
  static char commandLine[] = "";
  int code = WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
  std::printf("the program ended with %d\n", code);
  return saved == 3 ? 0 : 1;
}
