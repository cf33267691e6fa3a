// The behaviour both windowing backends owe the program, checked the same way on each: this
// file is compiled once against the headless backend and once against the Qt backend.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/contract/backend.h"
#include "platform/dialog.h"
#include "platform/resources.h"
#include "platform/threads.h"
#include "platform/window.h"
#include "platform/window_system/record.h"

namespace {

struct Logged {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::thread::id thread;
};

std::mutex logMutex;
std::vector<Logged> logged;

std::vector<Logged> LogOf(UINT message) {
  std::lock_guard lock(logMutex);
  std::vector<Logged> found;
  for (const Logged& entry : logged) {
    if (entry.message == message) found.push_back(entry);
  }
  return found;
}

constexpr UINT kAnswer = WM_USER + 1;  // answered with 42
constexpr UINT kDone = WM_USER + 2;

LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard lock(logMutex);
    logged.push_back({window, message, wParam, lParam, std::this_thread::get_id()});
  }
  if (message == kAnswer) return 42;
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

ATOM Register(const char* name) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = RecordingProc;
  windowClass.lpszClassName = name;
  return RegisterClassA(&windowClass);
}

constexpr DWORD kFrameStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;

// A framed window of a new class `name` whose procedure is RecordingProc (null on failure).
HWND RecordedWindow(const char* name) {
  if (!Register(name)) return nullptr;
  return CreateWindowExA(0, name, "", kFrameStyle, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                         nullptr);
}

TEST(WindowContract, OwnedPopupsAndTheRecordOfWhatWasShown) {
  ASSERT_NE(Register("contractRecord"), 0);
  window_system::ClearWindowEvents();
  HWND owner = CreateWindowExA(0, "contractRecord", "Owner", kFrameStyle, 0, 0, 300, 200, nullptr,
                               nullptr, nullptr, nullptr);
  HWND popup = CreateWindowExA(0, "contractRecord", "Popup", WS_POPUP | WS_CAPTION, 40, 30, 100, 80,
                               owner, nullptr, nullptr, nullptr);
  ASSERT_TRUE(owner && popup);
  // A pop-up's parent is its owner; it stands on the screen, not in the owner's client area.
  EXPECT_EQ(GetParent(popup), owner);
  ASSERT_TRUE(SetWindowPos(owner, nullptr, 200, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
  RECT rect;
  ASSERT_TRUE(GetWindowRect(popup, &rect));
  EXPECT_EQ(rect.left, 40);
  EXPECT_EQ(rect.top, 30);
  // An owned pop-up is visible while its owner is hidden.
  ShowWindow(popup, SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(popup));
  EXPECT_FALSE(IsWindowVisible(owner));

  ASSERT_TRUE(SetWindowTextA(popup, "Renamed"));
  CloseWindow(popup);
  ASSERT_TRUE(DestroyWindow(owner));
  EXPECT_FALSE(IsWindow(popup));
  using Kind = window_system::WindowEventKind;
  std::vector<std::pair<Kind, std::string>> popupEvents;
  for (const window_system::WindowEvent& event : window_system::WindowEvents()) {
    if (event.window == popup) popupEvents.emplace_back(event.kind, event.text);
  }
  EXPECT_EQ(popupEvents,
            (std::vector<std::pair<Kind, std::string>>{{Kind::kCreated, "Popup"},
                                                       {Kind::kShown, "Popup"},
                                                       {Kind::kTextChanged, "Renamed"},
                                                       {Kind::kMinimised, "Renamed"},
                                                       {Kind::kHidden, "Renamed"},
                                                       {Kind::kDestroyed, "Renamed"}}));
  EXPECT_TRUE(window_system::WindowsOfClass("CONTRACTRECORD").empty());
}

TEST(WindowContract, SendMessageFromAnotherThreadRunsOnTheWindowThread) {
  HWND window = RecordedWindow("contractSend");
  ASSERT_NE(window, nullptr);
  std::atomic<LRESULT> answer{0};
  std::atomic<bool> refused{false};
  std::thread sender([&] {
    answer = SendMessageA(window, kAnswer, 5, 6);
    // Only the window's own thread may destroy it.
    refused = !DestroyWindow(window) && GetLastError() == ERROR_ACCESS_DENIED;
    PostMessageA(window, kDone, 0, 0);
  });
  // The sent message is carried out while the window thread handles its messages.
  contract::PumpUntil([] { return !LogOf(kDone).empty(); });
  sender.join();
  EXPECT_EQ(answer.load(), 42);
  EXPECT_TRUE(refused.load());
  EXPECT_TRUE(IsWindow(window));
  std::vector<Logged> sent = LogOf(kAnswer);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].thread, std::this_thread::get_id());
  EXPECT_EQ(sent[0].wParam, 5u);
  EXPECT_EQ(sent[0].lParam, 6);
  DestroyWindow(window);
}

TEST(WindowContract, GetMessageGivesPostedMessagesThenQuit) {
  HWND window = RecordedWindow("contractPost");
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostMessageA(window, WM_USER + 10, 1, 2));
  PostQuitMessage(7);  // comes after every posted message
  ASSERT_TRUE(PostMessageA(window, WM_USER + 11, 3, 4));
  MSG message;
  ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.hwnd, window);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 10));
  EXPECT_EQ(message.wParam, 1u);
  EXPECT_EQ(message.lParam, 2);
  EXPECT_EQ(DispatchMessageA(&message), 0);
  ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 11));
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 7u);
  EXPECT_EQ(LogOf(WM_USER + 10).size(), 1u);
  EXPECT_EQ(GetMessageA(&message, reinterpret_cast<HWND>(0x1234), 0, 0), -1);
  DestroyWindow(window);
}

TEST(WindowContract, PeekMessageTakesWithoutWaiting) {
  HWND window = RecordedWindow("contractPeek");
  ASSERT_NE(window, nullptr);
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  ASSERT_TRUE(PostMessageA(window, WM_USER + 20, 8, 9));
  // Without PM_REMOVE the message stays for the next look.
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 20));
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 20));
  EXPECT_EQ(message.wParam, 8u);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  // A key that types a character is translated into WM_CHAR, which comes next.
  ASSERT_TRUE(PostMessageA(window, WM_KEYDOWN, 'Q', 0));
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_TRUE(TranslateMessage(&message));
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_CHAR));
  EXPECT_EQ(message.wParam, static_cast<WPARAM>('q'));
  PostQuitMessage(4);
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 4u);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(window);
}

HWND sendTarget = nullptr;
std::atomic<LRESULT> sendAnswer{0};

DWORD SendThenEnd(LPVOID) {
  sendAnswer = SendMessageA(sendTarget, kAnswer, 1, 2);
  return 0;
}

TEST(WindowContract, WaitingForAThreadCarriesOutWhatItSends) {
  sendTarget = RecordedWindow("contractWait");
  ASSERT_NE(sendTarget, nullptr);
  PostMessageA(sendTarget, WM_USER + 30, 3, 0);  // posted messages stay queued meanwhile
  HANDLE thread = CreateThread(nullptr, 0, SendThenEnd, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  // The thread cannot end before its message was carried out on this thread.
  MSG message;
  for (;;) {
    DWORD state = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (state == WAIT_OBJECT_0) break;
    ASSERT_EQ(state, WAIT_OBJECT_0 + 1);
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 30));
  }
  EXPECT_EQ(sendAnswer.load(), 42);
  std::vector<Logged> sent = LogOf(kAnswer);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].thread, std::this_thread::get_id());
  EXPECT_TRUE(LogOf(WM_USER + 30).empty());
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 30));
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &thread, FALSE, 0, QS_SENDMESSAGE), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &thread, FALSE, 0, QS_SENDMESSAGE), WAIT_FAILED);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_SENDMESSAGE),
            static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &thread, TRUE, 0, QS_SENDMESSAGE), WAIT_FAILED);
  DestroyWindow(sendTarget);
}

TEST(WindowContract, TimersComeWhenDueOnTheThreadThatSetThem) {
  HWND window = RecordedWindow("contractTimer");
  ASSERT_NE(window, nullptr);
  // A window's timers belong to its own thread.
  std::thread([&] {
    EXPECT_EQ(SetTimer(window, 1, 10, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }).join();
  ASSERT_EQ(SetTimer(window, 5, 10, nullptr), 1u);
  contract::LetTimePass(10);
  contract::PumpUntil([] { return !LogOf(WM_TIMER).empty(); });
  std::vector<Logged> fired = LogOf(WM_TIMER);
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0].window, window);
  EXPECT_EQ(fired[0].wParam, 5u);
  EXPECT_EQ(fired[0].thread, std::this_thread::get_id());
  // A thread without windows has timers of its own, under ids the system picks, and its
  // message loop waits for them.
  std::thread([] {
    UINT_PTR id = SetTimer(nullptr, 0, 10, nullptr);
    ASSERT_NE(id, 0u);
    contract::LetTimePass(10);
    MSG message;
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(message.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(message.hwnd, nullptr);
    EXPECT_EQ(message.wParam, id);
    EXPECT_TRUE(KillTimer(nullptr, id));
    EXPECT_FALSE(KillTimer(nullptr, id));
  }).join();
  // Any thread may stop a window's timer.
  std::thread([&] { EXPECT_TRUE(KillTimer(window, 5)); }).join();
  EXPECT_FALSE(KillTimer(window, 5));
  DestroyWindow(window);
}

// A plain dialog of the given controls (units of the template's own font).
platform::DialogTemplate PlainDialog(DWORD style, std::vector<platform::ControlTemplate> controls) {
  platform::DialogTemplate t{};
  t.id = 901;
  t.style = style;
  t.fontName = "MS Sans Serif";
  t.pointSize = 8;
  t.x = 10;
  t.y = 20;
  t.cx = 120;
  t.cy = 80;
  t.controls = std::move(controls);
  return t;
}

constexpr DWORD kVisibleChild = WS_CHILD | WS_VISIBLE;

// A dialog with every kind of control the program uses.
platform::DialogTemplate ControlsDialog() {
  using platform::ControlClass;
  platform::DialogTemplate t = PlainDialog(
      WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | DS_CENTER,
      {{ControlClass::kEdit, 1000, "", WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 76, 20,
        90, 12},
       {ControlClass::kEdit, 1001, "", WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_PASSWORD, 76, 45,
        90, 12},
       {ControlClass::kTrackbar, 1005, "", WS_VISIBLE | WS_TABSTOP | TBS_BOTH | TBS_NOTICKS, 32, 60,
        120, 12},
       {ControlClass::kComboBox, 1010, "", WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, 32, 76, 120,
        60},
       {ControlClass::kStatic, 1003, "Waiting", WS_VISIBLE | SS_LEFT, 10, 5, 100, 8},
       {ControlClass::kButton, IDOK, "OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 35, 100, 50,
        14},
       {ControlClass::kButton, IDCANCEL, "Cancel", WS_VISIBLE | WS_TABSTOP, 90, 100, 50, 14}});
  t.id = 900;
  t.caption = "Controls";
  t.cx = 186;
  t.cy = 120;
  return t;
}

bool controlsDestroyed = false;  // ControlsProc received WM_DESTROY

// Checks the controls' messages while the dialog starts, then ends it with 77.
INT_PTR ControlsProc(HWND d, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_DESTROY) controlsDestroyed = true;
  if (message != WM_INITDIALOG) return FALSE;
  EXPECT_EQ(lParam, 1234);
  char text[16] = "x";
  EXPECT_EQ(GetDlgItemTextA(d, 1003, text, sizeof text), 7u);  // the template's text
  EXPECT_STREQ(text, "Waiting");
  SetDlgItemTextA(d, 1000, "abcdefghij");
  char cut[8];
  EXPECT_EQ(GetDlgItemTextA(d, 1000, cut, sizeof cut), 7u);  // cut, terminated
  EXPECT_STREQ(cut, "abcdefg");

  HWND slider = GetDlgItem(d, 1005);
  SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(5, 25));
  SendMessageA(slider, TBM_SETPOS, TRUE, 15);
  SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(10, 50));
  EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0), 10);
  EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 50);
  EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 15);
  SendMessageA(slider, TBM_SETPOS, TRUE, 99);
  EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 50);
  SendMessageA(slider, TBM_SETPOS, TRUE, 3);
  EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 10);
  SendMessageA(slider, TBM_SETPOS, TRUE, 40);
  SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 30));
  EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 30);  // clamped to the new range
  SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(20, 10));
  EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 20);  // never below the minimum
  EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 20);

  LRESULT index = 0;
  for (const char* item : {"160 x 120", "320 x 240", "640 x 480"}) {
    EXPECT_EQ(SendDlgItemMessageA(d, 1010, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item)),
              index++);
  }
  EXPECT_EQ(SendDlgItemMessageA(d, 1010, CB_ADDSTRING, 0, 0), CB_ERR);
  EXPECT_EQ(SendDlgItemMessageA(d, 1010, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(SendDlgItemMessageA(d, 1010, CB_SETCURSEL, 2, 0), 2);
  EXPECT_EQ(SendDlgItemMessageA(d, 1010, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(GetDlgItemTextA(d, 1010, text, sizeof text), 9u);  // the chosen item's text
  EXPECT_STREQ(text, "640 x 480");
  EXPECT_EQ(SendDlgItemMessageA(d, 1010, CB_SETCURSEL, 3, 0), CB_ERR);
  EXPECT_EQ(SendDlgItemMessageA(d, 1010, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(GetDlgItemTextA(d, 1010, text, sizeof text), 0u);
  SendDlgItemMessageA(d, 1010, CB_SETCURSEL, 1, 0);
  SendDlgItemMessageA(d, 1010, CB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendDlgItemMessageA(d, 1010, CB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendDlgItemMessageA(d, 1010, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(GetDlgItemTextA(d, 1010, text, sizeof text), 0u);

  EXPECT_EQ(GetDlgItem(d, 99), nullptr);
  EXPECT_EQ(GetDlgItemTextA(d, 99, text, sizeof text), 0u);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(SendDlgItemMessageA(d, 99, TBM_GETPOS, 0, 0), 0);
  EndDialog(d, 77);
  return TRUE;
}

TEST(WindowContract, DialogControlsAnswerTheirMessages) {
  platform::DialogTemplate t = ControlsDialog();
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &t, nullptr, ControlsProc, 1234), 77);
  EXPECT_TRUE(controlsDestroyed);
  // A template that is not there.
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(4711), nullptr, ControlsProc, 0), -1);
  EXPECT_FALSE(EndDialog(reinterpret_cast<HWND>(0x1234), 1));
}

// Dialog units as the platform's templates hold them: 16-bit values. Wider ones (which once
// overflowed the conversion to pixels) are placed like the nearest 16-bit value.
RECT wideControl{}, limitControl{}, lowControl{}, negativeLimitControl{};

INT_PTR PlaceProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  GetWindowRect(GetDlgItem(dialog, 1), &wideControl);
  GetWindowRect(GetDlgItem(dialog, 2), &limitControl);
  GetWindowRect(GetDlgItem(dialog, 3), &lowControl);
  GetWindowRect(GetDlgItem(dialog, 4), &negativeLimitControl);
  EndDialog(dialog, 5);
  return TRUE;
}

TEST(WindowContract, TemplateUnitsAreSixteenBitValues) {
  using platform::ControlClass;
  const DWORD style = WS_VISIBLE | SS_LEFT;
  platform::DialogTemplate t = PlainDialog(
      WS_POPUP | DS_MODALFRAME | DS_SETFONT,
      {{ControlClass::kStatic, 1, "", style, 2054107785, 2054107785, 2147483647, 2147483647},
       {ControlClass::kStatic, 2, "", style, 32767, 32767, 32767, 32767},
       {ControlClass::kStatic, 3, "", style, -2147483647 - 1, -2000000000, 5, 5},
       {ControlClass::kStatic, 4, "", style, -32768, -32768, 5, 5}});
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &t, nullptr, PlaceProc, 0), 5);
  EXPECT_EQ(wideControl.left, limitControl.left);
  EXPECT_EQ(wideControl.top, limitControl.top);
  EXPECT_EQ(wideControl.right, limitControl.right);
  EXPECT_EQ(wideControl.bottom, limitControl.bottom);
  EXPECT_GT(limitControl.right, limitControl.left);
  EXPECT_EQ(lowControl.left, negativeLimitControl.left);
  EXPECT_EQ(lowControl.top, negativeLimitControl.top);
}

// lParam: the dialog that owns this one.
INT_PTR InnerProc(HWND d, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  // A dialog owned by a dialog: its owner is the dialog, not the top-level window beyond.
  HWND outer = reinterpret_cast<HWND>(lParam);
  EXPECT_EQ(GetParent(d), outer);
  EXPECT_FALSE(IsWindowEnabled(outer));
  EndDialog(d, 2);
  return TRUE;
}

// lParam: the child window given as the dialog's owner, at (40, 50) in a border of 1.
INT_PTR OuterProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  HWND child = reinterpret_cast<HWND>(lParam);
  EXPECT_EQ(GetParent(d), GetParent(child));
  EXPECT_FALSE(IsWindowEnabled(GetParent(child)));
  EXPECT_TRUE(IsWindowEnabled(child));
  EXPECT_EQ(GetWindowLongA(reinterpret_cast<HWND>(wParam), GWL_ID), 2);
  // The template's place counts from the owner's client area.
  RECT dialog, control;
  GetWindowRect(d, &dialog);
  GetWindowRect(GetDlgItem(d, 2), &control);
  EXPECT_EQ(dialog.left - (40 + 1), control.left - dialog.left);
  EXPECT_EQ(dialog.top - (50 + 1), control.top - dialog.top);
  EXPECT_GT(control.left, dialog.left);
  platform::DialogTemplate inner = PlainDialog(WS_POPUP | DS_CENTER, {});
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &inner, d, InnerProc, reinterpret_cast<LPARAM>(d)), 2);
  EXPECT_TRUE(IsWindowEnabled(d));
  EndDialog(d, 3);
  return TRUE;
}

TEST(WindowContract, ADialogBelongsToTheTopLevelWindowOfItsOwnerAndFocusesAnEnabledTabStop) {
  ASSERT_TRUE(Register("contract dialog owner"));
  HWND top = CreateWindowExA(0, "contract dialog owner", "Owner", WS_POPUP | WS_BORDER, 40, 50, 300,
                             200, nullptr, nullptr, nullptr, nullptr);
  HWND child = CreateWindowExA(0, "contract dialog owner", "", WS_CHILD, 5, 5, 50, 50, top, nullptr,
                               nullptr, nullptr);
  ASSERT_TRUE(top && child);
  using platform::ControlClass;
  // The first tab stop is disabled: the focus goes to the next one. The frameless dialog's
  // control at the dialog's own units shows how far those units reach.
  platform::DialogTemplate t = PlainDialog(
      WS_POPUP,
      {{ControlClass::kEdit, 1, "", kVisibleChild | WS_TABSTOP | WS_DISABLED, 0, 0, 20, 12},
       {ControlClass::kEdit, 2, "", kVisibleChild | WS_TABSTOP, 10, 20, 20, 12}});
  // OuterProc ends the dialog with 3 once it checked everything.
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &t, child, OuterProc, reinterpret_cast<LPARAM>(child)),
            3);
  EXPECT_TRUE(IsWindowEnabled(top));
  DestroyWindow(top);
}

INT_PTR QuittingProc(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) PostQuitMessage(7);
  return message == WM_INITDIALOG;
}

TEST(WindowContract, AQuitMessageEndsADialogAndStaysForTheOuterLoop) {
  platform::DialogTemplate t = PlainDialog(WS_POPUP | WS_CAPTION | DS_MODALFRAME, {});
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &t, nullptr, QuittingProc, 0), 0);
  MSG message{};
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 7u);
}

constexpr UINT kDestroyYourself = WM_USER + 5;

INT_PTR DestroyingProc(HWND d, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) PostMessageA(d, kDestroyYourself, 0, 0);
  if (message == kDestroyYourself) DestroyWindow(d);
  return message == WM_INITDIALOG || message == kDestroyYourself;
}

TEST(WindowContract, ADialogItsProcedureDestroysEndsWithoutAResult) {
  platform::DialogTemplate t = PlainDialog(WS_POPUP | WS_CAPTION | DS_MODALFRAME, {});
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, &t, nullptr, DestroyingProc, 0), 0);
}

}  // namespace
