// The row conversions: every version the processor runs gives the bytes of the plain one,
// which gives those of a pixel-by-pixel reading of the formats, at every width, and none
// reads or writes past its row.
#include "platform/gdi/pixel_rows.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace gdi {
namespace {

constexpr BYTE kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

// Widths around every step of the vector loops (16 and 32 pixels), and camera widths.
std::vector<int> Widths() {
  std::vector<int> widths;
  for (int w = 0; w <= 100; ++w) widths.push_back(w);
  for (int w : {127, 128, 129, 319, 320, 321, 639, 640, 641, 1279, 1920}) widths.push_back(w);
  return widths;
}

std::vector<RowCode> CodesThisProcessorRuns() {
  std::vector<RowCode> codes;
  for (RowCode code : {RowCode::kPlain, RowCode::kSsse3, RowCode::kAvx2}) {
    if (UseRowCode(code) == code) codes.push_back(code);
  }
  UseRowCode(RowCode::kAvx2);
  return codes;
}

std::string Name(RowCode code, int width) {
  static const char* names[] = {"plain", "SSSE3", "AVX2"};
  return std::string(names[static_cast<int>(code)]) + ", width " + std::to_string(width);
}

TEST(PixelRows, EveryVersionPacksScreenPixelsIntoTheirThreeBytes) {
  std::mt19937 random(11);
  for (RowCode code : CodesThisProcessorRuns()) {
    ASSERT_EQ(UseRowCode(code), code);
    for (int width : Widths()) {
      // Whatever the unused top byte holds, it is left out.
      std::vector<uint32_t> pixels(static_cast<size_t>(width));
      for (uint32_t& pixel : pixels) pixel = static_cast<uint32_t>(random());
      std::vector<BYTE> row(3 * pixels.size() + kGuardBytes, kGuard);
      PixelsTo24(pixels.data(), width, row.data());
      std::vector<BYTE> expected(row.size(), kGuard);
      for (int x = 0; x < width; ++x) {
        expected[3 * x] = static_cast<BYTE>(pixels[x]);            // blue
        expected[3 * x + 1] = static_cast<BYTE>(pixels[x] >> 8);   // green
        expected[3 * x + 2] = static_cast<BYTE>(pixels[x] >> 16);  // red
      }
      ASSERT_EQ(row, expected) << Name(code, width);
    }
  }
}

TEST(PixelRows, EveryVersionSpreadsThreeBytesIntoAScreenPixel) {
  std::mt19937 random(12);
  for (RowCode code : CodesThisProcessorRuns()) {
    ASSERT_EQ(UseRowCode(code), code);
    for (int width : Widths()) {
      // A row of exactly its bytes, so that reading past it is caught by the address sanitizer.
      std::vector<BYTE> row(3 * static_cast<size_t>(width));
      for (BYTE& byte : row) byte = static_cast<BYTE>(random());
      std::vector<uint32_t> pixels(static_cast<size_t>(width) + kGuardBytes, 0xA5A5A5A5u);
      PixelsFrom24(row.data(), width, pixels.data());
      std::vector<uint32_t> expected(pixels.size(), 0xA5A5A5A5u);
      for (int x = 0; x < width; ++x) {
        expected[x] = uint32_t{row[3 * x + 2]} << 16 | uint32_t{row[3 * x + 1]} << 8 | row[3 * x];
      }
      ASSERT_EQ(pixels, expected) << Name(code, width);
    }
  }
}

TEST(PixelRows, TheFastestVersionIsTheOneInEffect) {
  const std::vector<RowCode> codes = CodesThisProcessorRuns();
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), RowCode::kPlain);
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) {
    EXPECT_EQ(codes.back(), RowCode::kAvx2);
  }
#endif
  EXPECT_EQ(UseRowCode(RowCode::kAvx2), codes.back());
}

}  // namespace
}  // namespace gdi
