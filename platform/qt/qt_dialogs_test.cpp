// Dialogs of the Qt backend as the user sees them: controls built from a template at their
// places, the password field hiding what is typed, pictures from the program's bitmaps, and
// the keys and the close box acting as the platform's dialogs do.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <atomic>
#include <functional>
#include <thread>

#include "platform/dialog.h"
#include "platform/qt/qt_backend.h"
#include "platform/resources.h"

namespace {

using platform::ControlClass;

// A 16-colour bitmap of 10 x 4 pixels: a red left half and a blue right half.
std::vector<BYTE> SmallBitmap() {
  const int width = 10, height = 4, rowBytes = 8;
  std::vector<BYTE> file(14 + 40 + 16 * 4 + rowBytes * height, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<BYTE>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, static_cast<uint32_t>(file.size()));
  put32(10, 14 + 40 + 64);
  put32(14, 40);
  put32(18, width);
  put32(22, height);
  file[26] = 1;
  file[28] = 4;
  put32(54 + 4 * 1, 0x00FF0000);  // colour 1: red (stored blue, green, red)
  put32(54 + 4 * 2, 0x000000FF);  // colour 2: blue
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; x += 2) {
      BYTE colour = x < 5 ? 1 : 2;
      file[118 + y * rowBytes + x / 2] = static_cast<BYTE>((colour << 4) | colour);
    }
  }
  return file;
}

const platform::ResourceTable& Resources() {
  static const platform::ResourceTable table = [] {
    platform::ResourceTable t;
    t.bitmaps.push_back({118, SmallBitmap()});
    return t;
  }();
  return table;
}

platform::DialogTemplate CredentialsTemplate() {
  platform::DialogTemplate t{};
  t.id = 120;
  t.style = WS_POPUP | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT | DS_CENTER;
  t.fontName = "MS Sans Serif";
  t.pointSize = 8;
  t.cx = 186;
  t.cy = 147;
  t.controls = {
      {ControlClass::kEdit, 1000, "", WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 76, 20,
       90, 12},
      {ControlClass::kEdit, 1001, "",
       WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, 76, 45, 90, 12},
      {ControlClass::kButton, IDOK, "OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 35, 100, 50,
       14},
      {ControlClass::kButton, IDCANCEL, "Cancel", WS_VISIBLE | WS_TABSTOP, 90, 100, 50, 14},
      {ControlClass::kStatic, -1, "User Name:", WS_VISIBLE | WS_GROUP | SS_LEFT, 19, 25, 38, 8},
      {ControlClass::kStatic, 1003, "Waiting for user and password information",
       WS_VISIBLE | WS_GROUP | SS_LEFT, 34, 130, 139, 10},
      {ControlClass::kStatic, -1, "#118", WS_VISIBLE | SS_BITMAP, 5, 5, 40, 40},
      {ControlClass::kButton, -1, "", WS_VISIBLE | BS_GROUPBOX, 2, 2, 180, 90},
      {ControlClass::kTrackbar, 1005, "", WS_VISIBLE | WS_TABSTOP | TBS_BOTH | TBS_NOTICKS, 32, 80,
       120, 12},
  };
  return t;
}

// What the dialog procedure heard, and how it answers.
struct Heard {
  std::vector<int> commands;                      // buttons pressed
  std::vector<int> changes;                       // EN_CHANGE, by control
  std::vector<std::pair<WORD, LRESULT>> scrolls;  // code, slider position at that moment
  bool endOnCancel = true;
};
Heard heard;

INT_PTR CredentialsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, 1005, TBM_SETRANGE, TRUE, MAKELONG(5, 25));
      SendDlgItemMessageA(dialog, 1005, TBM_SETPOS, TRUE, 15);
      return TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if (HIWORD(wParam) == EN_CHANGE) {
        heard.changes.push_back(id);
        return TRUE;
      }
      heard.commands.push_back(id);
      if (id == IDOK || (id == IDCANCEL && heard.endOnCancel)) EndDialog(dialog, id * 10);
      return TRUE;
    }
    case WM_HSCROLL:
      heard.scrolls.emplace_back(LOWORD(wParam),
                                 SendMessageA(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0));
      return FALSE;
  }
  return FALSE;
}

template <typename T>
T* Control(HWND dialog, int id) {
  return qobject_cast<T*>(qtbackend::WidgetOf(GetDlgItem(dialog, id)));
}

// Runs the credentials dialog with `user` acting once it is shown; gives its result.
INT_PTR RunCredentials(const std::function<void(QWidget*, HWND)>& user) {
  platform::InstallResources(&Resources());
  heard = Heard{};
  qtbackend::SetModalHook(user);
  platform::DialogTemplate t = CredentialsTemplate();
  INT_PTR result = DialogBoxIndirectParamA(nullptr, &t, nullptr, CredentialsProc, 0);
  qtbackend::SetModalHook(nullptr);
  return result;
}

TEST(QtDialogs, TheTemplateBecomesControlsAtTheirPlaces) {
  bool checked = false;
  INT_PTR result = RunCredentials([&](QWidget* shown, HWND dialog) {
    checked = true;
    EXPECT_TRUE(shown->isVisible());
    EXPECT_TRUE(shown->isWindow());
    auto* name = Control<QLineEdit>(dialog, 1000);
    auto* password = Control<QLineEdit>(dialog, 1001);
    ASSERT_TRUE(name && password);
    EXPECT_EQ(name->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    // The first tab stop has the focus once WM_INITDIALOG answered TRUE.
    EXPECT_EQ(shown->focusWidget(), name);
    // Dialog units are scaled by the font's base units: the OK button is 50 x 14 units, the
    // name field starts at 76 units, twice as far as the OK button's 35 (within rounding).
    auto* ok = Control<QPushButton>(dialog, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_NEAR(name->x(), ok->x() * 76.0 / 35.0, 3.0);
    EXPECT_NEAR(ok->width() / static_cast<double>(ok->height()), (50.0 / 4) / (14.0 / 8) * 0.5,
                1.5);
    EXPECT_EQ(Control<QPushButton>(dialog, IDCANCEL)->text(), "Cancel");
    auto* status = Control<QLabel>(dialog, 1003);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(), "Waiting for user and password information");
    auto* slider = Control<QSlider>(dialog, 1005);
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->minimum(), 5);
    EXPECT_EQ(slider->maximum(), 25);
    EXPECT_EQ(slider->value(), 15);
    EXPECT_EQ(slider->tickPosition(), QSlider::NoTicks);
    // The picture "#118" is the bitmap at its own size.
    QLabel* picture = nullptr;
    for (QLabel* label : shown->findChildren<QLabel*>()) {
      if (!label->pixmap().isNull()) picture = label;
    }
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->size(), QSize(10, 4));
    QImage image = picture->pixmap().toImage();
    EXPECT_EQ(QColor(image.pixel(1, 1)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(image.pixel(8, 1)), QColor(0, 0, 255));
    EXPECT_NE(shown->findChild<QGroupBox*>(), nullptr);
    // Centred on the screen.
    RECT rect;
    ASSERT_TRUE(GetWindowRect(dialog, &rect));
    EXPECT_NEAR((rect.left + rect.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((rect.top + rect.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    QImage shot = shown->grab().toImage();
    EXPECT_EQ(shot.size(), shown->size());
    // Typing reaches the field and the program reads it back; Enter presses OK.
    QTest::keyClicks(name, "demo");
    QTest::keyClicks(password, "secret");
    EXPECT_EQ(password->displayText().size(), 6);
    EXPECT_FALSE(password->displayText().contains("secret"));
    char typed[32];
    EXPECT_EQ(GetDlgItemTextA(dialog, 1000, typed, sizeof typed), 4u);
    EXPECT_STREQ(typed, "demo");
    GetDlgItemTextA(dialog, 1001, typed, sizeof typed);
    EXPECT_STREQ(typed, "secret");
    QTest::keyClick(password, Qt::Key_Return);
  });
  EXPECT_TRUE(checked);
  EXPECT_EQ(result, 10);
  EXPECT_EQ(heard.commands, std::vector<int>{IDOK});
  // Each typed character changed its field, as the dialog heard.
  std::vector<int> changes(4, 1000);
  changes.insert(changes.end(), 6, 1001);
  EXPECT_EQ(heard.changes, changes);
}

TEST(QtDialogs, EscapeAndTheCloseBoxGiveCancel) {
  EXPECT_EQ(RunCredentials([](QWidget* shown, HWND) { QTest::keyClick(shown, Qt::Key_Escape); }),
            20);
  EXPECT_EQ(heard.commands, std::vector<int>{IDCANCEL});
  EXPECT_EQ(RunCredentials([](QWidget* shown, HWND) { shown->close(); }), 20);
  EXPECT_EQ(heard.commands, std::vector<int>{IDCANCEL});
}

TEST(QtDialogs, ADialogThatIgnoresCancelStaysOpen) {
  INT_PTR result = RunCredentials([](QWidget* shown, HWND dialog) {
    heard.endOnCancel = false;
    QTest::keyClick(shown, Qt::Key_Escape);
    qtbackend::PumpUntil([] { return !heard.commands.empty(); });
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(shown->isVisible());
    Control<QPushButton>(dialog, IDOK)->click();
  });
  EXPECT_EQ(result, 10);
  EXPECT_EQ(heard.commands, (std::vector<int>{IDCANCEL, IDOK}));
}

TEST(QtDialogs, MovingASliderTellsTheDialogTheNewPosition) {
  RunCredentials([](QWidget*, HWND dialog) {
    auto* slider = Control<QSlider>(dialog, 1005);
    slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    slider->triggerAction(QAbstractSlider::SliderToMinimum);
    // The program setting the position is not the user moving it.
    SendDlgItemMessageA(dialog, 1005, TBM_SETPOS, TRUE, 20);
    EndDialog(dialog, 5);
  });
  ASSERT_EQ(heard.scrolls.size(), 2u);
  EXPECT_EQ(heard.scrolls[0], (std::pair<WORD, LRESULT>{1 /* TB_LINEDOWN */, 16}));
  EXPECT_EQ(heard.scrolls[1], (std::pair<WORD, LRESULT>{6 /* TB_TOP */, 5}));
}

// What a dialog with a drop-down list heard of the user's choices.
struct Chosen {
  std::vector<std::pair<int, WORD>> commands;  // id, notification
  LRESULT selection = -2;
  std::string text;
};
Chosen chosen;

INT_PTR ListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    for (const char* item : {"160 x 120", "320 x 240", "640 x 480"}) {
      SendDlgItemMessageA(dialog, 1010, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendDlgItemMessageA(dialog, 1010, CB_SETCURSEL, 0, 0);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  chosen.commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
  if (HIWORD(wParam) == CBN_SELCHANGE) {
    chosen.selection = SendDlgItemMessageA(dialog, 1010, CB_GETCURSEL, 0, 0);
    char text[32];
    GetDlgItemTextA(dialog, 1010, text, sizeof text);
    chosen.text = text;
  }
  if (LOWORD(wParam) == IDOK) EndDialog(dialog, 1);
  return TRUE;
}

TEST(QtDialogs, ChoosingAnItemTellsTheDialogAndTheListShowsWhatTheProgramKeeps) {
  platform::DialogTemplate t = CredentialsTemplate();
  t.controls.push_back({ControlClass::kComboBox, 1010, "",
                        WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, 32, 110, 120, 60});
  chosen = Chosen{};
  qtbackend::SetModalHook([](QWidget*, HWND dialog) {
    auto* list = Control<QComboBox>(dialog, 1010);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(list->currentText(), "160 x 120");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentText(), "320 x 240");
    // The program empties the list: the widget follows.
    SendDlgItemMessageA(dialog, 1010, CB_RESETCONTENT, 0, 0);
    EXPECT_EQ(list->count(), 0);
    Control<QPushButton>(dialog, IDOK)->click();
  });
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &t, nullptr, ListProc, 0), 1);
  qtbackend::SetModalHook(nullptr);
  EXPECT_EQ(chosen.commands,
            (std::vector<std::pair<int, WORD>>{{1010, CBN_SELCHANGE}, {IDOK, BN_CLICKED}}));
  EXPECT_EQ(chosen.selection, 1);
  EXPECT_EQ(chosen.text, "320 x 240");
}

TEST(QtDialogs, TheOwnerTakesNoInputWhileItsDialogOrBoxIsOpen) {
  WNDCLASSA ownerClass{};
  ownerClass.lpfnWndProc = DefWindowProcA;
  ownerClass.lpszClassName = "qtOwner";
  ASSERT_NE(RegisterClassA(&ownerClass), 0);
  HWND owner = CreateWindowExA(0, "qtOwner", "Owner", WS_CAPTION | WS_VISIBLE, 0, 0, 300, 200,
                               nullptr, nullptr, nullptr, nullptr);
  platform::InstallResources(&Resources());
  int shown = 0;
  qtbackend::SetModalHook([&](QWidget* box, HWND dialog) {
    ++shown;
    EXPECT_FALSE(IsWindowEnabled(owner));
    if (dialog) {
      EndDialog(dialog, 1);
    } else {
      static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    }
  });
  platform::DialogTemplate t = CredentialsTemplate();
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &t, owner, CredentialsProc, 0), 1);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(MessageBoxA(owner, "text", "caption", MB_OK), IDOK);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(shown, 2);
  qtbackend::SetModalHook(nullptr);
  DestroyWindow(owner);
}

TEST(QtDialogs, MessageBoxesShowTheirTextIconAndOneButton) {
  struct Expected {
    UINT flags;
    QMessageBox::Icon icon;
  };
  for (Expected e :
       {Expected{MB_OK, QMessageBox::NoIcon}, Expected{MB_ICONEXCLAMATION, QMessageBox::Warning},
        Expected{MB_ICONINFORMATION, QMessageBox::Information},
        Expected{MB_ICONERROR, QMessageBox::Critical}}) {
    bool checked = false;
    qtbackend::SetModalHook([&](QWidget* shown, HWND dialog) {
      checked = true;
      EXPECT_EQ(dialog, nullptr);
      auto* box = qobject_cast<QMessageBox*>(shown);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->windowTitle(), "Please try again: ");
      EXPECT_EQ(box->text(), " Cannot connect socket\nsecond <b>line</b>");
      EXPECT_EQ(box->textFormat(), Qt::PlainText);
      EXPECT_EQ(box->icon(), e.icon);
      EXPECT_EQ(box->buttons().size(), 1);
      EXPECT_TRUE(box->isVisible());
      EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
      QTest::keyClick(box, Qt::Key_Escape);  // the only button answers any way out
    });
    EXPECT_EQ(MessageBoxA(nullptr, " Cannot connect socket\nsecond <b>line</b>",
                          "Please try again: ", e.flags),
              IDOK);
    EXPECT_TRUE(checked);
  }
  qtbackend::SetModalHook(nullptr);
}

TEST(QtDialogs, ABoxAskedForOnAnotherThreadIsShownByTheWindowThread) {
  std::thread::id shownOn;
  qtbackend::SetModalHook([&](QWidget* box, HWND) {
    shownOn = std::this_thread::get_id();
    static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
  });
  std::atomic<int> answer{0};
  std::thread alarm(
      [&] { answer = MessageBoxA(nullptr, "Alarm is now OFF", "Corvantis", MB_ICONINFORMATION); });
  // The hook runs on the thread that shows the box; once it has, the caller is released.
  qtbackend::PumpUntil([&] { return shownOn != std::thread::id(); });
  alarm.join();
  EXPECT_EQ(answer.load(), IDOK);
  EXPECT_EQ(shownOn, std::this_thread::get_id());
  qtbackend::SetModalHook(nullptr);
}

}  // namespace
