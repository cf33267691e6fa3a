// Fuzzes the packed-bitmap functions with blocks whose headers and sizes are arbitrary: the
// size questions, QueryDibHeader, the conversion to a device bitmap and back at any depth and
// compression, and palette copies. Whatever PackedDibFromBitmap makes must fit its block and
// convert back; a palette copy must hold the same entries.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dib/bitmap_utilities.h"
#include "platform/gdi.h"
#include "platform/memory.h"
#include "tests/support/fuzz_bitmaps.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "bitmap utilities: %s\n", what);
  std::abort();
}

std::vector<PALETTEENTRY> Entries(HPALETTE palette) {
  WORD count = 0;
  if (!palette || GetObjectA(palette, sizeof count, &count) == 0) return {};
  std::vector<PALETTEENTRY> entries(count);
  GetPaletteEntries(palette, 0, count, entries.data());
  return entries;
}

bool SameEntries(const std::vector<PALETTEENTRY>& a, const std::vector<PALETTEENTRY>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](const PALETTEENTRY& x, const PALETTEENTRY& y) {
                                              return std::memcmp(&x, &y, sizeof x) == 0;
                                            });
}

// Asks every size question about the block's bytes that its length allows.
void AskSizes(const std::vector<unsigned char>& bytes, HGLOBAL block) {
  BITMAPINFOHEADER header;
  // A block of no bytes cannot be locked; any other can.
  if (!QueryDibHeader(block, &header)) {
    if (!bytes.empty()) Fail("QueryDibHeader refused a live block");
    return;
  }
  RowSize(header.biWidth, header.biBitCount);
  EstimatePixelBytes(header.biWidth, header.biHeight, header.biBitCount, header.biCompression);
  PackedDibFits(bytes.data(), bytes.size());
  uint32_t headerSize = 0;
  if (bytes.size() >= 4) std::memcpy(&headerSize, bytes.data(), 4);
  const bool whole = bytes.size() >= sizeof(BITMAPINFOHEADER) ||
                     (headerSize == sizeof(BITMAPCOREHEADER) && bytes.size() >= headerSize);
  if (whole) ColorTableBytes(bytes.data());
}

// Converts `bitmap` to a packed bitmap at a depth and compression from the input; what comes
// out must fit its block and make a device bitmap again.
void ConvertBack(FuzzedDataProvider& input, HBITMAP bitmap, HPALETTE palette) {
  static constexpr DWORD kCompressions[] = {BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS};
  static constexpr WORD kDepths[] = {0, 1, 4, 8, 16, 24, 32};
  const DWORD compression =
      input.ConsumeBool() ? input.PickValueInArray(kCompressions) : input.ConsumeIntegral<DWORD>();
  const WORD depth =
      input.ConsumeBool() ? input.PickValueInArray(kDepths) : input.ConsumeIntegral<WORD>();
  HGLOBAL packed = PackedDibFromBitmap(bitmap, compression, depth, palette);
  if (!packed) return;
  const auto* bytes = static_cast<const BYTE*>(GlobalLock(packed));
  if (!bytes || !PackedDibFits(bytes, GlobalSize(packed))) Fail("a converted bitmap overruns");
  GlobalUnlock(packed);
  HBITMAP again = BitmapFromPackedDib(packed, palette);
  if (!again) Fail("a converted bitmap does not convert back");
  DeleteObject(again);
  GlobalFree(packed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  HPALETTE palette = fuzzsupport::ConsumePalette(input);
  HPALETTE copy = DuplicatePalette(palette);
  if (!SameEntries(Entries(palette), Entries(copy))) Fail("a palette copy differs");

  const std::vector<unsigned char> bytes = fuzzsupport::ConsumePackedDibBytes(input);
  if (HGLOBAL block = fuzzsupport::BlockOf(bytes)) {
    AskSizes(bytes, block);
    if (HBITMAP bitmap = BitmapFromPackedDib(block, input.ConsumeBool() ? copy : nullptr)) {
      ConvertBack(input, bitmap, input.ConsumeBool() ? palette : nullptr);
      DeleteObject(bitmap);
    }
    GlobalFree(block);
  }
  if (copy) DeleteObject(copy);
  if (palette) DeleteObject(palette);
  return 0;
}
