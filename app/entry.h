// The program's entry: start-up, the windows' classes and creation, the message loop.
#pragma once

#include <cstdint>

#include "platform/types.h"

// 1 (set by the entry): the main window and the frames get the extended style 0x7000.
extern int32_t useExtendedStyle;

// Starts the program and runs its message loop: the quit message's code, or 0 after a failed
// start-up. The command line is not read; `show` is applied to MainWindow and the live frame.
int WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
// Registers the classes Corvantis, videoFrame, baseFrame and afterFrame (none when
// `previous` is given): 1, or 0 after reporting the first refusal.
int RegisterClasses(HINSTANCE instance, HINSTANCE previous);
// Creates MainWindow, the three frame windows and the capture window: 1, or 0 after
// reporting the first failure.
int CreateAppWindows(HINSTANCE instance);
