// The JPEG snapshot writer: drives libjpeg's standard compression interface with its stdio
// destination and standard error manager, one picture row per call.
#include "snapshot/snapshot_writer.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <cstdio>
#include <cstdlib>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "snapshot/snapshot_files.h"

std::atomic<int32_t> videoWidth{320};
std::atomic<int32_t> videoHeight{240};

SnapshotFileCalls snapshotFileCalls = {std::fopen, std::fclose, std::remove};

namespace {

// Size of the information header; the rows of a 24-bit frame follow it directly.
constexpr uint32_t kInfoHeaderSize = 40;

uint32_t ReadLittleEndian(const unsigned char* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// The picture the writer compresses: its size and where its rows are.
struct SnapshotPicture {
  uint32_t width;
  uint32_t height;
  bool topDown;  // rows stored top row first (negative height in the header)
};

// Takes the picture size from videoWidth x videoHeight when the frame's own header agrees
// with it, and from the header when it does not, so the rows read are always the frame's
// own. Each size is read once: the menu may change it meanwhile (Image Dimensions right after
// a disarm, while the alarm thread writes its last snapshot), and the values used must be
// the ones compared. Gives false for a frame that is not 24 bits, has a header shorter than
// 40 bytes, or a size libjpeg cannot hold.
bool ChooseSnapshotPicture(const unsigned char* frame, SnapshotPicture* picture) {
  const uint32_t headerSize = ReadLittleEndian(frame, 4);
  const auto width = static_cast<int32_t>(ReadLittleEndian(frame + 4, 4));
  const auto height = static_cast<int32_t>(ReadLittleEndian(frame + 8, 4));
  const uint32_t bitCount = ReadLittleEndian(frame + 14, 2);
  if (bitCount != 24 || headerSize < kInfoHeaderSize) return false;
  if (width <= 0 || width > JPEG_MAX_DIMENSION || height == 0 || height < -JPEG_MAX_DIMENSION ||
      height > JPEG_MAX_DIMENSION) {
    return false;
  }
  // A top-down frame (negative height) takes the header's way even when the sizes agree.
  const int32_t expectedWidth = videoWidth.load(std::memory_order_relaxed);
  const int32_t expectedHeight = videoHeight.load(std::memory_order_relaxed);
  if (height > 0 && width == expectedWidth && height == expectedHeight) {
    *picture = {static_cast<uint32_t>(expectedWidth), static_cast<uint32_t>(expectedHeight), false};
  } else {
    *picture = {static_cast<uint32_t>(width),
                static_cast<uint32_t>(height < 0 ? -int64_t{height} : height), height < 0};
  }
  return true;
}

// Copies `bytes` bytes of blue-green-red pixels from `source` into `row` as red-green-blue.
void CopyRowAsRgbPlain(const unsigned char* source, unsigned char* row, size_t bytes,
                       size_t start) {
  for (size_t i = start; i < bytes; i += 3) {
    row[i] = source[i + 2];      // red
    row[i + 1] = source[i + 1];  // green
    row[i + 2] = source[i];      // blue
  }
}

#if defined(__x86_64__)
// Five pixels per step with one byte shuffle; each 16-byte store's last byte is rewritten by
// the next step, and no load or store goes past `bytes`.
__attribute__((target("ssse3"))) void CopyRowAsRgbSsse3(const unsigned char* source,
                                                        unsigned char* row, size_t bytes) {
  const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  size_t i = 0;
  for (; i + 16 <= bytes; i += 15) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_shuffle_epi8(pixels, swap));
  }
  CopyRowAsRgbPlain(source, row, bytes, i);
}
#endif

void CopyRowAsRgb(const unsigned char* source, unsigned char* row, size_t bytes) {
#if defined(__x86_64__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) return CopyRowAsRgbSsse3(source, row, bytes);
#endif
  CopyRowAsRgbPlain(source, row, bytes, 0);
}

}  // namespace

int WriteSnapshot(const unsigned char* frame, int quality) {
  SnapshotPicture picture;
  if (!ChooseSnapshotPicture(frame, &picture)) {
    // Nothing sensible to write; an older snapshot must not be sent in its place.
    snapshotFileCalls.remove(kSnapshotFileName);
    return 1;
  }

  jpeg_error_mgr errorManager;
  jpeg_compress_struct cinfo;
  cinfo.err = jpeg_std_error(&errorManager);
  jpeg_CreateCompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);

  // The previous snapshot goes first: when the new file cannot be created, the upload then
  // fails rather than send the old picture as if it were new. Creating a fresh file is also
  // much cheaper than truncating the old one on file systems that flush a file truncated to
  // zero length when it is closed.
  snapshotFileCalls.remove(kSnapshotFileName);
  FILE* stream = snapshotFileCalls.open(kSnapshotFileName, "wb");
  if (!stream) {
    jpeg_destroy_compress(&cinfo);
    return 1;
  }
  jpeg_stdio_dest(&cinfo, stream);

  cinfo.image_width = picture.width;
  cinfo.image_height = picture.height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);

  // Stored rows run bottom to top, each 3 x width bytes rounded up to a multiple of 4.
  const size_t stride = (size_t{3} * picture.width + 3) & ~size_t{3};
  const unsigned char* first = frame + kInfoHeaderSize;
  std::vector<unsigned char> rowBuffer(size_t{3} * picture.width);
  JSAMPROW row = rowBuffer.data();
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint32_t s = cinfo.next_scanline;
    const unsigned char* source = first + (picture.topDown ? s : picture.height - 1 - s) * stride;
    CopyRowAsRgb(source, rowBuffer.data(), rowBuffer.size());
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  if (snapshotFileCalls.close(stream) != 0) {
    // The data may not all have reached the file: no incomplete snapshot is left behind.
    snapshotFileCalls.remove(kSnapshotFileName);
  }
  jpeg_destroy_compress(&cinfo);
  return 1;
}
