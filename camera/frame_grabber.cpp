// The grab loops. The shared pictures (dib/frame_objects.h) are replaced under
// frameObjectsMutex, which painting also takes; the mutex is never held across a capture
// request, the frame handler or a window update, since each of those may need the window
// thread, which may be waiting for the mutex to paint.
#include "camera/frame_grabber.h"

#include <atomic>

#include "app/app_windows.h"
#include "camera/camera_connection.h"
#include "detect/alarm_state.h"
#include "detect/frame_handler.h"
#include "dib/bitmap_utilities.h"
#include "dib/frame_objects.h"
#include "platform/clipboard.h"
#include "platform/gdi.h"
#include "platform/sound.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace {

// Rounds of the arming countdown, each a pause and a beep.
constexpr int32_t kCountdownRounds = 15;
constexpr DWORD kCountdownPause = 1000;
constexpr DWORD kBeepFrequency = 1000;
constexpr DWORD kBeepDuration = 100;
// Gaps around the frame windows in the main window's client area.
constexpr int kFrameMargin = 3;
constexpr int kFrameExtraWidth = 2;
constexpr int kFrameExtraHeight = 27;
// The upload frame starts this far right of the picture width.
constexpr int kUploadFrameLeft = 7;

// True while a grab loop runs; taken and given back with acquire and release, so that the
// shared pictures pass from one loop's thread to the next.
std::atomic<bool> grabLoopRunning{false};

bool EnterGrabLoop() {
  return !grabLoopRunning.exchange(true, std::memory_order_acquire);
}
void LeaveGrabLoop() {
  grabLoopRunning.store(false, std::memory_order_release);
}

HPALETTE StockPalette() {
  return static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
}

// Releases a shared picture and clears its handle at once. The stock palette is not
// released. The caller holds frameObjectsMutex.
void ReleasePalette(HPALETTE* palette) {
  if (*palette && *palette != StockPalette()) DeleteObject(*palette);
  *palette = nullptr;
}
void ReleaseBitmap(HBITMAP* bitmap) {
  if (*bitmap) DeleteObject(*bitmap);
  *bitmap = nullptr;
}
void ReleaseDib(HGLOBAL* dib) {
  if (*dib) GlobalFree(*dib);
  *dib = nullptr;
}

// The palette of a frame taken from the clipboard: a copy of the clipboard's palette, or
// the stock default palette when it has none.
HPALETTE FramePaletteFor(HPALETTE clipboardPalette) {
  return clipboardPalette ? DuplicatePalette(clipboardPalette) : StockPalette();
}

// The reference and upload frames side by side, the live frame hidden.
void PlaceFrameWindows() {
  int width = static_cast<int>(captureStatus.uiImageWidth);
  int height = static_cast<int>(captureStatus.uiImageHeight);
  SetWindowPos(baseFrame, nullptr, kFrameMargin, kFrameMargin, width + kFrameExtraWidth,
               height + kFrameExtraHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(videoFrame, SW_HIDE);
  SetWindowPos(afterFrame, nullptr, width + kUploadFrameLeft, kFrameMargin,
               width + kFrameExtraWidth, height + kFrameExtraHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

HGLOBAL RerenderPackedDib(DWORD compression, WORD depth) {
  if (frameAvailable == 0) return nullptr;
  ReleaseBitmap(&renderBitmap);
  renderBitmap = BitmapFromPackedDib(frameDib, framePalette);
  if (!renderBitmap) return frameDib;
  ReleaseDib(&frameDib);
  frameDib = PackedDibFromBitmap(renderBitmap, compression, depth, framePalette);
  return frameDib;
}

int CaptureReference(int showReference) {
  SendCaptureRequest(WM_CAP_EDIT_COPY, 0, 0);
  if (!OpenClipboard(baseFrame)) return 1;
  if (auto bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP))) {
    auto clipboardPalette = static_cast<HPALETTE>(GetClipboardData(CF_PALETTE));
    bool rerendered = true;
    HGLOBAL reference = nullptr;
    {
      std::lock_guard lock(frameObjectsMutex);
      ReleasePalette(&framePalette);
      ReleaseBitmap(&referenceBitmap);
      ReleaseDib(&frameDib);
      framePalette = FramePaletteFor(clipboardPalette);
      frameDib = PackedDibFromBitmap(bitmap, BI_RGB, 0, framePalette);
      if (frameDib) {
        frameAvailable = 1;
        referenceBitmap = BitmapFromPackedDib(frameDib, framePalette);
        BITMAPINFOHEADER header{};
        QueryDibHeader(frameDib, &header);
        reference = RerenderPackedDib(header.biCompression, header.biBitCount);
        rerendered = reference != nullptr;
      }
    }
    if (!rerendered) {
      EmptyClipboard();
      CloseClipboard();
      return 0;
    }
    if (reference) HandleFrame(reference);
    if (showReference) {
      ShowWindow(baseFrame, SW_SHOW);
      UpdateWindow(baseFrame);
    }
  }
  EmptyClipboard();
  CloseClipboard();
  return 1;
}

void GrabFrame() {
  SendCaptureRequest(WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
  SendCaptureRequest(WM_CAP_EDIT_COPY, 0, 0);
  if (!OpenClipboard(afterFrame)) return;
  auto bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
  if (!bitmap) {
    CloseClipboard();
    // Only this loop's thread replaces frameDib, so it reads it without the mutex.
    HandleFrame(frameDib);
    return;
  }
  auto clipboardPalette = static_cast<HPALETTE>(GetClipboardData(CF_PALETTE));
  HGLOBAL frame;
  {
    std::lock_guard lock(frameObjectsMutex);
    ReleasePalette(&framePalette);
    ReleaseBitmap(&uploadBitmap);
    ReleaseDib(&frameDib);
    framePalette = FramePaletteFor(clipboardPalette);
    frameDib = PackedDibFromBitmap(bitmap, BI_RGB, 0, framePalette);
    if (frameDib) {
      frameAvailable = 1;
      uploadBitmap = BitmapFromPackedDib(frameDib, framePalette);
    }
    frame = frameDib;
  }
  // The grabbed frame stays on the clipboard.
  CloseClipboard();
  HandleFrame(frame);
}

int RunTestLoop() {
  if (!EnterGrabLoop()) return 0;
  PlaceFrameWindows();
  if (!CaptureReference(1)) {
    LeaveGrabLoop();
    return 0;
  }
  AlarmState.frameCounter = 0;
  while (AlarmState.motionDetected == 0) GrabFrame();
  LeaveGrabLoop();
  ShowWindow(afterFrame, SW_SHOW);
  UpdateWindow(afterFrame);
  OpenIcon(MainWindow);
  return 1;
}

int RunArmedLoop() {
  if (!EnterGrabLoop()) return 0;
  if (!CaptureReference(0)) {
    LeaveGrabLoop();
    return 0;
  }
  while (AlarmState.armed != 0) GrabFrame();
  LeaveGrabLoop();
  return 1;
}

DWORD AlarmCountdown(LPVOID) {
  for (AlarmState.frameCounter = 0; AlarmState.frameCounter < kCountdownRounds;
       ++AlarmState.frameCounter) {
    Sleep(kCountdownPause);
    Beep(kBeepFrequency, kBeepDuration);
  }
  AlarmState.frameCounter = 0;
  RunArmedLoop();
  return 0;
}
