// Moving pictures between packed bitmaps and device bitmaps or contexts: CreateDIBitmap,
// GetDIBits and SetDIBitsToDevice.
//
// Scan lines are numbered in the packed bitmap's own row order: from the bottom row for a
// bottom-up bitmap (positive height) and from the top row for a top-down one. A packed
// bitmap and a device bitmap of different sizes meet at the bottom-left corner for
// bottom-up bitmaps and at the top-left corner for top-down ones.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/gdi.h"
#include "platform/gdi/dib_format.h"
#include "platform/gdi/gdi_objects.h"
#include "platform/threads.h"

using gdi::DibFormat;
using gdi::Objects;
using gdi::Picture;

namespace {

// The picture row that a packed bitmap's scan line meets, or -1 when it meets none.
int64_t PictureRow(const DibFormat& format, int64_t scan, int pictureHeight) {
  int64_t row = format.topDown ? scan : int64_t{pictureHeight} - 1 - scan;
  return row >= 0 && row < pictureHeight ? row : -1;
}

// The palette entries of a context, for DIB_PAL_COLORS; false for a bad context.
bool ContextPalette(HDC dc, std::vector<PALETTEENTRY>* entries) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  gdi::DeviceContext* context = state.contexts.Find(dc);
  if (!context) return false;
  if (gdi::Palette* palette = state.palettes.Find(context->palette)) *entries = palette->entries;
  return true;
}

// The colours that the indices of `format` stand for under `usage` in context `dc`.
bool ResolveColors(const DibFormat& format, UINT usage, HDC dc, std::vector<uint32_t>* colors) {
  if (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::vector<PALETTEENTRY> palette;
  if (usage == DIB_PAL_COLORS && format.bits <= 8 && !ContextPalette(dc, &palette)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  *colors = gdi::IndexColors(format, usage, &palette);
  return true;
}

// Writes the colour table (or the masks) that GetDIBits gives for `format`, and sets the
// masks that the rows are written with.
void WriteDeviceTable(DibFormat* format, std::vector<uint32_t>* table) {
  if (format->bits <= 8) {
    std::vector<uint32_t> colors = gdi::DeviceColorTable(format->bits);
    colors.resize(format->tableEntries);
    for (int i = 0; i < format->tableEntries; ++i) {
      BYTE* e = format->table + static_cast<size_t>(i) * format->entryBytes;
      e[0] = static_cast<BYTE>(colors[i]);
      e[1] = static_cast<BYTE>(colors[i] >> 8);
      e[2] = static_cast<BYTE>(colors[i] >> 16);
      if (format->entryBytes == 4) e[3] = 0;
    }
    *table = std::move(colors);
  } else if (format->compression == BI_BITFIELDS) {
    // 16-bit rows are given as 5-6-5, 32-bit rows as 8-8-8.
    if (format->bits == 16) {
      format->masks[0] = 0xf800, format->masks[1] = 0x07e0, format->masks[2] = 0x001f;
    } else {
      format->masks[0] = 0xff0000, format->masks[1] = 0x00ff00, format->masks[2] = 0x0000ff;
    }
    std::memcpy(format->table, format->masks, sizeof format->masks);
  }
}

}  // namespace

HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                       const BITMAPINFO* info, UINT usage) {
  DibFormat shape;
  if (!header || !gdi::ParseDib(reinterpret_cast<const BITMAPINFO*>(header), &shape)) {
    if (!header) SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!gdi::NullOrLiveContext(dc)) return nullptr;
  DibFormat format;
  std::vector<uint32_t> colors;
  const bool drawn = (init & CBM_INIT) != 0;
  if (drawn &&
      (!bits || !gdi::ParseDib(info, &format) || !ResolveColors(format, usage, dc, &colors))) {
    if (!bits) SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto bitmap = std::make_unique<gdi::Bitmap>();
  Picture& picture = bitmap->picture;
  // Rows that cover the whole picture leave nothing to clear first.
  const bool covered = drawn && format.width >= shape.width && format.height >= shape.height;
  if (!gdi::AllocatePicture(&picture, shape.width, shape.height, !covered)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (drawn) {
    const BYTE* rows = static_cast<const BYTE*>(bits);
    int count = std::min(format.width, picture.width);
    for (int scan = 0; scan < format.height; ++scan) {
      int64_t row = PictureRow(format, scan, picture.height);
      if (row < 0) continue;
      gdi::ReadRow(format, rows + static_cast<size_t>(scan) * format.rowBytes, 0, count, colors,
                   picture.Row(static_cast<int>(row)));
    }
  }
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  return state.bitmaps.Add<HBITMAP>(std::move(bitmap));
}

int GetDIBits(HDC dc, HBITMAP handle, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info,
              UINT usage) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  gdi::Bitmap* bitmap = state.bitmaps.Find(handle);
  if (!state.contexts.Find(dc) || !bitmap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  // Colour tables of palette indices are not given out: the screen has no palette.
  if (!info || usage != DIB_RGB_COLORS) {
    SetLastError(info ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
    return 0;
  }
  const Picture& picture = bitmap->picture;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (!bits && h.biSize >= sizeof(BITMAPINFOHEADER) && h.biBitCount == 0) {
    // No depth asked for: describe the bitmap in its own format.
    h.biWidth = picture.width;
    h.biHeight = picture.height;
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(gdi::DibRowBytes(picture.width, 32) * picture.height);
    h.biClrUsed = 0;
    return picture.height;
  }
  DibFormat format;
  if (!gdi::ParseDib(info, &format)) return 0;
  std::vector<uint32_t> table;
  WriteDeviceTable(&format, &table);
  if (!format.core) {
    h.biSizeImage = static_cast<DWORD>(format.rowBytes * format.height);
  }
  if (!bits) return format.height;

  BYTE* rows = static_cast<BYTE*>(bits);
  gdi::ColorMatcher matcher(table);
  std::vector<uint32_t> padded;
  if (format.width > picture.width) padded.assign(format.width, 0);
  size_t packedBytes = (static_cast<size_t>(format.width) * format.bits + 7) / 8;
  int copied = 0;
  int64_t end = std::min<int64_t>(int64_t{start} + lines, format.height);
  for (int64_t scan = start; scan < end; ++scan) {
    int64_t row = PictureRow(format, scan, picture.height);
    BYTE* out = rows + static_cast<size_t>(scan - start) * format.rowBytes;
    const uint32_t* in = row >= 0 ? picture.Row(static_cast<int>(row)) : nullptr;
    if (!in) {
      std::memset(out, 0, format.rowBytes);
      continue;
    }
    if (!padded.empty()) {
      std::copy_n(in, picture.width, padded.begin());
      in = padded.data();
    }
    gdi::WriteRow(format, in, format.width, out, &matcher);
    std::memset(out + packedBytes, 0, format.rowBytes - packedBytes);
    ++copied;
  }
  if (copied == 0) SetLastError(ERROR_INVALID_PARAMETER);
  return copied;
}

int SetDIBitsToDevice(HDC dc, int x, int y, DWORD width, DWORD height, int sourceX, int sourceY,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                      UINT usage) {
  DibFormat format;
  std::vector<uint32_t> colors;
  if (!bits || !gdi::ParseDib(info, &format) || !ResolveColors(format, usage, dc, &colors)) {
    if (!bits) SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int64_t firstScan = startScan;
  int64_t endScan = std::min<int64_t>(firstScan + lines, format.height);
  if (endScan <= firstScan) return 0;
  int set = static_cast<int>(endScan - firstScan);

  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  gdi::DeviceContext* context = state.contexts.Find(dc);
  if (!context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (context->target == gdi::Target::kScreen) return set;  // the screen draws nowhere
  Picture* target = gdi::TargetPicture(state, *context, true);
  if (!target) return context->target == gdi::Target::kMemory ? set : 0;

  // Columns of the source rectangle that lie in the packed bitmap and on the target.
  int64_t destX = int64_t{x} - context->origin.x;
  int64_t destY = int64_t{y} - context->origin.y;
  int64_t firstColumn = std::max<int64_t>({0, sourceX, int64_t{sourceX} - destX});
  int64_t endColumn = std::min<int64_t>(
      {int64_t{sourceX} + width, format.width, int64_t{sourceX} + target->width - destX});
  if (endColumn <= firstColumn) return set;
  int count = static_cast<int>(endColumn - firstColumn);
  int64_t column = destX + (firstColumn - sourceX);

  const BYTE* rows = static_cast<const BYTE*>(bits);
  for (int64_t scan = firstScan; scan < endScan; ++scan) {
    // The scan line's place inside the source rectangle, counted from its top.
    int64_t fromTop = format.topDown ? scan - sourceY : int64_t{sourceY} + height - 1 - scan;
    if (fromTop < 0 || fromTop >= static_cast<int64_t>(height)) continue;
    int64_t row = destY + fromTop;
    if (row < 0 || row >= target->height) continue;
    gdi::ReadRow(format, rows + static_cast<size_t>(scan - firstScan) * format.rowBytes,
                 static_cast<int>(firstColumn), count, colors,
                 target->Row(static_cast<int>(row)) + column);
  }
  return set;
}
