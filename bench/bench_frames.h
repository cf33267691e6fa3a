// Camera-like 24-bit packed bitmaps for the benchmarks: a textured scene with sensor noise and
// an object that moves from frame to frame.
#pragma once

#include <cstddef>
#include <vector>

struct BenchFramePool {
  int width = 0;
  int height = 0;
  size_t stride = 0;      // bytes of one stored row
  size_t frameBytes = 0;  // header and rows
  size_t spacing = 0;     // distance between frame starts (64-byte aligned)
  size_t count = 0;
  std::vector<unsigned char> bytes;

  const unsigned char* Frame(size_t index) const {
    return bytes.data() + spacing * (index % count);
  }
};

// At least `minimumCount` frames of width x height and at least `minimumBytes` bytes in all.
// The pool is kept until a pool of another shape is asked for.
const BenchFramePool& CameraFrames(int width, int height, size_t minimumCount, size_t minimumBytes);

// A pool far larger than the processor's caches, so that each frame comes from memory.
inline constexpr size_t kBeyondCacheBytes = size_t{96} << 20;
