// Bitmap utilities: thin layers over the platform's bitmap and palette services.
#include "dib/bitmap_utilities.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kCoreHeaderBytes = sizeof(BITMAPCOREHEADER);
constexpr DWORD kInfoHeaderBytes = sizeof(BITMAPINFOHEADER);
// The red, green and blue masks of rows stored with BI_BITFIELDS.
constexpr DWORD kMaskBytes = 3 * sizeof(DWORD);

DWORD HeaderSize(const void* header) {
  DWORD size;
  std::memcpy(&size, header, sizeof size);
  return size;
}

// Entries of a full colour table at a bit count.
WORD EntriesForBitCount(WORD bitCount) {
  switch (bitCount) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

// Gives back the screen's context with its previous palette selected again.
void ReleaseScreen(HDC screen, HPALETTE previous) {
  if (previous) SelectPalette(screen, previous, FALSE);
  ReleaseDC(nullptr, screen);
}

}  // namespace

HPALETTE DuplicatePalette(HPALETTE palette) {
  if (!palette) return nullptr;
  DWORD answer = 0;
  if (GetObjectA(palette, sizeof answer, &answer) == 0) return nullptr;
  WORD count = static_cast<WORD>(answer & 0xffff);
  if (count == 0) return nullptr;
  auto* logical = static_cast<LOGPALETTE*>(LocalAlloc(LPTR, 8 + 4 * static_cast<SIZE_T>(count)));
  if (!logical) return nullptr;
  logical->palVersion = 0x300;
  logical->palNumEntries = count;
  GetPaletteEntries(palette, 0, count, logical->palPalEntry);
  HPALETTE copy = CreatePalette(logical);
  LocalFree(logical);
  return copy;
}

WORD ColorCount(const void* header) {
  if (HeaderSize(header) == kCoreHeaderBytes) {
    BITMAPCOREHEADER core;
    std::memcpy(&core, header, sizeof core);
    return EntriesForBitCount(core.bcBitCount);
  }
  BITMAPINFOHEADER info;
  std::memcpy(&info, header, sizeof info);
  // A non-zero count gives its low 16 bits, even when those are 0.
  if (info.biClrUsed != 0) return static_cast<WORD>(info.biClrUsed & 0xffff);
  return EntriesForBitCount(info.biBitCount);
}

DWORD ColorTableBytes(const void* header) {
  DWORD entryBytes = HeaderSize(header) == kCoreHeaderBytes ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD);
  return ColorCount(header) * entryBytes;
}

DWORD RowSize(LONG width, WORD bitCount) {
  uint64_t bits = uint64_t{bitCount} * static_cast<uint64_t>(std::llabs(width));
  return static_cast<DWORD>((bits + 31) / 32 * 4);
}

DWORD EstimatePixelBytes(LONG width, LONG height, WORD bitCount, DWORD compression) {
  uint64_t bytes = uint64_t{RowSize(width, bitCount)} * static_cast<uint64_t>(std::llabs(height));
  if (compression != BI_RGB) bytes = bytes * 3 / 2;
  return static_cast<DWORD>(bytes);
}

bool PackedDibFits(const void* dib, SIZE_T blockBytes) {
  if (!dib || blockBytes < sizeof(DWORD)) return false;
  uint64_t headerBytes = HeaderSize(dib);
  if (headerBytes != kCoreHeaderBytes &&
      (headerBytes < sizeof(BITMAPINFOHEADER) || headerBytes > blockBytes)) {
    return false;
  }
  if (headerBytes > blockBytes) return false;
  uint64_t pixelBytes;
  // The drawing services read a colour table of their own size for depths of 8 bits and less:
  // biClrUsed entries when that is below 2^depth, else all 2^depth, which can be more than
  // ColorCount gives (a biClrUsed of 0x10000 counts 0).
  uint64_t drawnTableBytes = 0;
  if (headerBytes == kCoreHeaderBytes) {
    BITMAPCOREHEADER core;
    std::memcpy(&core, dib, sizeof core);
    pixelBytes = uint64_t{RowSize(core.bcWidth, core.bcBitCount)} * core.bcHeight;
  } else {
    BITMAPINFOHEADER info;
    std::memcpy(&info, dib, sizeof info);
    // Rows with colour masks are stored whole like uncompressed ones; only compressed rows
    // take the header's word for their size. The masks follow a 40-byte header.
    const bool whole = info.biCompression == BI_RGB || info.biCompression == BI_BITFIELDS;
    pixelBytes = whole ? uint64_t{RowSize(info.biWidth, info.biBitCount)} *
                             static_cast<uint64_t>(std::llabs(info.biHeight))
                       : info.biSizeImage;
    if (info.biCompression == BI_BITFIELDS && headerBytes < kInfoHeaderBytes + kMaskBytes) {
      pixelBytes += kMaskBytes;
    }
    uint64_t full = EntriesForBitCount(info.biBitCount);
    uint64_t used = info.biClrUsed;
    drawnTableBytes = sizeof(RGBQUAD) * (used != 0 && used < full ? used : full);
  }
  const uint64_t tableBytes = ColorTableBytes(dib);
  return headerBytes + std::max(tableBytes, drawnTableBytes) <= blockBytes &&
         headerBytes + tableBytes + pixelBytes <= blockBytes;
}

int QueryDibHeader(HGLOBAL dib, BITMAPINFOHEADER* header) {
  if (!dib || !header) return 0;
  void* bytes = GlobalLock(dib);
  if (!bytes) return 0;
  // A block shorter than the header gives what it has; the rest reads as 0.
  SIZE_T available = GlobalSize(dib);
  std::memset(header, 0, sizeof *header);
  std::memcpy(header, bytes, available < sizeof *header ? available : sizeof *header);
  GlobalUnlock(dib);
  if (header->biSize != kCoreHeaderBytes) {
    if (header->biSizeImage == 0) {
      header->biSizeImage =
          EstimatePixelBytes(header->biWidth, header->biHeight, header->biBitCount, BI_RGB);
    }
    if (header->biClrUsed == 0) header->biClrUsed = ColorCount(header);
  }
  return 1;
}

HGLOBAL PackedDibFromBitmap(HBITMAP bitmap, DWORD compression, WORD depth, HPALETTE palette) {
  if (!bitmap) return nullptr;
  // Other compressions (bit-field masks) would write past the table this layout leaves room
  // for.
  if (compression != BI_RGB && compression != BI_RLE8 && compression != BI_RLE4) return nullptr;
  if (!palette) palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
  BITMAP shape;
  if (GetObjectA(bitmap, sizeof shape, &shape) == 0) return nullptr;
  if (depth == 0) depth = 24;

  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = shape.bmWidth;
  header.biHeight = shape.bmHeight;
  header.biPlanes = 1;
  header.biBitCount = depth;
  header.biCompression = compression;
  DWORD tableBytes = ColorTableBytes(&header);

  HDC screen = GetDC(nullptr);
  if (!screen) return nullptr;
  HPALETTE previous = SelectPalette(screen, palette, FALSE);
  RealizePalette(screen);

  HGLOBAL dib = GlobalAlloc(GHND, sizeof header + tableBytes);
  if (!dib) {
    ReleaseScreen(screen, previous);
    return nullptr;
  }
  auto* bytes = static_cast<BYTE*>(GlobalLock(dib));
  if (!bytes) {
    GlobalFree(dib);
    ReleaseScreen(screen, previous);
    return nullptr;
  }
  std::memcpy(bytes, &header, sizeof header);
  // The first pass completes the header: biSizeImage and the colour table. A depth or
  // compression that the platform refuses here it refuses for the rows too: stop before the
  // block is sized for it (an arbitrary depth would ask for gigabytes).
  int described = GetDIBits(screen, bitmap, 0, static_cast<UINT>(shape.bmHeight), nullptr,
                            reinterpret_cast<BITMAPINFO*>(bytes), DIB_RGB_COLORS);
  std::memcpy(&header, bytes, sizeof header);
  GlobalUnlock(dib);
  if (described == 0) {
    GlobalFree(dib);
    ReleaseScreen(screen, previous);
    return nullptr;
  }

  if (header.biSizeImage == 0) {
    header.biSizeImage = EstimatePixelBytes(shape.bmWidth, shape.bmHeight, depth, compression);
  }
  tableBytes = ColorTableBytes(&header);
  HGLOBAL resized = GlobalReAlloc(dib, sizeof header + tableBytes + header.biSizeImage, 0);
  if (!resized) {
    GlobalFree(dib);
    ReleaseScreen(screen, previous);
    return nullptr;
  }
  dib = resized;
  bytes = static_cast<BYTE*>(GlobalLock(dib));
  if (!bytes) {
    GlobalFree(dib);
    ReleaseScreen(screen, previous);
    return nullptr;
  }
  int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(shape.bmHeight),
                       bytes + sizeof header + tableBytes, reinterpret_cast<BITMAPINFO*>(bytes),
                       DIB_RGB_COLORS);
  if (rows == 0) {
    GlobalUnlock(dib);
    GlobalFree(dib);
    ReleaseScreen(screen, previous);
    return nullptr;
  }
  std::memcpy(&header, bytes, sizeof header);
  GlobalUnlock(dib);
  ReleaseScreen(screen, previous);
  return dib;
}

HBITMAP BitmapFromPackedDib(HGLOBAL dib, HPALETTE palette) {
  if (!dib) return nullptr;
  auto* bytes = static_cast<const BYTE*>(GlobalLock(dib));
  if (!bytes) return nullptr;
  // A block too short for the rows its header promises is refused rather than over-read.
  if (!PackedDibFits(bytes, GlobalSize(dib))) {
    GlobalUnlock(dib);
    return nullptr;
  }
  HDC screen = GetDC(nullptr);
  if (!screen) {
    GlobalUnlock(dib);
    return nullptr;
  }
  HPALETTE previous = nullptr;
  if (palette) {
    previous = SelectPalette(screen, palette, FALSE);
    RealizePalette(screen);
  }
  HBITMAP bitmap = CreateDIBitmap(screen, reinterpret_cast<const BITMAPINFOHEADER*>(bytes),
                                  CBM_INIT, bytes + HeaderSize(bytes) + ColorTableBytes(bytes),
                                  reinterpret_cast<const BITMAPINFO*>(bytes), DIB_RGB_COLORS);
  ReleaseScreen(screen, previous);
  GlobalUnlock(dib);
  return bitmap;
}
