// The demo camera: its pictures (the mark, the noise, the figure), its stream of 30 frames a
// second on the platform's clock (the headless backend's virtual clock here), shared by grabs
// and the preview, and the timing of its walks.
#include "platform/capture/demo_camera.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/headless/headless.h"

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
  EXPECT_FALSE(camera.PreviewFrame());
  EXPECT_FALSE(camera.CurrentFrame(&none));
  EXPECT_EQ(camera.Frame(), nullptr);
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

TEST(DemoCameraTest, GrabsWaitForEachFrameAtThirtyASecondAtEverySize) {
  for (const auto& size : DemoCamera::kSizes) {
    DemoCamera camera(5, size[0], size[1]);
    ASSERT_TRUE(camera.Connect());
    const uint64_t start = headless::Now();
    for (int64_t n = 0; n <= 90; ++n) {
      const uint64_t before = headless::Now();
      ASSERT_TRUE(camera.Grab());
      EXPECT_EQ(camera.frameNumber(), n) << "consecutive frames of one stream";
      if (n > 0) {
        EXPECT_GE(headless::Now() - before, 33u) << "a grab waits for the next frame";
        EXPECT_LE(headless::Now() - before, 34u);
      }
    }
    EXPECT_EQ(headless::Now() - start, 3000u) << size[0] << " x " << size[1];
    EXPECT_EQ(camera.frameTime(), 3000);
    EXPECT_EQ(camera.Frame()->header()->biWidth, size[0]);

    // A grab that comes late waits for nothing and takes the newest frame; the frames in
    // between were never taken.
    headless::Advance(1000);
    const uint64_t late = headless::Now();
    ASSERT_TRUE(camera.Grab());
    EXPECT_EQ(headless::Now(), late);
    EXPECT_EQ(camera.frameNumber(), 120);
  }
}

TEST(DemoCameraTest, ThePreviewShowsTheSameStreamWithoutWaiting) {
  DemoCamera camera(6, 160, 120);
  ASSERT_TRUE(camera.Connect());
  ASSERT_TRUE(camera.Grab());  // frame 0
  uint64_t now = headless::Now();
  EXPECT_FALSE(camera.PreviewFrame()) << "no new frame yet";
  EXPECT_EQ(headless::Now(), now) << "the preview never waits";
  headless::Advance(40);
  ASSERT_TRUE(camera.PreviewFrame());
  EXPECT_EQ(camera.frameNumber(), 1);
  CaptureFrame shown;
  ASSERT_TRUE(camera.CurrentFrame(&shown));
  // The next grab hands out the frame the preview took, at once and unchanged; the one after
  // waits for frame 2.
  now = headless::Now();
  EXPECT_EQ(Next(camera).dib, shown.dib);
  EXPECT_EQ(camera.frameNumber(), 1);
  EXPECT_EQ(headless::Now(), now);
  Next(camera);
  EXPECT_EQ(camera.frameNumber(), 2);
  EXPECT_EQ(camera.frameTime(), 67);
  EXPECT_EQ(headless::Now() - now, 67u - 40u);
}

TEST(DemoCameraTest, AFigureWalksForFourSecondsEveryTwentyToFortySeconds) {
  for (uint32_t seed : {1u, 2u, 99u}) {
    DemoCamera camera(seed, 160, 120);
    ASSERT_TRUE(camera.Connect());
    CaptureFrame empty = Next(camera);
    std::vector<std::pair<int64_t, int64_t>> walks;  // first and last frame time with a figure
    int mostChanged = 0;
    while (camera.frameTime() < 90000) {
      CaptureFrame frame = Next(camera);
      if (!camera.figureVisible()) continue;
      if (walks.empty() || walks.back().second < camera.frameTime() - 34) {
        walks.push_back({camera.frameTime(), camera.frameTime()});
      }
      walks.back().second = camera.frameTime();
      if (walks.size() == 1) mostChanged = std::max(mostChanged, CountChanged(empty, frame, 20));
    }
    ASSERT_GE(walks.size(), 2u) << seed;
    EXPECT_GE(walks[0].first, 20000) << seed;
    EXPECT_LE(walks[0].first, 40000 + 34) << seed;
    for (size_t i = 0; i < walks.size(); ++i) {
      if (i + 1 < walks.size() || walks[i].second + 34 < camera.frameTime()) {
        EXPECT_NEAR(walks[i].second - walks[i].first, 4000 - 33, 34) << seed << " walk " << i;
      }
      if (i > 0) {
        const int64_t pause = walks[i].first - walks[i - 1].second;
        EXPECT_GE(pause, 20000) << seed;
        EXPECT_LE(pause, 40000 + 2 * 34) << seed;
      }
    }
    EXPECT_GT(mostChanged, 160 * 120 / 20) << "the figure covers a good part of the picture";
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
  EXPECT_LE(camera.millisecondsUntilWalk(), 6667 + 34);
  EXPECT_FALSE(camera.SetPreviewRate(0));

  // A walk asked for soon starts then.
  camera.StartWalkIn(500);
  const int64_t asked = camera.frameTime();
  while (!camera.figureVisible()) Next(camera);
  EXPECT_NEAR(camera.frameTime() - asked, 500, 34);
}

// A clock of the test's own, as a benchmark sets the real one: the grab sleeps on it, and its
// 32-bit tick count may wrap without the stream noticing.
DWORD fakeTicks = 0;
DWORD slept = 0;
DWORD FakeTickCount() {
  return fakeTicks;
}
void FakeSleep(DWORD milliseconds) {
  slept += milliseconds;
  fakeTicks += milliseconds;
}

TEST(DemoCameraTest, RunsOnTheClockItIsGivenAcrossTheTickCountsWrap) {
  DemoCamera camera(8, 160, 120);
  fakeTicks = 0xFFFFFFFFu - 500;
  camera.SetClock(FakeTickCount, FakeSleep);
  ASSERT_TRUE(camera.Connect());
  const uint64_t virtualStart = headless::Now();
  for (int n = 0; n <= 30; ++n) ASSERT_TRUE(camera.Grab());
  EXPECT_EQ(slept, 1000u);
  EXPECT_EQ(camera.frameNumber(), 30);
  EXPECT_EQ(headless::Now(), virtualStart) << "the backend's clock is not used";
  EXPECT_LT(fakeTicks, 1000u) << "the tick count wrapped";
}

}  // namespace
}  // namespace platform
