// Packed-bitmap layouts and row conversions.
#include "platform/gdi/dib_format.h"

#include <bit>
#include <climits>
#include <cstring>

#include "platform/gdi/gdi_objects.h"
#include "platform/gdi/pixel_rows.h"
#include "platform/threads.h"

static_assert(std::endian::native == std::endian::little,
              "packed bitmaps and pictures are read as little-endian words");

namespace gdi {
namespace {

uint32_t ReadDword(const BYTE* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

// One colour channel of a 16- or 32-bit row: where its bits are and how many there are.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int width = 0;

  explicit Channel(uint32_t m) : mask(m) {
    if (m != 0) {
      shift = std::countr_zero(m);
      width = std::popcount(m);
    }
  }
  // The channel's value of `packed` widened to 8 bits (the top bits repeated below).
  uint32_t Expand(uint32_t packed) const {
    if (width == 0) return 0;
    uint32_t v = (packed & mask) >> shift;
    if (width >= 8) return v >> (width - 8);
    uint32_t out = 0;
    for (int have = 0; have < 8; have += width) {
      int room = 8 - have;
      out |= room >= width ? v << (room - width) : v >> (width - room);
    }
    return out & 0xff;
  }
  // An 8-bit value narrowed to the channel and put in place.
  uint32_t Pack(uint32_t value8) const {
    if (width == 0) return 0;
    uint32_t v = width >= 8 ? value8 << (width - 8) : value8 >> (8 - width);
    return (v << shift) & mask;
  }
};

}  // namespace

bool ParseDib(const BITMAPINFO* info, DibFormat* format) {
  if (!info) return Fail(ERROR_INVALID_PARAMETER);
  const BYTE* base = reinterpret_cast<const BYTE*>(info);
  DibFormat f;
  DWORD size = info->bmiHeader.biSize;
  int64_t height;
  if (size == sizeof(BITMAPCOREHEADER)) {
    BITMAPCOREHEADER core;
    std::memcpy(&core, base, sizeof core);
    f.core = true;
    f.width = core.bcWidth;
    height = core.bcHeight;
    f.bits = core.bcBitCount;
    f.entryBytes = 3;
  } else if (size >= sizeof(BITMAPINFOHEADER) && size <= 124) {
    const BITMAPINFOHEADER& h = info->bmiHeader;
    f.width = h.biWidth;
    height = h.biHeight;
    f.bits = h.biBitCount;
    f.compression = h.biCompression;
  } else {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (height < 0) {
    f.topDown = true;
    height = -height;
  }
  if (f.width <= 0 || height <= 0 || f.width > kMaxSide || height > kMaxSide) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  f.height = static_cast<int>(height);
  if (static_cast<uint64_t>(f.width) * static_cast<uint64_t>(f.height) > kMaxPixels) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (f.compression == BI_RLE8 || f.compression == BI_RLE4) return Fail(ERROR_NOT_SUPPORTED);
  if (f.bits != 1 && f.bits != 4 && f.bits != 8 && f.bits != 16 && f.bits != 24 && f.bits != 32) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (f.compression == BI_BITFIELDS) {
    if (f.bits != 16 && f.bits != 32) return Fail(ERROR_INVALID_PARAMETER);
    // The masks follow a 40-byte header and sit at the same place inside longer headers.
    f.table = const_cast<BYTE*>(base) + sizeof(BITMAPINFOHEADER);
    for (int i = 0; i < 3; ++i) f.masks[i] = ReadDword(f.table + 4 * i);
  } else if (f.compression != BI_RGB) {
    return Fail(ERROR_INVALID_PARAMETER);
  } else {
    f.table = const_cast<BYTE*>(base) + size;
    if (f.bits == 16) {
      f.masks[0] = 0x7c00, f.masks[1] = 0x03e0, f.masks[2] = 0x001f;
    } else if (f.bits == 32) {
      f.masks[0] = 0xff0000, f.masks[1] = 0x00ff00, f.masks[2] = 0x0000ff;
    }
    if (f.bits <= 8) {
      int full = 1 << f.bits;
      DWORD used = f.core ? 0 : info->bmiHeader.biClrUsed;
      f.tableEntries = used != 0 && used < static_cast<DWORD>(full) ? static_cast<int>(used) : full;
    }
  }
  f.rowBytes = DibRowBytes(f.width, f.bits);
  *format = f;
  return true;
}

std::vector<uint32_t> IndexColors(const DibFormat& format, UINT usage,
                                  const std::vector<PALETTEENTRY>* palette) {
  if (format.bits > 8) return {};
  std::vector<uint32_t> colors(size_t{1} << format.bits, 0);
  for (int i = 0; i < format.tableEntries; ++i) {
    if (usage == DIB_PAL_COLORS) {
      WORD index;
      std::memcpy(&index, format.table + 2 * i, sizeof index);
      if (palette && index < palette->size()) {
        const PALETTEENTRY& e = (*palette)[index];
        colors[i] = (uint32_t{e.peRed} << 16) | (uint32_t{e.peGreen} << 8) | e.peBlue;
      }
    } else {
      const BYTE* e = format.table + static_cast<size_t>(i) * format.entryBytes;
      colors[i] = (uint32_t{e[2]} << 16) | (uint32_t{e[1]} << 8) | e[0];
    }
  }
  return colors;
}

void ReadRow(const DibFormat& format, const BYTE* row, int first, int count,
             const std::vector<uint32_t>& colors, uint32_t* out) {
  switch (format.bits) {
    case 1:
      for (int i = 0; i < count; ++i) {
        int x = first + i;
        out[i] = colors[(row[x >> 3] >> (7 - (x & 7))) & 1];
      }
      return;
    case 4:
      for (int i = 0; i < count; ++i) {
        int x = first + i;
        out[i] = colors[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xf];
      }
      return;
    case 8:
      for (int i = 0; i < count; ++i) out[i] = colors[row[first + i]];
      return;
    case 24:
      PixelsFrom24(row + 3 * static_cast<size_t>(first), count, out);
      return;
    default:
      break;
  }
  const BYTE* p = row + static_cast<size_t>(first) * (format.bits / 8);
  if (format.bits == 32 && format.masks[0] == 0xff0000 && format.masks[1] == 0xff00 &&
      format.masks[2] == 0xff) {
    for (int i = 0; i < count; ++i) out[i] = ReadDword(p + 4 * i) & 0xffffff;
    return;
  }
  Channel r(format.masks[0]), g(format.masks[1]), b(format.masks[2]);
  for (int i = 0; i < count; ++i) {
    uint32_t v;
    if (format.bits == 16) {
      v = uint32_t{p[2 * i]} | (uint32_t{p[2 * i + 1]} << 8);
    } else {
      v = ReadDword(p + 4 * i);
    }
    out[i] = (r.Expand(v) << 16) | (g.Expand(v) << 8) | b.Expand(v);
  }
}

ColorMatcher::ColorMatcher(const std::vector<uint32_t>& colors) : colors_(colors) {
  // Colours of the table map to their first entry exactly.
  for (size_t i = colors_.size(); i-- > 0;) known_[colors_[i]] = static_cast<BYTE>(i);
}

BYTE ColorMatcher::Match(uint32_t color) {
  color &= 0xffffff;
  auto it = known_.find(color);
  if (it != known_.end()) return it->second;
  int best = 0;
  int bestDistance = INT_MAX;
  for (size_t i = 0; i < colors_.size(); ++i) {
    int dr = static_cast<int>((color >> 16) & 0xff) - static_cast<int>((colors_[i] >> 16) & 0xff);
    int dg = static_cast<int>((color >> 8) & 0xff) - static_cast<int>((colors_[i] >> 8) & 0xff);
    int db = static_cast<int>(color & 0xff) - static_cast<int>(colors_[i] & 0xff);
    int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<int>(i);
    }
  }
  known_.emplace(color, static_cast<BYTE>(best));
  return static_cast<BYTE>(best);
}

void WriteRow(const DibFormat& format, const uint32_t* pixels, int width, BYTE* row,
              ColorMatcher* matcher) {
  switch (format.bits) {
    case 1:
      std::memset(row, 0, (static_cast<size_t>(width) + 7) / 8);
      for (int x = 0; x < width; ++x) {
        if (matcher->Match(pixels[x]) & 1) row[x >> 3] |= static_cast<BYTE>(0x80 >> (x & 7));
      }
      return;
    case 4:
      std::memset(row, 0, (static_cast<size_t>(width) + 1) / 2);
      for (int x = 0; x < width; ++x) {
        BYTE index = matcher->Match(pixels[x]) & 0xf;
        row[x >> 1] |= static_cast<BYTE>((x & 1) ? index : index << 4);
      }
      return;
    case 8:
      for (int x = 0; x < width; ++x) row[x] = matcher->Match(pixels[x]);
      return;
    case 24:
      PixelsTo24(pixels, width, row);
      return;
    default:
      break;
  }
  if (format.bits == 32 && format.masks[0] == 0xff0000 && format.masks[1] == 0xff00 &&
      format.masks[2] == 0xff) {
    for (int x = 0; x < width; ++x) {
      uint32_t v = pixels[x] & 0xffffff;
      std::memcpy(row + 4 * x, &v, sizeof v);
    }
    return;
  }
  Channel r(format.masks[0]), g(format.masks[1]), b(format.masks[2]);
  for (int x = 0; x < width; ++x) {
    uint32_t p = pixels[x];
    uint32_t v = r.Pack((p >> 16) & 0xff) | g.Pack((p >> 8) & 0xff) | b.Pack(p & 0xff);
    if (format.bits == 16) {
      row[2 * x] = static_cast<BYTE>(v);
      row[2 * x + 1] = static_cast<BYTE>(v >> 8);
    } else {
      std::memcpy(row + 4 * x, &v, sizeof v);
    }
  }
}

std::vector<uint32_t> DeviceColorTable(int bits) {
  auto rgb = [](uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; };
  std::vector<uint32_t> colors;
  if (bits == 1) return {rgb(0, 0, 0), rgb(255, 255, 255)};
  if (bits == 4) {
    // The sixteen colours of the standard display.
    return {rgb(0, 0, 0),       rgb(128, 0, 0),   rgb(0, 128, 0),   rgb(128, 128, 0),
            rgb(0, 0, 128),     rgb(128, 0, 128), rgb(0, 128, 128), rgb(192, 192, 192),
            rgb(128, 128, 128), rgb(255, 0, 0),   rgb(0, 255, 0),   rgb(255, 255, 0),
            rgb(0, 0, 255),     rgb(255, 0, 255), rgb(0, 255, 255), rgb(255, 255, 255)};
  }
  // 8 bits: the first ten system colours, a 6 x 6 x 6 colour cube, twenty greys between
  // the cube's steps, and the last ten system colours.
  for (int i = 0; i < 10; ++i) {
    const PALETTEENTRY& e = kSystemColors[i];
    colors.push_back(rgb(e.peRed, e.peGreen, e.peBlue));
  }
  for (int r = 0; r < 6; ++r) {
    for (int g = 0; g < 6; ++g) {
      for (int b = 0; b < 6; ++b) colors.push_back(rgb(r * 51, g * 51, b * 51));
    }
  }
  for (int i = 1; i <= 20; ++i) {
    uint32_t v = static_cast<uint32_t>(i * 255 / 21);
    colors.push_back(rgb(v, v, v));
  }
  for (int i = 10; i < 20; ++i) {
    const PALETTEENTRY& e = kSystemColors[i];
    colors.push_back(rgb(e.peRed, e.peGreen, e.peBlue));
  }
  return colors;
}

}  // namespace gdi
