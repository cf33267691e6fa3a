// Painting in the headless backend: BeginPaint hands out a device context on the window's
// surface (drawn by the drawing services) and validates the window; nothing is shown.
#include <cstring>

#include "platform/gdi.h"
#include "platform/headless/state.h"
#include "platform/surface.h"
#include "platform/threads.h"

using namespace headless::internal;

HDC BeginPaint(HWND handle, PAINTSTRUCT* paint) {
  RECT area;
  {
    std::lock_guard lock(S().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window || !paint) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    window->needsPaint = false;
    RECT client = ClientAreaLocked(*window);
    area = {0, 0, client.right - client.left, client.bottom - client.top};
  }
  std::memset(paint, 0, sizeof(*paint));
  paint->rcPaint = area;
  paint->fErase = FALSE;
  paint->hdc = platform::CreateWindowDC(handle);
  return paint->hdc;
}

BOOL EndPaint(HWND handle, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  if (paint->hdc) ReleaseDC(handle, paint->hdc);
  return TRUE;
}

namespace platform {

bool WindowClientSize(HWND handle, int* width, int* height) {
  std::lock_guard lock(S().mutex);
  Window* window = FindWindowLocked(handle);
  if (!window) return false;
  RECT client = ClientAreaLocked(*window);
  if (window->style & WS_MINIMIZE) client = {0, 0, 0, 0};
  if (width) *width = client.right - client.left;
  if (height) *height = client.bottom - client.top;
  return true;
}

// Nothing is shown headless; tests read the surface itself.
void WindowSurfaceChanged(HWND) {}

}  // namespace platform
