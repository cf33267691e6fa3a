// The camera connection's start-up sequence over the capture window's requests.
#include "camera/camera_connection.h"

#include <algorithm>
#include <cstdlib>

#include "app/app_windows.h"
#include "app/error_report.h"
#include "platform/window.h"
#include "snapshot/snapshot_writer.h"

CAPSTATUS captureStatus{};
CAPDRIVERCAPS driverCaps{};
BITMAPINFOHEADER* bmpptr = nullptr;
HGLOBAL videoFormatBlock = nullptr;
SIZE_T videoFormatBytes = 0;

namespace {

// Driver indexes probed, and the sizes of the description buffers.
constexpr WORD kDriverCount = 10;
constexpr int kNameBytes = 80;
constexpr int kVersionBytes = 100;
// The picture size the program asks for; its pixel count is 76800.
constexpr LONG kRequestWidth = 320;
constexpr LONG kRequestHeight = 240;
constexpr DWORD kRequestPixels = 76800;
static_assert(kRequestWidth * kRequestHeight == kRequestPixels);
// The exit status after a driver without a format dialog.
constexpr int kNoFormatDialogExit = 2;

// Connects the first driver that describes itself and accepts the connection.
void ConnectFirstDriver(HWND window) {
  for (WORD index = 0; index < kDriverCount; ++index) {
    char name[kNameBytes];
    char version[kVersionBytes];
    if (!capGetDriverDescriptionA(index, name, kNameBytes, version, kVersionBytes)) continue;
    if (SendCaptureRequest(window, WM_CAP_DRIVER_CONNECT, index, 0)) return;
  }
}

// Makes the format block (at least a whole header) and fills it from the driver. False when
// no block could be had at all.
bool ReadFormatBlock(HWND window) {
  LRESULT reported = SendCaptureRequest(window, WM_CAP_GET_VIDEOFORMAT, 0, 0);
  SIZE_T size = reported > 0 ? static_cast<SIZE_T>(reported) : 0;
  // A format smaller than a header is still held in a whole (zeroed) header.
  SIZE_T bytes = std::max<SIZE_T>(size, sizeof(BITMAPINFOHEADER));
  HGLOBAL block = GlobalAlloc(GHND, bytes);
  if (!block) {
    // A size too large to allocate: keep the header only.
    bytes = sizeof(BITMAPINFOHEADER);
    size = std::min(size, bytes);
    block = GlobalAlloc(GHND, bytes);
  }
  void* locked = block ? GlobalLock(block) : nullptr;
  if (!locked) {
    if (block) GlobalFree(block);
    return false;
  }
  if (videoFormatBlock) {
    // A block from an earlier start is no longer used.
    GlobalUnlock(videoFormatBlock);
    GlobalFree(videoFormatBlock);
  }
  videoFormatBlock = block;
  videoFormatBytes = bytes;
  bmpptr = static_cast<BITMAPINFOHEADER*>(locked);
  SendCaptureRequest(window, WM_CAP_GET_VIDEOFORMAT, size, reinterpret_cast<LPARAM>(bmpptr));
  return true;
}

}  // namespace

LRESULT SendCaptureRequest(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsWindow(window)) return 0;
  return SendMessageA(window, message, wParam, lParam);
}

LRESULT SendCaptureRequest(UINT message, WPARAM wParam, LPARAM lParam) {
  return SendCaptureRequest(captureWindow, message, wParam, lParam);
}

int OpenCamera(HWND captureWindow) {
  ConnectFirstDriver(captureWindow);

  if (!SendCaptureRequest(captureWindow, WM_CAP_DRIVER_GET_CAPS, sizeof driverCaps,
                          reinterpret_cast<LPARAM>(&driverCaps))) {
    ErrorReport("3.1", "Sorry! cannot get driver hardware capabilities", MainWindow);
  }
  if (!driverCaps.fCaptureInitialized) {
    ErrorReport("3.2", "Sorry! driver not properly connected", MainWindow);
    return 0;
  }

  if (!ReadFormatBlock(captureWindow)) {
    // Not even a header's worth of memory: the driver cannot be used.
    ErrorReport("3.2", "Sorry! driver not properly connected", MainWindow);
    return 0;
  }
  // The program's own size request, kept in the block and never sent to the driver.
  bmpptr->biHeight = kRequestHeight;
  bmpptr->biWidth = kRequestWidth;
  bmpptr->biSizeImage = static_cast<DWORD>(bmpptr->biBitCount / 8) * kRequestPixels;

  if (driverCaps.fHasDlgVideoFormat) {
    SendCaptureRequest(captureWindow, WM_CAP_DLG_VIDEOFORMAT, 0, 0);
  } else {
    NumberReport(static_cast<int32_t>(bmpptr->biSizeImage), "Hmmm... Couldn't Set image size",
                 MainWindow);
    std::exit(kNoFormatDialogExit);
  }
  videoHeight = bmpptr->biHeight;
  videoWidth = bmpptr->biWidth;

  if (!SendCaptureRequest(captureWindow, WM_CAP_GET_STATUS, sizeof captureStatus,
                          reinterpret_cast<LPARAM>(&captureStatus))) {
    ErrorReport("3.3", "Sorry! Cannot get driver status", MainWindow);
  } else if (captureStatus.uiImageWidth == 0 || captureStatus.uiImageHeight == 0) {
    ErrorReport("3.4", "Sorry! Illigal size of picture.", MainWindow);
    return 0;
  }

  if (!SendCaptureRequest(captureWindow, WM_CAP_SET_PREVIEWRATE, 66, 0)) {
    ErrorReport("3.5", "Sorry! Cannot set driver preview rate", MainWindow);
  } else if (!SendCaptureRequest(captureWindow, WM_CAP_SET_PREVIEWRATE, 33, 0)) {
    ErrorReport("3.5", "Sorry! Cannot set driver preview rate", MainWindow);
  }

  if (!SendCaptureRequest(captureWindow, WM_CAP_SET_PREVIEW, 1, 0)) {
    ErrorReport("3.6", "Sorry! Cannot start preview mode", MainWindow);
    return 0;
  }
  return 1;
}
