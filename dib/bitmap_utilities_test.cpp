// Header counting rules, palette copies and the conversions between device bitmaps and
// packed bitmaps.
#include "dib/bitmap_utilities.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

// The largest allocation this test program has asked for since it was last reset, so a test
// can tell that a refused conversion never sized a block for what it refused.
std::atomic<size_t> largestAllocation{0};

void* operator new(size_t bytes) {
  size_t seen = largestAllocation.load();
  while (bytes > seen && !largestAllocation.compare_exchange_weak(seen, bytes)) {
  }
  if (void* block = std::malloc(bytes == 0 ? 1 : bytes)) return block;
  throw std::bad_alloc();
}
// Kept out of line: inlined, the compiler would see free() meet a pointer from operator new.
__attribute__((noinline)) void operator delete(void* block) noexcept {
  std::free(block);
}
__attribute__((noinline)) void operator delete(void* block, size_t) noexcept {
  std::free(block);
}

namespace {

BITMAPINFOHEADER InfoHeader(int width, int height, int bits, DWORD used = 0,
                            DWORD compression = BI_RGB) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biCompression = compression;
  h.biClrUsed = used;
  return h;
}

HPALETTE MakePalette(std::vector<PALETTEENTRY> entries) {
  std::vector<BYTE> block(4 + 4 * std::max<size_t>(entries.size(), 1));
  auto* logical = reinterpret_cast<LOGPALETTE*>(block.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = static_cast<WORD>(entries.size());
  if (!entries.empty()) std::memcpy(block.data() + 4, entries.data(), 4 * entries.size());
  return CreatePalette(logical);
}

// A block holding `bytes`.
HGLOBAL Block(const std::vector<BYTE>& bytes) {
  HGLOBAL block = GlobalAlloc(GHND, bytes.size());
  std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
  GlobalUnlock(block);
  return block;
}

std::vector<BYTE> Bytes(HGLOBAL block) {
  std::vector<BYTE> bytes(GlobalSize(block));
  std::memcpy(bytes.data(), GlobalLock(block), bytes.size());
  GlobalUnlock(block);
  return bytes;
}

// A 24-bit packed bitmap of random pixels with clean row padding.
std::vector<BYTE> RandomFrame(int width, int height, unsigned seed) {
  BITMAPINFOHEADER h = InfoHeader(width, height, 24);
  DWORD row = RowSize(width, 24);
  h.biSizeImage = row * height;
  std::vector<BYTE> bytes(sizeof h + h.biSizeImage, 0);
  std::memcpy(bytes.data(), &h, sizeof h);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < 3 * width; ++i) bytes[sizeof h + y * row + i] = static_cast<BYTE>(random());
  }
  return bytes;
}

// A device bitmap in the screen's format. (A memory context starts with a one-pixel
// monochrome bitmap, so a bitmap compatible with it would be monochrome.)
HBITMAP ScreenBitmap(int width, int height) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

COLORREF PixelOf(HBITMAP bitmap, int x, int y) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  COLORREF color = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteDC(dc);
  return color;
}

TEST(BitmapUtilities, ColourTablesAndSizesFollowTheHeader) {
  BITMAPINFOHEADER h = InfoHeader(320, 240, 24);
  EXPECT_EQ(ColorCount(&h), 0);
  EXPECT_EQ(ColorTableBytes(&h), 0u);
  h = InfoHeader(10, 10, 8);
  EXPECT_EQ(ColorCount(&h), 256);
  EXPECT_EQ(ColorTableBytes(&h), 1024u);
  h.biClrUsed = 20;
  EXPECT_EQ(ColorCount(&h), 20);
  EXPECT_EQ(ColorTableBytes(&h), 80u);
  // A non-zero count gives its low 16 bits, also when they are 0; the bit count is not
  // looked at then.
  h.biClrUsed = 0x10000;
  EXPECT_EQ(ColorCount(&h), 0);
  EXPECT_EQ(ColorTableBytes(&h), 0u);
  h.biClrUsed = 0x10014;
  EXPECT_EQ(ColorCount(&h), 20);
  h = InfoHeader(10, 10, 1);
  EXPECT_EQ(ColorCount(&h), 2);
  h = InfoHeader(10, 10, 16);
  EXPECT_EQ(ColorCount(&h), 0);
  h = InfoHeader(10, 10, 32);
  EXPECT_EQ(ColorTableBytes(&h), 0u);

  BITMAPCOREHEADER core{12, 10, 10, 1, 4};
  EXPECT_EQ(ColorCount(&core), 16);
  EXPECT_EQ(ColorTableBytes(&core), 48u);
  core.bcBitCount = 24;
  EXPECT_EQ(ColorTableBytes(&core), 0u);

  EXPECT_EQ(RowSize(320, 24), 960u);
  EXPECT_EQ(RowSize(321, 24), 964u);
  EXPECT_EQ(RowSize(13, 1), 4u);
  EXPECT_EQ(EstimatePixelBytes(320, 240, 24, BI_RGB), 230400u);
  EXPECT_EQ(EstimatePixelBytes(320, 240, 8, BI_RGB), 76800u);
  EXPECT_EQ(EstimatePixelBytes(320, 240, 8, BI_RLE8), 115200u);
  EXPECT_EQ(EstimatePixelBytes(321, 3, 8, BI_RLE8), 324u * 3 * 3 / 2);
  EXPECT_EQ(EstimatePixelBytes(320, -240, 24, BI_RGB), 230400u);  // top-down rows count too
}

TEST(BitmapUtilities, QueryDibHeaderFillsTheMissingValuesOfTheCopy) {
  BITMAPINFOHEADER header;
  EXPECT_EQ(QueryDibHeader(nullptr, &header), 0);

  BITMAPINFOHEADER h = InfoHeader(10, 3, 8);
  std::vector<BYTE> bytes(40 + 1024 + 36, 0);
  std::memcpy(bytes.data(), &h, sizeof h);
  HGLOBAL block = Block(bytes);
  ASSERT_EQ(QueryDibHeader(block, &header), 1);
  EXPECT_EQ(header.biSizeImage, 36u);
  EXPECT_EQ(header.biClrUsed, 256u);
  EXPECT_EQ(header.biWidth, 10);
  EXPECT_EQ(Bytes(block), bytes);            // the block keeps its zeros
  EXPECT_EQ(GlobalFlags(block) & 0xff, 0u);  // and is unlocked again
  GlobalFree(block);
  EXPECT_EQ(QueryDibHeader(block, &header), 0);

  // A core header is copied as it is.
  std::vector<BYTE> core(12 + 48 + 8, 0);
  BITMAPCOREHEADER c{12, 3, 2, 1, 4};
  std::memcpy(core.data(), &c, sizeof c);
  block = Block(core);
  ASSERT_EQ(QueryDibHeader(block, &header), 1);
  EXPECT_EQ(header.biSize, 12u);
  EXPECT_EQ(header.biSizeImage, 0u);
  EXPECT_EQ(header.biClrUsed, 0u);
  GlobalFree(block);
}

TEST(BitmapUtilities, DuplicatePaletteCopiesEntriesAndRefusesEmptyPalettes) {
  EXPECT_EQ(DuplicatePalette(nullptr), nullptr);
  HPALETTE empty = MakePalette({});
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(DuplicatePalette(empty), nullptr);

  HPALETTE palette = MakePalette({{1, 2, 3, 0}, {4, 5, 6, 0}, {250, 251, 252, 0}});
  HPALETTE copy = DuplicatePalette(palette);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, palette);
  EXPECT_TRUE(DeleteObject(palette));  // the copy stands alone
  PALETTEENTRY entries[4] = {};
  EXPECT_EQ(GetPaletteEntries(copy, 0, 4, entries), 3u);
  EXPECT_EQ(entries[2].peRed, 250);
  EXPECT_EQ(entries[2].peBlue, 252);
  EXPECT_EQ(entries[0].peGreen, 2);
  HPALETTE system = DuplicatePalette(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
  EXPECT_EQ(GetPaletteEntries(system, 0, 0, nullptr), 20u);
  EXPECT_EQ(DuplicatePalette(palette), nullptr);  // stale
  DeleteObject(copy);
  DeleteObject(system);
  DeleteObject(empty);
}

TEST(BitmapUtilities, FrameOfDepthZeroIsA24BitPackedBitmap) {
  HBITMAP bitmap = ScreenBitmap(320, 240);
  HPALETTE palette = MakePalette({{9, 9, 9, 0}});
  HGLOBAL dib = PackedDibFromBitmap(bitmap, BI_RGB, 0, palette);
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(GlobalSize(dib), 230440u);
  EXPECT_EQ(GlobalFlags(dib) & 0xff, 0u);
  BITMAPINFOHEADER h;
  std::memcpy(&h, GlobalLock(dib), sizeof h);
  GlobalUnlock(dib);
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 320);
  EXPECT_EQ(h.biHeight, 240);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(h.biSizeImage, 230400u);
  EXPECT_EQ(h.biClrUsed, 0u);
  GlobalFree(dib);
  // The screen's context let go of the palette again.
  EXPECT_TRUE(DeleteObject(palette));

  // Eight bits bring a full colour table; odd widths pad their rows.
  HBITMAP odd = ScreenBitmap(321, 2);
  dib = PackedDibFromBitmap(odd, BI_RGB, 8, nullptr);
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(GlobalSize(dib), 40u + 1024 + 324 * 2);
  GlobalFree(dib);
  dib = PackedDibFromBitmap(odd, BI_RGB, 24, nullptr);
  EXPECT_EQ(GlobalSize(dib), 40u + 964 * 2);
  GlobalFree(dib);
  DeleteObject(odd);

  // Refusals give nothing: no bitmap, a stale one, compressed rows, masks, odd depths.
  EXPECT_EQ(PackedDibFromBitmap(nullptr, BI_RGB, 24, nullptr), nullptr);
  EXPECT_EQ(PackedDibFromBitmap(bitmap, BI_RLE8, 8, nullptr), nullptr);
  EXPECT_EQ(PackedDibFromBitmap(bitmap, BI_BITFIELDS, 16, nullptr), nullptr);
  EXPECT_EQ(PackedDibFromBitmap(bitmap, BI_RGB, 7, nullptr), nullptr);
  DeleteObject(bitmap);
  EXPECT_EQ(PackedDibFromBitmap(bitmap, BI_RGB, 24, nullptr), nullptr);
}

TEST(BitmapUtilities, RowsWithColourMasksMustBeInTheBlockWhateverTheHeaderSays) {
  // A 32-bit bitmap with colour masks whose biSizeImage claims 4 bytes: its rows are stored
  // whole, so a block of the header, the masks and 4 bytes does not hold them (the conversion
  // once read 40000 bytes past it).
  BITMAPINFOHEADER h = InfoHeader(100, 100, 32, 0, BI_BITFIELDS);
  h.biSizeImage = 4;
  const uint32_t masks[3] = {0xff0000, 0x00ff00, 0x0000ff};
  std::vector<BYTE> bytes(sizeof h + sizeof masks + 4, 0);
  std::memcpy(bytes.data(), &h, sizeof h);
  std::memcpy(bytes.data() + sizeof h, masks, sizeof masks);
  EXPECT_FALSE(PackedDibFits(bytes.data(), bytes.size()));
  HGLOBAL shortBlock = Block(bytes);
  EXPECT_EQ(BitmapFromPackedDib(shortBlock, nullptr), nullptr);
  GlobalFree(shortBlock);

  // With its rows and masks the same bitmap fits and converts.
  bytes.resize(sizeof h + sizeof masks + RowSize(100, 32) * 100);
  EXPECT_TRUE(PackedDibFits(bytes.data(), bytes.size()));
  EXPECT_FALSE(PackedDibFits(bytes.data(), bytes.size() - 1));
  HGLOBAL whole = Block(bytes);
  HBITMAP bitmap = BitmapFromPackedDib(whole, nullptr);
  EXPECT_NE(bitmap, nullptr);
  DeleteObject(bitmap);
  GlobalFree(whole);
  // A header long enough to hold the masks needs no room for them after it.
  h.biSize = 108;
  std::vector<BYTE> longHeader(108 + RowSize(100, 32) * 100, 0);
  std::memcpy(longHeader.data(), &h, sizeof h);
  EXPECT_TRUE(PackedDibFits(longHeader.data(), longHeader.size()));
}

TEST(BitmapUtilities, ARefusedDepthIsNotAllocatedFor) {
  // A depth of 65535 bits would estimate rows of 524 KB for 64 pixels, 33 MB for the whole
  // bitmap; and RLE8, which the platform does not write, half as much again as 8 bits.
  HBITMAP bitmap = CreateCompatibleBitmap(nullptr, 64, 64);
  largestAllocation = 0;
  EXPECT_EQ(PackedDibFromBitmap(bitmap, BI_RGB, 65535, nullptr), nullptr);
  EXPECT_EQ(PackedDibFromBitmap(bitmap, BI_RLE8, 8, nullptr), nullptr);
  EXPECT_LT(largestAllocation.load(), 4096u);
  DeleteObject(bitmap);
}

TEST(BitmapUtilities, A24BitFrameRoundTripsThroughADeviceBitmapUnchanged) {
  std::vector<BYTE> frame = RandomFrame(321, 7, 5);
  HGLOBAL dib = Block(frame);
  HPALETTE palette = MakePalette({{1, 2, 3, 0}});
  HBITMAP bitmap = BitmapFromPackedDib(dib, palette);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(GlobalFlags(dib) & 0xff, 0u);
  // The bottom row comes first in the block and is the bitmap's last row.
  const BYTE* bottomLeft = frame.data() + 40;
  EXPECT_EQ(PixelOf(bitmap, 0, 6), RGB(bottomLeft[2], bottomLeft[1], bottomLeft[0]));
  HGLOBAL back = PackedDibFromBitmap(bitmap, BI_RGB, 0, palette);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Bytes(back), frame);
  EXPECT_TRUE(DeleteObject(palette));
  GlobalFree(back);
  DeleteObject(bitmap);

  EXPECT_EQ(BitmapFromPackedDib(nullptr, nullptr), nullptr);
  // A block shorter than its header promises is refused.
  frame.resize(frame.size() - 1);
  HGLOBAL shortBlock = Block(frame);
  EXPECT_EQ(BitmapFromPackedDib(shortBlock, nullptr), nullptr);
  GlobalFree(shortBlock);
  GlobalFree(dib);
  EXPECT_EQ(BitmapFromPackedDib(dib, nullptr), nullptr);  // stale block
}

TEST(BitmapUtilities, EveryDepthKeepsTheColoursItCanHold) {
  // Sixteen columns in the sixteen standard colours, which every indexed depth of the
  // device's tables holds.
  const COLORREF colors[16] = {
      RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
      RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
      RGB(128, 128, 128), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
      RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)};
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP source = ScreenBitmap(16, 3);
  HGDIOBJ old = SelectObject(dc, source);
  for (int x = 0; x < 16; ++x) {
    HBRUSH brush = CreateSolidBrush(colors[x]);
    RECT column{x, 0, x + 1, 3};
    FillRect(dc, &column, brush);
    DeleteObject(brush);
  }
  SelectObject(dc, old);
  DeleteDC(dc);

  for (WORD depth : {1, 4, 8, 16, 24, 32}) {
    HGLOBAL dib = PackedDibFromBitmap(source, BI_RGB, depth, nullptr);
    ASSERT_NE(dib, nullptr) << depth;
    BITMAPINFOHEADER h;
    ASSERT_EQ(QueryDibHeader(dib, &h), 1);
    EXPECT_EQ(h.biBitCount, depth);
    EXPECT_EQ(GlobalSize(dib), 40 + ColorTableBytes(&h) + RowSize(16, depth) * 3);
    HBITMAP back = BitmapFromPackedDib(dib, nullptr);
    ASSERT_NE(back, nullptr) << depth;
    for (int x = 0; x < 16; ++x) {
      COLORREF want = colors[x];
      if (depth == 1) {
        want = GetRValue(want) + GetGValue(want) + GetBValue(want) > 381 ? RGB(255, 255, 255)
                                                                         : RGB(0, 0, 0);
        if (x == 0 || x == 15) {
          EXPECT_EQ(PixelOf(back, x, 1), want);
        }
        continue;
      }
      COLORREF got = PixelOf(back, x, 1);
      if (depth == 16) {
        // Five bits a channel: within the step of the lost bits.
        EXPECT_LE(std::abs(GetRValue(got) - GetRValue(want)), 7) << x;
        EXPECT_LE(std::abs(GetBValue(got) - GetBValue(want)), 7) << x;
      } else {
        EXPECT_EQ(got, want) << "depth " << depth << " column " << x;
      }
    }
    DeleteObject(back);
    GlobalFree(dib);
  }

  // A top-down packed bitmap draws its first row at the top.
  std::vector<BYTE> frame = RandomFrame(4, 2, 8);
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(frame.data());
  h->biHeight = -2;
  HGLOBAL down = Block(frame);
  HBITMAP bitmap = BitmapFromPackedDib(down, nullptr);
  EXPECT_EQ(PixelOf(bitmap, 0, 0), RGB(frame[42], frame[41], frame[40]));
  DeleteObject(bitmap);
  GlobalFree(down);
  DeleteObject(source);
}

}  // namespace

TEST(BitmapUtilities, ACountWhoseLowBitsAreZeroNeverLetsTheTableBeReadPastTheBlock) {
  // 8 bits a pixel with biClrUsed 0x10000: no colour table by the counting rule, so the rows
  // follow the header at once; the drawing services still read a full table of 256 entries
  // from there, which this block (header and rows only) does not hold.
  BITMAPINFOHEADER h = InfoHeader(10, 3, 8, 0x10000);
  std::vector<BYTE> bytes(40 + RowSize(10, 8) * 3, 7);
  std::memcpy(bytes.data(), &h, sizeof h);
  EXPECT_FALSE(PackedDibFits(bytes.data(), bytes.size()));
  HGLOBAL dib = Block(bytes);
  EXPECT_EQ(BitmapFromPackedDib(dib, nullptr), nullptr);
  GlobalFree(dib);

  // Long enough for that table, it goes to the drawing services, which may take the count
  // as they see fit (this platform's draw it; the system's own may refuse it).
  bytes.resize(40 + 1024, 0);
  EXPECT_TRUE(PackedDibFits(bytes.data(), bytes.size()));
  dib = Block(bytes);
  if (HBITMAP bitmap = BitmapFromPackedDib(dib, nullptr)) {
    BITMAP shape;
    ASSERT_NE(GetObjectA(bitmap, sizeof shape, &shape), 0);
    EXPECT_EQ(shape.bmWidth, 10);
    DeleteObject(bitmap);
  }
  GlobalFree(dib);
}
