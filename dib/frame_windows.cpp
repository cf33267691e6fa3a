// The frame windows' procedures and the painting of the two picture frames.
#include "dib/frame_windows.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "dib/bitmap_utilities.h"
#include "dib/frame_objects.h"
#include "platform/window.h"

namespace {

// Messages every frame window answers alike; other messages get default processing.
LRESULT CommonFrameMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// Paints a picture frame from the bitmap that `shown` names, read under the pictures' lock.
void PaintPictureFrame(HWND window, HBITMAP const* shown) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc) {
    std::lock_guard lock(frameObjectsMutex);
    PaintFrame(window, dc, 0, 0, *shown);
  }
  EndPaint(window, &paint);
}

// The two picture frames: sizes are answered without default processing, and a paint shows
// the bitmap that `shown` names.
LRESULT PictureFrameMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            HBITMAP const* shown) {
  switch (message) {
    case WM_SIZE:
      return 0;
    case WM_PAINT:
      PaintPictureFrame(window, shown);
      return 0;
    default:
      return CommonFrameMessage(window, message, wParam, lParam);
  }
}

}  // namespace

LRESULT VideoFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOVE:
      return 0;
    case WM_PAINT: {
      // The capture window draws the live picture itself.
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (dc) SetBkMode(dc, TRANSPARENT);
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return CommonFrameMessage(window, message, wParam, lParam);
  }
}

LRESULT BaseFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return PictureFrameMessage(window, message, wParam, lParam, &referenceBitmap);
}

LRESULT AfterFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return PictureFrameMessage(window, message, wParam, lParam, &uploadBitmap);
}

void PaintFrame(HWND, HDC dc, int x, int y, HBITMAP bitmap) {
  SetWindowOrgEx(dc, x, y, nullptr);
  SetBkMode(dc, TRANSPARENT);
  if (frameAvailable == 0) return;
  // The palette of the latest frame, also for the reference frame.
  HPALETTE previous = nullptr;
  if (framePalette) {
    previous = SelectPalette(dc, framePalette, FALSE);
    RealizePalette(dc);
  }
  if (bitmap) {
    BlitBitmap(dc, bitmap, SRCCOPY);
  } else if (frameDib) {
    BITMAPINFOHEADER header;
    if (QueryDibHeader(frameDib, &header)) {
      int height = std::abs(header.biHeight);
      BlitPackedDib(dc, 0, 0, header.biWidth, height, frameDib);
    }
  }
  if (previous) SelectPalette(dc, previous, FALSE);
}

BOOL BlitBitmap(HDC dc, HBITMAP bitmap, DWORD rop) {
  if (!dc || !bitmap) return 0;
  HDC memory = CreateCompatibleDC(dc);
  if (!memory) return 0;
  BITMAP shape;
  BOOL result = 0;
  if (GetObjectA(bitmap, sizeof shape, &shape) != 0 && SelectObject(memory, bitmap)) {
    result = BitBlt(dc, 0, 0, shape.bmWidth, shape.bmHeight, memory, 0, 0, rop);
  }
  DeleteDC(memory);
  return result;
}

int BlitPackedDib(HDC dc, int x, int y, int width, int height, HGLOBAL dib) {
  auto* bytes = static_cast<const BYTE*>(GlobalLock(dib));
  if (!bytes) return 0;
  if (!PackedDibFits(bytes, GlobalSize(dib))) {
    GlobalUnlock(dib);
    return 0;
  }
  DWORD headerBytes;
  std::memcpy(&headerBytes, bytes, sizeof headerBytes);
  SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                    static_cast<UINT>(height), bytes + headerBytes + ColorTableBytes(bytes),
                    reinterpret_cast<const BITMAPINFO*>(bytes), DIB_RGB_COLORS);
  GlobalUnlock(dib);
  return 1;
}
