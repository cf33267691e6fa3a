// The three frame windows inside the main window: the live frame (class videoFrame), which
// only carries the capture window, and the two picture frames that show the reference frame
// (baseFrame) and the last grabbed frame (afterFrame) from the grabber's shared pictures.
#pragma once

#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/types.h"

// Window procedures of the videoFrame, baseFrame and afterFrame classes.
LRESULT VideoFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT BaseFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT AfterFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Paints one picture frame into `dc` with its window origin at (x, y): `bitmap` when given,
// else the packed frameDib at its full size from the top-left corner; nothing before the
// first frame was converted. The caller holds frameObjectsMutex (dib/frame_objects.h).
void PaintFrame(HWND window, HDC dc, int x, int y, HBITMAP bitmap);
// Copies the whole bitmap to (0, 0) of `dc` with the raster operation: the copy's result,
// or 0 when the context or the bitmap is missing.
BOOL BlitBitmap(HDC dc, HBITMAP bitmap, DWORD rop);
// Draws width x height pixels of the packed bitmap at (x, y) of `dc`: 1, or 0 when the
// block cannot be locked or is too short for its own header.
int BlitPackedDib(HDC dc, int x, int y, int width, int height, HGLOBAL dib);
