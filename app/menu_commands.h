// The menu commands and the alarm's states: arming behind the login dialog, the alarm
// thread, disarming behind the credentials, the test run, the settings, the driver's
// dialogs, the about box and exit.
#pragma once

#include <atomic>

#include "platform/types.h"

// Where the alarm stands, as the pair (armed flag, testing flag) and what the window thread
// is doing. Written by MenuProc on the window thread.
enum AlarmShellState : int32_t { Idle, Testing, Tested, Arming, Armed, ArmedBlocking };
extern std::atomic<AlarmShellState> alarmShellState;

// The alarm thread last started, kept so that a new Arm waits for it to end (null when
// none runs or it has been waited for).
extern HANDLE alarmThread;

// Carries out the command in the low 16 bits of `wParam` for MainWindow; always 0. Every
// call first refreshes serverHostName.
LRESULT MenuProc(HWND window, WPARAM wParam, LPARAM lParam);
// The driver's format dialog; on a new format, the sizes and the layout follow it.
void ChooseImageDimensions();
// The driver's video-source dialog.
void ChooseImageQuality();
// Waits for the alarm thread to end, carrying out the capture requests and boxes it sends to
// this thread meanwhile; the armed flag must be 0 (or the thread never ends). MainWindow is
// disabled for the wait, so the user's input to it meanwhile is dropped.
void WaitForAlarmThread();
// At the end of the program: stops the alarm thread after the frame in hand and waits for it.
void FinishAlarmThread();
