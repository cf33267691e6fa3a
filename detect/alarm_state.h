// The alarm's process-wide state and the two detection settings. The window thread and the
// alarm thread share them without locks: each value is one machine word, read and written
// whole (relaxed atomics).
#pragma once

#include <atomic>
#include <cstdint>

struct AlarmStateRecord {
  std::atomic<int32_t> armed{0};           // 1 while the alarm is armed (or being armed)
  std::atomic<int32_t> testing{0};         // 1 from Test until the next Arm
  std::atomic<int32_t> motionDetected{0};  // last published detector result: 0, 1 or 2
  std::atomic<int32_t> frameCounter{0};    // warm-up count, also the countdown's counter
};

// The alarm's state; all 0 at start.
extern AlarmStateRecord AlarmState;

// Per-pixel difference threshold (5 to 25, default 15).
extern std::atomic<int32_t> smoothing;
// Total difference threshold in thousands (10 to 50, default 30).
extern std::atomic<int32_t> sensitivity;
