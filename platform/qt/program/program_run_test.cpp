// The real program on the desktop backend (offscreen): started through its entry on the demo
// camera, driven as a user drives it, and its dialogs and reports as the user sees them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>

#include "app/app_windows.h"
#include "app/credential_dialogs.h"
#include "app/entry.h"
#include "app/error_report.h"
#include "app/menu_commands.h"
#include "app/resources.h"
#include "app/small_dialogs.h"
#include "detect/alarm_state.h"
#include "net/server_link.h"
#include "platform/capture/demo_camera.h"
#include "platform/capture/drivers.h"
#include "platform/dialog.h"
#include "platform/qt/qt_backend.h"
#include "platform/resources.h"
#include "platform/surface.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace {

// Every test runs in a fresh directory of its own (the program may write Temp.jpeg).
class Program : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("corvantis-qt-program-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(directory_);
    platform::InstallResources(ProgramResources());
    platform::InstallCaptureDrivers({camera_});
  }
  void TearDown() override {
    qtbackend::SetModalHook(nullptr);
    qtbackend::SetIdleHook(nullptr);
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(directory_);
  }

  std::filesystem::path directory_, previous_;
  // The demo camera keeps real time here: its walks come every 20 to 40 seconds unless one
  // is asked for sooner.
  std::shared_ptr<platform::DemoCamera> camera_ = std::make_shared<platform::DemoCamera>(3);
};

template <typename T>
T* Control(HWND dialog, int id) {
  return qobject_cast<T*>(qtbackend::WidgetOf(GetDlgItem(dialog, id)));
}

QStringList LabelTexts(QWidget* dialog) {
  QStringList texts;
  for (QLabel* label : dialog->findChildren<QLabel*>()) {
    if (label->pixmap().isNull()) texts << label->text();
  }
  return texts;
}

std::set<std::pair<int, int>> PictureSizes(QWidget* dialog) {
  std::set<std::pair<int, int>> sizes;
  for (QLabel* label : dialog->findChildren<QLabel*>()) {
    if (!label->pixmap().isNull()) sizes.insert({label->width(), label->height()});
  }
  return sizes;
}

// How many different colours a window's surface holds (a picture has many, a fill one).
size_t Colours(HWND window, int* width, int* height) {
  std::vector<uint32_t> pixels;
  if (!platform::ReadWindowSurface(window, &pixels, width, height)) return 0;
  std::set<uint32_t> colours;
  for (uint32_t pixel : pixels) colours.insert(pixel & 0xFFFFFF);
  return colours.size();
}

TEST_F(Program, ATestRunShowsTheReferenceAndTheFrameThatMoved) {
  bool welcomed = false, checked = false;
  qtbackend::SetModalHook([&](QWidget* shown, HWND dialog) {
    if (!dialog) {
      ADD_FAILURE() << "unexpected box: "
                    << qobject_cast<QMessageBox*>(shown)->text().toStdString();
      static_cast<QMessageBox*>(shown)->button(QMessageBox::Ok)->click();
      return;
    }
    welcomed = true;
    Control<QPushButton>(dialog, IDOK)->click();
  });
  int step = 0;
  qtbackend::SetIdleHook([&] {
    if (step == 0) {
      ASSERT_NE(MainWindow, nullptr);
      EXPECT_TRUE(IsWindowVisible(videoFrame));
      // The figure walks in once the two seconds of warm-up are nearly over.
      camera_->StartWalkIn(1800);
      PostMessageA(MainWindow, WM_COMMAND, kTestCommand, 0);
      step = 1;
      return;
    }
    if (step != 1) return;
    step = 2;
    // The test run has returned: motion was found after the warm-up.
    EXPECT_EQ(AlarmState.testing.load(), 1);
    EXPECT_FALSE(IsIconic(MainWindow));
    EXPECT_FALSE(IsWindowVisible(videoFrame));
    EXPECT_TRUE(IsWindowVisible(baseFrame));
    EXPECT_TRUE(IsWindowVisible(afterFrame));
    RECT rect;
    GetWindowRect(MainWindow, &rect);
    EXPECT_EQ(rect.right - rect.left, 2 * 320 + 18);
    EXPECT_EQ(rect.bottom - rect.top, 240 + 76);
    int width = 0, height = 0;
    EXPECT_GT(Colours(baseFrame, &width, &height), 100u);
    // The frame is W + 2 wide with a sizing frame on each side.
    EXPECT_EQ(width, 320 + 2 - 2 * GetSystemMetrics(SM_CXFRAME));
    EXPECT_EQ(height, 240 + 27 - 2 * GetSystemMetrics(SM_CYFRAME) - GetSystemMetrics(SM_CYCAPTION));
    EXPECT_GT(Colours(afterFrame, &width, &height), 100u);
    std::vector<uint32_t> before, after;
    platform::ReadWindowSurface(baseFrame, &before, &width, &height);
    platform::ReadWindowSurface(afterFrame, &after, &width, &height);
    EXPECT_NE(before, after);
    // On screen: both panes side by side, their pictures where their surfaces are.
    QWidget* main = qtbackend::WidgetOf(MainWindow);
    QImage shot = main->grab().toImage();
    QWidget* reference = qtbackend::ClientWidgetOf(baseFrame);
    QWidget* upload = qtbackend::ClientWidgetOf(afterFrame);
    ASSERT_TRUE(reference && upload);
    EXPECT_LT(reference->mapTo(main, QPoint(0, 0)).x(), upload->mapTo(main, QPoint(0, 0)).x());
    QPoint at = upload->mapTo(main, QPoint(100, 120));
    EXPECT_EQ(shot.pixel(at) & 0xFFFFFF, after[120 * width + 100] & 0xFFFFFF);
    // After a test the two image items are greyed, in the menu bar too.
    EXPECT_EQ(GetMenuState(GetMenu(MainWindow), kImageDimensionsCommand, MF_BYCOMMAND),
              static_cast<UINT>(MF_GRAYED | MF_DISABLED));
    int greyed = 0;
    for (QAction* popup : main->findChild<QMenuBar*>()->actions()) {
      for (QAction* item : popup->menu()->actions()) {
        if (!item->isSeparator() && !item->isEnabled()) ++greyed;
      }
    }
    EXPECT_EQ(greyed, 2);
    checked = true;
    PostMessageA(MainWindow, WM_COMMAND, kExitCommand, 0);
  });
  static char commandLine[] = "";
  EXPECT_EQ(WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL), 0);
  EXPECT_TRUE(welcomed);
  EXPECT_TRUE(checked);
  EXPECT_FALSE(IsWindow(MainWindow));
}

// The user reads a message box (its text goes to `texts`) and presses OK.
void AnswerBox(QWidget* shown, std::vector<std::string>* texts) {
  auto* box = static_cast<QMessageBox*>(shown);
  texts->push_back(box->text().toStdString());
  box->button(QMessageBox::Ok)->click();
}

// An earlier alarm thread, still finishing after a disarm, that ends once released and asks
// the window thread for a box on its way out, as its error reports do.
std::mutex heldMutex;
std::condition_variable heldChanged;
bool heldReleased = false;  // guarded by heldMutex

DWORD HeldAlarmThread(LPVOID) {
  {
    std::unique_lock lock(heldMutex);
    heldChanged.wait(lock, [] { return heldReleased; });
  }
  MessageBoxA(MainWindow, "held back", "Upload", MB_OK);
  return 0;
}

// Clicks the menu bar's item `id` as the user does: the pop-up's title, then the item.
void ClickMenuItem(HWND window, UINT id) {
  QWidget* main = qtbackend::WidgetOf(window);
  auto* bar = main ? main->findChild<QMenuBar*>() : nullptr;
  ASSERT_NE(bar, nullptr);
  for (QAction* popup : bar->actions()) {
    for (QAction* item : popup->menu()->actions()) {
      if (item->isSeparator() || item->data().toUInt() != id) continue;
      QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(popup).center());
      QMenu* menu = popup->menu();
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
      return;
    }
  }
  ADD_FAILURE() << "no menu item " << id;
}

// While Arm waits for an earlier alarm thread, the window thread serves that thread only:
// a Disarm the user clicks meanwhile is dropped, as for a disabled window, instead of being
// carried out later inside the login dialog.
TEST_F(Program, InputWhileArmWaitsForTheEarlierAlarmThreadIsDropped) {
  std::vector<std::string> boxes;
  int logins = 0, disarms = 0;
  bool clicked = false;
  qtbackend::SetModalHook([&](QWidget* shown, HWND dialog) {
    if (!dialog) return AnswerBox(shown, &boxes);
    if (!GetDlgItem(dialog, kPromptText)) {
      Control<QPushButton>(dialog, IDOK)->click();  // the welcome and the camera's format
      return;
    }
    if (Control<QLabel>(dialog, kPromptText)->text().startsWith("Please enter your user name")) {
      ++disarms;
      QTest::keyClick(shown, Qt::Key_Escape);
      return;
    }
    // The login: cancelled once the loop has handled what was waiting for it.
    ++logins;
    QTimer::singleShot(0, shown, [dialog] { Control<QPushButton>(dialog, IDCANCEL)->click(); });
  });
  int step = 0;
  qtbackend::SetIdleHook([&] {
    if (step == 0) {
      step = 1;
      alarmThread = CreateThread(nullptr, 0, HeldAlarmThread, nullptr, 0, nullptr);
      ASSERT_NE(alarmThread, nullptr);
      PostMessageA(MainWindow, WM_COMMAND, kArmCommand, 0);
      // Runs while Arm waits for the thread: the user clicks Disarm, then the thread ends.
      QTimer::singleShot(0, [&] {
        EXPECT_NE(alarmThread, nullptr) << "Arm is waiting";
        ClickMenuItem(MainWindow, kDisarmCommand);
        clicked = true;
        std::lock_guard lock(heldMutex);
        heldReleased = true;
        heldChanged.notify_all();
      });
      return;
    }
    if (step != 1) return;
    step = 2;
    EXPECT_TRUE(IsWindowEnabled(MainWindow));
    HMENU menu = GetMenu(MainWindow);
    for (UINT id : {kExitCommand, kArmCommand, kTestCommand, kSettingsCommand}) {
      EXPECT_EQ(GetMenuState(menu, id, MF_BYCOMMAND), 0u) << id;
    }
    PostMessageA(MainWindow, WM_COMMAND, kExitCommand, 0);
  });
  static char commandLine[] = "";
  EXPECT_EQ(WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL), 0);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(logins, 1);
  EXPECT_EQ(disarms, 0);
  EXPECT_EQ(boxes,
            (std::vector<std::string>{"held back", "Alarm could not be turned on, try again"}));
  EXPECT_EQ(AlarmState.armed.load(), 0);
}

TEST_F(Program, TheWelcomeAndAboutBoxesShowTheirPicturesAndCloseOnlyWithOk) {
  for (int id : {kWelcomeDialog, kAboutDialog}) {
    bool checked = false;
    qtbackend::SetModalHook([&](QWidget* shown, HWND dialog) {
      checked = true;
      QStringList texts = LabelTexts(shown);
      if (id == kWelcomeDialog) {
        EXPECT_TRUE(texts.contains("Corvantis"));
        EXPECT_TRUE(
            texts.contains("You  will  need  an  active  Internet connection  before "
                           "arming the alarm. "));
        EXPECT_EQ(PictureSizes(shown), (std::set<std::pair<int, int>>{{110, 24}, {115, 87}}));
      } else {
        EXPECT_EQ(shown->windowTitle(), "About Corvantis");
        EXPECT_TRUE(texts.contains("Version 1.1"));
        EXPECT_EQ(PictureSizes(shown), (std::set<std::pair<int, int>>{{115, 87}, {136, 14}}));
      }
      EXPECT_EQ(Control<QPushButton>(dialog, IDOK)->text(), "OK");
      EXPECT_FALSE(shown->grab().isNull());
      // Escape gives IDCANCEL, which these boxes ignore.
      QTest::keyClick(shown, Qt::Key_Escape);
      EXPECT_TRUE(IsWindow(dialog));
      Control<QPushButton>(dialog, IDOK)->click();
    });
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(id), nullptr,
                              id == kWelcomeDialog ? WelcomeDialog : AboutDialog, 0),
              1);
    EXPECT_TRUE(checked);
  }
}

TEST_F(Program, TheSettingsDialogShowsBothSlidersAndCancelRestores) {
  bool checked = false;
  smoothing = 15;
  sensitivity = 30;
  qtbackend::SetModalHook([&](QWidget* shown, HWND dialog) {
    checked = true;
    EXPECT_EQ(shown->windowTitle(), "Alarm Settings");
    auto* smooth = Control<QSlider>(dialog, kSmoothingSlider);
    auto* sense = Control<QSlider>(dialog, kSensitivitySlider);
    ASSERT_TRUE(smooth && sense);
    EXPECT_EQ(smooth->minimum(), 5);
    EXPECT_EQ(smooth->maximum(), 25);
    EXPECT_EQ(smooth->value(), 15);
    EXPECT_EQ(sense->minimum(), 10);
    EXPECT_EQ(sense->maximum(), 50);
    EXPECT_EQ(sense->value(), 30);
    QStringList texts = LabelTexts(shown);
    for (const char* text : {"Smoothing", "Sensitivity", "5", "25", "10", "50"}) {
      EXPECT_TRUE(texts.contains(text)) << text;
    }
    // Moving a slider puts both values in force at once.
    smooth->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(smoothing.load(), 16);
    EXPECT_EQ(sensitivity.load(), 30);
    // The close box cancels.
    shown->close();
  });
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kSettingsDialog), nullptr, SettingsDialog, 0),
            1);
  EXPECT_TRUE(checked);
  EXPECT_EQ(smoothing.load(), 15);
}

TEST_F(Program, TheCredentialsDialogHidesThePasswordAndRefusesAShortName) {
  std::vector<std::string> boxes;
  qtbackend::SetModalHook([&](QWidget* shown, HWND dialog) {
    if (!dialog) {
      auto* box = static_cast<QMessageBox*>(shown);
      boxes.push_back(box->windowTitle().toStdString() + "|" + box->text().toStdString());
      box->button(QMessageBox::Ok)->click();
      return;
    }
    EXPECT_EQ(Control<QLineEdit>(dialog, kUserNameField)->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(Control<QLineEdit>(dialog, kPasswordField)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Control<QLabel>(dialog, kPromptText)->text(),
              "Please enter your user name and password to turn off alarm");
    EXPECT_EQ(Control<QLabel>(dialog, kStatusText)->text(),
              "Waiting for user and password information");
    for (const char* text : {"User Name:", "User Password:", "Please Enter", "Status:"}) {
      EXPECT_TRUE(LabelTexts(shown).contains(text)) << text;
    }
    EXPECT_EQ(shown->focusWidget(), Control<QLineEdit>(dialog, kUserNameField));
    QTest::keyClicks(Control<QLineEdit>(dialog, kUserNameField), "abc");
    QTest::keyClick(Control<QLineEdit>(dialog, kUserNameField), Qt::Key_Return);
    // The name was refused in a box and emptied; the status says it was being checked.
    EXPECT_EQ(Control<QLineEdit>(dialog, kUserNameField)->text(), "");
    EXPECT_EQ(Control<QLabel>(dialog, kStatusText)->text(), "Checking Password");
    QTest::keyClick(shown, Qt::Key_Escape);
  });
  EXPECT_EQ(
      DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kCredentialsDialog), nullptr, DisarmDialog, 0), 0);
  EXPECT_EQ(boxes, std::vector<std::string>{
                       "Corvantis|Name has to be more than 3 character and no more than 30"});
}

// Types `text` as key presses that carry their characters (QTest's own typing knows ASCII only).
void TypeInto(QWidget* widget, const QString& text) {
  for (QChar c : text)
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, c, Qt::NoModifier);
}

// Typed text reaches the program as UTF-8 and the length rules count its bytes: "Zoë" (three
// characters, four bytes) is a long enough name, "äääääää" (seven characters, fourteen bytes)
// too long a password; the stored credentials match the typed bytes.
TEST_F(Program, TypedTextIsUtf8AndTheRulesCountBytes) {
  std::snprintf(storedUserName, sizeof storedUserName, "%s", "Zoë\n");
  std::snprintf(storedPassword, sizeof storedPassword, "%s", "ääääää1\n");
  std::vector<std::string> boxes;
  qtbackend::SetModalHook([&](QWidget* shown, HWND dialog) {
    if (!dialog) return AnswerBox(shown, &boxes);
    auto* name = Control<QLineEdit>(dialog, kUserNameField);
    auto* password = Control<QLineEdit>(dialog, kPasswordField);
    TypeInto(name, QString::fromUtf8("Zoë"));
    TypeInto(password, QString::fromUtf8("äääääää"));
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(name->text(), QString::fromUtf8("Zoë")) << "the name passed its rule";
    EXPECT_EQ(password->text(), "") << "the password did not";
    char typed[16] = {};
    EXPECT_EQ(GetDlgItemTextA(dialog, kUserNameField, typed, sizeof typed), 4u);
    EXPECT_STREQ(typed, "Zoë");
    TypeInto(password, QString::fromUtf8("ääääää1"));
    QTest::keyClick(password, Qt::Key_Return);
  });
  EXPECT_EQ(
      DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kCredentialsDialog), nullptr, DisarmDialog, 0), 1);
  EXPECT_EQ(boxes, (std::vector<std::string>{
                       "Password has to be more than 3 character and no more than 13",
                       "Alarm is now OFF"}));
}

TEST_F(Program, AnErrorReportIsAWarningWithItsNumber) {
  bool checked = false;
  qtbackend::SetModalHook([&](QWidget* shown, HWND) {
    auto* box = qobject_cast<QMessageBox*>(shown);
    ASSERT_NE(box, nullptr);
    checked = true;
    EXPECT_EQ(box->windowTitle(), "Error number: 3.2");
    EXPECT_TRUE(box->text().startsWith("Sorry! driver not properly connected\nPlease send"));
    EXPECT_TRUE(box->text().endsWith("Thank you."));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->buttons().size(), 1);
    box->button(QMessageBox::Ok)->click();
  });
  ErrorReport("3.2", "Sorry! driver not properly connected", nullptr);
  EXPECT_TRUE(checked);
}

}  // namespace
