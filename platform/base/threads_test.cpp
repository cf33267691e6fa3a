#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "platform/memory.h"
#include "platform/thread_events.h"

namespace {

// A gate the test opens to let a started thread finish.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  bool entered = false;
  DWORD threadId = 0;
  DWORD lastErrorAtStart = 99;
};

DWORD WaitAtGate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  std::unique_lock lock(gate->mutex);
  gate->threadId = GetCurrentThreadId();
  gate->lastErrorAtStart = GetLastError();
  SetLastError(77);
  gate->entered = true;
  gate->changed.notify_all();
  gate->changed.wait(lock, [gate] { return gate->open; });
  return 0;
}

void Open(Gate& gate) {
  std::lock_guard lock(gate.mutex);
  gate.open = true;
  gate.changed.notify_all();
}

TEST(Threads, StartWaitAndClose) {
  Gate gate;
  SetLastError(5);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &id);
  ASSERT_NE(thread, nullptr);
  {
    std::unique_lock lock(gate.mutex);
    gate.changed.wait(lock, [&] { return gate.entered; });
  }
  EXPECT_EQ(gate.threadId, id);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(gate.lastErrorAtStart, 0u) << "a new thread starts with last error 0";
  EXPECT_EQ(GetLastError(), 5u) << "the other thread's SetLastError is its own";
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  Open(gate);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_EQ(CloseHandle(thread), TRUE);
  EXPECT_EQ(CloseHandle(thread), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_FAILED);
}

TEST(Threads, ClosingARunningThreadLetsItFinish) {
  static Gate gate;
  static std::atomic<int> ended{0};
  static std::mutex endMutex;
  static std::condition_variable endChanged;
  platform::SetThreadEndListener([] {
    std::lock_guard lock(endMutex);
    ++ended;
    endChanged.notify_all();
  });
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(CloseHandle(thread), TRUE);  // the thread goes on by itself
  Open(gate);
  std::unique_lock lock(endMutex);
  endChanged.wait(lock, [] { return ended.load() == 1; });
  platform::SetThreadEndListener(nullptr);
}

TEST(Threads, BadRequestsFail) {
  SetLastError(0);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  Gate gate;
  EXPECT_EQ(CreateThread(nullptr, 0, WaitAtGate, &gate, 4 /* CREATE_SUSPENDED */, nullptr),
            nullptr);
  HGLOBAL block = GlobalAlloc(GHND, 4);
  EXPECT_EQ(WaitForSingleObject(block, 0), WAIT_FAILED);  // not a thread
  EXPECT_EQ(CloseHandle(block), FALSE);
  EXPECT_EQ(GlobalSize(block), 4u) << "the block is untouched";
  GlobalFree(block);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(CloseHandle(nullptr), FALSE);
}

TEST(Threads, HandlesLeftOpenDoNotDisturbTheEndOfTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // The gate outlives the process's end, since the thread still waits at it.
        static Gate* blocked = new Gate;
        CreateThread(nullptr, 0, WaitAtGate, blocked, 0, nullptr);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
