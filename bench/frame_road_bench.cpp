// The road of one 640 x 480 frame: the driver's grab, the copy to the clipboard as a device
// bitmap, the conversion to a packed bitmap and its displayable copy, and the frame handler
// (a test run after the warm-up, so no snapshot), beside the detector alone on the same
// frame and the demo camera drawing one frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "bench/bench_ratios.h"
#include "bench/bench_windows.h"
#include "camera/camera_connection.h"
#include "camera/frame_grabber.h"
#include "detect/alarm_state.h"
#include "detect/motion_detector.h"
#include "platform/capture/demo_camera.h"
#include "platform/capture/drivers.h"
#include "platform/capture/scripted_driver.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// Two successive pictures of the demo camera's room.
std::vector<platform::CaptureFrame> RoomFrames() {
  platform::DemoCamera camera(9, kWidth, kHeight);
  camera.Connect();
  std::vector<platform::CaptureFrame> frames(2);
  for (auto& frame : frames) {
    camera.Grab();
    camera.CurrentFrame(&frame);
  }
  return frames;
}

// Mean nanoseconds of one DetectMotion call on the frames.
double DetectorNanoseconds(const std::vector<platform::CaptureFrame>& frames, int calls) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    benchmark::DoNotOptimize(DetectMotion(frames[i % 2].dib.data(), 15, 30000));
  }
  std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / calls;
}

void BM_FrameRoad640(benchmark::State& state) {
  MakeProgramWindowsOnce();
  std::vector<platform::CaptureFrame> frames = RoomFrames();
  auto driver = std::make_shared<platform::ScriptedDriver>();
  driver->SetFrameGenerator([frames](int n) { return frames[n % 2]; });
  platform::InstallCaptureDrivers({driver});
  SendCaptureRequest(WM_CAP_DRIVER_CONNECT, 0, 0);
  AlarmState.testing = 1;
  ResetDetector();
  CaptureReference(0);
  AlarmState.frameCounter = 60;  // past the warm-up: no beeps
  for (auto _ : state) GrabFrame();
  // The detector's share of the road, measured on the same frames after the loop.
  state.counters["detector_ns"] = DetectorNanoseconds(frames, 200);
  SendCaptureRequest(WM_CAP_DRIVER_DISCONNECT, 0, 0);
}
BENCHMARK(BM_FrameRoad640)->Unit(benchmark::kMillisecond);

void BM_DetectorAlone640(benchmark::State& state) {
  std::vector<platform::CaptureFrame> frames = RoomFrames();
  ResetDetector();
  int i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(DetectMotion(frames[i++ % 2].dib.data(), 15, 30000));
}
BENCHMARK(BM_DetectorAlone640)->Unit(benchmark::kMillisecond);

void BM_DemoCameraFrame640(benchmark::State& state) {
  platform::DemoCamera camera(9, kWidth, kHeight);
  camera.Connect();
  for (auto _ : state) camera.Grab();
}
BENCHMARK(BM_DemoCameraFrame640)->Unit(benchmark::kMillisecond);

const bool ratiosAsked = [] {
  AddBenchRatio("frame road / DetectMotion alone, 640x480", "BM_FrameRoad640",
                "BM_DetectorAlone640", kAtMost, 7.0);
  return true;
}();

}  // namespace
