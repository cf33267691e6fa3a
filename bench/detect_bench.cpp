// DetectMotion per frame at camera sizes, fed the same frame again (hot) or frames cycling
// through a pool larger than the caches (from memory); beside it the time to merely read the
// frame once (the memory floor), the plain pass, and, where OpenCV is installed, the closest
// OpenCV pipeline on one thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "bench/bench_frames.h"
#include "bench/bench_ratios.h"
#include "detect/motion_detector.h"
#include "detect/motion_detector_internal.h"

#ifdef CORVANTIS_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// The detector's thresholds at their default settings.
constexpr int kPixelThreshold = 15;
constexpr int kTotalThreshold = 30 * 1000;

// Hot runs use the first frame of the same pool, so all runs of a size share one pool.
const BenchFramePool& Frames(BenchSize size) {
  return CameraFrames(size.width, size.height, 4, kBeyondCacheBytes);
}

void DetectBench(benchmark::State& state, BenchSize size, int pass, bool fromMemory) {
  const BenchFramePool& frames = Frames(size);
  ForgetDetectorState();
  if (UseDetectorPass(pass) != pass) {
    state.SkipWithError("pass not available on this processor");
    return;
  }
  DetectMotion(frames.Frame(0), kPixelThreshold, kTotalThreshold);
  size_t next = 0;
  int64_t motions = 0;
  for (auto _ : state) {
    const unsigned char* frame = frames.Frame(fromMemory ? ++next : 0);
    const int result = DetectMotion(frame, kPixelThreshold, kTotalThreshold);
    benchmark::DoNotOptimize(result);
    motions += result == kMotion;
  }
  state.counters["motion"] =
      benchmark::Counter(static_cast<double>(motions), benchmark::Counter::kAvgIterations);
  CountPixels(state, size);
  ForgetDetectorState();
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) uint64_t ReadAllAvx2(const unsigned char* bytes, size_t size) {
  __m256i sum0 = _mm256_setzero_si256();
  __m256i sum1 = _mm256_setzero_si256();
  const __m256i zero = _mm256_setzero_si256();
  size_t i = 0;
  for (; i + 64 <= size; i += 64) {
    const auto* at = reinterpret_cast<const __m256i*>(bytes + i);
    sum0 = _mm256_add_epi64(sum0, _mm256_sad_epu8(_mm256_loadu_si256(at), zero));
    sum1 = _mm256_add_epi64(sum1, _mm256_sad_epu8(_mm256_loadu_si256(at + 1), zero));
  }
  alignas(32) uint64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_add_epi64(sum0, sum1));
  uint64_t total = lanes[0] + lanes[1] + lanes[2] + lanes[3];
  for (; i < size; ++i) total += bytes[i];
  return total;
}
#endif

// Reads every byte of the frame once, as fast as the processor can.
uint64_t ReadAll(const unsigned char* bytes, size_t size) {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) return ReadAllAvx2(bytes, size);
#endif
  uint64_t total = 0;
  for (size_t i = 0; i < size; ++i) total += bytes[i];
  return total;
}

void FloorBench(benchmark::State& state, BenchSize size, bool fromMemory) {
  const BenchFramePool& frames = Frames(size);
  size_t next = 0;
  for (auto _ : state) {
    const unsigned char* frame = frames.Frame(fromMemory ? ++next : 0);
    benchmark::DoNotOptimize(ReadAll(frame, frames.frameBytes));
  }
  CountPixels(state, size);
}

#ifdef CORVANTIS_HAVE_OPENCV
// The same steps in OpenCV on one thread: grey conversion, 2 x 2 area reduction, the mean moved
// to 127 with saturation, absolute difference, the pixel threshold, the sum and the decision.
void OpenCvBench(benchmark::State& state, BenchSize size, bool fromMemory) {
  const BenchFramePool& frames = Frames(size);
  cv::setNumThreads(0);
  cv::Mat grey, half, normalised, reference, difference, counted;
  const cv::Size halfSize(size.width / 2, size.height / 2);
  auto detect = [&](const unsigned char* frame, bool compare) {
    const cv::Mat bgr(size.height, size.width, CV_8UC3, const_cast<unsigned char*>(frame + 40),
                      frames.stride);
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    cv::resize(grey, half, halfSize, 0, 0, cv::INTER_AREA);
    const double shift = 127 - std::floor(cv::mean(half)[0]);
    half.convertTo(normalised, -1, 1.0, shift);
    if (!compare) {
      cv::swap(normalised, reference);
      return 0;
    }
    cv::absdiff(normalised, reference, difference);
    cv::threshold(difference, counted, kPixelThreshold, 0, cv::THRESH_TOZERO);
    if (cv::sum(counted)[0] > kTotalThreshold) {
      cv::swap(normalised, reference);
      return 1;
    }
    return 0;
  };
  detect(frames.Frame(0), false);
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(detect(frames.Frame(fromMemory ? ++next : 0), true));
  }
  CountPixels(state, size);
}
#endif

// Registers every benchmark of one size together, so the frame pool is built once per size.
bool RegisterDetectBenchmarks() {
  for (const BenchSize size : kBenchSizes) {
    const std::string name = BenchSizeName(size);
    for (const char* mode : {"hot", "ram"}) {
      const bool fromMemory = mode[0] == 'r';
      const std::string tail = std::string("/") + mode + "/" + name;
      benchmark::RegisterBenchmark(("detect/fast" + tail).c_str(), DetectBench, size, kVectorPass,
                                   fromMemory)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("detect/plain" + tail).c_str(), DetectBench, size, kPlainPass,
                                   fromMemory)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("detect/floor" + tail).c_str(), FloorBench, size, fromMemory)
          ->Unit(benchmark::kMicrosecond);
#ifdef CORVANTIS_HAVE_OPENCV
      benchmark::RegisterBenchmark(("detect/opencv" + tail).c_str(), OpenCvBench, size, fromMemory)
          ->Unit(benchmark::kMicrosecond);
#endif
    }
    const bool large = size.width >= 1280;
    AddBenchRatio("DetectMotion / memory floor, from memory, " + name, "detect/fast/ram/" + name,
                  "detect/floor/ram/" + name, large ? kAtMost : kNoGoal, 1.5);
    AddBenchRatio("DetectMotion / memory floor, hot, " + name, "detect/fast/hot/" + name,
                  "detect/floor/hot/" + name);
#ifdef CORVANTIS_HAVE_OPENCV
    AddBenchRatio("OpenCV pipeline / DetectMotion, hot, " + name, "detect/opencv/hot/" + name,
                  "detect/fast/hot/" + name, kAtLeast, 2.5);
    AddBenchRatio("OpenCV pipeline / DetectMotion, from memory, " + name,
                  "detect/opencv/ram/" + name, "detect/fast/ram/" + name, kAtLeast, 2.5);
#endif
    AddBenchRatio("plain pass / DetectMotion, from memory, " + name, "detect/plain/ram/" + name,
                  "detect/fast/ram/" + name);
  }
  return true;
}

const bool registered = RegisterDetectBenchmarks();

}  // namespace
