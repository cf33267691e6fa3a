// Camera-like 24-bit packed bitmaps for the benchmarks: a textured scene with sensor noise and
// an object that moves from frame to frame.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

// The camera sizes every benchmark runs at.
struct BenchSize {
  int width;
  int height;
};
inline constexpr BenchSize kBenchSizes[] = {{320, 240}, {640, 480}, {1280, 720}, {1920, 1080}};

inline std::string BenchSizeName(BenchSize size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// Reports the time per input pixel beside the time per frame.
inline void CountPixels(benchmark::State& state, BenchSize size) {
  state.counters["time/pixel"] = benchmark::Counter(
      static_cast<double>(size.width) * size.height,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

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
