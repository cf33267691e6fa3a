// The JPEG snapshot writer: drives libjpeg's standard compression interface with its stdio
// destination and standard error manager, one picture row per call.
#include "snapshot/snapshot_writer.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <cstdio>
#include <cstdlib>
#include <vector>

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
// own. Gives false for a frame that is not 24 bits, has a header shorter than 40 bytes, or a
// size libjpeg cannot hold.
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
  if (width == videoWidth.load(std::memory_order_relaxed) &&
      height == videoHeight.load(std::memory_order_relaxed)) {
    *picture = {static_cast<uint32_t>(videoWidth.load(std::memory_order_relaxed)),
                static_cast<uint32_t>(videoHeight.load(std::memory_order_relaxed)), false};
  } else {
    *picture = {static_cast<uint32_t>(width),
                static_cast<uint32_t>(height < 0 ? -int64_t{height} : height), height < 0};
  }
  return true;
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

  FILE* stream = snapshotFileCalls.open(kSnapshotFileName, "wb");
  if (!stream) {
    // The upload must then fail rather than send the previous snapshot as if it were new.
    snapshotFileCalls.remove(kSnapshotFileName);
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
    for (size_t i = 0; i < rowBuffer.size(); i += 3) {
      rowBuffer[i] = source[i + 2];      // red
      rowBuffer[i + 1] = source[i + 1];  // green
      rowBuffer[i + 2] = source[i];      // blue
    }
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
