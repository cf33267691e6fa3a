// Device bitmaps, palettes, memory contexts and packed-bitmap conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "platform/gdi.h"
#include "platform/threads.h"

namespace {

// A packed bitmap in pieces: header (and colour table or masks) and rows.
struct Dib {
  std::vector<BYTE> info;  // header followed by the colour table
  std::vector<BYTE> rows;

  BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(info.data()); }
  BITMAPINFOHEADER* Header() { return reinterpret_cast<BITMAPINFOHEADER*>(info.data()); }
  size_t RowBytes() const {
    const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(info.data());
    return ((h->biBitCount * static_cast<size_t>(h->biWidth) + 31) / 32) * 4;
  }
  BYTE* Row(int scan) { return rows.data() + scan * RowBytes(); }
};

Dib MakeDib(int width, int height, int bits, std::vector<uint32_t> table = {},
            DWORD compression = BI_RGB) {
  Dib dib;
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biCompression = compression;
  h.biClrUsed = static_cast<DWORD>(compression == BI_BITFIELDS ? 0 : table.size());
  dib.info.resize(sizeof h + 4 * table.size());
  std::memcpy(dib.info.data(), &h, sizeof h);
  // Colour-table entries are 0x00RRGGBB, which is the byte order of RGBQUAD; masks as given.
  if (!table.empty()) std::memcpy(dib.info.data() + sizeof h, table.data(), 4 * table.size());
  dib.rows.assign(dib.RowBytes() * std::abs(height), 0);
  return dib;
}

void FillRandom(Dib* dib, unsigned seed) {
  std::mt19937 random(seed);
  for (BYTE& b : dib->rows) b = static_cast<BYTE>(random());
}

// Clears the bits that a row's padding and a depth's unused bits may not keep.
void ClearPadding(Dib* dib, int usedBytesPerRow) {
  int height = std::abs(dib->Header()->biHeight);
  for (int scan = 0; scan < height; ++scan) {
    std::memset(dib->Row(scan) + usedBytesPerRow, 0, dib->RowBytes() - usedBytesPerRow);
  }
}

HBITMAP ToBitmap(Dib& dib) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap =
      CreateDIBitmap(screen, dib.Header(), CBM_INIT, dib.rows.data(), dib.Info(), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

// Reads `bitmap` back in the layout of `like` (its header copied, rows fresh).
Dib FromBitmap(HBITMAP bitmap, const Dib& like, int* rowsCopied) {
  Dib out = like;
  std::fill(out.rows.begin(), out.rows.end(), 0xAB);
  HDC screen = GetDC(nullptr);
  *rowsCopied = GetDIBits(screen, bitmap, 0, std::abs(out.Header()->biHeight), out.rows.data(),
                          out.Info(), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return out;
}

// Makes a device bitmap of `dib` and reads it back in the layout of `like`; no rows are
// copied when the bitmap cannot be made.
Dib RoundTrip(Dib& dib, const Dib& like, int* rowsCopied) {
  HBITMAP bitmap = ToBitmap(dib);
  Dib back = FromBitmap(bitmap, like, rowsCopied);
  DeleteObject(bitmap);
  return back;
}

// The colour of a bitmap's pixel, read through a memory context of its own.
COLORREF PixelOf(HBITMAP bitmap, int x, int y) {
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, bitmap);
  COLORREF color = GetPixel(dc, x, y);
  DeleteDC(dc);
  return color;
}

std::vector<uint32_t> kVga = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                              0x008080, 0xc0c0c0, 0x808080, 0xff0000, 0x00ff00, 0xffff00,
                              0x0000ff, 0xff00ff, 0x00ffff, 0xffffff};

// A memory context holding a new width x height bitmap.
struct Canvas {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ previous;
  Canvas(int width, int height) {
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateCompatibleBitmap(dc, width, height);
    previous = SelectObject(dc, bitmap);
  }
  ~Canvas() {
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
};

TEST(GdiObjects, StockObjectsPalettesAndBitmapsFollowThePlatformRules) {
  HPALETTE stock = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
  ASSERT_NE(stock, nullptr);
  DWORD count = 0xFFFF0000u;
  EXPECT_EQ(GetObjectA(stock, sizeof count, &count), 2);
  EXPECT_EQ(count & 0xffff, 20u);
  PALETTEENTRY entries[20];
  EXPECT_EQ(GetPaletteEntries(stock, 0, 20, entries), 20u);
  EXPECT_EQ(entries[8].peGreen, 220);  // the green-grey of the system colours
  EXPECT_EQ(entries[19].peBlue, 255);  // white last
  EXPECT_EQ(entries[0].peRed, 0);
  EXPECT_TRUE(DeleteObject(stock));  // stock objects stay
  EXPECT_EQ(GetObjectA(stock, sizeof count, &count), 2);
  EXPECT_TRUE(DeleteObject(GetStockObject(GRAY_BRUSH)));
  EXPECT_NE(GetStockObject(LTGRAY_BRUSH), nullptr);

  alignas(LOGPALETTE) BYTE block[4 + 3 * 4];
  auto* logical = reinterpret_cast<LOGPALETTE*>(block);
  logical->palVersion = 0x300;
  logical->palNumEntries = 3;
  for (int i = 0; i < 3; ++i) {
    logical->palPalEntry[i] = PALETTEENTRY{BYTE(10 * i), BYTE(20 * i), BYTE(30 * i), 0};
  }
  HPALETTE palette = CreatePalette(logical);
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(GetPaletteEntries(palette, 1, 10, entries), 2u);
  EXPECT_EQ(entries[1].peBlue, 60);
  logical->palVersion = 0x200;
  EXPECT_EQ(CreatePalette(logical), nullptr);

  // A palette in a context is not deleted; once the context is gone it is.
  HDC dc = CreateCompatibleDC(nullptr);
  HPALETTE before = SelectPalette(dc, palette, FALSE);
  EXPECT_EQ(before, stock);
  EXPECT_EQ(RealizePalette(dc), 0u);
  EXPECT_FALSE(DeleteObject(palette));
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_TRUE(DeleteObject(palette));
  EXPECT_FALSE(DeleteObject(palette));  // stale
  EXPECT_EQ(GetObjectA(palette, sizeof count, &count), 0);
  EXPECT_EQ(RealizePalette(dc), GDI_ERROR);
  EXPECT_FALSE(DeleteDC(dc));

  HBITMAP bitmap = CreateCompatibleBitmap(nullptr, 7, 5);
  BITMAP shape{};
  EXPECT_EQ(GetObjectA(bitmap, sizeof shape, &shape), static_cast<int>(sizeof shape));
  EXPECT_EQ(shape.bmWidth, 7);
  EXPECT_EQ(shape.bmHeight, 5);
  EXPECT_EQ(shape.bmBitsPixel, 32);
  EXPECT_EQ(CreateCompatibleBitmap(nullptr, 0, 5), nullptr);
  // A bitmap is in one memory context at a time and is not deleted while it is there.
  HDC first = CreateCompatibleDC(nullptr);
  HDC second = CreateCompatibleDC(first);
  HGDIOBJ original = SelectObject(first, bitmap);
  ASSERT_NE(original, nullptr);
  EXPECT_EQ(SelectObject(second, bitmap), nullptr);
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_EQ(SelectObject(first, original), bitmap);
  EXPECT_NE(SelectObject(second, bitmap), nullptr);
  EXPECT_EQ(SelectObject(second, palette), nullptr);  // stale palette
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(SelectObject(screen, bitmap), nullptr);  // only memory contexts hold bitmaps
  EXPECT_EQ(ReleaseDC(nullptr, first), 0);           // memory contexts are deleted instead
  EXPECT_FALSE(DeleteDC(screen));
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_TRUE(DeleteDC(first));
  EXPECT_TRUE(DeleteDC(second));
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_EQ(GetObjectA(bitmap, sizeof shape, &shape), 0);
  // A handle of another kind is no object.
  EXPECT_EQ(GetObjectA(first, sizeof shape, &shape), 0);
  EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(uintptr_t{12345})));
}

TEST(GdiConversion, TwentyFourBitFramesRoundTripExactly) {
  for (int height : {6, -6}) {
    Dib dib = MakeDib(321, height, 24);
    FillRandom(&dib, 7);
    ClearPadding(&dib, 321 * 3);
    int rows = 0;
    Dib back = RoundTrip(dib, dib, &rows);
    EXPECT_EQ(rows, 6);
    EXPECT_EQ(back.rows, dib.rows) << "height " << height;
    EXPECT_EQ(back.Header()->biSizeImage, 964u * 6);
  }
}

TEST(GdiConversion, BottomUpAndTopDownRowsLandWhereTheyBelong) {
  for (int height : {3, -3}) {
    Dib dib = MakeDib(2, height, 24);
    // First row in memory red, the others blue.
    for (int scan = 0; scan < 3; ++scan) {
      for (int x = 0; x < 2; ++x) {
        BYTE* p = dib.Row(scan) + 3 * x;
        p[0] = scan == 0 ? 0 : 255;
        p[2] = scan == 0 ? 255 : 0;
      }
    }
    HBITMAP bitmap = ToBitmap(dib);
    int firstRowY = height > 0 ? 2 : 0;
    EXPECT_EQ(PixelOf(bitmap, 1, firstRowY), RGB(255, 0, 0)) << "height " << height;
    EXPECT_EQ(PixelOf(bitmap, 1, 1), RGB(0, 0, 255));
    EXPECT_EQ(PixelOf(bitmap, 2, 0), CLR_INVALID);
    DeleteObject(bitmap);
  }
}

// Rows narrower or fewer than the bitmap the header describes fill the bitmap's bottom-left
// corner; the rest is black, as it is in a bitmap made without rows.
TEST(GdiConversion, RowsThatDoNotCoverTheBitmapLeaveTheRestBlack) {
  HDC screen = GetDC(nullptr);
  Dib large = MakeDib(4, 3, 24);
  Dib small = MakeDib(2, 2, 24);
  std::fill(small.rows.begin(), small.rows.end(), 0xFF);
  HBITMAP bitmap = CreateDIBitmap(screen, large.Header(), CBM_INIT, small.rows.data(), small.Info(),
                                  DIB_RGB_COLORS);
  HBITMAP empty = CreateDIBitmap(screen, large.Header(), 0, nullptr, nullptr, DIB_RGB_COLORS);
  ASSERT_TRUE(bitmap && empty);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      const bool drawn = x < 2 && y >= 1;
      EXPECT_EQ(GetPixel(dc, x, y), drawn ? RGB(255, 255, 255) : RGB(0, 0, 0)) << x << "," << y;
    }
  }
  SelectObject(dc, empty);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(GetPixel(dc, x, y), RGB(0, 0, 0)) << x << "," << y;
  }
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(bitmap);
  DeleteObject(empty);
  ReleaseDC(nullptr, screen);
}

TEST(GdiConversion, ThirtyTwoAndSixteenBitRowsRoundTrip) {
  Dib dib32 = MakeDib(5, 4, 32);
  FillRandom(&dib32, 3);
  for (size_t i = 3; i < dib32.rows.size(); i += 4) dib32.rows[i] = 0;  // unused byte
  int rows = 0;
  EXPECT_EQ(RoundTrip(dib32, dib32, &rows).rows, dib32.rows);

  // 5-5-5 without masks: the top bit of each pixel is unused.
  Dib dib16 = MakeDib(5, 4, 16);
  FillRandom(&dib16, 4);
  for (size_t i = 1; i < dib16.rows.size(); i += 2) dib16.rows[i] &= 0x7f;
  ClearPadding(&dib16, 10);
  HBITMAP bitmap = ToBitmap(dib16);
  Dib back = FromBitmap(bitmap, dib16, &rows);
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(back.rows, dib16.rows);
  // White in 5-5-5 is white on the device.
  uint16_t p = static_cast<uint16_t>(dib16.Row(3)[0] | (dib16.Row(3)[1] << 8));
  BYTE r5 = (p >> 10) & 31, g5 = (p >> 5) & 31, b5 = p & 31;
  EXPECT_EQ(PixelOf(bitmap, 0, 0),
            RGB((r5 << 3) | (r5 >> 2), (g5 << 3) | (g5 >> 2), (b5 << 3) | (b5 >> 2)));
  DeleteObject(bitmap);

  // 5-6-5 with masks, read back with the masks the device gives.
  Dib dib565 = MakeDib(6, 2, 16, {0xf800, 0x07e0, 0x001f}, BI_BITFIELDS);
  FillRandom(&dib565, 5);
  Dib asked = dib565;
  std::memset(asked.info.data() + sizeof(BITMAPINFOHEADER), 0, 12);
  back = RoundTrip(dib565, asked, &rows);
  EXPECT_EQ(rows, 2);
  // The masks were written, and the pixel size.
  EXPECT_TRUE(std::equal(back.info.begin() + 40, back.info.end(), dib565.info.begin() + 40));
  EXPECT_EQ(back.Header()->biSizeImage, 2u * 12);
  EXPECT_EQ(back.rows, dib565.rows);
}

TEST(GdiConversion, IndexedRowsKeepTheirColours) {
  // 4 bits with the sixteen standard colours come back as the same indices.
  Dib dib4 = MakeDib(9, 3, 4, kVga);
  FillRandom(&dib4, 11);
  ClearPadding(&dib4, 5);
  for (int scan = 0; scan < 3; ++scan) dib4.Row(scan)[4] &= 0xf0;  // the ninth pixel only
  int rows = 0;
  Dib back4 = RoundTrip(dib4, dib4, &rows);
  EXPECT_EQ(back4.rows, dib4.rows);
  EXPECT_TRUE(std::equal(back4.info.begin() + 40, back4.info.end(), dib4.info.begin() + 40));

  // 1 bit, black and white.
  Dib dib1 = MakeDib(13, 2, 1, {0x000000, 0xffffff});
  FillRandom(&dib1, 12);
  for (int scan = 0; scan < 2; ++scan) {
    dib1.Row(scan)[1] &= 0xf8;
    std::memset(dib1.Row(scan) + 2, 0, 2);
  }
  EXPECT_EQ(RoundTrip(dib1, dib1, &rows).rows, dib1.rows);

  // 8 bits with a table of the program's own: colours on the device, then the device's
  // table on the way back, each pixel at the entry of its own colour.
  std::vector<uint32_t> table(256);
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint32_t>(i * 0x010203) & 0xffffff;
  Dib dib8 = MakeDib(4, 2, 8, table);
  FillRandom(&dib8, 13);
  HBITMAP bitmap = ToBitmap(dib8);
  BYTE index = dib8.Row(1)[2];
  uint32_t c = table[index];
  EXPECT_EQ(PixelOf(bitmap, 2, 0), RGB(c >> 16, (c >> 8) & 0xff, c & 0xff));

  Dib device = MakeDib(4, 2, 8);
  device.info.resize(sizeof(BITMAPINFOHEADER) + 1024);
  HDC screen = GetDC(nullptr);
  EXPECT_NE(GetDIBits(screen, bitmap, 0, 2, nullptr, device.Info(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(device.Header()->biSizeImage, 8u);
  const auto* colors = reinterpret_cast<const RGBQUAD*>(device.info.data() + 40);
  EXPECT_EQ(colors[255].rgbRed, 255);
  EXPECT_EQ(colors[0].rgbGreen, 0);
  ReleaseDC(nullptr, screen);
  DeleteObject(bitmap);
  // Colours of the device's table come back as their entries.
  std::vector<uint32_t> deviceTable(256);
  std::memcpy(deviceTable.data(), device.info.data() + 40, 1024);
  Dib exact = MakeDib(16, 16, 8, deviceTable);
  for (int i = 0; i < 256; ++i) exact.Row(i / 16)[i % 16] = static_cast<BYTE>(i);
  Dib back8 = RoundTrip(exact, exact, &rows);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(deviceTable[back8.Row(i / 16)[i % 16]], deviceTable[i]) << i;
  }
}

TEST(GdiConversion, CoreHeadersCompressedRowsAndPartialReads) {
  // A 12-byte header with 3-byte table entries.
  std::vector<BYTE> core(12 + 16 * 3 + 4 * 2);
  BITMAPCOREHEADER h{12, 3, 2, 1, 4};
  std::memcpy(core.data(), &h, sizeof h);
  core[12 + 3 * 5 + 0] = 0x11;  // entry 5: blue 0x11, green 0x22, red 0x33
  core[12 + 3 * 5 + 1] = 0x22;
  core[12 + 3 * 5 + 2] = 0x33;
  BYTE* rows = core.data() + 12 + 48;
  rows[4] = 0x05;  // top row (second in memory): pixel 1 uses entry 5
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap =
      CreateDIBitmap(screen, reinterpret_cast<BITMAPINFOHEADER*>(core.data()), CBM_INIT, rows,
                     reinterpret_cast<BITMAPINFO*>(core.data()), DIB_RGB_COLORS);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(PixelOf(bitmap, 1, 0), RGB(0x33, 0x22, 0x11));
  EXPECT_EQ(PixelOf(bitmap, 0, 0), RGB(0, 0, 0));

  // Compressed rows are refused both ways.
  Dib rle = MakeDib(3, 2, 8, {}, BI_RLE8);
  EXPECT_EQ(
      CreateDIBitmap(screen, rle.Header(), CBM_INIT, rle.rows.data(), rle.Info(), DIB_RGB_COLORS),
      nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  rle.info.resize(40 + 1024);
  EXPECT_EQ(GetDIBits(screen, bitmap, 0, 2, nullptr, rle.Info(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(rle.Header()->biSizeImage, 0u);
  DeleteObject(bitmap);

  // Scan lines from 1, two of them: the rows second and third from the bottom.
  Dib dib = MakeDib(2, 4, 24);
  FillRandom(&dib, 9);
  ClearPadding(&dib, 6);
  bitmap = ToBitmap(dib);
  std::vector<BYTE> part(2 * dib.RowBytes());
  Dib header = dib;
  EXPECT_EQ(GetDIBits(screen, bitmap, 1, 2, part.data(), header.Info(), DIB_RGB_COLORS), 2);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), dib.Row(1)));
  EXPECT_EQ(GetDIBits(screen, bitmap, 4, 2, part.data(), header.Info(), DIB_RGB_COLORS), 0);
  // Without a depth the header describes the bitmap itself.
  BITMAPINFO own{};
  own.bmiHeader.biSize = 40;
  EXPECT_NE(GetDIBits(screen, bitmap, 0, 4, nullptr, &own, DIB_RGB_COLORS), 0);
  EXPECT_EQ(own.bmiHeader.biBitCount, 32);
  EXPECT_EQ(own.bmiHeader.biWidth, 2);
  EXPECT_EQ(own.bmiHeader.biSizeImage, 32u);
  // A stale bitmap or context fails.
  DeleteObject(bitmap);
  EXPECT_EQ(GetDIBits(screen, bitmap, 0, 4, part.data(), header.Info(), DIB_RGB_COLORS), 0);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(GetDIBits(screen, bitmap, 0, 4, part.data(), header.Info(), DIB_RGB_COLORS), 0);
}

TEST(GdiDrawing, RasterOperationsClipAndFollowTheWindowOrigin) {
  Canvas source(4, 4), dest(4, 4);
  RECT all{0, 0, 4, 4};
  HBRUSH red = CreateSolidBrush(RGB(200, 10, 20));
  EXPECT_TRUE(FillRect(source.dc, &all, red));
  RECT corner{2, 2, 4, 4};
  EXPECT_TRUE(FillRect(source.dc, &corner, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
  EXPECT_EQ(GetPixel(source.dc, 3, 3), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(source.dc, 1, 1), RGB(200, 10, 20));

  // Copy with the destination's origin moved: logical (5, 5) is the device's (1, 1), and the
  // parts outside either bitmap are left out.
  POINT old{};
  EXPECT_TRUE(SetWindowOrgEx(dest.dc, 4, 4, &old));
  EXPECT_TRUE(BitBlt(dest.dc, 5, 5, 10, 10, source.dc, 1, 1, SRCCOPY));
  EXPECT_TRUE(SetWindowOrgEx(dest.dc, 0, 0, &old));
  EXPECT_EQ(old.x, 4);
  EXPECT_EQ(GetPixel(dest.dc, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dest.dc, 1, 1), RGB(200, 10, 20));
  EXPECT_EQ(GetPixel(dest.dc, 2, 2), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(dest.dc, 3, 3), RGB(255, 255, 255));

  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 4, 4, source.dc, 0, 0, SRCINVERT));
  EXPECT_EQ(GetPixel(dest.dc, 1, 1), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dest.dc, 0, 0), RGB(200, 10, 20));
  EXPECT_EQ(GetPixel(dest.dc, 3, 3), RGB(0, 0, 0));
  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 4, 4, nullptr, 0, 0, WHITENESS));
  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 4, 4, source.dc, 0, 0, SRCAND));
  EXPECT_EQ(GetPixel(dest.dc, 0, 0), RGB(200, 10, 20));
  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 2, 4, nullptr, 0, 0, BLACKNESS));
  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 4, 4, source.dc, 0, 0, SRCPAINT));
  EXPECT_EQ(GetPixel(dest.dc, 0, 0), RGB(200, 10, 20));
  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 4, 4, source.dc, 0, 0, NOTSRCCOPY));
  EXPECT_EQ(GetPixel(dest.dc, 0, 0), RGB(55, 245, 235));
  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 1, 1, nullptr, 0, 0, DSTINVERT));
  EXPECT_EQ(GetPixel(dest.dc, 0, 0), RGB(200, 10, 20));
  SelectObject(dest.dc, red);
  EXPECT_TRUE(BitBlt(dest.dc, 3, 3, 1, 1, nullptr, 0, 0, PATCOPY));
  EXPECT_EQ(GetPixel(dest.dc, 3, 3), RGB(200, 10, 20));
  EXPECT_FALSE(DeleteObject(red));  // still selected
  SelectObject(dest.dc, GetStockObject(WHITE_BRUSH));
  EXPECT_TRUE(DeleteObject(red));
  EXPECT_FALSE(BitBlt(dest.dc, 0, 0, 4, 4, source.dc, 0, 0, 0x00123456u));

  // Overlapping copy inside one bitmap reads the source before writing.
  EXPECT_TRUE(BitBlt(source.dc, 1, 1, 3, 3, source.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(source.dc, 1, 1), RGB(200, 10, 20));
  EXPECT_EQ(GetPixel(source.dc, 2, 2), RGB(200, 10, 20));
  EXPECT_EQ(GetPixel(source.dc, 3, 3), RGB(255, 255, 255));

  // The screen draws nowhere and has nothing to read.
  HDC screen = GetDC(nullptr);
  EXPECT_TRUE(BitBlt(screen, 0, 0, 4, 4, source.dc, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(dest.dc, 0, 0, 4, 4, screen, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(screen, 0, 0), CLR_INVALID);
  EXPECT_EQ(SetBkMode(screen, TRANSPARENT), OPAQUE);
  EXPECT_EQ(SetBkMode(screen, 7), 0);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(SetBkMode(screen, TRANSPARENT), 0);
}

TEST(GdiDrawing, SetDIBitsToDevicePlacesTheSourceRectangle) {
  Canvas canvas(6, 6);
  // A 3 x 3 bottom-up picture whose pixel (x, row-from-top y) has red 10x + y.
  Dib dib = MakeDib(3, 3, 24);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) dib.Row(2 - y)[3 * x + 2] = static_cast<BYTE>(10 * x + y + 1);
  }
  EXPECT_EQ(SetDIBitsToDevice(canvas.dc, 1, 2, 3, 3, 0, 0, 0, 3, dib.rows.data(), dib.Info(),
                              DIB_RGB_COLORS),
            3);
  EXPECT_EQ(GetPixel(canvas.dc, 1, 2), RGB(1, 0, 0));
  EXPECT_EQ(GetPixel(canvas.dc, 3, 4), RGB(23, 0, 0));
  EXPECT_EQ(GetPixel(canvas.dc, 0, 2), RGB(0, 0, 0));
  // The lower-right 2 x 2 of the picture at (0, 0): source origin is its bottom-left.
  EXPECT_EQ(SetDIBitsToDevice(canvas.dc, 0, 0, 2, 2, 1, 0, 0, 3, dib.rows.data(), dib.Info(),
                              DIB_RGB_COLORS),
            3);
  EXPECT_EQ(GetPixel(canvas.dc, 0, 0), RGB(12, 0, 0));
  EXPECT_EQ(GetPixel(canvas.dc, 1, 1), RGB(23, 0, 0));
  // Top-down rows count from the top.
  Dib down = dib;
  down.Header()->biHeight = -3;
  for (int y = 0; y < 3; ++y) std::memcpy(down.Row(y), dib.Row(2 - y), dib.RowBytes());
  EXPECT_EQ(SetDIBitsToDevice(canvas.dc, 3, 3, 3, 3, 0, 0, 0, 3, down.rows.data(), down.Info(),
                              DIB_RGB_COLORS),
            3);
  EXPECT_EQ(GetPixel(canvas.dc, 3, 3), RGB(1, 0, 0));
  EXPECT_EQ(GetPixel(canvas.dc, 5, 4), RGB(22, 0, 0));
  EXPECT_EQ(
      SetDIBitsToDevice(canvas.dc, 0, 0, 3, 3, 0, 0, 0, 3, nullptr, dib.Info(), DIB_RGB_COLORS), 0);
}

TEST(GdiThreads, ConversionsOnOneThreadWhileAnotherDraws) {
  Dib dib = MakeDib(64, 48, 24);
  FillRandom(&dib, 21);
  HBITMAP shown = ToBitmap(dib);
  std::thread converter([&] {
    for (int i = 0; i < 50; ++i) {
      int rows = 0;
      RoundTrip(dib, dib, &rows);
      EXPECT_EQ(rows, 48);
    }
  });
  Canvas canvas(64, 48);
  HDC memory = CreateCompatibleDC(canvas.dc);
  for (int i = 0; i < 50; ++i) {
    HGDIOBJ old = SelectObject(memory, shown);
    EXPECT_TRUE(BitBlt(canvas.dc, 0, 0, 64, 48, memory, 0, 0, SRCCOPY));
    SelectObject(memory, old);
  }
  converter.join();
  DeleteDC(memory);
  const BYTE* p = dib.Row(47);
  EXPECT_EQ(GetPixel(canvas.dc, 0, 0), RGB(p[2], p[1], p[0]));
  DeleteObject(shown);
}

}  // namespace
