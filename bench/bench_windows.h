// The program's windows for the benchmarks that run its grab loops: made once per process on
// the benchmark's thread, which becomes the window thread.
#pragma once

#include "camera/camera_test_windows.h"

inline void MakeProgramWindowsOnce() {
  static bool made = false;
  if (made) return;
  camera_test::CreateProgramWindows();
  made = true;
}
