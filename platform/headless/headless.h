// Controls of the headless backend for tests and for runs without a display: what was shown
// (message boxes, beeps), the answers the "user" gives, and the virtual clock on which
// Sleep, Beep and GetTickCount run. All functions are safe to call from any thread.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/types.h"

namespace headless {

// One message box as it was asked for.
struct BoxRecord {
  HWND owner;
  std::string caption;
  std::string text;
  UINT flags;
  std::thread::id thread;
  uint64_t time;  // virtual milliseconds when it was shown
};

// One tone.
struct BeepRecord {
  DWORD frequency;
  DWORD duration;
  std::thread::id thread;
  uint64_t time;  // virtual milliseconds when it started
};

// Every box shown so far, oldest first.
std::vector<BoxRecord> Boxes();
// Every beep so far, oldest first.
std::vector<BeepRecord> Beeps();
// Forgets the logged boxes and beeps.
void ClearLogs();

// The answer of the next box that has no handler; boxes answer IDOK when the queue is empty.
void QueueBoxAnswer(int answer);
// Called for every box (on the thread that asked for it) instead of the answer queue; its
// result is the box's answer. An empty function removes the handler.
void SetBoxHandler(std::function<int(const BoxRecord&)> handler);

// The virtual clock, in milliseconds since the process started.
uint64_t Now();
// Moves the virtual clock forward (Sleep and Beep do this for the calling thread).
void Advance(uint64_t milliseconds);

}  // namespace headless
