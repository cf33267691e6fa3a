// Packed bitmaps made from fuzz input, for the fuzz targets of the code that reads frames and
// bitmaps: arbitrary header fields in a block of exactly the bytes the header describes, so
// that a read past the block is caught by the address sanitizer.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fuzzsupport {

// Blocks larger than this are not made (the input gets a null frame instead), so that one
// input stays quick.
constexpr uint64_t kMostFrameBytes = 256u << 10;

// Where the rows begin: right after the header whatever its size (the detector's rule), or
// after the 40-byte information header with the header size only read (the snapshot writer's).
enum RowStart { kPixelRowsAfterHeader, kPixelRowsAfterInfoHeader };

struct Frame {
  std::vector<unsigned char> bytes;
  bool reset = false;  // stands for a null frame
};

inline void PutLittleEndian(unsigned char* at, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// A value that is usually small and sometimes any 32-bit one, so inputs reach both the
// ordinary sizes and the extremes.
inline int32_t ConsumeDimension(FuzzedDataProvider& input, int32_t low, int32_t high) {
  return input.ConsumeBool() ? input.ConsumeIntegral<int32_t>()
                             : input.ConsumeIntegralInRange(low, high);
}

// Bytes of the rows of a packed bitmap: ((bit count x |width| + 31) / 32) x 4 per row.
inline uint64_t RowsBytes(int32_t width, int32_t height, uint32_t bitCount) {
  const uint64_t w = static_cast<uint64_t>(std::llabs(width));
  const uint64_t h = static_cast<uint64_t>(std::llabs(height));
  return (bitCount * w + 31) / 32 * 4 * h;
}

// Fills `bytes` with `pattern` over and over (zeros for an empty pattern).
inline void FillRepeating(unsigned char* bytes, size_t count,
                          const std::vector<unsigned char>& pattern) {
  if (pattern.empty() || count == 0) {
    std::memset(bytes, 0, count);
    return;
  }
  // The pattern once, then what is filled so far doubled until the block is full.
  size_t filled = std::min(count, pattern.size());
  std::memcpy(bytes, pattern.data(), filled);
  while (filled < count) {
    const size_t more = std::min(filled, count - filled);
    std::memcpy(bytes + filled, bytes, more);
    filled += more;
  }
}

// The next frame of the input: a header size, width, height and bit count (often 24) chosen by
// the input, the other header fields from it too, and rows repeating a pattern from the input.
inline Frame ConsumeFrame(FuzzedDataProvider& input, RowStart rowStart) {
  Frame frame;
  if (input.ConsumeIntegralInRange(0, 15) == 0) {
    frame.reset = true;
    return frame;
  }
  const uint32_t headerSize = input.ConsumeBool()
                                  ? input.ConsumeIntegral<uint32_t>()
                                  : static_cast<uint32_t>(input.ConsumeIntegralInRange(0, 160));
  const int32_t width = ConsumeDimension(input, -4, 700);
  const int32_t height = ConsumeDimension(input, -4, 500);
  const uint16_t bitCount =
      input.ConsumeBool() ? 24 : input.ConsumeIntegralInRange<uint16_t>(0, 48);
  unsigned char rest[24];
  const std::vector<unsigned char> restBytes = input.ConsumeBytes<unsigned char>(sizeof rest);
  FillRepeating(rest, sizeof rest, restBytes);
  const std::vector<unsigned char> pattern =
      input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange(0, 64));

  const uint64_t headerBytes = rowStart == kPixelRowsAfterHeader
                                   ? (headerSize < 16 ? 16 : headerSize)
                                   : (headerSize < 40 ? 40 : headerSize);
  const uint64_t blockBytes = headerBytes + RowsBytes(width, height, bitCount);
  if (blockBytes > kMostFrameBytes) {
    frame.reset = true;
    return frame;
  }
  frame.bytes.resize(blockBytes);
  FillRepeating(frame.bytes.data(), frame.bytes.size(), pattern);
  unsigned char* header = frame.bytes.data();
  PutLittleEndian(header, headerSize, 4);
  PutLittleEndian(header + 4, static_cast<uint32_t>(width), 4);
  PutLittleEndian(header + 8, static_cast<uint32_t>(height), 4);
  std::memcpy(header + 12, rest, 2);  // planes
  PutLittleEndian(header + 14, bitCount, 2);
  if (headerBytes >= 40) std::memcpy(header + 16, rest, sizeof rest);
  return frame;
}

}  // namespace fuzzsupport
