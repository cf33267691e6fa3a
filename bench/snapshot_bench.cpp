// WriteSnapshot at camera sizes beside libjpeg compressing the same frame into memory with
// the same settings, reading the stored rows directly.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <jpeglib.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_frames.h"
#include "bench/bench_ratios.h"
#include "snapshot/snapshot_writer.h"

namespace {

constexpr int kQuality = 70;

void WriteSnapshotBench(benchmark::State& state, BenchSize size) {
  const BenchFramePool& frames = CameraFrames(size.width, size.height, 1, 0);
  const std::filesystem::path previous = std::filesystem::current_path();
  char pattern[] = "/tmp/snapshot-bench-XXXXXX";
  if (!mkdtemp(pattern)) {
    state.SkipWithError("no temporary directory");
    return;
  }
  std::filesystem::current_path(pattern);
  videoWidth = size.width;
  videoHeight = size.height;
  for (auto _ : state) benchmark::DoNotOptimize(WriteSnapshot(frames.Frame(0), kQuality));
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(kSnapshotFileName));
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(pattern);
  CountPixels(state, size);
}

// One compression per iteration, set up and torn down like the writer's, into a memory
// buffer, with the rows handed over in place (bottom row last) without any copy.
void MemoryCompressBench(benchmark::State& state, BenchSize size) {
  const BenchFramePool& frames = CameraFrames(size.width, size.height, 1, 0);
  const unsigned char* rows = frames.Frame(0) + 40;
  std::vector<JSAMPROW> rowPointers(size.height);
  for (int s = 0; s < size.height; ++s) {
    rowPointers[s] = const_cast<JSAMPROW>(rows + (size.height - 1 - s) * frames.stride);
  }
  unsigned long capacity = 3ul * size.width * size.height + 65536;
  auto* buffer = static_cast<unsigned char*>(std::malloc(capacity));
  unsigned long written = 0;
  for (auto _ : state) {
    jpeg_error_mgr errorManager;
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&errorManager);
    jpeg_create_compress(&cinfo);
    unsigned char* out = buffer;
    unsigned long outSize = capacity;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(size.width);
    cinfo.image_height = static_cast<JDIMENSION>(size.height);
    cinfo.input_components = 3;
#ifdef JCS_EXTENSIONS
    cinfo.in_color_space = JCS_EXT_BGR;
#else
    cinfo.in_color_space = JCS_RGB;  // colours swapped, the work the same
#endif
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kQuality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      jpeg_write_scanlines(&cinfo, &rowPointers[cinfo.next_scanline],
                           cinfo.image_height - cinfo.next_scanline);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    written = outSize;
    if (out != buffer) std::free(out);  // grew beyond the buffer (never at these sizes)
  }
  std::free(buffer);
  state.counters["bytes"] = static_cast<double>(written);
  CountPixels(state, size);
}

bool RegisterSnapshotBenchmarks() {
  for (const BenchSize size : kBenchSizes) {
    const std::string name = BenchSizeName(size);
    benchmark::RegisterBenchmark(("snapshot/write/" + name).c_str(), WriteSnapshotBench, size)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("snapshot/memory/" + name).c_str(), MemoryCompressBench, size)
        ->Unit(benchmark::kMicrosecond);
    AddBenchRatio("WriteSnapshot / compress into memory, " + name, "snapshot/write/" + name,
                  "snapshot/memory/" + name, kAtMost, 1.2);
  }
  return true;
}

const bool registered = RegisterSnapshotBenchmarks();

}  // namespace
