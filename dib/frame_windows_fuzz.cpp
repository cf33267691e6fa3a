// Fuzzes the frame windows' painting: the grabber's shared pictures (the packed frame with an
// arbitrary header and block size, the two device bitmaps, the palette) as an input sets them,
// painted by a frame window of any size, by PaintFrame at any origin, and drawn by
// BlitPackedDib and BlitBitmap with any position, size and raster operation. Runs on the
// headless backend.
#include <fuzzer/FuzzedDataProvider.h>

#include <mutex>

#include "dib/bitmap_utilities.h"
#include "dib/frame_objects.h"
#include "dib/frame_windows.h"
#include "platform/gdi.h"
#include "platform/headless/headless.h"
#include "platform/window.h"
#include "tests/support/fuzz_bitmaps.h"

namespace {

const char* const kClasses[] = {"videoFrame", "baseFrame", "afterFrame"};

// No bitmap, one converted from a packed bitmap of the input, or a blank one of any size.
HBITMAP ConsumeBitmap(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 1: {
      HGLOBAL block = fuzzsupport::BlockOf(fuzzsupport::ConsumePackedDibBytes(input));
      HBITMAP bitmap = BitmapFromPackedDib(block, nullptr);
      GlobalFree(block);
      return bitmap;
    }
    case 2: {
      HDC screen = GetDC(nullptr);
      HBITMAP bitmap = CreateCompatibleBitmap(screen, input.ConsumeIntegralInRange(-2, 900),
                                              input.ConsumeIntegralInRange(-2, 700));
      ReleaseDC(nullptr, screen);
      return bitmap;
    }
    default:
      return nullptr;
  }
}

// Sets the shared pictures as the grabber would, under their lock.
void SetPictures(FuzzedDataProvider& input) {
  std::lock_guard lock(frameObjectsMutex);
  frameAvailable = input.ConsumeBool() ? 1 : 0;
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 1:
      framePalette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
      break;
    case 2:
      framePalette = fuzzsupport::ConsumePalette(input);
      break;
    default:
      framePalette = nullptr;
  }
  frameDib = input.ConsumeBool() ? fuzzsupport::BlockOf(fuzzsupport::ConsumePackedDibBytes(input))
                                 : nullptr;
  referenceBitmap = ConsumeBitmap(input);
  uploadBitmap = ConsumeBitmap(input);
}

void ReleasePictures() {
  std::lock_guard lock(frameObjectsMutex);
  if (frameDib) GlobalFree(frameDib);
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(referenceBitmap), static_cast<HGDIOBJ>(uploadBitmap),
                         static_cast<HGDIOBJ>(framePalette)}) {
    if (object) DeleteObject(object);
  }
  frameDib = nullptr;
  referenceBitmap = uploadBitmap = nullptr;
  framePalette = nullptr;
  frameAvailable = 0;
}

// Draws into the window's context directly, as the capture and grabber code may.
void DrawDirectly(FuzzedDataProvider& input, HWND window) {
  HDC dc = GetDC(window);
  if (!dc) return;
  const int x = input.ConsumeIntegral<int16_t>();
  const int y = input.ConsumeIntegral<int16_t>();
  {
    std::lock_guard lock(frameObjectsMutex);
    PaintFrame(window, dc, x, y, input.ConsumeBool() ? referenceBitmap : nullptr);
    if (frameDib) {
      BlitPackedDib(dc, input.ConsumeIntegral<int16_t>(), input.ConsumeIntegral<int16_t>(),
                    fuzzsupport::ConsumeDimension(input, -8, 1000),
                    fuzzsupport::ConsumeDimension(input, -8, 800), frameDib);
    }
    BlitBitmap(dc, uploadBitmap, input.ConsumeIntegral<DWORD>());
  }
  ReleaseDC(window, dc);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const WNDPROC procedures[] = {VideoFrameProc, BaseFrameProc, AfterFrameProc};
  for (int i = 0; i < 3; ++i) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = procedures[i];
    cls.lpszClassName = kClasses[i];
    RegisterClassA(&cls);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  SetPictures(input);
  const char* className = input.PickValueInArray(kClasses);
  HWND window = CreateWindowExA(
      0, className, className, WS_POPUP | WS_VISIBLE, 0, 0, input.ConsumeIntegralInRange(-2, 900),
      input.ConsumeIntegralInRange(-2, 700), nullptr, nullptr, nullptr, nullptr);
  if (window) {
    SendMessageA(window, WM_SIZE, 0, input.ConsumeIntegral<uint32_t>());
    SendMessageA(window, WM_PAINT, 0, 0);
    DrawDirectly(input, window);
    DestroyWindow(window);
  }
  // Destroying a frame window posts WM_QUIT; nothing of one input is left for the next.
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  ReleasePictures();
  headless::ClearWindowEvents();
  return 0;
}
