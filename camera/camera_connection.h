// The camera connection: binds the program to the first capture driver that connects,
// fixes the picture size, reads the driver's status and starts the live preview.
#pragma once

#include "platform/capture.h"
#include "platform/memory.h"
#include "platform/types.h"

// The driver's status record; uiImageWidth x uiImageHeight is the live picture's size, from
// which every window is laid out. Zero until the status is first read.
extern CAPSTATUS captureStatus;
// The driver's capabilities; zero until the capability request succeeds.
extern CAPDRIVERCAPS driverCaps;
// The video format block, locked for the whole process once OpenCamera has made it; null
// before. It holds at least a whole BITMAPINFOHEADER.
extern BITMAPINFOHEADER* bmpptr;
extern HGLOBAL videoFormatBlock;
// The size of the video format block in bytes.
extern SIZE_T videoFormatBytes;

// Sends a capture request to `window` when it still exists; a request to a window that is
// gone counts as failed with result 0. From another thread the window's thread carries it
// out while the caller waits.
LRESULT SendCaptureRequest(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The same request to the process-wide captureWindow.
LRESULT SendCaptureRequest(UINT message, WPARAM wParam, LPARAM lParam);

// Connects `captureWindow` to the first of drivers 0 to 9 that accepts, fixes the picture
// size at 320 x 240 and starts the preview. 1 when the preview runs, 0 after a reported
// failure. A driver without a format dialog ends the process with exit status 2.
int OpenCamera(HWND captureWindow);
