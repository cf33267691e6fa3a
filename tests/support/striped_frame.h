// Frames for tests and benchmarks of the detection path: 24-bit packed bitmaps in movable
// blocks, as the frame grabber hands them to the frame handler.
#pragma once

#include <cstring>

#include "platform/memory.h"

namespace testsupport {

// A movable block holding a width x height 24-bit packed bitmap in black and white vertical
// stripes 8 pixels wide; `inverted` swaps the colours, so two frames that differ in it are
// heavy motion for each other. Null when the block cannot be had.
inline HGLOBAL StripedFrame(bool inverted, int width, int height) {
  int stride = (3 * width + 3) & ~3;
  HGLOBAL block = GlobalAlloc(GHND, 40 + static_cast<size_t>(stride) * height);
  auto* bytes = static_cast<unsigned char*>(GlobalLock(block));
  if (!bytes) return block;
  auto put32 = [&](int offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(width));
  put32(8, static_cast<uint32_t>(height));
  bytes[12] = 1;   // planes
  bytes[14] = 24;  // bits per pixel
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      bool white = ((x / 8) % 2 == 0) != inverted;
      std::memset(bytes + 40 + y * stride + 3 * x, white ? 255 : 0, 3);
    }
  GlobalUnlock(block);
  return block;
}

}  // namespace testsupport
