// Modal dialogs of the headless backend: templates, controls, the dialog keys, scripted
// actions and what the dialog showed.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/resources.h"
#include "platform/threads.h"

namespace {

using platform::ControlClass;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

platform::DialogTemplate Form(DWORD style = WS_POPUP | WS_CAPTION | DS_MODALFRAME) {
  return {77,
          style,
          "Form",
          "MS Sans Serif",
          8,
          0,
          0,
          200,
          100,
          {
              {ControlClass::kStatic, -1, "Name:", kChild | SS_LEFT, 5, 5, 30, 8},
              {ControlClass::kEdit, 10, "", kChild | WS_BORDER | WS_TABSTOP, 40, 5, 60, 12},
              {ControlClass::kEdit, 11, "", kChild | WS_TABSTOP | ES_PASSWORD, 40, 20, 60, 12},
              {ControlClass::kTrackbar, 12, "", kChild | WS_TABSTOP | TBS_BOTH, 5, 40, 100, 12},
              {ControlClass::kComboBox, 13, "", kChild | CBS_DROPDOWNLIST, 5, 55, 100, 60},
              {ControlClass::kButton, 7, "Go", kChild | BS_DEFPUSHBUTTON, 5, 80, 50, 14},
              {ControlClass::kButton, IDCANCEL, "Cancel", kChild, 60, 80, 50, 14},
          }};
}

// What FormProc saw and read back.
struct FormResult {
  WPARAM focusControl = 0;  // id of the control WM_INITDIALOG named
  LPARAM initParam = 0;
  std::string name, password;
  int slider = -1, choice = -2;
  std::vector<std::string> commands;
  int scrolls = 0;
  bool cancelEnds = true;
};
FormResult form;

INT_PTR FormProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      form.focusControl =
          static_cast<WPARAM>(GetWindowLongA(reinterpret_cast<HWND>(wParam), GWL_ID));
      form.initParam = lParam;
      SendDlgItemMessageA(dialog, 12, TBM_SETRANGE, TRUE, MAKELPARAM(5, 25));
      SendDlgItemMessageA(dialog, 12, TBM_SETPOS, TRUE, 15);
      for (const char* item : {"160 x 120", "320 x 240", "640 x 480"}) {
        SendDlgItemMessageA(dialog, 13, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
      }
      SendDlgItemMessageA(dialog, 13, CB_SETCURSEL, 1, 0);
      return TRUE;
    case WM_HSCROLL:
      ++form.scrolls;
      return FALSE;
    case WM_COMMAND: {
      form.commands.push_back(std::to_string(LOWORD(wParam)) + "/" +
                              std::to_string(HIWORD(wParam)));
      char text[64];
      if (LOWORD(wParam) == 7) {
        GetDlgItemTextA(dialog, 10, text, sizeof text);
        form.name = text;
        GetDlgItemTextA(dialog, 11, text, sizeof text);
        form.password = text;
        form.slider = static_cast<int>(SendDlgItemMessageA(dialog, 12, TBM_GETPOS, 0, 0));
        form.choice = static_cast<int>(SendDlgItemMessageA(dialog, 13, CB_GETCURSEL, 0, 0));
        EndDialog(dialog, 5);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL && form.cancelEnds) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    }
  }
  return FALSE;
}

TEST(Dialogs, ScriptedActionsFillTheControlsAndTheDialogReportsWhatItShowed) {
  platform::DialogTemplate dialog = Form();
  headless::ScriptDialog(77, {headless::TypeText(10, "alice"), headless::TypeText(11, "sécret"),
                              headless::MoveSlider(12, 99), headless::SelectItem(13, 2),
                              headless::CaptureDialog(), headless::PressEnter()});
  INT_PTR result = DialogBoxIndirectParamA(nullptr, &dialog, nullptr, FormProc, 1234);
  EXPECT_EQ(result, 5);
  EXPECT_EQ(form.initParam, 1234);
  EXPECT_EQ(form.focusControl, 10u);  // the first control with a tab stop
  EXPECT_EQ(form.name, "alice");
  EXPECT_EQ(form.password, "sécret");  // typed text is UTF-8
  EXPECT_EQ(form.slider, 25);          // clamped to the range
  EXPECT_EQ(form.choice, 2);
  EXPECT_EQ(form.scrolls, 2);  // thumb position, then end of tracking
  EXPECT_EQ(form.commands, (std::vector<std::string>{"10/768", "11/768", "13/1", "7/0"}));
  EXPECT_EQ(headless::PendingDialogScripts(), 0u);

  auto records = headless::DialogRecords();
  ASSERT_EQ(records.size(), 1u);
  const auto& record = records[0];
  EXPECT_EQ(record.templateId, 77);
  EXPECT_EQ(record.caption, "Form");
  EXPECT_TRUE(record.ended);
  EXPECT_EQ(record.result, 5);
  EXPECT_EQ(record.unusedActions, 0u);
  EXPECT_EQ(record.initial.focus, 10);
  EXPECT_EQ(record.initial.Position(12), 15);
  EXPECT_EQ(record.initial.Text(13), "320 x 240");
  EXPECT_EQ(record.initial.Text(-1), "Name:");
  ASSERT_EQ(record.captured.size(), 1u);
  const auto* password = record.captured[0].Control(11);
  ASSERT_NE(password, nullptr);
  EXPECT_EQ(password->text, "sécret");
  EXPECT_EQ(password->shown, "******");  // one mark per character, not per byte
  EXPECT_EQ(record.captured[0].Position(12), 25);
  const auto* list = record.captured[0].Control(13);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->items.size(), 3u);
  EXPECT_EQ(list->selection, 2);
  EXPECT_EQ(record.events,
            (std::vector<std::string>{"init 1", "focus 10", "type 10 alice", "type 11 sécret",
                                      "slide 12 25", "select 13 2", "enter 7", "end 5"}));
  EXPECT_FALSE(IsWindow(record.dialog));  // destroyed once it ended
}

TEST(Dialogs, EscapeSendsCancelAndTheCloseBoxOnlyExistsWithASystemMenu) {
  form.cancelEnds = false;
  platform::DialogTemplate dialog = Form(WS_POPUP | WS_CAPTION | WS_SYSMENU);
  // A procedure that ignores Cancel stays open on Escape and on the close box.
  headless::ScriptDialog("Form", {headless::PressEscape(), headless::PressCloseBox(),
                                  headless::CaptureDialog(), headless::PressButton(7)});
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &dialog, nullptr, FormProc, 0), 5);
  EXPECT_EQ(form.commands, (std::vector<std::string>{"2/0", "2/0", "7/0"}));
  EXPECT_EQ(headless::DialogRecords()[0].captured.size(), 1u);
  form.cancelEnds = true;
  headless::ScriptDialog(77, {headless::PressEscape(), headless::PressButton(7)});
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &dialog, nullptr, FormProc, 0), 0);
  EXPECT_EQ(headless::DialogRecords()[1].unusedActions, 1u);
}

TEST(DialogsDeathTest, ScriptMistakesStopTheProcessWithAClearMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  platform::DialogTemplate dialog = Form();
  auto run = [&](std::vector<headless::DialogAction> actions) {
    headless::ScriptDialog(77, std::move(actions));
    DialogBoxIndirectParamA(nullptr, &dialog, nullptr, FormProc, 0);
  };
  EXPECT_DEATH(run({headless::PressCloseBox()}), "dialog 77: the dialog has no close box");
  EXPECT_DEATH(run({headless::PressButton(99)}), "the dialog has no control 99");
  // Enter presses nothing when the default button is disabled, as for a user.
  EXPECT_DEATH(run({headless::CallInDialog([](HWND d) { EnableWindow(GetDlgItem(d, 7), FALSE); }),
                    headless::PressEnter()}),
               "dialog 77: the button Enter presses is disabled");
  EXPECT_DEATH(DialogBoxIndirectParamA(nullptr, &dialog, nullptr, FormProc, 0),
               "the modal loop of dialog 77 has nothing to do");
}

INT_PTR QuietProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    EndDialog(dialog, 9);
    return TRUE;
  }
  return FALSE;  // WM_INITDIALOG included: no focus
}

TEST(Dialogs, TemplatesComeFromTheResourcesAndTheOwnerIsDisabledMeanwhile) {
  static platform::ResourceTable table{
      {},
      {{120,
        WS_POPUP | DS_MODALFRAME,
        "",
        "MS Sans Serif",
        8,
        0,
        0,
        186,
        147,
        {{ControlClass::kButton, IDOK, "OK", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 35, 100, 50,
          14}}}},
      {},
      {}};
  platform::InstallResources(&table);
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(121), nullptr, QuietProc, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  WNDCLASSA cls{};
  cls.lpfnWndProc = DefWindowProcA;
  cls.lpszClassName = "owner";
  RegisterClassA(&cls);
  HWND owner = CreateWindowExA(0, "owner", "Owner", WS_CAPTION, 0, 0, 300, 300, nullptr, nullptr,
                               nullptr, nullptr);
  bool disabledMeanwhile = false;
  headless::ScriptDialog(120, {headless::CallInDialog([&](HWND d) {
                                 disabledMeanwhile = !IsWindowEnabled(owner);
                                 EXPECT_EQ(GetParent(d), owner);
                                 RECT r;
                                 GetWindowRect(d, &r);
                                 // Outer size: 186 x 147 units inside a border of 1.
                                 EXPECT_EQ(r.right - r.left, 279 + 2);
                                 EXPECT_EQ(r.bottom - r.top, 238 + 2);
                               }),
                               headless::PressEnter()});
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(120), owner, QuietProc, 0), 9);
  EXPECT_TRUE(disabledMeanwhile);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(headless::DialogRecords()[0].initial.focus, 0);  // WM_INITDIALOG gave FALSE
  EXPECT_FALSE(EndDialog(owner, 1));                         // not a dialog
  DestroyWindow(owner);
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(120), owner, QuietProc, 0), -1);
}

TEST(Dialogs, BoxesFromAnotherThreadAreShownByTheDialogsThreadWhileItWaits) {
  platform::DialogTemplate dialog = Form();
  std::atomic<std::thread::id> shownOn{};
  headless::SetBoxHandler([&](const headless::BoxRecord&) {
    shownOn = std::this_thread::get_id();
    return IDOK;
  });
  std::atomic<int> answer{0};
  std::thread asker;
  headless::ScriptDialog(
      77, {headless::CallInDialog([&](HWND d) {
             asker = std::thread([&answer, d] {
               answer = MessageBoxA(d, "from the alarm thread", "Corvantis", MB_OK);
               headless::Wake();
             });
           }),
           headless::WaitUntil([&] { return answer.load() != 0; }, "the box was answered"),
           headless::PressButton(7)});
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &dialog, nullptr, FormProc, 0), 5);
  asker.join();
  EXPECT_EQ(answer.load(), IDOK);
  EXPECT_EQ(shownOn.load(), std::this_thread::get_id());
  auto boxes = headless::Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].thread, std::this_thread::get_id());  // the asking thread is logged
  // A box for a window that is gone is not shown.
  EXPECT_EQ(MessageBoxA(headless::DialogRecords()[0].dialog, "late", "x", MB_OK), 0);
  EXPECT_EQ(headless::Boxes().size(), 1u);
}

}  // namespace
