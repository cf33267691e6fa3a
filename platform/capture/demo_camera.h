// The demo camera: a synthetic room (wall, floor, furniture, light from a window) with
// sensor noise, through which a figure walks every so often. Its picture carries a clear
// "DEMO CAMERA" mark. It keeps real time as a camera does: a stream of 30 frames a second on
// the platform's clock (GetTickCount and Sleep, so virtual on the headless backend), a grab
// that comes before the next frame is due waits for it, the preview shows the same stream,
// and the walks are timed on that clock. Everything that varies follows from the seed and
// the times of the grabs, so the same grabs at the same times give the same pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/capture/driver.h"

namespace platform {

class DemoCamera : public CaptureDriver {
 public:
  // The picture sizes the format dialog offers, each at kFramesPerSecond.
  static constexpr int kSizes[3][2] = {{160, 120}, {320, 240}, {640, 480}};
  static constexpr int kFramesPerSecond = 30;
  // How long one walk through the room takes.
  static constexpr int64_t kWalkMilliseconds = 4000;

  explicit DemoCamera(uint32_t seed = 1, int width = 320, int height = 240);

  // The clock the stream runs on; the backend's GetTickCount and Sleep unless set (a
  // benchmark on the headless backend sets the real clock).
  void SetClock(DWORD (*tickCount)(), void (*sleep)(DWORD milliseconds));
  // Picture size (one of kSizes); takes effect on the frame in the buffer at once.
  bool SetSize(int width, int height);
  // Brightness in percent (50 to 150, default 100).
  void SetBrightness(int percent);
  // Mean pause between two walks through the room in seconds (5 to 60, default 30); each
  // pause is drawn between two thirds and four thirds of it. Unless a walk is under way the
  // next one is drawn afresh from now.
  void SetWalkSeconds(int seconds);
  // Lets the next walk start `milliseconds` from now, unless one is under way (for showing a
  // figure soon: the screenshot tool and tests on the real clock).
  void StartWalkIn(int64_t milliseconds);
  int width() const { return width_; }
  int height() const { return height_; }
  int brightness() const { return brightness_; }
  int walkSeconds() const { return walkSeconds_; }
  // The stream's number of the frame in the buffer (-1 before the first), and its time in
  // milliseconds since the camera was connected.
  int64_t frameNumber() const { return frameNumber_; }
  int64_t frameTime() const { return FrameTime(frameNumber_); }
  // Milliseconds from the frame in the buffer until the next walk starts (0 or less while one
  // is under way), and whether a figure is in that frame.
  int64_t millisecondsUntilWalk() const { return nextWalk_ - frameTime(); }
  bool figureVisible() const { return walkStart_ >= 0; }

  bool Describe(std::string* name, std::string* version) override;
  bool Connect() override;
  void Disconnect() override;
  bool GetCaps(CAPDRIVERCAPS* caps) override;
  bool GetFormat(std::vector<BYTE>* format) override;
  bool GetImageSize(UINT* width, UINT* height) override;
  bool SetPreviewRate(UINT milliseconds) override;
  bool SetPreview(bool on) override;
  bool Grab() override;
  bool PreviewFrame() override;
  const CaptureFrame* Frame() override;
  INT_PTR ShowFormatDialog(HWND owner) override;
  INT_PTR ShowSourceDialog(HWND owner) override;

 private:
  // When frame `number` of the stream is due, in stream milliseconds (rounded up).
  static int64_t FrameTime(int64_t number);
  // The stream's clock: milliseconds since the camera was connected.
  int64_t StreamNow();
  uint32_t Random();
  int64_t DrawPause();
  void AdvanceWalks(int64_t time);
  void TakeFrame(int64_t number);
  void RenderRoom();
  void RenderFrame();
  void DrawFigure(double progress);

  uint32_t rngState_;
  int width_;
  int height_;
  int brightness_ = 100;
  int walkSeconds_ = 30;
  bool connected_ = false;
  DWORD (*tickCount_)();
  void (*sleep_)(DWORD);
  DWORD lastTick_ = 0;        // the clock's reading when the stream time was last brought on
  int64_t streamTime_ = 0;    // stream milliseconds at lastTick_
  int64_t frameNumber_ = -1;  // the stream's frame in the buffer, or -1
  int64_t grabbed_ = -1;      // the last frame a grab handed out, or -1
  int64_t nextWalk_ = 0;      // stream time at which the next walk starts
  int64_t walkStart_ = -1;    // stream time at which the walk under way started, or -1
  bool walkLeftToRight_ = true;
  // Pictures of the room with the mark and sensor noise, taken by the frames in turn.
  static constexpr size_t kNoisyRooms = 4;
  std::vector<CaptureFrame> noisyRooms_;
  std::vector<BYTE> noise_;                // sensor noise values, 0 to 5
  CaptureFrame frame_;                     // a noisy room with the figure, during walks
  const CaptureFrame* current_ = nullptr;  // the frame in the buffer: frame_ or a noisy room
};

}  // namespace platform
