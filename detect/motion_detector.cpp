// The motion detector: each 24-bit frame becomes a grey picture, halved by 2 x 2 averaging
// with its mean brightness moved to 127, and is compared with the reference picture kept
// from an earlier frame.
#include "detect/motion_detector.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "detect/alarm_state.h"
#include "detect/motion_detector_internal.h"

DetectorMemory detectorMemory = {std::malloc, std::free};

namespace {

// The detector's state, one for the process, used by one thread at a time (the thread that
// grabs frames). Planes are created on first use and kept until the process ends.

// The full-size grey plane; its columns and rows are the accepted frame size once it exists.
GrayPlane fullPlane{};
// Storage of the two half-size planes. `referencePlane` and `workPlane` point into it and
// are exchanged when a frame with motion becomes the reference.
GrayPlane halfPlanes[2]{};
GrayPlane* referencePlane = nullptr;
GrayPlane* workPlane = nullptr;
// 1 while the reference plane holds a picture to compare with.
int referenceValid = 0;
// The pass that computes and compares half-size planes (see motion_detector_internal.h).
int detectorPass = -1;

// The header fields the detector reads, little-endian.
struct DibHeaderFields {
  uint32_t headerSize;  // offset of the first pixel row
  int32_t width;
  int32_t height;  // positive: rows stored bottom row first
  uint16_t bitCount;
};

uint32_t ReadLittleEndian(const unsigned char* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

DibHeaderFields ReadDibHeader(const unsigned char* frame) {
  return {ReadLittleEndian(frame, 4), static_cast<int32_t>(ReadLittleEndian(frame + 4, 4)),
          static_cast<int32_t>(ReadLittleEndian(frame + 8, 4)),
          static_cast<uint16_t>(ReadLittleEndian(frame + 14, 2))};
}

// Bytes of one stored 24-bit row: 3 x width rounded up to a multiple of 4.
size_t RowStride(uint32_t width) {
  return (size_t{3} * width + 3) & ~size_t{3};
}

// Creates a plane of columns x rows into `plane` (whose columns and rows are recorded by the
// caller). On failure writes "out of memory allocating an array", frees what it took and
// gives false. The bytes are not cleared.
bool AllocGrayPlane(uint32_t columns, uint32_t rows, GrayPlane* plane) {
  auto** rowPointers =
      static_cast<unsigned char**>(detectorMemory.allocate(sizeof(unsigned char*) * rows));
  if (!rowPointers) {
    std::fputs("out of memory allocating an array", stdout);
    return false;
  }
  auto* block = static_cast<unsigned char*>(detectorMemory.allocate(size_t{columns} * rows));
  if (!block) {
    std::fputs("out of memory allocating an array", stdout);
    detectorMemory.release(rowPointers);
    return false;
  }
  for (uint32_t i = 0; i < rows; ++i) rowPointers[i] = block + size_t{i} * columns;
  plane->rowPointers = rowPointers;
  return true;
}

void ReleaseGrayPlane(GrayPlane* plane) {
  if (plane->rowPointers) {
    detectorMemory.release(plane->rowPointers[0]);
    detectorMemory.release(plane->rowPointers);
  }
  *plane = GrayPlane{};
}

// Creates the full-size plane on the first call; afterwards checks that the frame has its
// size. False (after "out of memory allocating buffer" when creating failed) refuses the frame.
bool PrepareFullPlane(uint32_t width, uint32_t height) {
  if (!fullPlane.rowPointers) {
    GrayPlane plane{};
    if (!AllocGrayPlane(width, height, &plane)) {
      std::fputs("out of memory allocating buffer", stdout);
      return false;
    }
    // The size is recorded only once the plane exists; a failed frame leaves it unset.
    fullPlane = {plane.rowPointers, width, height};
  }
  return width == fullPlane.columns && height == fullPlane.rows;
}

// Records the size of a half-size plane and creates it in `record`; gives the record, or null
// after "out of memory allocating buffer".
GrayPlane* CreateHalfPlane(GrayPlane* record, uint32_t columns, uint32_t rows) {
  record->columns = columns;
  record->rows = rows;
  if (!AllocGrayPlane(columns, rows, record)) {
    std::fputs("out of memory allocating buffer", stdout);
    return nullptr;
  }
  return record;
}

// Fills the full-size plane from the stored rows: the first stored row (the bottom of the
// picture) becomes the plane's last row. Gives the plane, or null when it cannot be created
// or the frame has another size.
const GrayPlane* DibToGray(const unsigned char* pixels, uint32_t width, uint32_t height) {
  if (!PrepareFullPlane(width, height)) return nullptr;
  const size_t stride = RowStride(width);
  for (uint32_t stored = 0; stored < height; ++stored) {
    const unsigned char* pixel = pixels + stored * stride;
    unsigned char* grey = fullPlane.rowPointers[height - 1 - stored];
    for (uint32_t x = 0; x < width; ++x, pixel += 3) {
      grey[x] = static_cast<unsigned char>(GreyOfPixel(pixel));
    }
  }
  return &fullPlane;
}

// Fills `half` with the 2 x 2 means of the full plane (an odd last column or row unused) and
// moves its mean to 127, saturating at 0 and 255.
void HalveAndNormalize(const GrayPlane& full, GrayPlane* half) {
  uint64_t sum = 0;
  for (uint32_t j = 0; j < half->rows; ++j) {
    const unsigned char* upper = full.rowPointers[2 * j];
    const unsigned char* lower = full.rowPointers[2 * j + 1];
    for (uint32_t k = 0; k < half->columns; ++k) {
      const uint32_t value =
          (upper[2 * k] + upper[2 * k + 1] + lower[2 * k] + lower[2 * k + 1]) >> 2;
      half->rowPointers[j][k] = static_cast<unsigned char>(value);
      sum += value;
    }
  }
  const uint64_t count = uint64_t{half->columns} * half->rows;
  const int mean = static_cast<int>(sum / count);
  if (mean == 127) return;
  const int shift = 127 - mean;
  unsigned char* values = half->rowPointers[0];
  for (uint64_t i = 0; i < count; ++i) {
    int value = values[i] + shift;
    if (value > 255) value = 255;
    if (value < 0) value = 0;
    values[i] = static_cast<unsigned char>(value);
  }
}

// Sum of the whole |difference| over the positions where it exceeds the pixel threshold.
int64_t ComparePlanes(const GrayPlane& work, const GrayPlane& reference, int pixelThreshold) {
  const uint64_t count = uint64_t{work.columns} * work.rows;
  const unsigned char* now = work.rowPointers[0];
  const unsigned char* before = reference.rowPointers[0];
  int64_t total = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const int d = now[i] - before[i];
    if (d > pixelThreshold || d < -int64_t{pixelThreshold}) total += d < 0 ? -d : d;
  }
  return total;
}

// Halves and normalises the frame into `target` with the selected pass; when `reference` is
// given, also compares and gives the total difference.
int64_t ReduceFrame(const unsigned char* pixels, uint32_t width, uint32_t height, GrayPlane* target,
                    const GrayPlane* reference, int pixelThreshold) {
  if (detectorPass == kPlainPass) {
    HalveAndNormalize(fullPlane, target);
    return reference ? ComparePlanes(*target, *reference, pixelThreshold) : 0;
  }
  const size_t stride = RowStride(width);
  unsigned char* values = target->rowPointers[0];
  const unsigned char* before = reference ? reference->rowPointers[0] : nullptr;
  const size_t count = size_t{target->columns} * target->rows;
#ifdef CORVANTIS_DETECTOR_HAS_VECTOR_PASS
  if (detectorPass == kVectorPass) {
    const uint64_t sum =
        HalveFrameVector(pixels, stride, height, values, target->columns, target->rows);
    const int shift = 127 - static_cast<int>(sum / count);
    return ShiftAndCompareVector(values, before, count, shift, pixelThreshold);
  }
#endif
  const uint64_t sum =
      HalveFrameFused(pixels, stride, height, values, target->columns, target->rows, 0);
  const int shift = 127 - static_cast<int>(sum / count);
  return ShiftAndCompareFused(values, before, count, shift, pixelThreshold);
}

}  // namespace

uint64_t HalveFrameFused(const unsigned char* pixels, size_t stride, uint32_t height,
                         unsigned char* half, uint32_t columns, uint32_t rows,
                         uint32_t firstColumn) {
  uint64_t sum = 0;
  for (uint32_t j = 0; j < rows; ++j) {
    // Picture row 2j is stored row height - 1 - 2j; picture row 2j + 1 is stored just before.
    const unsigned char* upper = pixels + (height - 1 - 2 * j) * stride;
    const unsigned char* lower = upper - stride;
    unsigned char* out = half + size_t{j} * columns;
    for (uint32_t k = firstColumn; k < columns; ++k) {
      const unsigned char* a = upper + size_t{6} * k;
      const unsigned char* b = lower + size_t{6} * k;
      const uint32_t value =
          (GreyOfPixel(a) + GreyOfPixel(a + 3) + GreyOfPixel(b) + GreyOfPixel(b + 3)) >> 2;
      out[k] = static_cast<unsigned char>(value);
      sum += value;
    }
  }
  return sum;
}

int64_t ShiftAndCompareFused(unsigned char* values, const unsigned char* reference, size_t count,
                             int shift, int threshold) {
  int64_t total = 0;
  for (size_t i = 0; i < count; ++i) {
    int value = values[i] + shift;
    value = value < 0 ? 0 : value > 255 ? 255 : value;
    values[i] = static_cast<unsigned char>(value);
    if (reference) {
      const int d = value - reference[i];
      const int magnitude = d < 0 ? -d : d;
      if (magnitude > threshold) total += magnitude;
    }
  }
  return total;
}

int UseDetectorPass(int pass) {
#ifdef CORVANTIS_DETECTOR_HAS_VECTOR_PASS
  if (pass == kVectorPass && !VectorPassSupported()) pass = kFusedPass;
#else
  if (pass == kVectorPass) pass = kFusedPass;
#endif
  if (pass != kPlainPass && pass != kFusedPass && pass != kVectorPass) pass = kFusedPass;
  detectorPass = pass;
  return pass;
}

void ForgetDetectorState() {
  ReleaseGrayPlane(&fullPlane);
  ReleaseGrayPlane(&halfPlanes[0]);
  ReleaseGrayPlane(&halfPlanes[1]);
  referencePlane = nullptr;
  workPlane = nullptr;
  referenceValid = 0;
}

const GrayPlane* DetectorReferencePlane() {
  return referencePlane;
}
const GrayPlane* DetectorWorkPlane() {
  return workPlane;
}

int DetectMotion(const unsigned char* frame, int pixelThreshold, int totalThreshold) {
  if (!frame) {
    referenceValid = 0;
    return kNoMotion;
  }
  if (detectorPass < 0) UseDetectorPass(kVectorPass);

  const DibHeaderFields header = ReadDibHeader(frame);
  if (header.bitCount != 24) {
    std::fputs("Can only handle 24 bit images\n", stdout);
    return kRefused;
  }
  // A frame narrower or lower than 2 pixels has no half-size picture to compare, and a
  // negative height (rows stored top row first) is not a frame this detector reads: both are
  // refused before any state is touched.
  if (header.width < 2 || header.height < 2) return kRefused;
  const auto width = static_cast<uint32_t>(header.width);
  const auto height = static_cast<uint32_t>(header.height);
  const unsigned char* pixels = frame + header.headerSize;

  // The plain pass converts the whole frame now; the others read the stored rows directly
  // when they halve it, so the full-size plane only fixes the accepted size for them.
  const bool accepted = detectorPass == kPlainPass ? DibToGray(pixels, width, height) != nullptr
                                                   : PrepareFullPlane(width, height);
  if (!accepted) return kRefused;

  const uint32_t halfColumns = width / 2;
  const uint32_t halfRows = height / 2;
  if (!referencePlane) {
    referencePlane = CreateHalfPlane(&halfPlanes[0], halfColumns, halfRows);
    if (!referencePlane) return kRefused;
    ReduceFrame(pixels, width, height, referencePlane, nullptr, 0);
    referenceValid = 1;
    return kNoMotion;
  }
  if (!workPlane) {
    workPlane = CreateHalfPlane(&halfPlanes[1], halfColumns, halfRows);
    if (!workPlane) return kRefused;
  }
  if (halfColumns != referencePlane->columns || halfRows != referencePlane->rows) {
    return kRefused;
  }
  if (!referenceValid) {
    ReduceFrame(pixels, width, height, referencePlane, nullptr, 0);
    referenceValid = 1;
    return kNoMotion;
  }
  const int64_t total =
      ReduceFrame(pixels, width, height, workPlane, referencePlane, pixelThreshold);
  if (total > totalThreshold) {
    // The frame with motion becomes the reference; no pixels are copied.
    std::swap(referencePlane, workPlane);
    referenceValid = 1;
    return kMotion;
  }
  return kNoMotion;
}

int ResetDetector() {
  DetectMotion(nullptr, 0, 0);
  AlarmState.motionDetected = 0;
  return 0;
}
