// The row conversions in SSSE3 and AVX2 byte shuffles, giving exactly the bytes of the plain
// ones, which also finish the pixels left at the end of a row. Every load and store stays
// inside the row's 3 x width bytes and the width pixels.
//
// A 24-bit pixel is 3 bytes (blue, green, red) and a screen pixel 4 (blue, green, red, 0), so
// 16 pixels are 48 bytes one way and 64 the other: three 16-byte vectors and four. Spreading
// takes each 12-byte run of the three vectors (joined across vector ends by alignr) and
// shuffles it into four pixels with a zero top byte; packing shuffles each vector's four
// pixels into 12 bytes and joins those runs into three vectors. AVX2 does the same for 32
// pixels with 32-byte vectors, whose shuffles stay inside 16-byte lanes, so the runs are
// first moved into place by lane and by 4-byte word.
#include "platform/gdi/pixel_rows.h"

#ifdef CORVANTIS_GDI_HAS_VECTOR_ROWS

#include <immintrin.h>

#define CORVANTIS_SSSE3 __attribute__((target("ssse3")))
#define CORVANTIS_AVX2 __attribute__((target("avx2")))

namespace gdi {
namespace {

// Shuffle of 12 bytes (four 24-bit pixels) into four 32-bit pixels with a zero top byte.
CORVANTIS_SSSE3 inline __m128i SpreadMask() {
  return _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
}
// Shuffle of four 32-bit pixels into their 12 bytes, followed by 4 zero bytes.
CORVANTIS_SSSE3 inline __m128i PackMask() {
  return _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
}

CORVANTIS_SSSE3 inline __m128i Load16(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
CORVANTIS_SSSE3 inline void Store16(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// 16 pixels from 48 bytes.
CORVANTIS_SSSE3 inline void Spread16(const BYTE* row, uint32_t* pixels) {
  const __m128i a = Load16(row), b = Load16(row + 16), c = Load16(row + 32);
  const __m128i spread = SpreadMask();
  Store16(pixels, _mm_shuffle_epi8(a, spread));
  Store16(pixels + 4, _mm_shuffle_epi8(_mm_alignr_epi8(b, a, 12), spread));
  Store16(pixels + 8, _mm_shuffle_epi8(_mm_alignr_epi8(c, b, 8), spread));
  Store16(pixels + 12, _mm_shuffle_epi8(_mm_srli_si128(c, 4), spread));
}

// 48 bytes from 16 pixels.
CORVANTIS_SSSE3 inline void Pack16(const uint32_t* pixels, BYTE* row) {
  const __m128i pack = PackMask();
  const __m128i a = _mm_shuffle_epi8(Load16(pixels), pack);
  const __m128i b = _mm_shuffle_epi8(Load16(pixels + 4), pack);
  const __m128i c = _mm_shuffle_epi8(Load16(pixels + 8), pack);
  const __m128i d = _mm_shuffle_epi8(Load16(pixels + 12), pack);
  Store16(row, _mm_or_si128(a, _mm_slli_si128(b, 12)));
  Store16(row + 16, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
  Store16(row + 32, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
}

CORVANTIS_AVX2 inline __m256i Load32(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
CORVANTIS_AVX2 inline void Store32(void* p, __m256i v) {
  _mm256_storeu_si256(static_cast<__m256i*>(p), v);
}
// A vector of the 4-byte words of `v` whose indexes are given, in that order.
CORVANTIS_AVX2 inline __m256i Words(__m256i v, int w0, int w1, int w2, int w3, int w4, int w5,
                                    int w6, int w7) {
  return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(w0, w1, w2, w3, w4, w5, w6, w7));
}

// 32 pixels from 96 bytes: each group of 8 pixels (24 bytes, six words) is moved so that its
// first 12 bytes start the low lane and the other 12 the high lane, then spread in each.
CORVANTIS_AVX2 inline void Spread32(const BYTE* row, uint32_t* pixels) {
  const __m256i a = Load32(row), b = Load32(row + 32), c = Load32(row + 64);
  const __m256i ab = _mm256_permute2x128_si256(a, b, 0x21);  // bytes 16 to 47
  const __m256i bc = _mm256_permute2x128_si256(b, c, 0x21);  // bytes 48 to 79
  const __m256i spread = _mm256_broadcastsi128_si256(SpreadMask());
  Store32(pixels, _mm256_shuffle_epi8(Words(a, 0, 1, 2, 0, 3, 4, 5, 0), spread));
  Store32(pixels + 8, _mm256_shuffle_epi8(Words(ab, 2, 3, 4, 0, 5, 6, 7, 0), spread));
  Store32(pixels + 16, _mm256_shuffle_epi8(Words(bc, 0, 1, 2, 0, 3, 4, 5, 0), spread));
  Store32(pixels + 24, _mm256_shuffle_epi8(Words(c, 2, 3, 4, 0, 5, 6, 7, 0), spread));
}

// 96 bytes from 32 pixels: each group of 8 pixels packs to words 0-2 and 4-6 of its vector,
// and the three output vectors take their words from two groups each.
CORVANTIS_AVX2 inline void Pack32(const uint32_t* pixels, BYTE* row) {
  const __m256i pack = _mm256_broadcastsi128_si256(PackMask());
  const __m256i p = _mm256_shuffle_epi8(Load32(pixels), pack);
  const __m256i q = _mm256_shuffle_epi8(Load32(pixels + 8), pack);
  const __m256i r = _mm256_shuffle_epi8(Load32(pixels + 16), pack);
  const __m256i s = _mm256_shuffle_epi8(Load32(pixels + 24), pack);
  Store32(row, _mm256_blend_epi32(Words(p, 0, 1, 2, 4, 5, 6, 0, 0),
                                  Words(q, 0, 0, 0, 0, 0, 0, 0, 1), 0xC0));
  Store32(row + 32, _mm256_blend_epi32(Words(q, 2, 4, 5, 6, 0, 0, 0, 0),
                                       Words(r, 0, 0, 0, 0, 0, 1, 2, 4), 0xF0));
  Store32(row + 64, _mm256_blend_epi32(Words(r, 5, 6, 0, 0, 0, 0, 0, 0),
                                       Words(s, 0, 0, 0, 1, 2, 4, 5, 6), 0xFC));
}

}  // namespace

CORVANTIS_SSSE3 void PixelsTo24Ssse3(const uint32_t* pixels, int width, BYTE* row) {
  int x = 0;
  for (; x + 16 <= width; x += 16) Pack16(pixels + x, row + 3 * x);
  PixelsTo24Plain(pixels + x, width - x, row + 3 * x);
}

CORVANTIS_SSSE3 void PixelsFrom24Ssse3(const BYTE* row, int width, uint32_t* pixels) {
  int x = 0;
  for (; x + 16 <= width; x += 16) Spread16(row + 3 * x, pixels + x);
  PixelsFrom24Plain(row + 3 * x, width - x, pixels + x);
}

CORVANTIS_AVX2 void PixelsTo24Avx2(const uint32_t* pixels, int width, BYTE* row) {
  int x = 0;
  for (; x + 32 <= width; x += 32) Pack32(pixels + x, row + 3 * x);
  for (; x + 16 <= width; x += 16) Pack16(pixels + x, row + 3 * x);
  PixelsTo24Plain(pixels + x, width - x, row + 3 * x);
}

CORVANTIS_AVX2 void PixelsFrom24Avx2(const BYTE* row, int width, uint32_t* pixels) {
  int x = 0;
  for (; x + 32 <= width; x += 32) Spread32(row + 3 * x, pixels + x);
  for (; x + 16 <= width; x += 16) Spread16(row + 3 * x, pixels + x);
  PixelsFrom24Plain(row + 3 * x, width - x, pixels + x);
}

}  // namespace gdi

#endif
