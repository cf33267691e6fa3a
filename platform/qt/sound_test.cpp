// Beep on the desktop: the tone it generates, and the bell where no audio device takes it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "platform/qt/sound_output.h"
#include "platform/sound.h"
#include "platform/threads.h"

namespace {

struct Heard {
  std::vector<int16_t> samples;
  unsigned rate = 0;
  int plays = 0, bells = 0;
  DWORD paused = 0;
  bool deviceWorks = true;
};
Heard heard;

const qtbackend::SoundOutput kFakeOutput{[](const int16_t* samples, size_t count, unsigned rate) {
                                           ++heard.plays;
                                           heard.samples.assign(samples, samples + count);
                                           heard.rate = rate;
                                           return heard.deviceWorks;
                                         },
                                         [] { ++heard.bells; },
                                         [](DWORD milliseconds) { heard.paused += milliseconds; }};

TEST(QtSound, TheToneIsASineOfTheAskedFrequencyAndLength) {
  std::vector<int16_t> tone = qtbackend::ToneSamples(1000, 100);
  ASSERT_EQ(tone.size(), qtbackend::kToneRate / 10);
  int crossings = 0, peak = 0;
  for (size_t i = 1; i < tone.size(); ++i) {
    if ((tone[i - 1] < 0) != (tone[i] < 0)) ++crossings;
    peak = std::max(peak, std::abs(static_cast<int>(tone[i])));
  }
  // 100 cycles: two sign changes each.
  EXPECT_NEAR(crossings, 200, 2);
  EXPECT_GT(peak, 12000);
  // It fades in and out rather than clicking.
  EXPECT_LT(std::abs(tone.front()), 100);
  EXPECT_LT(std::abs(tone.back()), 100);
  EXPECT_NEAR(qtbackend::ToneSamples(440, 250).size(), 11025u, 1);
}

TEST(QtSound, BeepPlaysThroughTheDeviceOrRingsTheBell) {
  qtbackend::SetSoundOutput(&kFakeOutput);
  heard = Heard{};
  EXPECT_TRUE(Beep(1000, 100));
  EXPECT_EQ(heard.plays, 1);
  EXPECT_EQ(heard.rate, qtbackend::kToneRate);
  EXPECT_EQ(heard.samples, qtbackend::ToneSamples(1000, 100));
  EXPECT_EQ(heard.bells, 0);
  EXPECT_EQ(heard.paused, 0u);

  heard = Heard{};
  heard.deviceWorks = false;
  EXPECT_TRUE(Beep(1000, 100));
  EXPECT_EQ(heard.plays, 1);
  EXPECT_EQ(heard.bells, 1);
  EXPECT_EQ(heard.paused, 100u);  // the bell is short; the pause keeps the tone's length

  heard = Heard{};
  SetLastError(0);
  EXPECT_FALSE(Beep(36, 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(Beep(32768, 100));
  EXPECT_EQ(heard.plays, 0);
  qtbackend::SetSoundOutput(nullptr);
}

}  // namespace
