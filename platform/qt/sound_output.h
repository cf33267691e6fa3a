// How the Qt backend's Beep reaches a speaker: through the desktop's audio (ALSA's "default"
// device), falling back to the display's bell where there is no audio device. Tests install
// their own output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace qtbackend {

struct SoundOutput {
  // Plays 16-bit mono samples at `rate` Hz and returns once they have been heard; false when
  // no audio device took them.
  bool (*play)(const int16_t* samples, size_t count, unsigned rate);
  // Rings the display's bell.
  void (*bell)();
  // Waits as long as a tone lasts.
  void (*pause)(DWORD milliseconds);
};

// The sample rate of every tone.
constexpr unsigned kToneRate = 44100;

// The samples of a sine tone of `frequency` Hz lasting `duration` milliseconds at
// kToneRate, with short fades at both ends so that it starts and stops without a click.
std::vector<int16_t> ToneSamples(DWORD frequency, DWORD duration);

// Replaces the output (null restores the desktop's).
void SetSoundOutput(const SoundOutput* output);

}  // namespace qtbackend
