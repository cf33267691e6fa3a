// Reading the layout of a packed bitmap's header, and converting rows between packed
// bitmaps and pictures in the screen's format. Internal to platform/gdi.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/gdi.h"
#include "platform/types.h"

namespace gdi {

// The layout of a packed bitmap as its header describes it.
struct DibFormat {
  int width = 0;
  int height = 0;        // always positive
  bool topDown = false;  // negative biHeight: first row in memory is the top row
  bool core = false;     // 12-byte header, 3-byte colour-table entries
  int bits = 0;
  DWORD compression = BI_RGB;
  size_t rowBytes = 0;
  uint32_t masks[3] = {0, 0, 0};  // red, green, blue masks of 16- and 32-bit rows
  BYTE* table = nullptr;          // the colour table (or the masks of BI_BITFIELDS)
  int tableEntries = 0;           // entries in the colour table, depths of 8 bits and less
  int entryBytes = 4;
};

// Reads the header of `info` (information header or core header). False, with the reason
// in GetLastError, for headers the drawing services do not handle: unknown sizes, depths
// other than 1, 4, 8, 16, 24 and 32, and compressed rows (RLE8 and RLE4 are refused, not
// decoded), or sizes whose rows do not fit in memory.
bool ParseDib(const BITMAPINFO* info, DibFormat* format);

// Bytes in one row of a packed bitmap `width` pixels wide at `bits` bits per pixel.
inline size_t DibRowBytes(int width, int bits) {
  return ((static_cast<size_t>(bits) * static_cast<size_t>(width) + 31) / 32) * 4;
}

// The colours (0x00RRGGBB) that the indices of a packed bitmap of 8 bits or less stand for:
// from its colour table, or with DIB_PAL_COLORS from `palette` through the table's 16-bit
// indices. Indices without an entry stand for black.
std::vector<uint32_t> IndexColors(const DibFormat& format, UINT usage,
                                  const std::vector<PALETTEENTRY>* palette);

// Converts `count` pixels of one packed row, starting at pixel `first`, into `out`.
void ReadRow(const DibFormat& format, const BYTE* row, int first, int count,
             const std::vector<uint32_t>& colors, uint32_t* out);

// Nearest colour-table entry of a colour, remembered per colour.
class ColorMatcher {
 public:
  explicit ColorMatcher(const std::vector<uint32_t>& colors);
  BYTE Match(uint32_t color);

 private:
  std::vector<uint32_t> colors_;
  std::unordered_map<uint32_t, BYTE> known_;
};

// Converts one picture row of `width` pixels into a packed row.
void WriteRow(const DibFormat& format, const uint32_t* pixels, int width, BYTE* row,
              ColorMatcher* matcher);

// The colour table the platform gives a device bitmap read at `bits` bits (1, 4 or 8).
std::vector<uint32_t> DeviceColorTable(int bits);

}  // namespace gdi
