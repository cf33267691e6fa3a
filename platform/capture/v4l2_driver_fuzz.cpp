// Fuzzes the V4L2 driver's frame path against a device whose every answer comes from the
// input, through the driver's call table: capabilities, formats (any size, pixel format and
// bytes per line), buffer counts and lengths, the mapped buffers' bytes, dequeued buffers
// (any index, byte count and flags), poll results, frame sizes and controls. The input also
// chooses what the program asks of the driver: connect, grab, read the frame, change the size,
// read and set controls, disconnect. A frame the driver hands out must be a whole 24-bit
// packed bitmap of its size; every mapped buffer must be unmapped by the end.
#include <fuzzer/FuzzedDataProvider.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "platform/capture/v4l2_driver.h"
#include "tests/support/fuzz_frames.h"

namespace {

constexpr int kCameraFd = 1000;
// Larger buffers than this are refused by the device's mmap.
constexpr size_t kMostBufferBytes = 8u << 20;
constexpr int kMostActions = 24;

// The input of the run in hand, read by the device's answers and by the harness.
FuzzedDataProvider* input = nullptr;
bool deviceOpen = false;
std::map<void*, std::unique_ptr<unsigned char[]>> mapped;
// The length the device gave each buffer, by index.
std::map<uint32_t, uint32_t> bufferLengths;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "v4l2 driver: %s\n", what);
  std::abort();
}

int Refuse() {
  static constexpr int kErrors[] = {EINVAL, EIO, EBUSY, EAGAIN, ENOTTY, ENODEV};
  errno = input->PickValueInArray(kErrors);
  return -1;
}

// Most answers succeed; an exhausted input makes every call fail, so every loop ends.
bool Succeeds() {
  return input->remaining_bytes() > 0 && input->ConsumeIntegralInRange(0, 7) != 0;
}

// A size that is usually a camera's and sometimes anything.
uint32_t ConsumeSide() {
  return input->ConsumeBool() ? input->ConsumeIntegral<uint32_t>()
                              : input->ConsumeIntegralInRange<uint32_t>(0, 320);
}

void AnswerFormat(v4l2_format* format) {
  format->fmt.pix.width = ConsumeSide();
  format->fmt.pix.height = ConsumeSide();
  format->fmt.pix.pixelformat =
      input->ConsumeBool() ? V4L2_PIX_FMT_RGB24 : input->ConsumeIntegral<uint32_t>();
  format->fmt.pix.bytesperline =
      input->ConsumeBool() ? 0 : input->ConsumeIntegralInRange<uint32_t>(0, 1500);
}

int Ioctl(int fd, unsigned long request, void* argument) {
  if (fd != kCameraFd || !deviceOpen) Fail("an ioctl on a descriptor that is not open");
  if (!Succeeds()) return Refuse();
  switch (request) {
    case VIDIOC_QUERYCAP: {
      auto* capability = static_cast<v4l2_capability*>(argument);
      const std::vector<uint8_t> card = input->ConsumeBytes<uint8_t>(sizeof capability->card);
      std::copy(card.begin(), card.end(), capability->card);
      capability->capabilities = input->ConsumeBool() ? V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING
                                                      : input->ConsumeIntegral<uint32_t>();
      capability->device_caps = input->ConsumeIntegral<uint32_t>();
      return 0;
    }
    case VIDIOC_S_FMT:
    case VIDIOC_G_FMT:
      AnswerFormat(static_cast<v4l2_format*>(argument));
      return 0;
    case VIDIOC_REQBUFS:
      static_cast<v4l2_requestbuffers*>(argument)->count =
          input->ConsumeBool() ? input->ConsumeIntegralInRange<uint32_t>(0, 6)
                               : input->ConsumeIntegral<uint32_t>();
      return 0;
    case VIDIOC_QUERYBUF: {
      auto* buffer = static_cast<v4l2_buffer*>(argument);
      // Mostly the size of a frame the device might send, sometimes anything.
      buffer->length = input->ConsumeBool() ? input->ConsumeIntegralInRange<uint32_t>(0, 1 << 19)
                                            : input->ConsumeIntegral<uint32_t>();
      buffer->m.offset = input->ConsumeIntegral<uint32_t>();
      bufferLengths[buffer->index] = buffer->length;
      return 0;
    }
    case VIDIOC_DQBUF: {
      auto* buffer = static_cast<v4l2_buffer*>(argument);
      buffer->index = input->ConsumeBool() ? input->ConsumeIntegralInRange<uint32_t>(0, 6)
                                           : input->ConsumeIntegral<uint32_t>();
      // A whole buffer's worth, or any count.
      buffer->bytesused = input->ConsumeBool() ? ~0u : input->ConsumeIntegral<uint32_t>();
      if (buffer->bytesused == ~0u && bufferLengths.count(buffer->index)) {
        buffer->bytesused = bufferLengths[buffer->index];
      }
      buffer->flags = input->ConsumeBool() ? 0 : input->ConsumeIntegral<uint32_t>();
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
      auto* entry = static_cast<v4l2_frmsizeenum*>(argument);
      entry->type = input->ConsumeIntegralInRange<uint32_t>(0, 3);
      entry->stepwise.min_width = ConsumeSide();
      entry->stepwise.max_width = ConsumeSide();
      entry->stepwise.step_width = ConsumeSide();
      entry->stepwise.min_height = ConsumeSide();
      entry->stepwise.max_height = ConsumeSide();
      entry->stepwise.step_height = ConsumeSide();
      return 0;
    }
    case VIDIOC_QUERYCTRL: {
      auto* query = static_cast<v4l2_queryctrl*>(argument);
      query->type = input->ConsumeIntegralInRange<uint32_t>(0, 3);
      const std::vector<uint8_t> name = input->ConsumeBytes<uint8_t>(sizeof query->name);
      std::copy(name.begin(), name.end(), query->name);
      query->minimum = input->ConsumeIntegral<int32_t>();
      query->maximum = input->ConsumeIntegral<int32_t>();
      query->step = input->ConsumeIntegral<int32_t>();
      query->default_value = input->ConsumeIntegral<int32_t>();
      query->flags = input->ConsumeBool() ? 0 : input->ConsumeIntegral<uint32_t>();
      return 0;
    }
    case VIDIOC_G_CTRL:
      static_cast<v4l2_control*>(argument)->value = input->ConsumeIntegral<int32_t>();
      return 0;
    default:
      return 0;  // QBUF, STREAMON, STREAMOFF, S_CTRL
  }
}

void* Map(void*, size_t length, int, int, int fd, int64_t) {
  if (fd != kCameraFd || !deviceOpen) Fail("a mapping of a descriptor that is not open");
  if (length > kMostBufferBytes || !Succeeds()) return MAP_FAILED;
  // Exactly `length` bytes, so a read past the buffer is caught.
  auto bytes = std::make_unique<unsigned char[]>(length == 0 ? 1 : length);
  const std::vector<unsigned char> pattern =
      input->ConsumeBytes<unsigned char>(input->ConsumeIntegralInRange(0, 32));
  fuzzsupport::FillRepeating(bytes.get(), length, pattern);
  void* start = bytes.get();
  mapped.emplace(start, std::move(bytes));
  return start;
}

int Unmap(void* start, size_t) {
  if (mapped.erase(start) == 0) Fail("an unmapping of a buffer that is not mapped");
  return 0;
}

const platform::V4l2Calls kDeviceCalls{
    [] { return std::vector<std::string>{"/dev/video0"}; },
    [](const char*, int) {
      if (deviceOpen || !Succeeds()) return Refuse();
      deviceOpen = true;
      return kCameraFd;
    },
    [](int fd) {
      if (fd != kCameraFd || !deviceOpen) Fail("a close of a descriptor that is not open");
      deviceOpen = false;
      return 0;
    },
    Ioctl,
    Map,
    Unmap,
    [](int, int) {
      return input->remaining_bytes() > 0 ? input->ConsumeIntegralInRange(-1, 1) : 0;
    },
};

// The frame the driver hands out is a 24-bit packed bitmap of the driver's size, all there.
void CheckFrame(const platform::V4l2Driver& driver, const platform::CaptureFrame& frame) {
  if (frame.dib.size() < sizeof(BITMAPINFOHEADER)) Fail("a frame without a header");
  const BITMAPINFOHEADER* header = frame.header();
  if (header->biWidth != driver.width() || header->biHeight != driver.height() ||
      header->biBitCount != 24 ||
      frame.dib.size() != sizeof(BITMAPINFOHEADER) + platform::FrameRowBytes(driver.width()) *
                                                         static_cast<size_t>(driver.height())) {
    Fail("a frame that does not match the driver's size");
  }
}

void Act(platform::V4l2Driver& driver) {
  switch (input->ConsumeIntegralInRange(0, 7)) {
    case 0:
      driver.Connect();
      break;
    case 1:
    case 2:
      driver.Grab();
      break;
    case 3: {
      platform::CaptureFrame frame;
      if (driver.CurrentFrame(&frame)) CheckFrame(driver, frame);
      break;
    }
    case 4:
      driver.FrameSizes();
      driver.ChangeSize(static_cast<int>(ConsumeSide()), static_cast<int>(ConsumeSide()));
      break;
    case 5:
      for (const auto& control : driver.Controls()) {
        driver.SetControl(control.id, input->ConsumeIntegral<int>());
      }
      break;
    case 6: {
      std::vector<BYTE> format;
      UINT width = 0, height = 0;
      driver.GetFormat(&format);
      driver.GetImageSize(&width, &height);
      break;
    }
    default:
      driver.Disconnect();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::SetV4l2Calls(&kDeviceCalls);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  input = &provider;
  bufferLengths.clear();
  if (provider.ConsumeBool()) platform::FindV4l2Devices();
  {
    platform::V4l2Driver driver(platform::V4l2Device{"/dev/video0", "Camera", ""});
    driver.Connect();
    for (int i = 0; i < kMostActions && provider.remaining_bytes() > 0; ++i) Act(driver);
  }
  if (deviceOpen) Fail("the device was left open");
  if (!mapped.empty()) Fail("a buffer was left mapped");
  input = nullptr;
  return 0;
}
