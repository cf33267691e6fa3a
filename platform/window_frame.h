// The frame model both windowing backends share: how wide a window's frame is, where its
// client area lies, and what part of the window a point is over. Pure geometry, so the two
// backends answer GetClientRect and WM_NCHITTEST alike.
#pragma once

#include "platform/types.h"

namespace platform {

// The system metrics the frame is made of, read through a backend's GetSystemMetrics.
struct FrameMetrics {
  int cxFrame, cyFrame;    // sizing frame (WS_THICKFRAME)
  int cxBorder, cyBorder;  // thin border (WS_BORDER, WS_DLGFRAME, modal dialog frame)
  int cyCaption;           // caption bar (WS_CAPTION)
  int cyMenu;              // menu bar
};
FrameMetrics ReadFrameMetrics(int (*metric)(int index));

// What of a window decides its frame.
struct FrameShape {
  DWORD style;
  DWORD exStyle;
  bool hasMenu;
};

// Widths of the frame at the sides (x) and at the top and bottom (y).
void FrameEdges(const FrameShape& shape, const FrameMetrics& metrics, int* x, int* y);
// The client area within a window of the given outer size, from the window's top-left.
RECT FrameClientArea(const FrameShape& shape, const FrameMetrics& metrics, LONG width, LONG height);
// The hit-test code of the screen point (x, y) for a window whose outer rectangle on the
// screen is `screen`: HTNOWHERE outside it, sizing edges for WS_THICKFRAME, HTBORDER,
// HTCAPTION, HTMENU or HTCLIENT.
int FrameHitTest(const FrameShape& shape, const FrameMetrics& metrics, const RECT& screen, int x,
                 int y);

}  // namespace platform
