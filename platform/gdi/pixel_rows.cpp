// The plain row conversions, and the choice of the version the conversions run.
#include "platform/gdi/pixel_rows.h"

#include <atomic>
#include <cstring>

namespace gdi {
namespace {

using To24 = void (*)(const uint32_t*, int, BYTE*);
using From24 = void (*)(const BYTE*, int, uint32_t*);

struct RowFunctions {
  To24 to24;
  From24 from24;
};

RowFunctions FunctionsFor(RowCode code) {
  switch (code) {
#ifdef CORVANTIS_GDI_HAS_VECTOR_ROWS
    case RowCode::kAvx2:
      return {PixelsTo24Avx2, PixelsFrom24Avx2};
    case RowCode::kSsse3:
      return {PixelsTo24Ssse3, PixelsFrom24Ssse3};
#endif
    default:
      return {PixelsTo24Plain, PixelsFrom24Plain};
  }
}

// The best code at most `code` that the processor runs.
RowCode Supported(RowCode code) {
#ifdef CORVANTIS_GDI_HAS_VECTOR_ROWS
  __builtin_cpu_init();  // the answers below may be asked for before the constructors ran
  if (code == RowCode::kAvx2 && __builtin_cpu_supports("avx2")) return RowCode::kAvx2;
  if (code >= RowCode::kSsse3 && __builtin_cpu_supports("ssse3")) return RowCode::kSsse3;
#endif
  (void)code;
  return RowCode::kPlain;
}

// The functions in effect: null until the first conversion chooses the fastest, replaced
// whole by UseRowCode.
constinit std::atomic<To24> to24{nullptr};
constinit std::atomic<From24> from24{nullptr};

RowFunctions Current() {
  RowFunctions functions{to24.load(std::memory_order_relaxed),
                         from24.load(std::memory_order_relaxed)};
  if (functions.to24 && functions.from24) return functions;
  UseRowCode(RowCode::kAvx2);
  return {to24.load(std::memory_order_relaxed), from24.load(std::memory_order_relaxed)};
}

}  // namespace

void PixelsTo24(const uint32_t* pixels, int width, BYTE* row) {
  Current().to24(pixels, width, row);
}

void PixelsFrom24(const BYTE* row, int width, uint32_t* pixels) {
  Current().from24(row, width, pixels);
}

RowCode UseRowCode(RowCode code) {
  const RowCode used = Supported(code);
  const RowFunctions functions = FunctionsFor(used);
  to24.store(functions.to24, std::memory_order_relaxed);
  from24.store(functions.from24, std::memory_order_relaxed);
  return used;
}

void PixelsTo24Plain(const uint32_t* pixels, int width, BYTE* row) {
  int x = 0;
  // Four pixels make twelve bytes, written as one 8-byte and one 4-byte word built in
  // registers (no partial stores to read back).
  for (; x + 4 <= width; x += 4) {
    uint64_t p0 = pixels[x], p1 = pixels[x + 1], p2 = pixels[x + 2], p3 = pixels[x + 3];
    uint64_t low = (p0 & 0xffffff) | ((p1 & 0xffffff) << 24) | (p2 << 48);
    uint32_t high = static_cast<uint32_t>(((p2 >> 16) & 0xff) | (p3 << 8));
    std::memcpy(row + 3 * x, &low, sizeof low);
    std::memcpy(row + 3 * x + 8, &high, sizeof high);
  }
  for (; x < width; ++x) {
    uint32_t p = pixels[x];
    row[3 * x] = static_cast<BYTE>(p);
    row[3 * x + 1] = static_cast<BYTE>(p >> 8);
    row[3 * x + 2] = static_cast<BYTE>(p >> 16);
  }
}

void PixelsFrom24Plain(const BYTE* row, int width, uint32_t* pixels) {
  int x = 0;
  for (; x + 4 <= width; x += 4) {
    uint32_t w[3];
    std::memcpy(w, row + 3 * x, sizeof w);
    pixels[x] = w[0] & 0xffffff;
    pixels[x + 1] = (w[0] >> 24) | ((w[1] & 0xffff) << 8);
    pixels[x + 2] = (w[1] >> 16) | ((w[2] & 0xff) << 16);
    pixels[x + 3] = w[2] >> 8;
  }
  for (; x < width; ++x) {
    const BYTE* p = row + 3 * x;
    pixels[x] = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
  }
}

}  // namespace gdi
