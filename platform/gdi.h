// Device bitmaps, palettes, device contexts and packed-bitmap conversion and drawing.
// A device bitmap is an in-memory picture in the screen's format (32-bit BGRX); a window's
// device context draws into that window's surface. Shared by both backends.
#pragma once

#include "platform/types.h"

#if defined(_WIN32)
// On Windows the system declares all of this itself.
#include <windows.h>
#else

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

struct PALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
};

struct LOGPALETTE {
  WORD palVersion;
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];
};

// Stock objects.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define DEFAULT_PALETTE 15

// Raster operations.
#define SRCCOPY 0x00CC0020u
#define SRCPAINT 0x00EE0086u
#define SRCAND 0x008800C6u
#define SRCINVERT 0x00660046u
#define BLACKNESS 0x00000042u
#define WHITENESS 0x00FF0062u
#define NOTSRCCOPY 0x00330008u
#define DSTINVERT 0x00550009u
#define PATCOPY 0x00F00021u

// Failure values of colour and palette calls.
#define CLR_INVALID 0xFFFFFFFFu
#define GDI_ERROR 0xFFFFFFFFu

// Background modes.
#define TRANSPARENT 1
#define OPAQUE 2

#define DIB_RGB_COLORS 0
#define DIB_PAL_COLORS 1
#define CBM_INIT 0x04L

// Objects. GetObjectA fills a BITMAP for a bitmap and a WORD entry count for a palette;
// it gives the bytes written, 0 for a bad handle.
int GetObjectA(HGDIOBJ object, int bufferSize, LPVOID buffer);
HGDIOBJ GetStockObject(int index);
// A brush of one colour, released with DeleteObject.
HBRUSH CreateSolidBrush(COLORREF color);
// Releases a bitmap, palette or brush. Stock objects are left alone (TRUE); an object
// still selected into a device context is refused (FALSE), as is a stale handle.
BOOL DeleteObject(HGDIOBJ object);

// Palettes.
HPALETTE CreatePalette(const LOGPALETTE* palette);
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
UINT RealizePalette(HDC dc);

// Device contexts. GetDC(nullptr) is the screen's context, which draws nowhere.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL SetWindowOrgEx(HDC dc, int x, int y, POINT* previous);
int SetBkMode(HDC dc, int mode);
COLORREF GetPixel(HDC dc, int x, int y);

// Bitmaps and packed bitmaps. GetDIBits with no buffer completes the header (biSizeImage,
// and the colour table for depths of 8 bits and less); with a buffer it copies the rows.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                       const BITMAPINFO* info, UINT usage);
int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info,
              UINT usage);
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop);
int SetDIBitsToDevice(HDC dc, int x, int y, DWORD width, DWORD height, int sourceX, int sourceY,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                      UINT usage);
BOOL FillRect(HDC dc, const RECT* rect, HBRUSH brush);

#endif  // _WIN32
