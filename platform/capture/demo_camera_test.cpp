// The demo camera's pictures: the mark, the noise, the walks and their timing.
#include "platform/capture/demo_camera.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace platform {
namespace {

// Pixels that differ by more than `threshold` in any colour.
int CountChanged(const CaptureFrame& a, const CaptureFrame& b, int threshold) {
  int changed = 0;
  for (size_t i = sizeof(BITMAPINFOHEADER); i + 2 < a.dib.size(); i += 3) {
    for (int c = 0; c < 3; ++c) {
      if (std::abs(a.dib[i + c] - b.dib[i + c]) > threshold) {
        ++changed;
        break;
      }
    }
  }
  return changed;
}

CaptureFrame Next(DemoCamera& camera) {
  EXPECT_TRUE(camera.Grab());
  CaptureFrame frame;
  EXPECT_TRUE(camera.CurrentFrame(&frame));
  return frame;
}

TEST(DemoCameraTest, NoiseOnlyBetweenWalksAndTheSameFramesForTheSameSeed) {
  DemoCamera camera(7), twin(7);
  CaptureFrame none;
  EXPECT_FALSE(camera.Grab()) << "not connected";
  EXPECT_FALSE(camera.CurrentFrame(&none));
  ASSERT_TRUE(camera.Connect());
  ASSERT_TRUE(twin.Connect());
  CaptureFrame first = Next(camera);
  EXPECT_EQ(first.header()->biWidth, 320);
  EXPECT_EQ(first.header()->biBitCount, 24);
  ASSERT_EQ(first.dib.size(), 40u + 960u * 240u);
  EXPECT_EQ(first.dib, Next(twin).dib);
  CaptureFrame second = Next(camera);
  EXPECT_NE(first.dib, second.dib) << "sensor noise changes every frame";
  EXPECT_EQ(CountChanged(first, second, 5), 0) << "noise stays within 5 levels";
}

TEST(DemoCameraTest, CarriesTheMarkInTheTopLeftCorner) {
  DemoCamera camera(3, 640, 480);
  ASSERT_TRUE(camera.Connect());
  CaptureFrame frame = Next(camera);
  // The mark's box is dark red, its letters white; look at the top 30 rows, left 280 pixels.
  int red = 0, white = 0;
  const size_t row = FrameRowBytes(640);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 280; ++x) {
      const BYTE* p = frame.pixels() + row * static_cast<size_t>(479 - y) + 3 * x;
      if (p[2] >= 165 && p[0] < 30 && p[1] < 30) ++red;
      if (p[0] >= 245 && p[1] >= 245 && p[2] >= 245) ++white;
    }
  }
  EXPECT_GT(red, 3000);
  EXPECT_GT(white, 500);
}

TEST(DemoCameraTest, AFigureWalksThroughEveryTwentyToFortySeconds) {
  for (uint32_t seed : {1u, 2u, 99u}) {
    DemoCamera camera(seed, 160, 120);
    ASSERT_TRUE(camera.SetPreviewRate(33));
    ASSERT_TRUE(camera.Connect());
    CaptureFrame empty = Next(camera);
    int64_t firstWalk = -1, frames = 1;
    int mostChanged = 0;
    for (; frames < 4000; ++frames) {
      CaptureFrame frame = Next(camera);
      if (camera.figureVisible()) {
        if (firstWalk < 0) firstWalk = frames;
        mostChanged = std::max(mostChanged, CountChanged(empty, frame, 20));
      } else if (firstWalk >= 0) {
        break;
      }
    }
    // 20 to 40 seconds at 33 ms per frame, then a walk of about four seconds.
    EXPECT_GE(firstWalk, 20000 / 33 - 1) << seed;
    EXPECT_LE(firstWalk, 40000 / 33 + 1) << seed;
    EXPECT_NEAR(static_cast<double>(frames - firstWalk), 4000.0 / 33, 2) << seed;
    EXPECT_GT(mostChanged, 160 * 120 / 20) << "the figure covers a good part of the picture";
    EXPECT_GE(camera.framesUntilWalk(), 20000 / 33 - 1);
  }
}

TEST(DemoCameraTest, SizesAndSettingsFollowTheirRanges) {
  DemoCamera camera;
  ASSERT_TRUE(camera.Connect());
  EXPECT_FALSE(camera.SetSize(300, 200));
  ASSERT_TRUE(camera.SetSize(640, 480));
  UINT width = 0, height = 0;
  ASSERT_TRUE(camera.GetImageSize(&width, &height));
  EXPECT_EQ(width, 640u);
  EXPECT_EQ(height, 480u);
  std::vector<BYTE> format;
  ASSERT_TRUE(camera.GetFormat(&format));
  ASSERT_EQ(format.size(), 40u);
  EXPECT_EQ(reinterpret_cast<const BITMAPINFOHEADER*>(format.data())->biSizeImage, 921600u);

  CaptureFrame normal = Next(camera);
  camera.SetBrightness(150);
  CaptureFrame bright = Next(camera);
  long sumNormal = 0, sumBright = 0;
  for (size_t i = 40; i < normal.dib.size(); ++i) {
    sumNormal += normal.dib[i];
    sumBright += bright.dib[i];
  }
  EXPECT_GT(sumBright, sumNormal * 6 / 5);
  camera.SetBrightness(1000);
  EXPECT_EQ(camera.brightness(), 150);
  camera.SetWalkSeconds(1);
  EXPECT_EQ(camera.walkSeconds(), 5);
  EXPECT_LE(camera.framesUntilWalk(), 6700 / 33 + 1);
  EXPECT_FALSE(camera.SetPreviewRate(0));
}

}  // namespace
}  // namespace platform
