#include "platform/window_frame.h"

#include "platform/window.h"

namespace platform {

FrameMetrics ReadFrameMetrics(int (*metric)(int index)) {
  return {metric(SM_CXFRAME),  metric(SM_CYFRAME),   metric(SM_CXBORDER),
          metric(SM_CYBORDER), metric(SM_CYCAPTION), metric(SM_CYMENU)};
}

void FrameEdges(const FrameShape& shape, const FrameMetrics& metrics, int* x, int* y) {
  if (shape.style & WS_THICKFRAME) {
    *x = metrics.cxFrame;
    *y = metrics.cyFrame;
  } else if ((shape.style & (WS_BORDER | WS_DLGFRAME)) || (shape.exStyle & WS_EX_DLGMODALFRAME)) {
    *x = metrics.cxBorder;
    *y = metrics.cyBorder;
  } else {
    *x = *y = 0;
  }
}

namespace {

int CaptionHeight(const FrameShape& shape, const FrameMetrics& metrics) {
  return (shape.style & WS_CAPTION) == WS_CAPTION ? metrics.cyCaption : 0;
}

}  // namespace

RECT FrameClientArea(const FrameShape& shape, const FrameMetrics& metrics, LONG width,
                     LONG height) {
  int ex, ey;
  FrameEdges(shape, metrics, &ex, &ey);
  int top = ey + CaptionHeight(shape, metrics) + (shape.hasMenu ? metrics.cyMenu : 0);
  RECT area{ex, top, width - ex, height - ey};
  if (area.right < area.left) area.right = area.left;
  if (area.bottom < area.top) area.bottom = area.top;
  return area;
}

int FrameHitTest(const FrameShape& shape, const FrameMetrics& metrics, const RECT& screen, int px,
                 int py) {
  if (px < screen.left || px >= screen.right || py < screen.top || py >= screen.bottom) {
    return HTNOWHERE;
  }
  int x = px - screen.left, y = py - screen.top;
  int w = screen.right - screen.left, h = screen.bottom - screen.top;
  int ex, ey;
  FrameEdges(shape, metrics, &ex, &ey);
  bool left = x < ex, right = x >= w - ex, top = y < ey, bottom = y >= h - ey;
  if ((shape.style & WS_THICKFRAME) && (left || right || top || bottom)) {
    if (top) return left ? HTTOPLEFT : right ? HTTOPRIGHT : HTTOP;
    if (bottom) return left ? HTBOTTOMLEFT : right ? HTBOTTOMRIGHT : HTBOTTOM;
    return left ? HTLEFT : HTRIGHT;
  }
  if (left || right || top || bottom) return HTBORDER;
  int caption = CaptionHeight(shape, metrics);
  if (y < ey + caption) return HTCAPTION;
  if (shape.hasMenu && y < ey + caption + metrics.cyMenu) return HTMENU;
  return HTCLIENT;
}

}  // namespace platform
