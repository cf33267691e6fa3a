// The frame road's conversions at camera sizes: a device bitmap to a 24-bit packed bitmap
// (PackedDibFromBitmap) and back (BitmapFromPackedDib), beside a plain copy of the same
// bytes. The "per_pixel" counter is the time per pixel.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "dib/bitmap_utilities.h"

namespace {

// A packed 24-bit frame of random pixels, and the device bitmap made from it.
struct Frame {
  HGLOBAL dib = nullptr;
  HBITMAP bitmap = nullptr;
  size_t bytes = 0;

  Frame(int width, int height) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biSizeImage = RowSize(width, 24) * height;
    bytes = h.biSizeImage;
    dib = GlobalAlloc(GHND, sizeof h + bytes);
    auto* p = static_cast<BYTE*>(GlobalLock(dib));
    std::memcpy(p, &h, sizeof h);
    std::mt19937 random(1);
    for (size_t i = 0; i < bytes; ++i) p[sizeof h + i] = static_cast<BYTE>(random());
    GlobalUnlock(dib);
    bitmap = BitmapFromPackedDib(dib, nullptr);
  }
  ~Frame() {
    DeleteObject(bitmap);
    GlobalFree(dib);
  }
};

void PerPixel(benchmark::State& state) {
  state.counters["per_pixel"] = benchmark::Counter(
      static_cast<double>(state.range(0) * state.range(1)),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PackedDibFromBitmap(benchmark::State& state) {
  Frame frame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    HGLOBAL dib = PackedDibFromBitmap(frame.bitmap, BI_RGB, 0, nullptr);
    benchmark::DoNotOptimize(dib);
    GlobalFree(dib);
  }
  PerPixel(state);
}

void BM_BitmapFromPackedDib(benchmark::State& state) {
  Frame frame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    HBITMAP bitmap = BitmapFromPackedDib(frame.dib, nullptr);
    benchmark::DoNotOptimize(bitmap);
    DeleteObject(bitmap);
  }
  PerPixel(state);
}

// The floor: one plain copy of the frame's 24-bit rows.
void BM_MemcpyFrameBytes(benchmark::State& state) {
  size_t bytes = RowSize(static_cast<LONG>(state.range(0)), 24) * state.range(1);
  std::vector<BYTE> source(bytes, 7), copy(bytes);
  for (auto _ : state) {
    std::memcpy(copy.data(), source.data(), bytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  PerPixel(state);
}

#define FRAME_SIZES Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_PackedDibFromBitmap)->FRAME_SIZES;
BENCHMARK(BM_BitmapFromPackedDib)->FRAME_SIZES;
BENCHMARK(BM_MemcpyFrameBytes)->FRAME_SIZES;

}  // namespace
