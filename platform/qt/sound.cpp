// Tones, pauses and the clock of the Qt display, on the real clock. A tone is a sine wave
// played through ALSA's "default" device, with the display's bell where no device takes it;
// either way it ends when the tone's time is over.
#include <alsa/asoundlib.h>

#include <QApplication>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "platform/qt/qt_state.h"
#include "platform/qt/sound_output.h"

namespace qtbackend {
namespace {

// ALSA reports a missing sound card on standard error; the bell takes over quietly instead.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

bool AlsaPlay(const int16_t* samples, size_t count, unsigned rate) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { snd_lib_error_set_handler(QuietAlsaError); });
  snd_pcm_t* pcm = nullptr;
  // Opened without blocking so that a busy device fails at once rather than hanging.
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return false;
  bool played = snd_pcm_nonblock(pcm, 0) == 0 &&
                snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                                   rate, 1, 50000) == 0;
  size_t done = 0;
  while (played && done < count) {
    snd_pcm_sframes_t written = snd_pcm_writei(pcm, samples + done, count - done);
    if (written < 0) written = snd_pcm_recover(pcm, static_cast<int>(written), 1);
    played = written >= 0;
    if (played) done += static_cast<size_t>(written);
  }
  if (played) snd_pcm_drain(pcm);
  snd_pcm_close(pcm);
  return played;
}

// The bell belongs to the window thread.
void DisplayBell() {
  internal::PostToWindowThread(QApplication::beep);
}

const SoundOutput kDesktopOutput{AlsaPlay, DisplayBell, window_system::display::Pause};
std::atomic<const SoundOutput*> output{&kDesktopOutput};

}  // namespace

std::vector<int16_t> ToneSamples(DWORD frequency, DWORD duration) {
  size_t count = static_cast<size_t>(uint64_t{kToneRate} * duration / 1000);
  size_t fade = std::min<size_t>(count / 2, kToneRate / 200);  // 5 ms
  std::vector<int16_t> samples(count);
  const double step = 2.0 * M_PI * frequency / kToneRate;
  for (size_t i = 0; i < count; ++i) {
    double gain = 0.5;
    if (i < fade) gain *= static_cast<double>(i) / fade;
    if (count - i <= fade) gain *= static_cast<double>(count - 1 - i) / fade;
    samples[i] = static_cast<int16_t>(std::lround(32767.0 * gain * std::sin(step * i)));
  }
  return samples;
}

void SetSoundOutput(const SoundOutput* replacement) {
  output.store(replacement ? replacement : &kDesktopOutput);
}

}  // namespace qtbackend

namespace window_system::display {

void Tone(DWORD frequency, DWORD duration) {
  const qtbackend::SoundOutput* out = qtbackend::output.load();
  std::vector<int16_t> samples = qtbackend::ToneSamples(frequency, duration);
  if (!out->play(samples.data(), samples.size(), qtbackend::kToneRate)) {
    out->bell();
    out->pause(duration);
  }
}

void Pause(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {
// The moment the display started, for its clock.
const std::chrono::steady_clock::time_point displayStart = std::chrono::steady_clock::now();
}  // namespace

uint64_t Now() {
  auto elapsed = std::chrono::steady_clock::now() - displayStart;
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace window_system::display
