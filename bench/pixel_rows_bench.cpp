// The row conversions between 24-bit packed pixels and the screen's 32-bit pixels, over the
// rows of one 640 x 480 frame, in each version the processor runs, beside the detector on a
// frame of that size (BM_DetectorAlone640): the vector rows should cost no more than it.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench/bench_ratios.h"
#include "platform/gdi/pixel_rows.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr const char* kCodeNames[] = {"plain", "ssse3", "avx2"};

struct FrameRows {
  std::vector<BYTE> packed = std::vector<BYTE>(size_t{3} * kWidth * kHeight);
  std::vector<uint32_t> pixels = std::vector<uint32_t>(size_t{kWidth} * kHeight);

  FrameRows() {
    std::mt19937 random(3);
    for (BYTE& byte : packed) byte = static_cast<BYTE>(random());
    for (uint32_t& pixel : pixels) pixel = static_cast<uint32_t>(random()) & 0xFFFFFF;
  }
};

// All rows of the frame one way: spread to screen pixels, or packed into 24-bit rows.
void ConvertRows(benchmark::State& state, gdi::RowCode code, bool spread) {
  if (gdi::UseRowCode(code) != code) {
    state.SkipWithError("the processor lacks these instructions");
    return;
  }
  FrameRows frame;
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y) {
      BYTE* packed = frame.packed.data() + size_t{3} * kWidth * y;
      uint32_t* pixels = frame.pixels.data() + size_t{kWidth} * y;
      if (spread) {
        gdi::PixelsFrom24(packed, kWidth, pixels);
      } else {
        gdi::PixelsTo24(pixels, kWidth, packed);
      }
    }
    benchmark::ClobberMemory();
  }
  gdi::UseRowCode(gdi::RowCode::kAvx2);
}

const bool registered = [] {
  for (gdi::RowCode code : {gdi::RowCode::kPlain, gdi::RowCode::kSsse3, gdi::RowCode::kAvx2}) {
    const std::string name = kCodeNames[static_cast<int>(code)];
    benchmark::RegisterBenchmark(("rows/from24/" + name + "/640x480").c_str(), ConvertRows, code,
                                 true)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("rows/to24/" + name + "/640x480").c_str(), ConvertRows, code,
                                 false)
        ->Unit(benchmark::kMicrosecond);
  }
  AddBenchRatio("24-bit rows to screen pixels, AVX2 / DetectMotion, 640x480",
                "rows/from24/avx2/640x480", "BM_DetectorAlone640", kAtMost, 1.0);
  AddBenchRatio("screen pixels to 24-bit rows, AVX2 / DetectMotion, 640x480",
                "rows/to24/avx2/640x480", "BM_DetectorAlone640", kAtMost, 1.0);
  AddBenchRatio("24-bit rows to screen pixels, plain / AVX2, 640x480", "rows/from24/plain/640x480",
                "rows/from24/avx2/640x480");
  AddBenchRatio("screen pixels to 24-bit rows, plain / AVX2, 640x480", "rows/to24/plain/640x480",
                "rows/to24/avx2/640x480");
  return true;
}();

}  // namespace
