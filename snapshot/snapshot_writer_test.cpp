#include "snapshot/snapshot_writer.h"

#include <gtest/gtest.h>

#include <jpeglib.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "snapshot/snapshot_files.h"

namespace {

struct Frame {
  std::vector<unsigned char> bytes;
  int width = 0;
  int height = 0;  // as stored in the header (negative: top row first)
  size_t stride = 0;
};

void PutLittleEndian(unsigned char* at, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// A 24-bit frame of exactly the bytes it needs; filler bytes hold 0xA5.
Frame MakeFrame(int width, int height, int bitCount = 24) {
  Frame frame{{}, width, height, ((size_t{3} * width + 3) & ~size_t{3})};
  const size_t rows = static_cast<size_t>(height < 0 ? -height : height);
  frame.bytes.assign(40 + frame.stride * rows, 0xA5);
  std::memset(frame.bytes.data(), 0, 40);
  PutLittleEndian(&frame.bytes[0], 40, 4);
  PutLittleEndian(&frame.bytes[4], static_cast<uint32_t>(width), 4);
  PutLittleEndian(&frame.bytes[8], static_cast<uint32_t>(height), 4);
  PutLittleEndian(&frame.bytes[12], 1, 2);
  PutLittleEndian(&frame.bytes[14], static_cast<uint32_t>(bitCount), 2);
  return frame;
}

// Stores blue, green, red for the pixel in picture column x, row y (row 0 the top).
void SetPixel(Frame& frame, int x, int y, int blue, int green, int red) {
  const int rows = frame.height < 0 ? -frame.height : frame.height;
  const int stored = frame.height < 0 ? y : rows - 1 - y;
  unsigned char* pixel = &frame.bytes[40 + stored * frame.stride + 3 * x];
  pixel[0] = static_cast<unsigned char>(blue);
  pixel[1] = static_cast<unsigned char>(green);
  pixel[2] = static_cast<unsigned char>(red);
}

// The top part of the picture (rows above `split`) blue, the rest red.
Frame BlueOverRed(int width, int height, int split) {
  Frame frame = MakeFrame(width, height);
  const int rows = height < 0 ? -height : height;
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < width; ++x) {
      if (y < split) {
        SetPixel(frame, x, y, 255, 0, 0);
      } else {
        SetPixel(frame, x, y, 0, 0, 255);
      }
    }
  }
  return frame;
}

// A decoded JPEG file.
struct Decoded {
  int width = 0;
  int height = 0;
  int components = 0;
  int progressive = 0;
  int firstQuantValue = 0;
  std::vector<unsigned char> rgb;
  // Red, green, blue of the pixel at x, y.
  const unsigned char* At(int x, int y) const { return &rgb[(size_t{3} * width) * y + 3 * x]; }
};

Decoded DecodeFile(const char* name) {
  Decoded result;
  FILE* file = std::fopen(name, "rb");
  if (!file) return result;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  result.progressive = cinfo.progressive_mode;
  result.firstQuantValue = cinfo.quant_tbl_ptrs[0] ? cinfo.quant_tbl_ptrs[0]->quantval[0] : -1;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  result.width = static_cast<int>(cinfo.output_width);
  result.height = static_cast<int>(cinfo.output_height);
  result.components = cinfo.output_components;
  result.rgb.resize(size_t{3} * result.width * result.height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &result.rgb[size_t{3} * result.width * cinfo.output_scanline];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return result;
}

bool IsBlue(const unsigned char* rgb) {
  return rgb[0] < 40 && rgb[1] < 40 && rgb[2] > 215;
}
bool IsRed(const unsigned char* rgb) {
  return rgb[0] > 215 && rgb[1] < 40 && rgb[2] < 40;
}

std::vector<unsigned char> FileBytes(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A new directory of the caller's own under the system's temporary directory; empty when
// none could be made.
std::filesystem::path NewDirectory() {
  std::random_device random;
  std::error_code error;
  const std::filesystem::path parent = std::filesystem::temp_directory_path(error);
  for (int attempt = 0; !error && attempt < 100; ++attempt) {
    std::filesystem::path path = parent / ("snapshot-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path, error)) return path;
  }
  return {};
}

// Every test runs in a fresh directory of its own, with the C library's file calls.
class SnapshotWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    directory_ = NewDirectory();
    ASSERT_FALSE(directory_.empty());
    std::filesystem::current_path(directory_);
    videoWidth = 320;
    videoHeight = 240;
  }
  void TearDown() override {
    snapshotFileCalls = {std::fopen, std::fclose, std::remove};
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(directory_);
  }
  std::filesystem::path previous_;
  std::filesystem::path directory_;
};

TEST_F(SnapshotWriterTest, WritesAnUprightBaselinePictureInItsColours) {
  const Frame frame = BlueOverRed(320, 240, 64);
  EXPECT_EQ(WriteSnapshot(frame.bytes.data(), 70), 1);
  const Decoded jpeg = DecodeFile("Temp.jpeg");
  ASSERT_EQ(jpeg.width, 320);
  ASSERT_EQ(jpeg.height, 240);
  EXPECT_EQ(jpeg.components, 3);
  EXPECT_EQ(jpeg.progressive, 0);
  // Quality 70 scales the standard luminance DC step 16 by 60%: 10.
  EXPECT_EQ(jpeg.firstQuantValue, 10);
  for (int x : {0, 160, 319}) {
    EXPECT_TRUE(IsBlue(jpeg.At(x, 0))) << x;  // the last stored row is the top
    EXPECT_TRUE(IsBlue(jpeg.At(x, 40))) << x;
    EXPECT_TRUE(IsRed(jpeg.At(x, 100))) << x;
    EXPECT_TRUE(IsRed(jpeg.At(x, 239))) << x;
  }
}

TEST_F(SnapshotWriterTest, QualityReachesTheLibraryWithBaselineForced) {
  const Frame frame = BlueOverRed(320, 240, 64);
  WriteSnapshot(frame.bytes.data(), 1);
  // Quality 1 asks for a step of 800, which baseline JPEG limits to 255.
  EXPECT_EQ(DecodeFile("Temp.jpeg").firstQuantValue, 255);
  WriteSnapshot(frame.bytes.data(), 100);
  EXPECT_EQ(DecodeFile("Temp.jpeg").firstQuantValue, 1);
}

TEST_F(SnapshotWriterTest, RowsWithFillerAreNotSheared) {
  videoWidth = 321;
  videoHeight = 64;
  Frame frame = MakeFrame(321, 64);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 321; ++x) {
      if (x < 160) {
        SetPixel(frame, x, y, 255, 0, 0);
      } else {
        SetPixel(frame, x, y, 0, 0, 255);
      }
    }
  }
  WriteSnapshot(frame.bytes.data(), 90);
  const Decoded jpeg = DecodeFile("Temp.jpeg");
  ASSERT_EQ(jpeg.width, 321);
  ASSERT_EQ(jpeg.height, 64);
  for (int y = 0; y < 64; ++y) {
    EXPECT_TRUE(IsBlue(jpeg.At(0, y))) << y;
    EXPECT_TRUE(IsBlue(jpeg.At(150, y))) << y;
    EXPECT_TRUE(IsRed(jpeg.At(170, y))) << y;
    EXPECT_TRUE(IsRed(jpeg.At(320, y))) << y;
  }
}

TEST_F(SnapshotWriterTest, SecondSnapshotReplacesTheFirst) {
  Frame noisy = MakeFrame(320, 240);
  for (size_t i = 40; i < noisy.bytes.size(); ++i) {
    noisy.bytes[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
  }
  WriteSnapshot(noisy.bytes.data(), 95);
  const size_t firstSize = FileBytes("Temp.jpeg").size();
  videoWidth = 64;
  videoHeight = 48;
  const Frame small = BlueOverRed(64, 48, 48);
  WriteSnapshot(small.bytes.data(), 70);
  const std::vector<unsigned char> bytes = FileBytes("Temp.jpeg");
  ASSERT_LT(bytes.size(), firstSize);
  EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);  // the file ends with its own end marker
  EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
  const Decoded jpeg = DecodeFile("Temp.jpeg");
  EXPECT_EQ(jpeg.width, 64);
  EXPECT_EQ(jpeg.height, 48);
  EXPECT_TRUE(IsBlue(jpeg.At(10, 10)));
}

TEST_F(SnapshotWriterTest, FrameSizeComesFromTheHeaderWhenItDisagrees) {
  // Frames smaller and larger than 320 x 240, each holding only its own bytes.
  const Frame small = BlueOverRed(64, 48, 16);
  WriteSnapshot(small.bytes.data(), 70);
  Decoded jpeg = DecodeFile("Temp.jpeg");
  EXPECT_EQ(jpeg.width, 64);
  EXPECT_EQ(jpeg.height, 48);
  EXPECT_TRUE(IsBlue(jpeg.At(5, 2)));
  EXPECT_TRUE(IsRed(jpeg.At(5, 45)));

  const Frame large = BlueOverRed(400, 300, 16);
  WriteSnapshot(large.bytes.data(), 70);
  jpeg = DecodeFile("Temp.jpeg");
  EXPECT_EQ(jpeg.width, 400);
  EXPECT_EQ(jpeg.height, 300);

  // Rows stored top row first are written upright too.
  const Frame topDown = BlueOverRed(48, -32, 8);
  WriteSnapshot(topDown.bytes.data(), 70);
  jpeg = DecodeFile("Temp.jpeg");
  EXPECT_EQ(jpeg.height, 32);
  EXPECT_TRUE(IsBlue(jpeg.At(5, 1)));
  EXPECT_TRUE(IsRed(jpeg.At(5, 30)));
}

TEST_F(SnapshotWriterTest, ATopDownFrameOfTheCamerasOwnSizeIsWrittenUpright) {
  // A driver that reports its rows top row first gives a negative height; the size agrees
  // with the frame's (this once reached the library as a height of 4294967264 and ended the
  // process).
  videoWidth = 48;
  videoHeight = -32;
  const Frame topDown = BlueOverRed(48, -32, 8);
  WriteSnapshot(topDown.bytes.data(), 70);
  const Decoded jpeg = DecodeFile("Temp.jpeg");
  EXPECT_EQ(jpeg.width, 48);
  EXPECT_EQ(jpeg.height, 32);
  EXPECT_TRUE(IsBlue(jpeg.At(5, 2)));
  EXPECT_TRUE(IsRed(jpeg.At(5, 29)));
}

// Width and height from a baseline JPEG's frame header (0 x 0 when there is none).
std::pair<int, int> JpegSize(const std::vector<unsigned char>& jpeg) {
  const unsigned char* bytes = jpeg.data();
  for (size_t i = 2; i + 9 <= jpeg.size(); i += 2 + (size_t{bytes[i + 2]} << 8 | bytes[i + 3])) {
    if (bytes[i] != 0xFF) break;
    if (bytes[i + 1] == 0xC0) {
      return {bytes[i + 7] << 8 | bytes[i + 8], bytes[i + 5] << 8 | bytes[i + 6]};
    }
  }
  return {0, 0};
}

// Right after a disarm the menu is live while the alarm thread may still write its last
// snapshot, so Image Dimensions can change the size between the writer's comparison and its
// use of it. The picture is always the frame's own size, whatever the size reads meanwhile.
TEST_F(SnapshotWriterTest, ASizeChangedWhileWritingNeverReachesThePicture) {
  const Frame frame = BlueOverRed(16, 8, 4);
  videoWidth = 16;
  videoHeight = 8;
  std::atomic<bool> stop{false};
  std::thread dimensions([&] {
    for (int32_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
      videoWidth.store(i & 1 ? 32 : 16, std::memory_order_relaxed);
      videoHeight.store(i & 2 ? 16 : 8, std::memory_order_relaxed);
    }
  });
  int written = 0;
  std::pair<int, int> size{16, 8};
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (size == std::pair{16, 8} && std::chrono::steady_clock::now() < end) {
    WriteSnapshot(frame.bytes.data(), 70);
    size = JpegSize(FileBytes("Temp.jpeg"));
    ++written;
  }
  stop = true;
  dimensions.join();
  EXPECT_EQ(size, (std::pair{16, 8})) << "after " << written << " snapshots";
}

TEST_F(SnapshotWriterTest, UnreadableFramesLeaveNoSnapshot) {
  const Frame good = BlueOverRed(320, 240, 64);
  Frame shortHeader = BlueOverRed(320, 240, 64);
  PutLittleEndian(&shortHeader.bytes[0], 12, 4);
  const Frame bad[] = {MakeFrame(320, 240, 8), MakeFrame(0, 240), MakeFrame(16, 0),
                       MakeFrame(70000, 1), shortHeader};
  for (const Frame& frame : bad) {
    WriteSnapshot(good.bytes.data(), 70);
    ASSERT_TRUE(std::filesystem::exists("Temp.jpeg"));
    EXPECT_EQ(WriteSnapshot(frame.bytes.data(), 70), 1);
    EXPECT_FALSE(std::filesystem::exists("Temp.jpeg")) << frame.width << " x " << frame.height;
  }
}

FILE* RefuseToOpen(const char*, const char*) {
  errno = EACCES;
  return nullptr;
}
std::string openedName;
std::string openedMode;
FILE* RecordOpen(const char* name, const char* mode) {
  openedName = name;
  openedMode = mode;
  return std::fopen(name, mode);
}
int FailClose(FILE* stream) {
  std::fclose(stream);
  return EOF;
}

TEST_F(SnapshotWriterTest, FileCallsAndTheirFailures) {
  const Frame frame = BlueOverRed(320, 240, 64);
  snapshotFileCalls.open = RecordOpen;
  WriteSnapshot(frame.bytes.data(), 70);
  EXPECT_EQ(openedName, "Temp.jpeg");
  EXPECT_EQ(openedMode, "wb");
  ASSERT_TRUE(std::filesystem::exists("Temp.jpeg"));

  // The file cannot be created: the earlier snapshot is removed, nothing else happens.
  snapshotFileCalls.open = RefuseToOpen;
  EXPECT_EQ(WriteSnapshot(frame.bytes.data(), 70), 1);
  EXPECT_FALSE(std::filesystem::exists("Temp.jpeg"));
  EXPECT_EQ(WriteSnapshot(frame.bytes.data(), 70), 1);  // and again, with no file at all

  // Closing fails: the possibly incomplete file is removed.
  snapshotFileCalls.open = std::fopen;
  snapshotFileCalls.close = FailClose;
  WriteSnapshot(frame.bytes.data(), 70);
  EXPECT_FALSE(std::filesystem::exists("Temp.jpeg"));
}

// A stream open for reading only: every write to it fails.
FILE* OpenReadOnly(const char*, const char*) {
  if (FILE* made = std::fopen("read-only", "wb")) std::fclose(made);
  return std::fopen("read-only", "rb");
}

TEST_F(SnapshotWriterTest, LibraryErrorEndsTheProcessWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Frame frame = BlueOverRed(320, 240, 64);
  snapshotFileCalls.open = OpenReadOnly;
  EXPECT_EXIT(WriteSnapshot(frame.bytes.data(), 70), testing::ExitedWithCode(1),
              "Output file write error");
}

}  // namespace
