// The program's windows and module instance, created at start-up on the window thread and
// read by every part that shows a box, places a frame or sends a capture request.
#pragma once

#include "platform/types.h"

extern HINSTANCE moduleInstance;  // the program's instance
extern HWND MainWindow;           // the top-level window
extern HWND videoFrame;           // the live frame ("Live Image")
extern HWND baseFrame;            // the reference frame ("Reference Image")
extern HWND afterFrame;           // the upload frame ("Upload Image")
extern HWND captureWindow;        // the capture driver's window inside the live frame
