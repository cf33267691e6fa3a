// The V4L2 driver against a device that the test stands in for through the call table.
#include "platform/capture/v4l2_driver.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <set>

#include "platform/dialog.h"
#include "platform/headless/headless.h"

namespace platform {
namespace {

// A camera at /dev/video1 beside a metadata node at /dev/video0. It offers 320 x 240 and
// 640 x 480 in RGB24 with padded rows, and delivers frames the test puts in.
struct FakeDevice {
  static constexpr int kMetaFd = 10;
  static constexpr int kCameraFd = 11;
  static constexpr size_t kPadding = 8;  // extra bytes at the end of each row
  static constexpr size_t kOffsetStep = 1 << 24;

  std::set<int> openFds;
  uint32_t width = 320, height = 240;
  uint32_t pixelFormat = V4L2_PIX_FMT_RGB24;  // what S_FMT answers with
  std::vector<std::vector<uint8_t>> buffers;
  std::set<uint32_t> queued;
  std::deque<uint32_t> ready;
  std::set<void*> mapped;
  bool streaming = false;
  std::map<uint32_t, int> controls{{V4L2_CID_BRIGHTNESS, 128}, {V4L2_CID_CONTRAST, 32}};
  unsigned long failRequest = 0;  // an ioctl that fails with EIO
  bool failMmap = false;
  int failMmapAfter = 0;

  size_t BytesPerLine() const { return width * 3 + kPadding; }
  size_t ImageSize() const { return BytesPerLine() * height; }

  // Fills `count` queued buffers with frame `number`: pixel (x, y) is red x, green y, blue
  // number, rows top first.
  void Deliver(int count, uint8_t number) {
    for (int i = 0; i < count && !queued.empty(); ++i, ++number) {
      uint32_t index = *queued.begin();
      queued.erase(queued.begin());
      std::vector<uint8_t>& buffer = buffers[index];
      for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
          uint8_t* p = buffer.data() + y * BytesPerLine() + 3 * x;
          p[0] = static_cast<uint8_t>(x);
          p[1] = static_cast<uint8_t>(y);
          p[2] = number;
        }
      }
      ready.push_back(index);
    }
  }

  int Ioctl(int fd, unsigned long request, void* argument) {
    if (!openFds.count(fd)) return Fail(EBADF);
    if (request == failRequest) return Fail(EIO);
    switch (request) {
      case VIDIOC_QUERYCAP: {
        auto* cap = static_cast<v4l2_capability*>(argument);
        *cap = {};
        std::strcpy(reinterpret_cast<char*>(cap->driver), "fakecam");
        std::strcpy(reinterpret_cast<char*>(cap->card), "Fake Camera");
        cap->version = 0x060102;
        cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                            V4L2_CAP_DEVICE_CAPS;
        cap->device_caps =
            fd == kCameraFd ? V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING : V4L2_CAP_META_CAPTURE;
        return 0;
      }
      case VIDIOC_S_FMT: {
        if (streaming || !buffers.empty()) return Fail(EBUSY);
        auto* format = static_cast<v4l2_format*>(argument);
        bool large = format->fmt.pix.width >= 640;
        width = large ? 640 : 320;
        height = large ? 480 : 240;
        [[fallthrough]];
      }
      case VIDIOC_G_FMT: {
        auto* format = static_cast<v4l2_format*>(argument);
        format->fmt.pix.width = width;
        format->fmt.pix.height = height;
        format->fmt.pix.pixelformat = pixelFormat;
        format->fmt.pix.bytesperline = static_cast<uint32_t>(BytesPerLine());
        format->fmt.pix.sizeimage = static_cast<uint32_t>(ImageSize());
        return 0;
      }
      case VIDIOC_REQBUFS: {
        auto* request = static_cast<v4l2_requestbuffers*>(argument);
        if (!mapped.empty() || streaming) return Fail(EBUSY);
        request->count = std::min<uint32_t>(request->count, 3);
        buffers.assign(request->count, std::vector<uint8_t>(ImageSize()));
        queued.clear();
        ready.clear();
        return 0;
      }
      case VIDIOC_QUERYBUF: {
        auto* buffer = static_cast<v4l2_buffer*>(argument);
        if (buffer->index >= buffers.size()) return Fail(EINVAL);
        buffer->length = static_cast<uint32_t>(ImageSize());
        buffer->m.offset = static_cast<uint32_t>(buffer->index * kOffsetStep);
        return 0;
      }
      case VIDIOC_QBUF: {
        auto* buffer = static_cast<v4l2_buffer*>(argument);
        if (buffer->index >= buffers.size() || queued.count(buffer->index)) return Fail(EINVAL);
        queued.insert(buffer->index);
        return 0;
      }
      case VIDIOC_DQBUF: {
        if (ready.empty()) return Fail(EAGAIN);
        auto* buffer = static_cast<v4l2_buffer*>(argument);
        buffer->index = ready.front();
        buffer->bytesused = static_cast<uint32_t>(ImageSize());
        buffer->flags = 0;
        ready.pop_front();
        return 0;
      }
      case VIDIOC_STREAMON:
        streaming = true;
        return 0;
      case VIDIOC_STREAMOFF:
        streaming = false;
        for (uint32_t index : ready) queued.insert(index);
        ready.clear();
        return 0;
      case VIDIOC_ENUM_FRAMESIZES: {
        auto* entry = static_cast<v4l2_frmsizeenum*>(argument);
        if (entry->index > 1 || entry->pixel_format != V4L2_PIX_FMT_RGB24) return Fail(EINVAL);
        entry->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        entry->discrete.width = entry->index == 0 ? 320 : 640;
        entry->discrete.height = entry->index == 0 ? 240 : 480;
        return 0;
      }
      case VIDIOC_QUERYCTRL: {
        auto* query = static_cast<v4l2_queryctrl*>(argument);
        if (!controls.count(query->id)) return Fail(EINVAL);
        query->type = V4L2_CTRL_TYPE_INTEGER;
        std::strcpy(reinterpret_cast<char*>(query->name),
                    query->id == V4L2_CID_BRIGHTNESS ? "Brightness" : "Contrast");
        query->minimum = 0;
        query->maximum = query->id == V4L2_CID_BRIGHTNESS ? 255 : 64;
        query->step = 1;
        query->flags = 0;
        return 0;
      }
      case VIDIOC_G_CTRL: {
        auto* control = static_cast<v4l2_control*>(argument);
        if (!controls.count(control->id)) return Fail(EINVAL);
        control->value = controls[control->id];
        return 0;
      }
      case VIDIOC_S_CTRL: {
        auto* control = static_cast<v4l2_control*>(argument);
        if (!controls.count(control->id)) return Fail(EINVAL);
        controls[control->id] = control->value;
        return 0;
      }
      default:
        return Fail(ENOTTY);
    }
  }

  static int Fail(int error) {
    errno = error;
    return -1;
  }
};

FakeDevice* device = nullptr;

const V4l2Calls kFakeCalls{
    [] {
      return std::vector<std::string>{"/dev/video0", "/dev/video1"};
    },
    [](const char* path, int) {
      int fd = std::string(path) == "/dev/video1"   ? FakeDevice::kCameraFd
               : std::string(path) == "/dev/video0" ? FakeDevice::kMetaFd
                                                    : -1;
      if (fd < 0 || device->openFds.count(fd)) return FakeDevice::Fail(ENOENT);
      device->openFds.insert(fd);
      return fd;
    },
    [](int fd) { return device->openFds.erase(fd) ? 0 : FakeDevice::Fail(EBADF); },
    [](int fd, unsigned long request, void* argument) {
      return device->Ioctl(fd, request, argument);
    },
    [](void*, size_t length, int, int, int fd, int64_t offset) -> void* {
      size_t index = static_cast<size_t>(offset) / FakeDevice::kOffsetStep;
      if (!device->openFds.count(fd) || index >= device->buffers.size() ||
          length != device->buffers[index].size() ||
          (device->failMmap && device->failMmapAfter-- <= 0)) {
        return MAP_FAILED;
      }
      void* start = device->buffers[index].data();
      device->mapped.insert(start);
      return start;
    },
    [](void* start, size_t) { return device->mapped.erase(start) ? 0 : FakeDevice::Fail(EINVAL); },
    [](int, int) { return device->ready.empty() ? 0 : 1; },
};

class V4l2DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device = &fake;
    SetV4l2Calls(&kFakeCalls);
  }
  void TearDown() override {
    SetV4l2Calls(nullptr);
    device = nullptr;
  }
  FakeDevice fake;
};

TEST_F(V4l2DriverTest, FindsOnlyVideoCaptureNodesAndClosesThem) {
  std::vector<V4l2Device> devices = FindV4l2Devices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].path, "/dev/video1");
  EXPECT_EQ(devices[0].card, "Fake Camera");
  EXPECT_EQ(devices[0].version, "fakecam 6.1.2");
  EXPECT_TRUE(fake.openFds.empty());
}

TEST_F(V4l2DriverTest, StreamsTheNewestFrameAsBottomUpBgr) {
  V4l2Driver driver(FindV4l2Devices().at(0));
  ASSERT_TRUE(driver.Connect());
  EXPECT_TRUE(fake.streaming);
  EXPECT_EQ(fake.queued.size(), 3u);
  EXPECT_EQ(driver.width(), 640);  // 640 x 480 is preferred
  std::vector<BYTE> format;
  ASSERT_TRUE(driver.GetFormat(&format));
  ASSERT_EQ(format.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  std::memcpy(&header, format.data(), sizeof header);
  EXPECT_EQ(header.biWidth, 640);
  EXPECT_EQ(header.biHeight, 480);
  EXPECT_EQ(header.biBitCount, 24);
  CAPDRIVERCAPS caps;
  ASSERT_TRUE(driver.GetCaps(&caps));
  EXPECT_TRUE(caps.fCaptureInitialized);
  EXPECT_TRUE(caps.fHasDlgVideoFormat);

  CaptureFrame frame;
  EXPECT_FALSE(driver.CurrentFrame(&frame));
  EXPECT_FALSE(driver.Grab()) << "no frame is ready yet";

  // Three frames wait; the grab takes the newest and gives every buffer back.
  fake.Deliver(3, 7);
  ASSERT_TRUE(driver.Grab());
  EXPECT_TRUE(fake.ready.empty());
  EXPECT_EQ(fake.queued.size(), 3u);
  ASSERT_TRUE(driver.CurrentFrame(&frame));
  ASSERT_EQ(frame.dib.size(), 40u + 640u * 3u * 480u);
  EXPECT_EQ(frame.header()->biHeight, 480);
  for (int y : {0, 1, 200, 479}) {
    for (int x : {0, 5, 300, 639}) {
      const BYTE* p = frame.pixels() + static_cast<size_t>(479 - y) * 1920 + 3 * x;
      ASSERT_EQ(p[0], 9) << "blue carries the newest frame's number";
      ASSERT_EQ(p[1], static_cast<BYTE>(y));
      ASSERT_EQ(p[2], static_cast<BYTE>(x));
    }
  }

  driver.Disconnect();
  EXPECT_FALSE(fake.streaming);
  EXPECT_TRUE(fake.mapped.empty());
  EXPECT_TRUE(fake.openFds.empty());
  EXPECT_FALSE(driver.Grab());
}

TEST_F(V4l2DriverTest, ChangesSizeOffersSizesAndControls) {
  V4l2Driver driver(std::string("/dev/video1"));
  ASSERT_TRUE(driver.Connect());
  std::vector<FrameSize> sizes = driver.FrameSizes();
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0].width, 320);
  EXPECT_EQ(sizes[1].height, 480);
  ASSERT_TRUE(driver.ChangeSize(320, 240));
  EXPECT_TRUE(fake.streaming);
  UINT width = 0, height = 0;
  ASSERT_TRUE(driver.GetImageSize(&width, &height));
  EXPECT_EQ(width, 320u);
  EXPECT_EQ(height, 240u);
  fake.Deliver(1, 1);
  CaptureFrame frame;
  ASSERT_TRUE(driver.Grab());
  ASSERT_TRUE(driver.CurrentFrame(&frame));
  EXPECT_EQ(frame.dib.size(), 40u + 960u * 240u);

  std::vector<V4l2Driver::Control> controls = driver.Controls();
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_EQ(controls[0].name, "Brightness");
  EXPECT_EQ(controls[0].value, 128);
  EXPECT_EQ(controls[1].maximum, 64);
  ASSERT_TRUE(driver.SetControl(V4L2_CID_BRIGHTNESS, 90));
  EXPECT_EQ(fake.controls[V4L2_CID_BRIGHTNESS], 90);
}

TEST_F(V4l2DriverTest, DialogsOfferTheDeviceSizesAndControls) {
  V4l2Driver driver(std::string("/dev/video1"));
  ASSERT_TRUE(driver.Connect());
  headless::ScriptDialog("Video Format",
                         {headless::SelectItem(kFrameSizeListId, 0), headless::PressEnter()});
  EXPECT_EQ(driver.ShowFormatDialog(nullptr), 1);
  EXPECT_EQ(driver.width(), 320);
  EXPECT_TRUE(fake.streaming);
  const headless::DialogSnapshot initial = headless::DialogRecords().at(0).initial;
  const headless::ControlState* list = initial.Control(kFrameSizeListId);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->items, (std::vector<std::string>{"320 x 240", "640 x 480"}));
  EXPECT_EQ(list->selection, 1);

  headless::ScriptDialog(
      "Video Source", {headless::MoveSlider(kFirstSettingId, 200),
                       headless::MoveSlider(kFirstSettingId + 1, 64), headless::PressButton(IDOK)});
  EXPECT_EQ(driver.ShowSourceDialog(nullptr), 1);
  EXPECT_EQ(fake.controls[V4L2_CID_BRIGHTNESS], 200);
  EXPECT_EQ(fake.controls[V4L2_CID_CONTRAST], 64);

  // A refused control makes the dialog's answer a failure.
  fake.failRequest = VIDIOC_S_CTRL;
  headless::ScriptDialog("Video Source",
                         {headless::MoveSlider(kFirstSettingId, 10), headless::PressEnter()});
  EXPECT_EQ(driver.ShowSourceDialog(nullptr), 0);
  EXPECT_EQ(fake.controls[V4L2_CID_BRIGHTNESS], 200);
}

TEST_F(V4l2DriverTest, FailedConnectionsGiveEverythingBack) {
  auto connectionFailsCleanly = [&] {
    V4l2Driver driver(std::string("/dev/video1"));
    EXPECT_FALSE(driver.Connect());
    EXPECT_TRUE(fake.mapped.empty());
    EXPECT_TRUE(fake.openFds.empty());
  };
  // The device will not convert to RGB24.
  fake.pixelFormat = V4L2_PIX_FMT_YUYV;
  connectionFailsCleanly();
  fake.pixelFormat = V4L2_PIX_FMT_RGB24;

  fake.failRequest = VIDIOC_STREAMON;
  connectionFailsCleanly();
  fake.failRequest = 0;

  // The second buffer cannot be mapped: the first is unmapped again.
  fake.failMmap = true;
  fake.failMmapAfter = 1;
  connectionFailsCleanly();
  fake.failMmap = false;
  {
    V4l2Driver driver(std::string("/dev/video7"));
    EXPECT_FALSE(driver.Connect());
    CAPDRIVERCAPS caps;
    ASSERT_TRUE(driver.GetCaps(&caps));
    EXPECT_FALSE(caps.fCaptureInitialized);
    std::vector<BYTE> format;
    EXPECT_FALSE(driver.GetFormat(&format));
  }
  {
    // A dequeue error leaves the frame buffer as it was.
    V4l2Driver driver(std::string("/dev/video1"));
    ASSERT_TRUE(driver.Connect());
    fake.Deliver(1, 1);
    fake.failRequest = VIDIOC_DQBUF;
    EXPECT_FALSE(driver.Grab());
    CaptureFrame frame;
    EXPECT_FALSE(driver.CurrentFrame(&frame));
    fake.failRequest = 0;
  }
}

}  // namespace
}  // namespace platform
