// How the drawing services and the windowing backends meet: every window has a surface, a
// 32-bit BGRX picture of its client area that its device contexts draw into. The backend
// knows each window's client size and shows the surface on screen; the drawing services
// own the pixels. Tests read a window's surface back.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace platform {

// Implemented by the backend: the window's client size, false for a stale handle.
bool WindowClientSize(HWND window, int* width, int* height);
// Implemented by the backend: the window's surface has new pixels (the desktop backend
// repaints it on screen; the headless backend does nothing).
void WindowSurfaceChanged(HWND window);

// Implemented by the drawing services: a device context that draws into the window's
// surface (resized to the client size first, new pixels black); released with ReleaseDC.
HDC CreateWindowDC(HWND window);
// A copy of the window's surface (0xXXRRGGBB values, top row first); false when the window
// has none yet.
bool ReadWindowSurface(HWND window, std::vector<uint32_t>* pixels, int* width, int* height);
// Forgets the window's surface; the backend calls it when the window is destroyed.
void DropWindowSurface(HWND window);

}  // namespace platform
