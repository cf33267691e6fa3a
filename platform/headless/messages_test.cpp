// Messages on the headless display: timers on the virtual clock, scripted input, sends
// between threads that own windows, and pumping.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
  std::thread::id thread;
  uint64_t time;
};
std::vector<Seen> seen;  // messages the Recorder procedure handled (its window thread only)
std::atomic<HWND> peer{nullptr};  // where Recorder forwards WM_USER + 1

LRESULT Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_USER:
    case WM_COMMAND:
    case WM_TIMER:
    case WM_CLOSE:
      seen.push_back({message, wParam, std::this_thread::get_id(), headless::Now()});
      if (message == WM_USER) return static_cast<LRESULT>(wParam) * 2;
      break;
    case WM_USER + 1:
      // Sends back to a window of the thread that is waiting for this very message.
      return SendMessageA(peer.load(), WM_USER + 2, wParam, 0) + 1;
    case WM_USER + 2:
      return static_cast<LRESULT>(wParam) * 10;
    case WM_DESTROY:
      PostQuitMessage(7);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow() {
  static bool registered = [] {
    WNDCLASSA cls{};
    cls.lpfnWndProc = Recorder;
    cls.lpszClassName = "recorder";
    return RegisterClassA(&cls) != 0;
  }();
  EXPECT_TRUE(registered);
  return CreateWindowExA(0, "recorder", "r", WS_CAPTION, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                         nullptr);
}

// Runs the message loop until WM_QUIT; gives its code.
int Loop() {
  MSG message;
  BOOL result;
  while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0) {
    EXPECT_NE(result, -1);
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

TEST(Messages, ScriptedInputRunsWhenTheQueueIsEmpty) {
  HWND window = MakeWindow();
  headless::ScriptCommand(window, 40001);
  headless::ScriptCall([window] { PostMessageA(window, WM_USER, 5, 0); });
  headless::ScriptCommand([window] { return window; }, 40002);
  headless::ScriptClose(window);
  PostMessageA(window, WM_USER, 9, 0);  // already queued: comes before the script
  EXPECT_EQ(Loop(), 7);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].wParam, 9u);
  EXPECT_EQ(seen[1].message, static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(LOWORD(seen[1].wParam), 40001);
  EXPECT_EQ(seen[2].wParam, 5u);
  EXPECT_EQ(LOWORD(seen[3].wParam), 40002);
  EXPECT_EQ(seen[4].message, static_cast<UINT>(WM_CLOSE));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(headless::PendingScriptSteps(), 0u);
}

TEST(Messages, TimersFireOnTheVirtualClock) {
  HWND window = MakeWindow();
  uint64_t start = headless::Now();
  ASSERT_NE(SetTimer(window, 9, 1000, nullptr), 0u);
  headless::ScriptAdvance(999);
  headless::ScriptCommand(window, 1);  // not yet due: the command comes first
  headless::ScriptAdvance(1);
  headless::ScriptAdvance(2500);  // two periods pass, one WM_TIMER comes (coalesced)
  headless::ScriptCall([window] { KillTimer(window, 9); });
  headless::ScriptAdvance(5000);
  headless::ScriptClose(window);
  EXPECT_EQ(Loop(), 7);
  std::vector<std::pair<UINT, uint64_t>> got;
  for (const Seen& s : seen) got.emplace_back(s.message, s.time - start);
  std::vector<std::pair<UINT, uint64_t>> expected{
      {WM_COMMAND, 999}, {WM_TIMER, 1000}, {WM_TIMER, 3500}, {WM_CLOSE, 8500}};
  EXPECT_EQ(got, expected);
  EXPECT_FALSE(KillTimer(window, 9));
}

TEST(Messages, AScriptedWaitIsWokenByTheEndOfAThread) {
  HWND window = MakeWindow();
  static std::atomic<LRESULT> answer{0};
  static HWND target;
  target = window;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        answer = SendMessageA(target, WM_USER, 4, 0);
        return 0;
      },
      nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  headless::ScriptWaitUntil([thread] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; },
                            "the sender ended");
  headless::ScriptClose(window);
  EXPECT_EQ(Loop(), 7);
  EXPECT_EQ(answer.load(), 8);
  CloseHandle(thread);
}

TEST(Messages, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  HWND mine = MakeWindow();
  std::atomic<HWND> theirs{nullptr};
  std::atomic<bool> stop{false};
  std::atomic<LRESULT> answer{0};
  std::thread other([&] {
    theirs = MakeWindow();
    peer = theirs.load();
    headless::Wake();
    // This thread waits in SendMessageA while the window thread sends back to it.
    answer = SendMessageA(mine, WM_USER + 1, 3, 0);
    headless::Wake();
    headless::PumpUntil([&] { return stop.load(); });
    DestroyWindow(theirs);
  });
  ASSERT_TRUE(headless::PumpUntil([&] { return answer.load() != 0; }));
  EXPECT_EQ(answer.load(), 31);
  stop = true;
  headless::Wake();
  other.join();
}

TEST(Messages, SendingToAWindowWhoseThreadEndedGivesZero) {
  HWND orphan = nullptr;
  std::thread creator([&] { orphan = MakeWindow(); });
  creator.join();
  EXPECT_EQ(SendMessageA(orphan, WM_USER, 1, 0), 0);
}

TEST(Messages, PumpUntilGivesUpAfterTheWaitLimit) {
  headless::SetWaitLimit(20);
  EXPECT_FALSE(headless::PumpUntil([] { return false; }));
  std::atomic<bool> flag{false};
  std::thread waker([&] {
    flag = true;
    headless::Wake();
  });
  headless::SetWaitLimit(60000);
  EXPECT_TRUE(headless::PumpUntil([&] { return flag.load(); }));
  waker.join();
}

TEST(MessagesDeathTest, ALoopWithNothingToDoStopsTheProcessInsteadOfHanging) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        MakeWindow();
        MSG message;
        GetMessageA(&message, nullptr, 0, 0);
      },
      "GetMessageA has nothing to do");
}

}  // namespace
