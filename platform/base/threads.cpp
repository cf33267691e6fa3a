// Threads on std::thread, kept in a handle table so that a stale handle fails the call.
#include "platform/threads.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/handle_table.h"
#include "platform/thread_events.h"

namespace {

thread_local DWORD lastError = 0;

// Told whenever a thread started here ends (see platform/thread_events.h).
std::atomic<void (*)()> threadEndListener{nullptr};

struct ThreadState {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
};

struct ThreadRecord {
  std::thread thread;
  std::shared_ptr<ThreadState> state;
};

// The threads started with CreateThread whose handles are not yet closed. Never destroyed:
// a handle still open when the process ends holds a joinable std::thread, whose destruction
// would terminate the process, and threads still running may use the table until the end.
platform::HandleTable<ThreadRecord>& Threads() {
  static auto* table = new platform::HandleTable<ThreadRecord>(platform::HandleKind::kThread);
  return *table;
}

DWORD ThreadIdOf(std::thread::id id) {
  return static_cast<DWORD>(std::hash<std::thread::id>{}(id));
}

}  // namespace

namespace platform {
void SetThreadEndListener(void (*listener)()) {
  threadEndListener.store(listener);
}
}  // namespace platform

DWORD GetLastError() {
  return lastError;
}
void SetLastError(DWORD code) {
  lastError = code;
}

DWORD GetCurrentThreadId() {
  return ThreadIdOf(std::this_thread::get_id());
}

HANDLE CreateThread(void*, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    DWORD* threadId) {
  if (!start || flags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto record = std::make_unique<ThreadRecord>();
  record->state = std::make_shared<ThreadState>();
  try {
    record->thread = std::thread([start, parameter, state = record->state] {
      start(parameter);
      {
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->ended.notify_all();
      }
      if (auto listener = threadEndListener.load()) listener();
    });
  } catch (const std::system_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = ThreadIdOf(record->thread.get_id());
  auto& table = Threads();
  std::lock_guard lock(table.mutex());
  return table.Add<HANDLE>(std::move(record));
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<ThreadState> state;
  {
    auto& table = Threads();
    std::lock_guard lock(table.mutex());
    ThreadRecord* record = table.Find(handle);
    if (!record) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    state = record->state;
  }
  std::unique_lock lock(state->mutex);
  if (milliseconds == INFINITE) {
    state->ended.wait(lock, [&] { return state->done; });
  } else if (!state->ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [&] { return state->done; })) {
    return WAIT_TIMEOUT;
  }
  return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE handle) {
  std::unique_ptr<ThreadRecord> record;
  {
    auto& table = Threads();
    std::lock_guard lock(table.mutex());
    record = table.Remove(handle);
  }
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  bool done;
  {
    std::lock_guard lock(record->state->mutex);
    done = record->state->done;
  }
  // A finished thread is joined; a running one goes on by itself.
  if (done) {
    record->thread.join();
  } else {
    record->thread.detach();
  }
  return TRUE;
}
