// Internals of the motion detector: its picture record, the luminance tables, the passes that
// reduce a frame to a half-size plane and compare it, and the controls its tests use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// An 8-bit grey picture: row i starts at rowPointers[i], which is the block start plus
// i x columns, so the whole plane is also one run of columns x rows bytes. Row 0 is the top.
struct GrayPlane {
  unsigned char** rowPointers;
  uint32_t columns;
  uint32_t rows;
};

// Luminance weights of the first, second and third byte of a pixel: 77 x i, 150 x i, 29 x i.
// They add up to 256, so (sum of the three entries) >> 8 never exceeds 255.
constexpr std::array<uint32_t, 256> MakeLuminanceTable(uint32_t weight) {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) table[i] = weight * i;
  return table;
}
inline constexpr std::array<uint32_t, 256> kFirstByteLuminance = MakeLuminanceTable(77);
inline constexpr std::array<uint32_t, 256> kSecondByteLuminance = MakeLuminanceTable(150);
inline constexpr std::array<uint32_t, 256> kThirdByteLuminance = MakeLuminanceTable(29);

// The grey value of the 3-byte pixel at `pixel`.
inline uint32_t GreyOfPixel(const unsigned char* pixel) {
  return (kFirstByteLuminance[pixel[0]] + kSecondByteLuminance[pixel[1]] +
          kThirdByteLuminance[pixel[2]]) >>
         8;
}

// Where the detector takes its plane memory from. Tests swap the functions to make an
// allocation fail; the program keeps malloc and free.
struct DetectorMemory {
  void* (*allocate)(size_t bytes);
  void (*release)(void* block);
};
extern DetectorMemory detectorMemory;

// The ways the detector computes a half-size plane and compares it. All give the same
// results bit for bit:
// - kPlainPass fills the full-size grey plane, halves it and compares it in three plain loops;
// - kFusedPass reads two stored rows at a time and writes their 2 x 2 means directly;
// - kVectorPass is kFusedPass in AVX2 instructions, used when the processor has them.
enum : int { kPlainPass = 0, kFusedPass = 1, kVectorPass = 2 };

// Selects the pass for the next frames and gives the one in effect (kVectorPass falls back
// to kFusedPass on a processor without AVX2). The detector starts with the fastest.
int UseDetectorPass(int pass);

// Releases the planes and returns the detector to its state at start. The program never
// calls it (the planes live as long as the process); tests use it to start afresh.
void ForgetDetectorState();

// The detector's current reference and work planes (null before they exist).
const GrayPlane* DetectorReferencePlane();
const GrayPlane* DetectorWorkPlane();

// Passes shared between motion_detector.cpp and the vector file.

// Fills `half` (columns x rows, one run) with the 2 x 2 means of the grey values of the frame
// whose `height` stored rows of `stride` bytes begin at `pixels`, bottom row first; plane row
// j takes picture rows 2j and 2j + 1. Starts at half-size column `firstColumn` of every row.
// Gives the sum of the values written.
uint64_t HalveFrameFused(const unsigned char* pixels, size_t stride, uint32_t height,
                         unsigned char* half, uint32_t columns, uint32_t rows,
                         uint32_t firstColumn);

// Adds `shift` to each of the `count` values (saturating at 0 and 255); when `reference` is
// not null, also gives the sum of |value - reference value| over the positions where it
// exceeds `threshold` (0 to 255), else 0.
int64_t ShiftAndCompareFused(unsigned char* values, const unsigned char* reference, size_t count,
                             int shift, int threshold);

#if defined(__x86_64__)
#define CORVANTIS_DETECTOR_HAS_VECTOR_PASS 1
// True when the processor runs the AVX2 pass.
bool VectorPassSupported();
// The AVX2 versions of the two fused functions above (firstColumn 0), same contracts.
uint64_t HalveFrameVector(const unsigned char* pixels, size_t stride, uint32_t height,
                          unsigned char* half, uint32_t columns, uint32_t rows);
int64_t ShiftAndCompareVector(unsigned char* values, const unsigned char* reference, size_t count,
                              int shift, int threshold);
#endif
