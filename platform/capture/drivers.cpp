// The installed driver list and capGetDriverDescriptionA.
#include "platform/capture/drivers.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/capture/demo_camera.h"
#include "platform/capture/v4l2_driver.h"

namespace platform {
namespace {

std::mutex listMutex;
bool listInstalled = false;       // guarded by listMutex
CaptureDriverList installedList;  // guarded by listMutex

// Copies `text` into `buffer` of `size` bytes, cut and terminated.
void CopyText(const std::string& text, LPSTR buffer, int size) {
  if (!buffer || size <= 0) return;
  size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
}

}  // namespace

void ShapeCaptureFrame(CaptureFrame* frame, int width, int height) {
  size_t pixelBytes = FrameRowBytes(width) * static_cast<size_t>(height);
  frame->dib.assign(sizeof(BITMAPINFOHEADER) + pixelBytes, 0);
  BITMAPINFOHEADER header = MakeFormatHeader(width, height, 24);
  std::memcpy(frame->dib.data(), &header, sizeof header);
}

BITMAPINFOHEADER MakeFormatHeader(int width, int height, int bitCount) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(bitCount);
  header.biCompression = BI_RGB;
  header.biSizeImage =
      static_cast<DWORD>(((static_cast<DWORD>(bitCount) * width + 31) / 32) * 4 * height);
  return header;
}

void InstallCaptureDrivers(CaptureDriverList drivers) {
  std::lock_guard lock(listMutex);
  installedList = std::move(drivers);
  listInstalled = true;
}

CaptureDriverList DefaultCaptureDrivers() {
  CaptureDriverList drivers;
  for (V4l2Device& device : FindV4l2Devices()) {
    drivers.push_back(std::make_shared<V4l2Driver>(std::move(device)));
  }
  drivers.push_back(std::make_shared<DemoCamera>());
  return drivers;
}

std::shared_ptr<CaptureDriver> CaptureDriverAt(int index) {
  std::lock_guard lock(listMutex);
  if (!listInstalled) {
    installedList = DefaultCaptureDrivers();
    listInstalled = true;
  }
  if (index < 0 || static_cast<size_t>(index) >= installedList.size()) return nullptr;
  return installedList[static_cast<size_t>(index)];
}

}  // namespace platform

BOOL capGetDriverDescriptionA(WORD index, LPSTR name, int nameSize, LPSTR version,
                              int versionSize) {
  std::shared_ptr<platform::CaptureDriver> driver = platform::CaptureDriverAt(index);
  std::string driverName, driverVersion;
  if (!driver || !driver->Describe(&driverName, &driverVersion)) return FALSE;
  platform::CopyText(driverName, name, nameSize);
  platform::CopyText(driverVersion, version, versionSize);
  return TRUE;
}
