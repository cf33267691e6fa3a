// Fuzzes WriteSnapshot with frames whose headers are arbitrary, each in a block of exactly the
// bytes its header describes, against any videoWidth x videoHeight and quality. A frame the
// writer takes must come out as a JPEG file of the frame's size; one it refuses must leave no
// "Temp.jpeg" behind. Works in a temporary directory.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "snapshot/snapshot_writer.h"
#include "tests/support/fuzz_directory.h"
#include "tests/support/fuzz_frames.h"

namespace {

uint32_t ReadLittleEndian(const unsigned char* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// The picture size in the start-of-frame segment of a JPEG file, or false when the file holds
// none before its first scan.
bool JpegSize(const std::string& file, uint32_t* width, uint32_t* height) {
  if (file.size() < 4 || static_cast<unsigned char>(file[0]) != 0xFF ||
      static_cast<unsigned char>(file[1]) != 0xD8) {
    return false;
  }
  const auto byte = [&file](size_t at) { return static_cast<unsigned char>(file[at]); };
  for (size_t at = 2; at + 4 <= file.size();) {
    if (byte(at) != 0xFF) return false;
    const unsigned char marker = byte(at + 1);
    const size_t length = size_t{byte(at + 2)} << 8 | byte(at + 3);
    if (marker == 0xC0 && at + 9 <= file.size()) {
      *height = uint32_t{byte(at + 5)} << 8 | byte(at + 6);
      *width = uint32_t{byte(at + 7)} << 8 | byte(at + 8);
      return true;
    }
    if (marker == 0xDA) return false;
    at += 2 + length;
  }
  return false;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "snapshot writer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // The camera's picture size is mostly the frame's own, as in the program, and sometimes any.
  const bool agree = input.ConsumeBool();
  videoWidth = fuzzsupport::ConsumeDimension(input, -2, 700);
  videoHeight = fuzzsupport::ConsumeDimension(input, -2, 500);
  const int quality = input.ConsumeIntegral<int>();
  const fuzzsupport::Frame frame =
      fuzzsupport::ConsumeFrame(input, fuzzsupport::kPixelRowsAfterInfoHeader);
  if (frame.reset) return 0;
  if (agree) {
    videoWidth = static_cast<int32_t>(ReadLittleEndian(frame.bytes.data() + 4, 4));
    videoHeight = static_cast<int32_t>(ReadLittleEndian(frame.bytes.data() + 8, 4));
  }

  fuzzsupport::FuzzDirectory::Visit visit;
  // An earlier snapshot is there, so a refusal has one to remove.
  std::ofstream("Temp.jpeg") << "an earlier snapshot";
  if (WriteSnapshot(frame.bytes.data(), quality) != 1) Fail("the result is not 1");

  const unsigned char* header = frame.bytes.data();
  const auto width = static_cast<int32_t>(ReadLittleEndian(header + 4, 4));
  const auto height = static_cast<int32_t>(ReadLittleEndian(header + 8, 4));
  const bool taken = ReadLittleEndian(header + 14, 2) == 24 && ReadLittleEndian(header, 4) >= 40 &&
                     width > 0 && width <= 65500 && height != 0 && height >= -65500 &&
                     height <= 65500;
  std::ifstream in("Temp.jpeg", std::ios::binary);
  const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  in.close();
  if (!taken) {
    if (!file.empty() || std::ifstream("Temp.jpeg").good()) Fail("a refused frame left a file");
    return 0;
  }
  uint32_t jpegWidth = 0, jpegHeight = 0;
  if (!JpegSize(file, &jpegWidth, &jpegHeight)) Fail("the snapshot is no JPEG file");
  if (jpegWidth != static_cast<uint32_t>(width) ||
      jpegHeight != static_cast<uint32_t>(height < 0 ? -height : height)) {
    Fail("the snapshot has another size than the frame");
  }
  std::remove("Temp.jpeg");
  return 0;
}
