// Moving a picture between a device bitmap and a packed bitmap (a PackedDib: header,
// colour table and rows, bottom row first, in one movable memory block), copying palettes,
// and the size questions of a bitmap header. Every new palette, bitmap or block belongs to
// the caller. None of these shows a message.
#pragma once

#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/types.h"

// A new palette with the entries of `palette`; null for no palette, an empty one, or when
// the copy cannot be made.
HPALETTE DuplicatePalette(HPALETTE palette);

// Colour-table entries of a header: a 12-byte core header by its bit count; an information
// header by the low 16 bits of biClrUsed when biClrUsed is not 0 (so 0x10000 gives 0), else
// by its bit count (1 gives 2, 4 gives 16, 8 gives 256, any other 0).
WORD ColorCount(const void* header);
// Bytes of the colour table: ColorCount entries of 3 bytes (core header) or 4 bytes.
DWORD ColorTableBytes(const void* header);

// Bytes in one row of `width` pixels at `bitCount` bits, padded to a multiple of 4.
DWORD RowSize(LONG width, WORD bitCount);
// The pixel bytes assumed when a header leaves biSizeImage at 0: row size times the number
// of rows, and half as much again (rounded down) for a compressed format.
DWORD EstimatePixelBytes(LONG width, LONG height, WORD bitCount, DWORD compression);
// True when a packed bitmap's header, colour table and rows all lie inside `blockBytes`
// bytes, so that reading its rows stays inside the block.
bool PackedDibFits(const void* dib, SIZE_T blockBytes);

// Copies the first 40 bytes of the packed bitmap into `header` and, unless it is a core
// header, fills a biSizeImage of 0 by the row rule and a biClrUsed of 0 by ColorCount (the
// block is not changed). 1, or 0 when there is no block or it cannot be locked.
int QueryDibHeader(HGLOBAL dib, BITMAPINFOHEADER* header);

// A new packed bitmap of `bitmap` at `depth` bits (0 means 24) with `compression` (BI_RGB,
// BI_RLE8 or BI_RLE4), converted with `palette` (null: the stock default palette) realised
// on the screen's context. Null on any failure, with everything taken given back.
HGLOBAL PackedDibFromBitmap(HBITMAP bitmap, DWORD compression, WORD depth, HPALETTE palette);
// A new device bitmap drawn from the packed bitmap, with `palette` (may be null) realised
// on the screen's context meanwhile. Null when there is no block or the platform refuses.
HBITMAP BitmapFromPackedDib(HGLOBAL dib, HPALETTE palette);
