// The demo camera: a synthetic room (wall, floor, furniture, light from a window) with
// sensor noise, through which a figure walks every so often. Its picture carries a clear
// "DEMO CAMERA" mark. Timing is counted in frames at the preview rate, and everything that
// varies follows from the seed, so a given seed always gives the same pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/capture/driver.h"

namespace platform {

class DemoCamera : public CaptureDriver {
 public:
  // The picture sizes the format dialog offers.
  static constexpr int kSizes[3][2] = {{160, 120}, {320, 240}, {640, 480}};

  explicit DemoCamera(uint32_t seed = 1, int width = 320, int height = 240);

  // Picture size (one of kSizes); takes effect on the frame in the buffer at once.
  bool SetSize(int width, int height);
  // Brightness in percent (50 to 150, default 100).
  void SetBrightness(int percent);
  // Mean pause between two walks through the room in seconds (5 to 60, default 30); each
  // pause is drawn between two thirds and four thirds of it.
  void SetWalkSeconds(int seconds);
  int width() const { return width_; }
  int height() const { return height_; }
  int brightness() const { return brightness_; }
  int walkSeconds() const { return walkSeconds_; }
  // Frames grabbed before the next walk starts, and whether a figure is in the picture.
  int64_t framesUntilWalk() const { return nextWalk_ - frameNumber_; }
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
  bool CurrentFrame(CaptureFrame* frame) override;
  INT_PTR ShowFormatDialog(HWND owner) override;
  INT_PTR ShowSourceDialog(HWND owner) override;

 private:
  uint32_t Random();
  int FramesFor(int milliseconds) const;
  void ScheduleWalk();
  void RenderRoom();
  void RenderFrame();
  void DrawFigure(double progress);

  uint32_t rngState_;
  int width_;
  int height_;
  int brightness_ = 100;
  int walkSeconds_ = 30;
  UINT previewRate_ = 33;
  bool connected_ = false;
  int64_t frameNumber_ = 0;  // frames grabbed so far
  int64_t nextWalk_ = 0;     // frame number at which the next walk starts
  int64_t walkStart_ = -1;   // frame number at which the current walk started, or -1
  int walkFrames_ = 0;       // length of the current walk in frames
  bool walkLeftToRight_ = true;
  std::vector<BYTE> room_;   // the static room with the mark, as packed rows
  std::vector<BYTE> noise_;  // sensor noise values, 0 to 5
  CaptureFrame frame_;       // the frame buffer
  bool haveFrame_ = false;
};

}  // namespace platform
