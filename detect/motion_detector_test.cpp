#include "detect/motion_detector.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "detect/alarm_state.h"
#include "detect/motion_detector_internal.h"

namespace {

// A packed bitmap as the grabber hands it over: header, then bottom-up rows.
struct Frame {
  std::vector<unsigned char> bytes;
  int width = 0;
  int height = 0;
  size_t stride = 0;
  size_t headerSize = 40;
};

void PutLittleEndian(unsigned char* at, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// A frame of exactly the bytes its header describes (so reading past it is caught by the
// address sanitizer); filler bytes hold 0xA5, pixels 0.
Frame MakeFrame(int width, int height, int bitCount = 24, size_t headerSize = 40) {
  Frame frame;
  frame.width = width;
  frame.height = height;
  frame.headerSize = headerSize;
  const size_t absWidth = width < 0 ? 0 : static_cast<size_t>(width);
  const size_t absHeight = height < 0 ? static_cast<size_t>(-int64_t{height}) : height;
  frame.stride = ((bitCount * absWidth + 31) / 32) * 4;
  frame.bytes.assign(headerSize + frame.stride * absHeight, 0);
  PutLittleEndian(&frame.bytes[0], static_cast<uint32_t>(headerSize), 4);
  PutLittleEndian(&frame.bytes[4], static_cast<uint32_t>(width), 4);
  PutLittleEndian(&frame.bytes[8], static_cast<uint32_t>(height), 4);
  PutLittleEndian(&frame.bytes[12], 1, 2);
  PutLittleEndian(&frame.bytes[14], static_cast<uint32_t>(bitCount), 2);
  if (bitCount == 24) {
    for (size_t row = 0; row < absHeight; ++row) {
      for (size_t i = 3 * absWidth; i < frame.stride; ++i) {
        frame.bytes[headerSize + row * frame.stride + i] = 0xA5;
      }
    }
  }
  return frame;
}

// The 3 bytes of the pixel in picture column x, picture row y (row 0 is the top).
unsigned char* PixelAt(Frame& frame, int x, int y) {
  return &frame.bytes[frame.headerSize + (frame.height - 1 - y) * frame.stride + 3 * x];
}

void SetGrey(Frame& frame, int x, int y, int value) {
  std::memset(PixelAt(frame, x, y), value, 3);
}

// Gives each 2 x 2 block (column k, row j of the half-size picture) the grey `value`.
void SetBlock(Frame& frame, int k, int j, int value) {
  for (int dy = 0; dy < 2; ++dy) {
    for (int dx = 0; dx < 2; ++dx) SetGrey(frame, 2 * k + dx, 2 * j + dy, value);
  }
}

Frame UniformFrame(int width, int height, int value) {
  Frame frame = MakeFrame(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) SetGrey(frame, x, y, value);
  }
  return frame;
}

int Detect(const Frame& frame, int pixelThreshold, int totalThreshold) {
  return DetectMotion(frame.bytes.data(), pixelThreshold, totalThreshold);
}

std::vector<unsigned char> PlaneBytes(const GrayPlane* plane) {
  if (!plane || !plane->rowPointers) return {};
  const unsigned char* first = plane->rowPointers[0];
  return {first, first + size_t{plane->columns} * plane->rows};
}

// Allocation hook: counts blocks and fails the allocation numbered `failAt` (1 = next).
int allocations = 0;
int outstanding = 0;
int failAt = 0;
void* CountingAllocate(size_t bytes) {
  ++allocations;
  if (allocations == failAt) return nullptr;
  ++outstanding;
  return std::malloc(bytes);
}
void CountingRelease(void* block) {
  if (block) --outstanding;
  std::free(block);
}

const char kOutOfMemory[] = "out of memory allocating an arrayout of memory allocating buffer";

// Each test runs on every pass of the detector, from the state at start.
class MotionDetectorTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ForgetDetectorState();
    allocations = outstanding = failAt = 0;
    detectorMemory = {CountingAllocate, CountingRelease};
    ASSERT_EQ(UseDetectorPass(GetParam()), GetParam()) << "pass not available here";
  }
  void TearDown() override {
    ForgetDetectorState();
    EXPECT_EQ(outstanding, 0) << "plane memory leaked";
    detectorMemory = {std::malloc, std::free};
  }
};

TEST_P(MotionDetectorTest, FirstFrameAndFrameAfterResetBecomeTheReference) {
  const Frame dark = UniformFrame(8, 6, 30);
  Frame bright = UniformFrame(8, 6, 30);
  SetBlock(bright, 0, 0, 250);
  EXPECT_EQ(Detect(dark, 15, 0), kNoMotion);
  EXPECT_EQ(Detect(dark, 15, 0), kNoMotion);  // identical frames: total 0
  EXPECT_EQ(Detect(bright, 15, 0), kMotion);
  AlarmState.motionDetected = 1;
  EXPECT_EQ(ResetDetector(), 0);
  EXPECT_EQ(AlarmState.motionDetected.load(), 0);
  EXPECT_EQ(Detect(dark, 15, 0), kNoMotion);  // new reference despite the difference
  EXPECT_EQ(Detect(bright, 15, 0), kMotion);
  EXPECT_EQ(DetectMotion(nullptr, 0, 0), kNoMotion);
  EXPECT_EQ(Detect(dark, 15, 0), kNoMotion);
  EXPECT_EQ(Detect(dark, 15, -1), kMotion);  // total 0 exceeds a negative threshold
}

TEST_P(MotionDetectorTest, ConstantBrightnessChangeIsRemoved) {
  std::mt19937 random(7);
  Frame before = MakeFrame(34, 20);
  Frame after = before;
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 34; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int value = 60 + static_cast<int>(random() % 120);
        PixelAt(before, x, y)[c] = static_cast<unsigned char>(value);
        PixelAt(after, x, y)[c] = static_cast<unsigned char>(value + 25);
      }
    }
  }
  EXPECT_EQ(Detect(before, 0, 0), kNoMotion);
  EXPECT_EQ(Detect(after, 0, 0), kNoMotion);
  EXPECT_EQ(PlaneBytes(DetectorWorkPlane()), PlaneBytes(DetectorReferencePlane()));
}

TEST_P(MotionDetectorTest, NormalisationMovesTheMeanTo127AndSaturates) {
  // Mean exactly 127: the plane keeps its values.
  Frame even = MakeFrame(8, 4);
  for (int j = 0; j < 2; ++j) {
    for (int k = 0; k < 4; ++k) SetBlock(even, k, j, (j + k) % 2 ? 100 : 154);
  }
  ASSERT_EQ(Detect(even, 15, 0), kNoMotion);
  EXPECT_EQ(PlaneBytes(DetectorReferencePlane()),
            (std::vector<unsigned char>{154, 100, 154, 100, 100, 154, 100, 154}));

  // 60 values of 10 and 4 of 250: mean 25, shift +102, 250 saturates at 255.
  ForgetDetectorState();
  Frame dark = MakeFrame(16, 16);
  std::vector<unsigned char> expected;
  for (int j = 0; j < 8; ++j) {
    for (int k = 0; k < 8; ++k) {
      const bool light = j == 3 && k < 4;
      SetBlock(dark, k, j, light ? 250 : 10);
      expected.push_back(light ? 255 : 112);
    }
  }
  ASSERT_EQ(Detect(dark, 15, 0), kNoMotion);
  EXPECT_EQ(PlaneBytes(DetectorReferencePlane()), expected);

  // 62 values of 250 and 2 of 3: mean 242, shift -115, 3 saturates at 0.
  expected.clear();
  Frame light = MakeFrame(16, 16);
  for (int j = 0; j < 8; ++j) {
    for (int k = 0; k < 8; ++k) {
      const bool black = j == 7 && k >= 6;
      SetBlock(light, k, j, black ? 3 : 250);
      expected.push_back(black ? 0 : 135);
    }
  }
  ASSERT_EQ(DetectMotion(nullptr, 0, 0), kNoMotion);
  ASSERT_EQ(Detect(light, 15, 0), kNoMotion);
  EXPECT_EQ(PlaneBytes(DetectorReferencePlane()), expected);
}

TEST_P(MotionDetectorTest, GreyWeightsAndTruncation) {
  // Blocks of first-byte 255 pixels (grey 76) beside third-byte 255 pixels (grey 28): mean 52,
  // shift +75. Blocks of (1,1,0) pixels (227 >> 8 = 0 each) and (2,1,0) pixels (grey 1 each)
  // show that each pixel is truncated before the 2 x 2 mean.
  Frame frame = MakeFrame(4, 4);
  const unsigned char pixels[4][3] = {{255, 0, 0}, {0, 0, 255}, {1, 1, 0}, {2, 1, 0}};
  for (int block = 0; block < 4; ++block) {
    const int k = block % 2, j = block / 2;
    for (int dy = 0; dy < 2; ++dy) {
      for (int dx = 0; dx < 2; ++dx)
        std::memcpy(PixelAt(frame, 2 * k + dx, 2 * j + dy), pixels[block], 3);
    }
  }
  // Values 76, 28, 0, 1: sum 105, mean 26, shift +101.
  ASSERT_EQ(Detect(frame, 15, 0), kNoMotion);
  EXPECT_EQ(PlaneBytes(DetectorReferencePlane()), (std::vector<unsigned char>{177, 129, 101, 102}));
}

TEST_P(MotionDetectorTest, PixelAndTotalThresholds) {
  const Frame reference = UniformFrame(8, 8, 127);
  // Two blocks moved by +d and -d keep the mean at 127: differences d and -d.
  auto moved = [](int d) {
    Frame frame = UniformFrame(8, 8, 127);
    SetBlock(frame, 1, 1, 127 + d);
    SetBlock(frame, 2, 3, 127 - d);
    return frame;
  };
  ASSERT_EQ(Detect(reference, 15, 0), kNoMotion);
  EXPECT_EQ(Detect(moved(15), 15, 0), kNoMotion);   // equal to the threshold: not counted
  EXPECT_EQ(Detect(moved(16), 15, 32), kNoMotion);  // total 32 equals the threshold
  EXPECT_EQ(Detect(moved(16), 15, 31), kMotion);    // the whole 16 counts twice: 32 > 31
  EXPECT_EQ(Detect(reference, 16, 0), kNoMotion);   // 16 is not above 16
  EXPECT_EQ(Detect(reference, 0, 31), kMotion);     // back to the reference frame
  EXPECT_EQ(Detect(moved(1), -5, 1), kMotion);      // a negative threshold counts every pixel
  EXPECT_EQ(Detect(reference, 255, -1), kMotion);   // nothing counted, total 0 > -1
  EXPECT_EQ(Detect(moved(100), 300, 0), kNoMotion);
}

TEST_P(MotionDetectorTest, MotionFrameBecomesTheReferenceWithoutCopying) {
  const Frame a = UniformFrame(10, 10, 127);
  Frame b = UniformFrame(10, 10, 127);
  SetBlock(b, 0, 0, 200);
  SetBlock(b, 4, 4, 54);
  ASSERT_EQ(Detect(a, 15, 0), kNoMotion);
  ASSERT_EQ(Detect(a, 15, 0), kNoMotion);  // creates the work plane
  const GrayPlane* work = DetectorWorkPlane();
  const GrayPlane* reference = DetectorReferencePlane();
  unsigned char* workBytes = work->rowPointers[0];
  const int before = allocations;
  EXPECT_EQ(Detect(b, 15, 0), kMotion);
  EXPECT_EQ(DetectorReferencePlane(), work);
  EXPECT_EQ(DetectorWorkPlane(), reference);
  EXPECT_EQ(DetectorReferencePlane()->rowPointers[0], workBytes);
  EXPECT_EQ(Detect(b, 15, 0), kNoMotion);  // compared with b, not a
  EXPECT_EQ(Detect(a, 15, 0), kMotion);
  for (int i = 0; i < 5; ++i) Detect(i % 2 ? a : b, 15, 0);
  EXPECT_EQ(allocations, before) << "no allocation per frame";
}

TEST_P(MotionDetectorTest, SlowChangesAccumulateAgainstTheReference) {
  auto drifted = [](int step) {
    Frame frame = UniformFrame(8, 8, 127);
    SetBlock(frame, 0, 0, 127 + 5 * step);
    SetBlock(frame, 3, 3, 127 - 5 * step);
    return frame;
  };
  ASSERT_EQ(Detect(drifted(0), 0, 30), kNoMotion);
  EXPECT_EQ(Detect(drifted(1), 0, 30), kNoMotion);  // total 10
  EXPECT_EQ(Detect(drifted(2), 0, 30), kNoMotion);  // total 20
  EXPECT_EQ(Detect(drifted(3), 0, 30), kNoMotion);  // total 30: equal
  EXPECT_EQ(Detect(drifted(4), 0, 30), kMotion);    // total 40
  EXPECT_EQ(Detect(drifted(4), 0, 0), kNoMotion);
}

TEST_P(MotionDetectorTest, OddSizeDropsTheLastColumnAndTheBottomRow) {
  Frame frame = UniformFrame(321, 241, 127);
  ASSERT_EQ(Detect(frame, 0, 0), kNoMotion);
  EXPECT_EQ(DetectorReferencePlane()->columns, 160u);
  EXPECT_EQ(DetectorReferencePlane()->rows, 120u);
  for (int y = 0; y < 241; ++y) SetGrey(frame, 320, y, 255);
  for (int x = 0; x < 321; ++x) SetGrey(frame, x, 240, 0);
  EXPECT_EQ(Detect(frame, 0, 0), kNoMotion);
  SetGrey(frame, 319, 239, 255);
  EXPECT_EQ(Detect(frame, 0, 0), kMotion);
}

TEST_P(MotionDetectorTest, RowsWithFillerConvertUprightWithoutShearing) {
  // Width 321 stores 964 bytes a row. Vertical stripes two pixels wide, and a light band in
  // picture rows 0-1 with a dark one in rows 2-3, keep the mean at 127.
  Frame frame = MakeFrame(321, 9);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 321; ++x) {
      int value = (x / 2) % 2 ? 100 : 154;
      if (y < 2) value += 20;
      if (y >= 2 && y < 4) value -= 20;
      SetGrey(frame, x, y, value);
    }
  }
  ASSERT_EQ(Detect(frame, 0, 0), kNoMotion);
  const GrayPlane* plane = DetectorReferencePlane();
  ASSERT_EQ(plane->rows, 4u);
  for (uint32_t j = 0; j < 4; ++j) {
    for (uint32_t k = 0; k < 160; ++k) {
      const int expected = (k % 2 ? 100 : 154) + (j == 0 ? 20 : j == 1 ? -20 : 0);
      ASSERT_EQ(plane->rowPointers[j][k], expected) << "row " << j << " column " << k;
    }
  }
}

TEST_P(MotionDetectorTest, OtherBitCountsAreRefusedEveryTimeWithAMessage) {
  const Frame eight = MakeFrame(8, 8, 8);
  const Frame sixteen = MakeFrame(8, 8, 16);
  Frame odd = MakeFrame(8, 8);
  odd.bytes[15] = 1;  // bit count 24 + 256: both bytes are read
  testing::internal::CaptureStdout();
  EXPECT_EQ(Detect(eight, 15, 0), kRefused);  // before any plane exists
  EXPECT_EQ(Detect(odd, 15, 0), kRefused);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Can only handle 24 bit images\nCan only handle 24 bit images\n");
  EXPECT_EQ(allocations, 0);

  const Frame a = UniformFrame(8, 8, 127);
  Frame b = UniformFrame(8, 8, 127);
  SetBlock(b, 1, 1, 250);
  SetBlock(b, 2, 2, 4);
  EXPECT_EQ(Detect(a, 15, 0), kNoMotion);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Detect(sixteen, 15, 0), kRefused);
  EXPECT_EQ(Detect(eight, 15, 0), kRefused);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Can only handle 24 bit images\nCan only handle 24 bit images\n");
  EXPECT_EQ(Detect(b, 15, 0), kMotion);  // the reference is still a
}

TEST_P(MotionDetectorTest, OtherSizesAreRefusedSilentlyAlsoAfterReset) {
  const Frame first = UniformFrame(20, 12, 127);
  Frame moved = first;
  SetBlock(moved, 2, 2, 255);
  ASSERT_EQ(Detect(first, 15, 0), kNoMotion);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Detect(UniformFrame(22, 12, 127), 15, 0), kRefused);
  EXPECT_EQ(Detect(UniformFrame(21, 12, 127), 15, 0), kRefused);  // same half size
  EXPECT_EQ(Detect(UniformFrame(20, 13, 127), 15, 0), kRefused);
  EXPECT_EQ(ResetDetector(), 0);
  EXPECT_EQ(Detect(UniformFrame(22, 12, 127), 15, 0), kRefused);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(Detect(first, 15, 0), kNoMotion);  // the reference after the reset
  EXPECT_EQ(Detect(moved, 15, 0), kMotion);
}

TEST_P(MotionDetectorTest, TinyAndTopDownFramesAreRefusedWithoutTouchingTheState) {
  testing::internal::CaptureStdout();
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 50}, {50, 1}, {0, 0}, {-4, 4}, {4, -4}};
  for (auto [w, h] : sizes) {
    EXPECT_EQ(Detect(MakeFrame(w, h), 0, 0), kRefused) << w << " x " << h;
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(DetectorReferencePlane(), nullptr);
  EXPECT_EQ(Detect(UniformFrame(2, 2, 9), 0, 0), kNoMotion);  // 1 x 1 half plane
  EXPECT_EQ(Detect(UniformFrame(2, 2, 9), 0, 0), kNoMotion);
  EXPECT_EQ(Detect(MakeFrame(2, -2), 0, 0), kRefused);
}

TEST_P(MotionDetectorTest, HeaderFieldsAreReadFromTheirBytes) {
  // A 52-byte header with rubbish in the fields the detector does not read.
  Frame wide = MakeFrame(6, 4, 24, 52);
  for (size_t i = 16; i < 52; ++i) wide.bytes[i] = 0xEE;
  wide.bytes[12] = wide.bytes[13] = 0x77;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) SetGrey(wide, x, y, x < 2 ? 150 : 104);
  }
  ASSERT_EQ(Detect(wide, 0, 0), kNoMotion);
  // Values 150, 104, 104 in both rows: mean 119, shift +8.
  EXPECT_EQ(PlaneBytes(DetectorReferencePlane()),
            (std::vector<unsigned char>{158, 112, 112, 158, 112, 112}));
}

TEST_P(MotionDetectorTest, OutOfMemoryRefusesAndTriesAgainOnTheNextFrame) {
  const Frame a = UniformFrame(12, 10, 127);
  Frame b = a;
  SetBlock(b, 3, 3, 255);
  SetBlock(b, 4, 4, 0);
  // Allocations: full plane rows and block (1, 2), reference plane (3, 4), work plane (5, 6).
  for (int failing : {1, 2, 3, 4}) {
    ForgetDetectorState();
    allocations = 0;
    failAt = failing;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Detect(a, 15, 0), kRefused) << failing;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kOutOfMemory) << failing;
    EXPECT_EQ(outstanding, failing > 2 ? 2 : 0) << failing;
    EXPECT_EQ(Detect(b, 15, 0), kNoMotion) << failing;  // b becomes the reference
    EXPECT_EQ(Detect(a, 15, 0), kMotion) << failing;
  }
  // A failed first frame fixes no size: another size is accepted next.
  ForgetDetectorState();
  allocations = 0;
  failAt = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Detect(UniformFrame(30, 30, 1), 15, 0), kRefused);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Detect(a, 15, 0), kNoMotion);
  EXPECT_EQ(Detect(b, 15, 0), kMotion);

  for (int failing : {5, 6}) {
    ForgetDetectorState();
    allocations = 0;
    failAt = failing;
    EXPECT_EQ(Detect(a, 15, 0), kNoMotion);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Detect(b, 15, 0), kRefused);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kOutOfMemory);
    EXPECT_EQ(Detect(b, 15, 0), kMotion);  // the reference a has survived
  }
}

INSTANTIATE_TEST_SUITE_P(Passes, MotionDetectorTest,
                         testing::Values(kPlainPass, kFusedPass, kVectorPass),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(info.param == kPlainPass   ? "Plain"
                                              : info.param == kFusedPass ? "Fused"
                                                                         : "Vector");
                         });

// Camera-like frames: a texture with sensor noise, a moving square, brightness changes,
// frames that saturate in the normalisation, and the refusals and resets between them.
std::vector<Frame> CameraSequence(int width, int height, uint32_t seed) {
  std::mt19937 random(seed);
  Frame scene = MakeFrame(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) PixelAt(scene, x, y)[c] = static_cast<unsigned char>(random());
    }
  }
  std::vector<Frame> frames;
  for (int n = 0; n < 14; ++n) {
    Frame frame = scene;
    const int brightness = n == 4 ? 40 : n == 5 ? -60 : 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        unsigned char* pixel = PixelAt(frame, x, y);
        for (int c = 0; c < 3; ++c) {
          int value = pixel[c] + brightness + static_cast<int>(random() % 9) - 4;
          if (n == 6) value = value / 8;              // dark: shifted far up, saturates
          if (n == 7) value = 255 - value / 10;       // light: shifted far down
          if (n == 8 && (x + y) % 7 == 0) value = 0;  // speckles
          pixel[c] = static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
        }
        const int square = (n * 5) % (width > 8 ? width - 4 : 1);
        if (x >= square && x < square + width / 4 + 1 && y >= height / 3 && y < height / 2 + 1) {
          pixel[0] = 240, pixel[1] = 20, pixel[2] = static_cast<unsigned char>(n * 17);
        }
      }
    }
    frames.push_back(std::move(frame));
  }
  return frames;
}

// One run of a sequence: every result with the reference and work planes after it.
std::vector<std::vector<unsigned char>> RunSequence(int width, int height, uint32_t seed,
                                                    int pass) {
  ForgetDetectorState();
  EXPECT_EQ(UseDetectorPass(pass), pass);
  const std::vector<Frame> frames = CameraSequence(width, height, seed);
  const Frame eightBit = MakeFrame(width, height, 8);
  const Frame otherSize = MakeFrame(width + 2, height);
  const int thresholds[][2] = {{15, 30},  {0, 0},   {5, 1000}, {25, 50000}, {-3, 100},
                               {255, -1}, {400, 0}, {1, 10},   {15, 0}};
  std::vector<std::vector<unsigned char>> log;
  testing::internal::CaptureStdout();
  for (size_t step = 0; step < frames.size() + 4; ++step) {
    const int* t = thresholds[step % std::size(thresholds)];
    int result;
    if (step == 9) {
      result = DetectMotion(nullptr, 0, 0);
    } else if (step == 11) {
      result = Detect(eightBit, t[0], t[1]);
    } else if (step == 12) {
      result = Detect(otherSize, t[0], t[1]);
    } else {
      result = Detect(frames[step % frames.size()], t[0], t[1]);
    }
    log.push_back({static_cast<unsigned char>(result)});
    log.push_back(PlaneBytes(DetectorReferencePlane()));
    log.push_back(PlaneBytes(DetectorWorkPlane()));
  }
  log.push_back(std::vector<unsigned char>(testing::internal::GetCapturedStdout().size()));
  return log;
}

TEST(MotionDetectorPasses, AllPassesGiveTheSameResultsAndPlanes) {
  const std::pair<int, int> sizes[] = {
      {2, 2},  {3, 3},  {5, 7},   {17, 9},  {22, 6},   {23, 5},   {64, 2},    {67, 5},
      {68, 4}, {69, 3}, {130, 4}, {131, 7}, {133, 10}, {200, 33}, {321, 241}, {320, 240}};
  const bool vector = UseDetectorPass(kVectorPass) == kVectorPass;
  int motions = 0;
  for (auto [width, height] : sizes) {
    const uint32_t seed = static_cast<uint32_t>(width * 1000 + height);
    const auto plain = RunSequence(width, height, seed, kPlainPass);
    for (size_t i = 0; i < plain.size(); i += 3) motions += plain[i][0] == kMotion;
    EXPECT_EQ(RunSequence(width, height, seed, kFusedPass), plain) << width << " x " << height;
    if (vector) {
      EXPECT_EQ(RunSequence(width, height, seed, kVectorPass), plain) << width << " x " << height;
    }
  }
  ForgetDetectorState();
  EXPECT_GT(motions, 20) << "the sequences should exercise the exchange of planes";
}

}  // namespace
