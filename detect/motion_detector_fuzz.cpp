// Fuzzes DetectMotion with a run of frames whose headers are arbitrary: any header size, width,
// height and bit count, each frame in a block of exactly the bytes its header describes (the
// header size, then the rows), so a read past it is caught. Every run goes through each of the
// detector's passes from a fresh state, and the passes must agree on every result and on the
// reference picture they keep. An input may also make one plane allocation fail.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "detect/motion_detector.h"
#include "detect/motion_detector_internal.h"
#include "tests/support/fuzz_frames.h"

namespace {

constexpr int kMostFrames = 6;

struct Outcome {
  std::vector<int> results;
  std::vector<unsigned char> reference;  // the reference plane's values at the end
};

// The allocation that fails (counted from 1 over one run), 0 for none.
int failingAllocation = 0;
int allocations = 0;

void* CountedAllocate(size_t bytes) {
  if (++allocations == failingAllocation) return nullptr;
  return std::malloc(bytes);
}

Outcome Run(int pass, const std::vector<fuzzsupport::Frame>& frames, int pixelThreshold,
            int totalThreshold) {
  ForgetDetectorState();
  UseDetectorPass(pass);
  allocations = 0;
  Outcome outcome;
  for (const fuzzsupport::Frame& frame : frames) {
    outcome.results.push_back(
        DetectMotion(frame.reset ? nullptr : frame.bytes.data(), pixelThreshold, totalThreshold));
  }
  if (const GrayPlane* plane = DetectorReferencePlane()) {
    const size_t count = size_t{plane->columns} * plane->rows;
    outcome.reference.assign(plane->rowPointers[0], plane->rowPointers[0] + count);
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  detectorMemory = {CountedAllocate, std::free};
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int pixelThreshold = input.ConsumeIntegral<int>();
  const int totalThreshold = input.ConsumeIntegral<int>();
  failingAllocation = input.ConsumeIntegralInRange(0, 8);
  std::vector<fuzzsupport::Frame> frames;
  while (input.remaining_bytes() > 0 && frames.size() < kMostFrames) {
    frames.push_back(fuzzsupport::ConsumeFrame(input, fuzzsupport::kPixelRowsAfterHeader));
  }

  const Outcome plain = Run(kPlainPass, frames, pixelThreshold, totalThreshold);
  for (int pass : {kFusedPass, kVectorPass}) {
    const Outcome other = Run(pass, frames, pixelThreshold, totalThreshold);
    if (other.results != plain.results || other.reference != plain.reference) {
      std::fprintf(stderr, "pass %d disagrees with the plain pass\n", pass);
      std::abort();
    }
  }
  ForgetDetectorState();
  return 0;
}
