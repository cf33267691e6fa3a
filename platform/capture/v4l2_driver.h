// Video capture devices through libv4l2, which converts every camera format (MJPEG, YUYV,
// ...) to RGB24. All device calls go through a table of function pointers so that tests can
// stand in for a device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/capture/driver.h"
#include "platform/capture/driver_dialogs.h"

namespace platform {

struct V4l2Calls {
  // Device paths to look at, in the order of their numbers (/dev/video0, /dev/video1, ...).
  std::vector<std::string> (*listDevices)();
  int (*open)(const char* path, int flags);
  int (*close)(int fd);
  // Sets errno on failure, like ioctl.
  int (*ioctl)(int fd, unsigned long request, void* argument);
  void* (*mmap)(void* start, size_t length, int protection, int flags, int fd, int64_t offset);
  int (*munmap)(void* start, size_t length);
  // Waits up to `milliseconds` for a frame: > 0 ready, 0 time-out, < 0 error.
  int (*poll)(int fd, int milliseconds);
};

// Installs the calls every V4L2 driver uses from now on, null for those of libv4l2 and the
// system; the table must outlive them.
void SetV4l2Calls(const V4l2Calls* calls);

struct V4l2Device {
  std::string path;
  std::string card;     // the device's name
  std::string version;  // the kernel driver and its version
};

// The devices that capture video, in order.
std::vector<V4l2Device> FindV4l2Devices();

class V4l2Driver : public CaptureDriver {
 public:
  explicit V4l2Driver(V4l2Device device);
  explicit V4l2Driver(std::string path) : V4l2Driver(V4l2Device{path, path, ""}) {}
  ~V4l2Driver() override;

  // A control of the device offered by the source dialog.
  struct Control {
    uint32_t id;
    std::string name;
    int minimum, maximum, step, value;
  };
  // The frame sizes the device offers in RGB24.
  std::vector<FrameSize> FrameSizes();
  // Changes the picture size (streaming restarts); false when the device refused it, in
  // which case the previous size is restored.
  bool ChangeSize(int width, int height);
  std::vector<Control> Controls();
  bool SetControl(uint32_t id, int value);
  int width() const { return width_; }
  int height() const { return height_; }

  bool Describe(std::string* name, std::string* version) override;
  bool Connect() override;
  void Disconnect() override;
  bool GetCaps(CAPDRIVERCAPS* caps) override;
  bool GetFormat(std::vector<BYTE>* format) override;
  bool GetImageSize(UINT* width, UINT* height) override;
  bool SetPreviewRate(UINT milliseconds) override;
  bool SetPreview(bool on) override;
  bool Grab() override;
  const CaptureFrame* Frame() override;
  INT_PTR ShowFormatDialog(HWND owner) override;
  INT_PTR ShowSourceDialog(HWND owner) override;

 private:
  struct Buffer {
    void* start;
    size_t length;
  };
  bool Configure(int width, int height);
  bool StartStreaming();
  void StopStreaming();
  int Ioctl(unsigned long request, void* argument);
  void Convert(const BYTE* rgb);

  V4l2Device device_;
  int fd_ = -1;
  int width_ = 0;
  int height_ = 0;
  size_t bytesPerLine_ = 0;
  std::vector<Buffer> buffers_;
  bool streaming_ = false;
  CaptureFrame frame_;
  bool haveFrame_ = false;
};

}  // namespace platform
