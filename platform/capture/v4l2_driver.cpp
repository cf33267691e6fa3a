// The V4L2 driver: RGB24 through libv4l2's conversion, memory-mapped streaming buffers, and
// the newest frame turned into a bottom-up BGR packed bitmap.
#include "platform/capture/v4l2_driver.h"

#include <dirent.h>
#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

constexpr int kBufferCount = 4;
// How long a grab waits for the device to deliver a frame.
constexpr int kFrameWaitMilliseconds = 2000;
// Sizes offered when a device describes its sizes as a range.
constexpr FrameSize kCommonSizes[] = {{160, 120}, {320, 240},  {352, 288},  {640, 480},
                                      {800, 600}, {1280, 720}, {1920, 1080}};
// The controls the source dialog offers, when the device has them.
constexpr uint32_t kControlIds[] = {
    V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST, V4L2_CID_SATURATION, V4L2_CID_HUE,
    V4L2_CID_GAMMA,      V4L2_CID_GAIN,     V4L2_CID_SHARPNESS,  V4L2_CID_EXPOSURE_ABSOLUTE};

std::vector<std::string> ListDevDirectory() {
  std::vector<std::pair<int, std::string>> found;
  if (DIR* dir = opendir("/dev")) {
    while (dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (std::strncmp(name, "video", 5) != 0) continue;
      char* end = nullptr;
      long number = std::strtol(name + 5, &end, 10);
      if (end == name + 5 || *end != '\0') continue;
      found.emplace_back(static_cast<int>(number), std::string("/dev/") + name);
    }
    closedir(dir);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& [number, path] : found) paths.push_back(std::move(path));
  return paths;
}

// libv4l2's open and ioctl take variable arguments; the table's take fixed ones.
int SystemOpen(const char* path, int flags) {
  return v4l2_open(path, flags);
}
int SystemIoctl(int fd, unsigned long request, void* argument) {
  return v4l2_ioctl(fd, request, argument);
}
int SystemPoll(int fd, int milliseconds) {
  pollfd entry{fd, POLLIN, 0};
  int result;
  do {
    result = ::poll(&entry, 1, milliseconds);
  } while (result < 0 && errno == EINTR);
  return result;
}

const V4l2Calls kSystemCalls{ListDevDirectory, SystemOpen,  v4l2_close, SystemIoctl,
                             v4l2_mmap,        v4l2_munmap, SystemPoll};
std::atomic<const V4l2Calls*> activeCalls{&kSystemCalls};

const V4l2Calls& Calls() {
  return *activeCalls.load();
}

// The capabilities of the opened device node (its own, when the device reports them).
uint32_t NodeCapabilities(const v4l2_capability& capability) {
  return (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps
                                                          : capability.capabilities;
}

// A text field of the kernel's records, which need not be terminated.
template <size_t N>
std::string FieldText(const uint8_t (&field)[N]) {
  const char* text = reinterpret_cast<const char*>(field);
  return std::string(text, strnlen(text, N));
}

int RetryIoctl(int fd, unsigned long request, void* argument) {
  int result;
  do {
    result = Calls().ioctl(fd, request, argument);
  } while (result < 0 && errno == EINTR);
  return result;
}

}  // namespace

void SetV4l2Calls(const V4l2Calls* calls) {
  activeCalls.store(calls ? calls : &kSystemCalls);
}

std::vector<V4l2Device> FindV4l2Devices() {
  std::vector<V4l2Device> devices;
  for (const std::string& path : Calls().listDevices()) {
    int fd = Calls().open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) continue;
    v4l2_capability capability{};
    if (RetryIoctl(fd, VIDIOC_QUERYCAP, &capability) == 0 &&
        (NodeCapabilities(capability) & V4L2_CAP_VIDEO_CAPTURE)) {
      char version[64];
      std::snprintf(version, sizeof version, "%.16s %u.%u.%u",
                    reinterpret_cast<const char*>(capability.driver),
                    (capability.version >> 16) & 0xff, (capability.version >> 8) & 0xff,
                    capability.version & 0xff);
      devices.push_back({path, FieldText(capability.card), version});
    }
    Calls().close(fd);
  }
  return devices;
}

V4l2Driver::V4l2Driver(V4l2Device device) : device_(std::move(device)) {}

V4l2Driver::~V4l2Driver() {
  Disconnect();
}

int V4l2Driver::Ioctl(unsigned long request, void* argument) {
  return RetryIoctl(fd_, request, argument);
}

bool V4l2Driver::Describe(std::string* name, std::string* version) {
  *name = device_.card;
  *version = device_.version;
  return true;
}

bool V4l2Driver::Connect() {
  if (fd_ >= 0) return true;
  fd_ = Calls().open(device_.path.c_str(), O_RDWR | O_NONBLOCK);
  if (fd_ < 0) return false;
  v4l2_capability capability{};
  bool ok = Ioctl(VIDIOC_QUERYCAP, &capability) == 0 &&
            (NodeCapabilities(capability) & V4L2_CAP_VIDEO_CAPTURE) &&
            (NodeCapabilities(capability) & V4L2_CAP_STREAMING);
  if (ok && !Configure(640, 480)) {
    // The device's own size, when it will not give 640 x 480.
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ok = Ioctl(VIDIOC_G_FMT, &current) == 0 && Configure(static_cast<int>(current.fmt.pix.width),
                                                         static_cast<int>(current.fmt.pix.height));
  }
  if (ok) ok = StartStreaming();
  if (!ok) Disconnect();
  return ok;
}

void V4l2Driver::Disconnect() {
  if (fd_ < 0) return;
  StopStreaming();
  Calls().close(fd_);
  fd_ = -1;
  haveFrame_ = false;
}

bool V4l2Driver::Configure(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.width = static_cast<uint32_t>(width);
  format.fmt.pix.height = static_cast<uint32_t>(height);
  format.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
  format.fmt.pix.field = V4L2_FIELD_NONE;
  if (Ioctl(VIDIOC_S_FMT, &format) != 0) return false;
  if (format.fmt.pix.pixelformat != V4L2_PIX_FMT_RGB24) return false;
  if (format.fmt.pix.width == 0 || format.fmt.pix.height == 0 || format.fmt.pix.width > 8192 ||
      format.fmt.pix.height > 8192) {
    return false;
  }
  width_ = static_cast<int>(format.fmt.pix.width);
  height_ = static_cast<int>(format.fmt.pix.height);
  bytesPerLine_ = std::max<size_t>(format.fmt.pix.bytesperline, 3 * static_cast<size_t>(width_));
  ShapeCaptureFrame(&frame_, width_, height_);
  haveFrame_ = false;
  return true;
}

bool V4l2Driver::StartStreaming() {
  v4l2_requestbuffers request{};
  request.count = kBufferCount;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  if (Ioctl(VIDIOC_REQBUFS, &request) != 0 || request.count == 0) return false;
  for (uint32_t i = 0; i < request.count; ++i) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = i;
    if (Ioctl(VIDIOC_QUERYBUF, &buffer) != 0) break;
    void* start = Calls().mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                               buffer.m.offset);
    if (start == MAP_FAILED) break;
    buffers_.push_back({start, buffer.length});
    if (Ioctl(VIDIOC_QBUF, &buffer) != 0) break;
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (buffers_.size() != request.count || Ioctl(VIDIOC_STREAMON, &type) != 0) {
    StopStreaming();
    return false;
  }
  streaming_ = true;
  return true;
}

void V4l2Driver::StopStreaming() {
  if (streaming_) {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Ioctl(VIDIOC_STREAMOFF, &type);
    streaming_ = false;
  }
  for (const Buffer& buffer : buffers_) Calls().munmap(buffer.start, buffer.length);
  if (!buffers_.empty()) {
    // Frees the device's buffers so that the format can change.
    v4l2_requestbuffers request{};
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    Ioctl(VIDIOC_REQBUFS, &request);
  }
  buffers_.clear();
}

bool V4l2Driver::GetCaps(CAPDRIVERCAPS* caps) {
  *caps = CAPDRIVERCAPS{};
  caps->fHasDlgVideoFormat = TRUE;
  caps->fHasDlgVideoSource = TRUE;
  caps->fCaptureInitialized = (fd_ >= 0 && streaming_) ? TRUE : FALSE;
  return true;
}

bool V4l2Driver::GetFormat(std::vector<BYTE>* format) {
  if (fd_ < 0) return false;
  BITMAPINFOHEADER header = MakeFormatHeader(width_, height_, 24);
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&header);
  format->assign(bytes, bytes + sizeof header);
  return true;
}

bool V4l2Driver::GetImageSize(UINT* width, UINT* height) {
  if (fd_ < 0) return false;
  *width = static_cast<UINT>(width_);
  *height = static_cast<UINT>(height_);
  return true;
}

bool V4l2Driver::SetPreviewRate(UINT milliseconds) {
  return fd_ >= 0 && milliseconds > 0;
}

bool V4l2Driver::SetPreview(bool) {
  return fd_ >= 0 && streaming_;
}

bool V4l2Driver::Grab() {
  if (fd_ < 0 || !streaming_) return false;
  if (Calls().poll(fd_, kFrameWaitMilliseconds) <= 0) return false;
  // Take every frame that is ready and keep the newest; older ones go back at once.
  v4l2_buffer newest{};
  bool have = false;
  for (;;) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (Ioctl(VIDIOC_DQBUF, &buffer) != 0) break;
    if (buffer.index >= buffers_.size()) continue;
    if (have) Ioctl(VIDIOC_QBUF, &newest);
    newest = buffer;
    have = true;
  }
  if (!have) return false;
  const Buffer& mapped = buffers_[newest.index];
  bool complete = !(newest.flags & V4L2_BUF_FLAG_ERROR) && newest.bytesused <= mapped.length &&
                  newest.bytesused >= bytesPerLine_ * static_cast<size_t>(height_ - 1) +
                                          3 * static_cast<size_t>(width_);
  if (complete) Convert(static_cast<const BYTE*>(mapped.start));
  Ioctl(VIDIOC_QBUF, &newest);
  return complete;
}

void V4l2Driver::Convert(const BYTE* rgb) {
  const size_t rowBytes = FrameRowBytes(width_);
  for (int y = 0; y < height_; ++y) {
    const BYTE* src = rgb + bytesPerLine_ * static_cast<size_t>(y);
    BYTE* dst = frame_.pixels() + rowBytes * static_cast<size_t>(height_ - 1 - y);
    for (int x = 0; x < width_; ++x, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  haveFrame_ = true;
}

const CaptureFrame* V4l2Driver::Frame() {
  return haveFrame_ ? &frame_ : nullptr;
}

std::vector<FrameSize> V4l2Driver::FrameSizes() {
  std::vector<FrameSize> sizes;
  if (fd_ < 0) return sizes;
  for (uint32_t index = 0; index < 64; ++index) {
    v4l2_frmsizeenum entry{};
    entry.index = index;
    entry.pixel_format = V4L2_PIX_FMT_RGB24;
    if (Ioctl(VIDIOC_ENUM_FRAMESIZES, &entry) != 0) break;
    if (entry.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      sizes.push_back(
          {static_cast<int>(entry.discrete.width), static_cast<int>(entry.discrete.height)});
      continue;
    }
    const v4l2_frmsize_stepwise& range = entry.stepwise;
    for (const FrameSize& size : kCommonSizes) {
      auto w = static_cast<uint32_t>(size.width), h = static_cast<uint32_t>(size.height);
      if (w >= range.min_width && w <= range.max_width && h >= range.min_height &&
          h <= range.max_height) {
        sizes.push_back(size);
      }
    }
    break;
  }
  if (sizes.empty()) sizes.push_back({width_, height_});
  return sizes;
}

bool V4l2Driver::ChangeSize(int width, int height) {
  if (fd_ < 0) return false;
  if (width == width_ && height == height_) return true;
  int oldWidth = width_, oldHeight = height_;
  StopStreaming();
  if (Configure(width, height) && StartStreaming()) return true;
  StopStreaming();
  if (Configure(oldWidth, oldHeight) && StartStreaming()) return false;
  // The device accepts neither size any more: it is no longer usable.
  Disconnect();
  return false;
}

std::vector<V4l2Driver::Control> V4l2Driver::Controls() {
  std::vector<Control> controls;
  if (fd_ < 0) return controls;
  for (uint32_t id : kControlIds) {
    v4l2_queryctrl query{};
    query.id = id;
    if (Ioctl(VIDIOC_QUERYCTRL, &query) != 0) continue;
    if ((query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) ||
        query.type != V4L2_CTRL_TYPE_INTEGER || query.maximum <= query.minimum) {
      continue;
    }
    v4l2_control value{};
    value.id = id;
    int current = Ioctl(VIDIOC_G_CTRL, &value) == 0 ? value.value : query.default_value;
    controls.push_back({id, FieldText(query.name), query.minimum, query.maximum,
                        std::max(1, query.step), current});
  }
  return controls;
}

bool V4l2Driver::SetControl(uint32_t id, int value) {
  if (fd_ < 0) return false;
  v4l2_control control{};
  control.id = id;
  control.value = value;
  return Ioctl(VIDIOC_S_CTRL, &control) == 0;
}

INT_PTR V4l2Driver::ShowFormatDialog(HWND owner) {
  FrameSize size{width_, height_};
  if (!ChooseFrameSize(owner, "Video Format", FrameSizes(), &size)) return 0;
  return ChangeSize(size.width, size.height) ? 1 : 0;
}

INT_PTR V4l2Driver::ShowSourceDialog(HWND owner) {
  if (fd_ < 0) return 0;
  std::vector<Control> controls = Controls();
  std::vector<Setting> settings;
  for (const Control& control : controls) {
    settings.push_back({control.name, control.minimum, control.maximum, control.value});
  }
  if (!AdjustSettings(owner, "Video Source", &settings)) return 0;
  bool all = true;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (settings[i].value != controls[i].value) {
      int step = controls[i].step;
      int value = controls[i].minimum + (settings[i].value - controls[i].minimum) / step * step;
      all = SetControl(controls[i].id, value) && all;
    }
  }
  return all ? 1 : 0;
}

}  // namespace platform
