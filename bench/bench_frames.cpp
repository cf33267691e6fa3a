#include "bench/bench_frames.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352d;
  x ^= x >> 15;
  x *= 0x846ca68b;
  return x ^ (x >> 16);
}

void PutLittleEndian(unsigned char* at, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Walls with a coarse texture, a brighter window area and a darker floor.
unsigned char SceneValue(int x, int y, int channel, int width, int height) {
  int value = 90 + ((x * 3 + y * 2) >> 4) % 40 +
              static_cast<int>(Hash((x >> 3) * 9973 + (y >> 3) * 7919 + channel) % 24);
  if (x > width / 2 && x < width * 4 / 5 && y < height / 3) value += 80;
  if (y > height * 3 / 4) value -= 50;
  return static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
}

}  // namespace

const BenchFramePool& CameraFrames(int width, int height, size_t minimumCount,
                                   size_t minimumBytes) {
  static std::unique_ptr<BenchFramePool> pool;
  static size_t askedCount = 0;
  static size_t askedBytes = 0;
  if (pool && pool->width == width && pool->height == height && askedCount == minimumCount &&
      askedBytes == minimumBytes) {
    return *pool;
  }
  pool.reset();  // release the old pool before building the new one
  pool = std::make_unique<BenchFramePool>();
  askedCount = minimumCount;
  askedBytes = minimumBytes;
  BenchFramePool& p = *pool;
  p.width = width;
  p.height = height;
  p.stride = (size_t{3} * width + 3) & ~size_t{3};
  p.frameBytes = 40 + p.stride * height;
  p.spacing = (p.frameBytes + 63) & ~size_t{63};
  p.count = minimumCount;
  while (p.count * p.spacing < minimumBytes) ++p.count;
  p.bytes.assign(p.count * p.spacing + 64, 0);

  std::vector<unsigned char> scene(p.stride * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        scene[(height - 1 - y) * p.stride + 3 * x + c] = SceneValue(x, y, c, width, height);
      }
    }
  }
  uint32_t noise = 12345;
  for (size_t n = 0; n < p.count; ++n) {
    unsigned char* frame = p.bytes.data() + n * p.spacing;
    PutLittleEndian(frame, 40, 4);
    PutLittleEndian(frame + 4, static_cast<uint32_t>(width), 4);
    PutLittleEndian(frame + 8, static_cast<uint32_t>(height), 4);
    PutLittleEndian(frame + 12, 1, 2);
    PutLittleEndian(frame + 14, 24, 2);
    unsigned char* rows = frame + 40;
    std::memcpy(rows, scene.data(), scene.size());
    // Sensor noise of -3 to +3 on every byte.
    for (size_t i = 0; i < scene.size(); ++i) {
      noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
      const int value = rows[i] + static_cast<int>(noise % 7) - 3;
      rows[i] = static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
    }
    // A figure of a sixth of the picture crossing it.
    const int figureWidth = width / 6;
    const int left = static_cast<int>((n * width / 24) % static_cast<size_t>(width - figureWidth));
    for (int y = height / 3; y < height * 5 / 6; ++y) {
      unsigned char* row = rows + (height - 1 - y) * p.stride;
      for (int x = left; x < left + figureWidth; ++x) {
        row[3 * x] = 60, row[3 * x + 1] = 70,
                row[3 * x + 2] = static_cast<unsigned char>(150 + y % 50);
      }
    }
  }
  return p;
}
