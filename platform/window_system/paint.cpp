// Painting: BeginPaint hands out a device context on the window's surface (drawn by the
// drawing services), erasing it first with the class's background when the window asked for
// it; the window's peer shows the surface whenever it has new pixels.
#include <cstring>

#include "platform/gdi.h"
#include "platform/surface.h"
#include "platform/threads.h"
#include "platform/window_system/model.h"

using namespace window_system;

HDC BeginPaint(HWND handle, PAINTSTRUCT* paint) {
  RECT area;
  bool erase;
  {
    std::lock_guard lock(M().mutex);
    Window* window = FindWindowLocked(handle);
    if (!window || !paint) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    window->needsPaint = false;
    erase = window->needsErase;
    window->needsErase = false;
    area = ClientRectLocked(*window);
  }
  std::memset(paint, 0, sizeof(*paint));
  paint->rcPaint = area;
  paint->hdc = platform::CreateWindowDC(handle);
  if (erase && paint->hdc) {
    paint->fErase =
        SendMessageA(handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0) ? FALSE : TRUE;
  }
  return paint->hdc;
}

BOOL EndPaint(HWND handle, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  if (paint->hdc) ReleaseDC(handle, paint->hdc);
  platform::WindowSurfaceChanged(handle);
  return TRUE;
}

namespace platform {

bool WindowClientSize(HWND handle, int* width, int* height) {
  std::lock_guard lock(M().mutex);
  Window* window = FindWindowLocked(handle);
  if (!window) return false;
  RECT client = (window->style & WS_MINIMIZE) ? RECT{} : ClientRectLocked(*window);
  if (width) *width = client.right;
  if (height) *height = client.bottom;
  return true;
}

void WindowSurfaceChanged(HWND handle) {
  display::ShowSurface(handle);
}

}  // namespace platform
