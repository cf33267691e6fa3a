// The frame handler: the one place where a grabbed frame meets the alarm's logic.
#include "detect/frame_handler.h"

#include "app/app_windows.h"
#include "detect/alarm_state.h"
#include "detect/motion_detector.h"
#include "net/upload_exchange.h"
#include "platform/dialog.h"
#include "platform/memory.h"
#include "platform/sound.h"
#include "snapshot/snapshot_writer.h"

namespace {

// Frames handled after the counter was set to 0 during which every result is held back.
constexpr int32_t kWarmUpFrames = 60;
// A beep on every fifth warm-up frame: 1000 Hz for 100 ms.
constexpr int32_t kBeepPeriod = 5;
constexpr DWORD kBeepFrequency = 1000;
constexpr DWORD kBeepMilliseconds = 100;
// `sensitivity` counts thousands of the detector's total difference.
constexpr int kSensitivityFactor = 1000;
// The snapshot's JPEG quality, whatever the settings.
constexpr int kSnapshotQuality = 70;

}  // namespace

int HandleFrame(HGLOBAL frameBlock) {
  if (!frameBlock) return 0;
  auto* frame = static_cast<const unsigned char*>(GlobalLock(frameBlock));

  int result = DetectMotion(frame, smoothing, sensitivity * kSensitivityFactor);
  AlarmState.motionDetected = result;
  if (result == kRefused) MessageBoxA(MainWindow, "malloc error", "Error", MB_OK);

  int32_t counter = AlarmState.frameCounter;
  if (counter < kWarmUpFrames) {
    AlarmState.motionDetected = 0;
    if (counter % kBeepPeriod == 0) Beep(kBeepFrequency, kBeepMilliseconds);
    AlarmState.frameCounter = counter + 1;
  }

  // Outside a test run a non-zero result, refusals included, is written and uploaded; the
  // upload's reply makes no difference here. (A stale block locks to no frame, which the
  // detector takes as a reset and answers with 0.)
  if (AlarmState.testing == 0 && AlarmState.motionDetected != 0 && frame) {
    WriteSnapshot(frame, kSnapshotQuality);
    UploadExchange();
  }

  GlobalUnlock(frameBlock);
  return 1;
}
