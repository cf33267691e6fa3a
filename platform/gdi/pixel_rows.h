// Rows of 24-bit packed pixels (blue, green, red) to and from the screen's 32-bit pixels
// (0x00RRGGBB, the top byte 0), the conversions a camera frame passes through several times
// on its way to the frame handler. Each has a plain version and vector versions (SSSE3 and
// AVX2, used where the processor has them) that give the same bytes. Internal to platform/gdi.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace gdi {

// Writes `width` pixels as 3 x `width` bytes of `row`, and nothing beyond.
void PixelsTo24(const uint32_t* pixels, int width, BYTE* row);
// Reads 3 x `width` bytes of `row`, and nothing beyond, into `width` pixels.
void PixelsFrom24(const BYTE* row, int width, uint32_t* pixels);

// The code the two conversions run.
enum class RowCode : int { kPlain = 0, kSsse3 = 1, kAvx2 = 2 };
// Chooses the code for the conversions from now on and gives the one in effect: the fastest
// the processor has when it lacks the one asked for. The process starts with the fastest;
// tests and benchmarks compare the others with it.
RowCode UseRowCode(RowCode code);

// The versions themselves, with the contracts above. The vector ones exist on x86-64 only
// and must be called only where the processor has their instructions.
void PixelsTo24Plain(const uint32_t* pixels, int width, BYTE* row);
void PixelsFrom24Plain(const BYTE* row, int width, uint32_t* pixels);
#if defined(__x86_64__)
#define CORVANTIS_GDI_HAS_VECTOR_ROWS 1
void PixelsTo24Ssse3(const uint32_t* pixels, int width, BYTE* row);
void PixelsFrom24Ssse3(const BYTE* row, int width, uint32_t* pixels);
void PixelsTo24Avx2(const uint32_t* pixels, int width, BYTE* row);
void PixelsFrom24Avx2(const BYTE* row, int width, uint32_t* pixels);
#endif

}  // namespace gdi
