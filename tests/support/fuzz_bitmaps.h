// Bitmap objects made from fuzz input for the fuzz targets of the bitmap utilities and the
// frame windows: palettes, and packed bitmaps in movable blocks whose headers and sizes are
// arbitrary.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gdi.h"
#include "platform/memory.h"
#include "tests/support/fuzz_frames.h"

namespace fuzzsupport {

// A palette of up to 300 entries from the input, or null for none.
inline HPALETTE ConsumePalette(FuzzedDataProvider& input) {
  const int count = input.ConsumeIntegralInRange(0, 300);
  if (count == 0) return nullptr;
  std::vector<BYTE> storage(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * count);
  auto* logical = reinterpret_cast<LOGPALETTE*>(storage.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = static_cast<WORD>(count);
  const std::vector<BYTE> colors = input.ConsumeBytes<BYTE>(4 * static_cast<size_t>(count));
  FillRepeating(reinterpret_cast<unsigned char*>(logical->palPalEntry),
                4 * static_cast<size_t>(count), colors);
  return CreatePalette(logical);
}

// The bytes of a packed bitmap with an arbitrary header: the rows its header describes, then
// cut a little short, or followed by room for a colour table or masks; or cut anywhere.
inline std::vector<unsigned char> ConsumePackedDibBytes(FuzzedDataProvider& input) {
  std::vector<unsigned char> bytes = ConsumeFrame(input, kPixelRowsAfterHeader).bytes;
  if (input.ConsumeIntegralInRange(0, 3) == 0) {
    bytes.resize(input.ConsumeIntegralInRange<size_t>(0, bytes.size()));
    return bytes;
  }
  const int change = input.ConsumeIntegralInRange(-64, 1100);
  bytes.resize(
      static_cast<size_t>(std::max<int64_t>(0, static_cast<int64_t>(bytes.size()) + change)), 0x5A);
  return bytes;
}

// A movable block holding `bytes`; null when it cannot be made.
inline HGLOBAL BlockOf(const std::vector<unsigned char>& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!block) return nullptr;
  if (void* at = GlobalLock(block)) {
    std::memcpy(at, bytes.data(), bytes.size());
    GlobalUnlock(block);
  }
  return block;
}

}  // namespace fuzzsupport
