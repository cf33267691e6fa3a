// The drawing services' objects: device bitmaps, palettes, brushes, device contexts and
// window surfaces, all kept under one lock. Internal to platform/gdi.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/gdi.h"
#include "platform/handle_table.h"
#include "platform/types.h"
#include "platform/unfilled_allocator.h"

namespace gdi {

// A picture in the screen's format: one 0x00RRGGBB value (bytes blue, green, red, unused)
// per pixel, top row first. Device bitmaps and window surfaces are pictures.
struct Picture {
  int width = 0;
  int height = 0;
  // Cleared by AllocatePicture unless every pixel is about to be drawn.
  std::vector<uint32_t, platform::UnfilledAllocator<uint32_t>> pixels;

  uint32_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * width; }
  const uint32_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * width; }
};

struct Bitmap {
  Picture picture;
  bool stock = false;
  HDC selectedInto = nullptr;  // the memory device context holding it, if any
};

struct Palette {
  std::vector<PALETTEENTRY> entries;
  bool stock = false;
  int selections = 0;  // device contexts that hold it
};

struct Brush {
  COLORREF color = 0;
  bool stock = false;
  bool hollow = false;  // NULL_BRUSH paints nothing
  int selections = 0;   // device contexts that hold it
};

enum class Target { kScreen, kMemory, kWindow };

struct DeviceContext {
  Target target = Target::kScreen;
  HWND window = nullptr;     // kWindow: whose surface it draws into
  HBITMAP bitmap = nullptr;  // kMemory: the selected bitmap
  HPALETTE palette = nullptr;
  HBRUSH brush = nullptr;
  POINT origin{0, 0};
  int backgroundMode = OPAQUE;
};

// Every drawing object of the process. All members are used under `mutex`.
struct State {
  std::mutex mutex;
  platform::HandleTable<Bitmap> bitmaps{platform::HandleKind::kBitmap};
  platform::HandleTable<Palette> palettes{platform::HandleKind::kPalette};
  platform::HandleTable<Brush> brushes{platform::HandleKind::kBrush};
  platform::HandleTable<DeviceContext> contexts{platform::HandleKind::kDeviceContext};
  std::unordered_map<uintptr_t, Picture> surfaces;  // by window handle value
  HPALETTE defaultPalette = nullptr;
  HBITMAP defaultBitmap = nullptr;  // the 1 x 1 bitmap of a fresh memory context
  HBRUSH stockBrushes[NULL_BRUSH + 1] = {};
};

// The process's drawing state, with the stock objects made on first use.
State& Objects();

// The picture a context draws into: a memory context's bitmap or a window's surface; null
// for the screen and for a window whose surface is gone. The 1 x 1 default bitmap of a
// memory context is read as black and never drawn into (null when `forWriting`).
Picture* TargetPicture(State& state, const DeviceContext& dc, bool forWriting);

// Largest picture side and pixel count the drawing services accept.
constexpr int kMaxSide = 65535;
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

// A COLORREF (0x00BBGGRR) as a pixel (0x00RRGGBB), and back: the same swap.
inline uint32_t SwapRedBlue(uint32_t c) {
  return ((c & 0xff) << 16) | (c & 0xff00) | ((c >> 16) & 0xff);
}

// Whether `dc` is null or a live context; false, with ERROR_INVALID_HANDLE, for a stale
// one. Takes the lock itself.
bool NullOrLiveContext(HDC dc);

// Sizes `picture` to width x height, all black unless `filled` is false (the caller then
// writes every pixel before anything reads one); false when it does not fit in memory.
bool AllocatePicture(Picture* picture, int width, int height, bool filled = true);

// The 20 colours of the default palette.
extern const PALETTEENTRY kSystemColors[20];

}  // namespace gdi
