// The detector's AVX2 pass: the fused halving and the shift-and-compare in 256-bit integer
// instructions, giving exactly the values of the fused scalar pass, which also finishes the
// columns and bytes left at the end of each run.
//
// A pixel's grey value (77 b0 + 150 b1 + 29 b2) >> 8 is computed from the bytes laid out as
// [b0 b1 b1 b2] with one multiply-add of unsigned bytes by signed weights [77 51 99 29]: both
// halves (77 b0 + 51 b1 and 99 b1 + 29 b2) stay below 128 x 255, so nothing saturates, and a
// wrapping horizontal add joins them into the exact sum, at most 65280, in a 16-bit lane.
// The 2 x 2 sums (at most 1020) stay in 16-bit lanes too.
#include "detect/motion_detector_internal.h"

#ifdef CORVANTIS_DETECTOR_HAS_VECTOR_PASS

#include <immintrin.h>

#define CORVANTIS_AVX2 __attribute__((target("avx2")))

namespace {

// Two 16-byte loads, from `p` into the low half and from `p + 12` into the high half: four
// pixels at the start of each half.
CORVANTIS_AVX2 inline __m256i LoadTwoQuads(const unsigned char* p) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
}

// The two halves 77 b0 + 51 b1 and 99 b1 + 29 b2 of each of the 8 pixels of `quads`, as
// 16-bit lanes.
CORVANTIS_AVX2 inline __m256i HalfSums(__m256i quads) {
  const __m256i pick = _mm256_setr_epi8(0, 1, 1, 2, 3, 4, 4, 5, 6, 7, 7, 8, 9, 10, 10, 11, 0, 1, 1,
                                        2, 3, 4, 4, 5, 6, 7, 7, 8, 9, 10, 10, 11);
  const __m256i weights =
      _mm256_setr_epi8(77, 51, 99, 29, 77, 51, 99, 29, 77, 51, 99, 29, 77, 51, 99, 29, 77, 51, 99,
                       29, 77, 51, 99, 29, 77, 51, 99, 29, 77, 51, 99, 29);
  return _mm256_maddubs_epi16(_mm256_shuffle_epi8(quads, pick), weights);
}

// Grey values of the 16 pixels whose 48 bytes start at `p` (52 bytes are read), as 16-bit
// lanes in the order [0-3 8-11 | 4-7 12-15]. The horizontal add of the two halves wraps
// rather than saturates, so each full sum (at most 65280) is exact as an unsigned value.
CORVANTIS_AVX2 inline __m256i GreyOf16(const unsigned char* p) {
  const __m256i sums = _mm256_hadd_epi16(HalfSums(LoadTwoQuads(p)), HalfSums(LoadTwoQuads(p + 24)));
  return _mm256_srli_epi16(sums, 8);
}

// 2 x 2 sums of 32 pixel columns of the two rows: 16 sums as 16-bit lanes, in the order
// [0 1 4 5 8 9 12 13 | 2 3 6 7 10 11 14 15].
CORVANTIS_AVX2 inline __m256i BlockSumsOf32(const unsigned char* upper,
                                            const unsigned char* lower) {
  const __m256i left = _mm256_add_epi16(GreyOf16(upper), GreyOf16(lower));
  const __m256i right = _mm256_add_epi16(GreyOf16(upper + 48), GreyOf16(lower + 48));
  return _mm256_hadd_epi16(left, right);
}

// 2 x 2 sums of 16 pixel columns: 8 sums as 16-bit lanes [0 1 4 5 (copy) | 2 3 6 7 (copy)].
CORVANTIS_AVX2 inline __m256i BlockSumsOf16(const unsigned char* upper,
                                            const unsigned char* lower) {
  const __m256i rows = _mm256_add_epi16(GreyOf16(upper), GreyOf16(lower));
  return _mm256_hadd_epi16(rows, rows);
}

// How far ahead of the reading position lines are asked for.
constexpr size_t kPrefetchDistance = 6144;

// Halves one pair of rows as far as whole vectors reach without reading past the end of the
// row's `width` pixels; gives the number of half-size columns written and adds their values
// to `sum`.
CORVANTIS_AVX2 uint32_t HalveRowPair(const unsigned char* upper, const unsigned char* lower,
                                     uint32_t width, unsigned char* out, uint64_t* sum) {
  const size_t rowBytes = size_t{3} * width;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i order = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1,
                                         8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
  __m256i total = zero;
  size_t offset = 0;  // byte offset of the next pixel column pair
  uint32_t k = 0;     // next half-size column
  // 64 pixel columns, 32 values per step; the last load ends at offset + 196.
  for (; offset + 196 <= rowBytes; offset += 192, k += 32) {
    // Ask for the lines a few steps ahead; past the row they belong to the next rows.
    for (size_t line = 0; line < 192; line += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(upper + offset + kPrefetchDistance + line),
                   _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(lower + offset + kPrefetchDistance + line),
                   _MM_HINT_T0);
    }
    // Sums are at most 1020; the mean of each block is sum >> 2.
    const __m256i p = _mm256_srli_epi16(BlockSumsOf32(upper + offset, lower + offset), 2);
    const __m256i q = _mm256_srli_epi16(BlockSumsOf32(upper + offset + 96, lower + offset + 96), 2);
    // Bytes now hold pairs of values [0 1 4 5 8 9 ... | 2 3 6 7 10 11 ...]; put them in order.
    const __m256i packed = _mm256_packus_epi16(p, q);
    const __m256i values = _mm256_shuffle_epi8(_mm256_permute4x64_epi64(packed, 0xd8), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), values);
    total = _mm256_add_epi64(total, _mm256_sad_epu8(values, zero));
  }
  // 16 pixel columns, 8 values per step; the last load ends at offset + 52.
  __m128i rest = _mm_setzero_si128();
  for (; offset + 52 <= rowBytes; offset += 48, k += 8) {
    const __m256i p = _mm256_srli_epi16(BlockSumsOf16(upper + offset, lower + offset), 2);
    const __m256i packed = _mm256_packus_epi16(p, p);
    const __m128i values = _mm_move_epi64(
        _mm_unpacklo_epi16(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), values);
    rest = _mm_add_epi64(rest, _mm_sad_epu8(values, _mm_setzero_si128()));
  }
  alignas(32) uint64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), total);
  *sum +=
      lanes[0] + lanes[1] + lanes[2] + lanes[3] + static_cast<uint64_t>(_mm_cvtsi128_si64(rest));
  return k;
}

}  // namespace

bool VectorPassSupported() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported;
}

CORVANTIS_AVX2 uint64_t HalveFrameVector(const unsigned char* pixels, size_t stride,
                                         uint32_t height, unsigned char* half, uint32_t columns,
                                         uint32_t rows) {
  uint64_t sum = 0;
  uint32_t done = 0;  // the same for every row: it depends only on the width
  // From the last plane row up, so that memory is read in one ascending run.
  for (uint32_t j = rows; j-- > 0;) {
    const unsigned char* upper = pixels + (height - 1 - 2 * j) * stride;
    done = HalveRowPair(upper, upper - stride, 2 * columns, half + size_t{j} * columns, &sum);
  }
  if (done < columns) sum += HalveFrameFused(pixels, stride, height, half, columns, rows, done);
  return sum;
}

CORVANTIS_AVX2 int64_t ShiftAndCompareVector(unsigned char* values, const unsigned char* reference,
                                             size_t count, int shift, int threshold) {
  const __m256i up = _mm256_set1_epi8(static_cast<char>(shift > 0 ? shift : 0));
  const __m256i down = _mm256_set1_epi8(static_cast<char>(shift < 0 ? -shift : 0));
  // |d| > threshold for |d| in 0..255: the clamped threshold counts the same positions.
  const int clamped = threshold < 0 ? 0 : threshold > 255 ? 255 : threshold;
  const __m256i limit = _mm256_set1_epi8(static_cast<char>(clamped));
  const __m256i zero = _mm256_setzero_si256();
  __m256i total = zero;
  size_t i = 0;
  if (reference) {
    for (; i + 32 <= count; i += 32) {
      auto* at = reinterpret_cast<__m256i*>(values + i);
      const __m256i now = _mm256_subs_epu8(_mm256_adds_epu8(_mm256_loadu_si256(at), up), down);
      _mm256_storeu_si256(at, now);
      const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(reference + i));
      const __m256i d =
          _mm256_or_si256(_mm256_subs_epu8(now, before), _mm256_subs_epu8(before, now));
      const __m256i ignored = _mm256_cmpeq_epi8(_mm256_subs_epu8(d, limit), zero);
      total = _mm256_add_epi64(total, _mm256_sad_epu8(_mm256_andnot_si256(ignored, d), zero));
    }
  } else if (shift != 0) {
    for (; i + 32 <= count; i += 32) {
      auto* at = reinterpret_cast<__m256i*>(values + i);
      _mm256_storeu_si256(at, _mm256_subs_epu8(_mm256_adds_epu8(_mm256_loadu_si256(at), up), down));
    }
  } else {
    return 0;  // a mean of exactly 127 leaves the plane as it is
  }
  alignas(32) int64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), total);
  return lanes[0] + lanes[1] + lanes[2] + lanes[3] +
         ShiftAndCompareFused(values + i, reference ? reference + i : nullptr, count - i, shift,
                              threshold);
}

#endif
