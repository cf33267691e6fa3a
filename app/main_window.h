// The main window: its procedure, and the placement of the main window, the live frame and
// the capture window from the driver's picture size.
#pragma once

#include <cstdint>

#include "platform/types.h"

// The horizontal and vertical border widths LayoutVideo last read, in pixels.
extern int32_t borderWidthX;
extern int32_t borderWidthY;

// Centres MainWindow (W + 9) x (H + 75) above the middle of the screen, W x H being the
// driver's picture size, warns about a screen narrower than 640 pixels, then LayoutVideo.
void PlaceMainWindow();
// Puts the live frame at (0, 2) of MainWindow's client area and the capture window at
// (0, 0) of the live frame, sized to the picture.
void LayoutVideo();
// MainWindow's procedure: refuses to close while armed, keeps the sizing border from
// resizing, passes colour and palette notifications on, hands commands to MenuProc.
LRESULT MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
