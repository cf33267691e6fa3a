// Device contexts (screen, memory and window), window surfaces, and the drawing calls that
// work on pictures: BitBlt, FillRect and GetPixel.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/gdi.h"
#include "platform/gdi/gdi_objects.h"
#include "platform/surface.h"
#include "platform/threads.h"

using gdi::DeviceContext;
using gdi::Objects;
using gdi::Picture;
using gdi::State;
using gdi::Target;

namespace {

// Adds a context with the default palette and the white brush selected.
HDC AddContext(State& state, std::unique_ptr<DeviceContext> dc) {
  dc->palette = state.defaultPalette;
  state.palettes.Find(dc->palette)->selections++;
  dc->brush = state.stockBrushes[WHITE_BRUSH];
  state.brushes.Find(dc->brush)->selections++;
  return state.contexts.Add<HDC>(std::move(dc));
}

// Lets go of everything the context holds and forgets it.
void RemoveContext(State& state, HDC handle, DeviceContext* dc) {
  if (gdi::Bitmap* bitmap = state.bitmaps.Find(dc->bitmap)) {
    if (bitmap->selectedInto == handle) bitmap->selectedInto = nullptr;
  }
  if (gdi::Palette* palette = state.palettes.Find(dc->palette)) palette->selections--;
  if (gdi::Brush* brush = state.brushes.Find(dc->brush)) brush->selections--;
  state.contexts.Remove(handle);
}

DeviceContext* FindContext(State& state, HDC handle) {
  DeviceContext* dc = state.contexts.Find(handle);
  if (!dc) SetLastError(ERROR_INVALID_HANDLE);
  return dc;
}

// A span of `length` cells that starts at `dest` in a picture of `destSize` cells and at
// `source` in one of `sourceSize` cells, cut to the part inside both. Gives the first
// usable offset into the span and how many cells are usable from there.
void Clip(int64_t dest, int64_t destSize, int64_t source, int64_t sourceSize, int64_t length,
          int* skip, int* count) {
  int64_t first = std::max<int64_t>({0, -dest, -source});
  int64_t last = std::min<int64_t>({length, destSize - dest, sourceSize - source});
  *skip = static_cast<int>(std::clamp<int64_t>(first, 0, length));
  *count = static_cast<int>(std::max<int64_t>(0, last - first));
}

bool NeedsSource(DWORD rop) {
  return rop == SRCCOPY || rop == SRCPAINT || rop == SRCAND || rop == SRCINVERT ||
         rop == NOTSRCCOPY;
}

bool KnownRop(DWORD rop) {
  return NeedsSource(rop) || rop == BLACKNESS || rop == WHITENESS || rop == DSTINVERT ||
         rop == PATCOPY;
}

// Applies the raster operation to `count` pixels.
void Combine(DWORD rop, const uint32_t* source, uint32_t pattern, uint32_t* dest, int count) {
  switch (rop) {
    case SRCCOPY:
      std::memcpy(dest, source, sizeof(uint32_t) * count);
      break;
    case SRCPAINT:
      for (int i = 0; i < count; ++i) dest[i] |= source[i];
      break;
    case SRCAND:
      for (int i = 0; i < count; ++i) dest[i] &= source[i];
      break;
    case SRCINVERT:
      for (int i = 0; i < count; ++i) dest[i] ^= source[i];
      break;
    case NOTSRCCOPY:
      for (int i = 0; i < count; ++i) dest[i] = ~source[i] & 0xffffff;
      break;
    case DSTINVERT:
      for (int i = 0; i < count; ++i) dest[i] = ~dest[i] & 0xffffff;
      break;
    case BLACKNESS:
      std::fill_n(dest, count, 0u);
      break;
    case WHITENESS:
      std::fill_n(dest, count, 0xffffffu);
      break;
    case PATCOPY:
      std::fill_n(dest, count, pattern);
      break;
    default:
      break;
  }
}

}  // namespace

namespace platform {

HDC CreateWindowDC(HWND window) {
  int width = 0, height = 0;
  // Asked before taking the drawing lock: the backend has locks of its own.
  if (!window || !WindowClientSize(window, &width, &height)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  width = std::clamp(width, 0, gdi::kMaxSide);
  height = std::clamp(height, 0, gdi::kMaxSide);
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  Picture& surface = state.surfaces[reinterpret_cast<uintptr_t>(window)];
  if (surface.width != width || surface.height != height) {
    Picture resized;
    if (!gdi::AllocatePicture(&resized, width, height)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    int keepWidth = std::min(width, surface.width);
    int keepHeight = std::min(height, surface.height);
    for (int y = 0; y < keepHeight; ++y) {
      std::memcpy(resized.Row(y), surface.Row(y), sizeof(uint32_t) * keepWidth);
    }
    surface = std::move(resized);
  }
  auto dc = std::make_unique<DeviceContext>();
  dc->target = Target::kWindow;
  dc->window = window;
  return AddContext(state, std::move(dc));
}

bool ReadWindowSurface(HWND window, std::vector<uint32_t>* pixels, int* width, int* height) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  auto it = state.surfaces.find(reinterpret_cast<uintptr_t>(window));
  if (it == state.surfaces.end()) return false;
  if (pixels) pixels->assign(it->second.pixels.begin(), it->second.pixels.end());
  if (width) *width = it->second.width;
  if (height) *height = it->second.height;
  return true;
}

void DropWindowSurface(HWND window) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  state.surfaces.erase(reinterpret_cast<uintptr_t>(window));
}

}  // namespace platform

HDC GetDC(HWND window) {
  if (window) return platform::CreateWindowDC(window);
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  return AddContext(state, std::make_unique<DeviceContext>());
}

int ReleaseDC(HWND window, HDC handle) {
  auto& state = Objects();
  HWND drawn = nullptr;
  {
    std::lock_guard lock(state.mutex);
    DeviceContext* dc = FindContext(state, handle);
    // Memory contexts are deleted with DeleteDC, and a window's context only for its window.
    if (!dc || dc->target == Target::kMemory) return 0;
    if (dc->target == Target::kWindow && dc->window != window) return 0;
    drawn = dc->window;
    RemoveContext(state, handle, dc);
  }
  // Told outside the lock: the backend may repaint the window at once.
  if (drawn) platform::WindowSurfaceChanged(drawn);
  return 1;
}

HDC CreateCompatibleDC(HDC handle) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  if (handle && !FindContext(state, handle)) return nullptr;
  auto dc = std::make_unique<DeviceContext>();
  dc->target = Target::kMemory;
  dc->bitmap = state.defaultBitmap;
  return AddContext(state, std::move(dc));
}

BOOL DeleteDC(HDC handle) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  DeviceContext* dc = FindContext(state, handle);
  // Screen and window contexts are given back with ReleaseDC.
  if (!dc || dc->target != Target::kMemory) return FALSE;
  RemoveContext(state, handle, dc);
  return TRUE;
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  DeviceContext* dc = FindContext(state, handle);
  if (!dc) return nullptr;
  if (gdi::Bitmap* bitmap = state.bitmaps.Find(object)) {
    // Only a memory context holds a bitmap, and a bitmap is in one context at a time.
    if (dc->target != Target::kMemory) return nullptr;
    if (bitmap->selectedInto && bitmap->selectedInto != handle) return nullptr;
    HGDIOBJ previous = dc->bitmap;
    if (gdi::Bitmap* old = state.bitmaps.Find(dc->bitmap)) {
      if (old->selectedInto == handle) old->selectedInto = nullptr;
    }
    if (!bitmap->stock) bitmap->selectedInto = handle;
    dc->bitmap = static_cast<HBITMAP>(object);
    return previous;
  }
  if (gdi::Brush* brush = state.brushes.Find(object)) {
    HGDIOBJ previous = dc->brush;
    if (gdi::Brush* old = state.brushes.Find(dc->brush)) old->selections--;
    brush->selections++;
    dc->brush = static_cast<HBRUSH>(object);
    return previous;
  }
  // Palettes are selected with SelectPalette.
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

HPALETTE SelectPalette(HDC handle, HPALETTE palette, BOOL) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  DeviceContext* dc = FindContext(state, handle);
  gdi::Palette* chosen = state.palettes.Find(palette);
  if (!dc || !chosen) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HPALETTE previous = dc->palette;
  if (gdi::Palette* old = state.palettes.Find(previous)) old->selections--;
  chosen->selections++;
  dc->palette = palette;
  return previous;
}

UINT RealizePalette(HDC handle) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  if (!FindContext(state, handle)) return GDI_ERROR;
  // The screen shows 32-bit colour and has no system palette: no entry needs mapping.
  return 0;
}

BOOL SetWindowOrgEx(HDC handle, int x, int y, POINT* previous) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  DeviceContext* dc = FindContext(state, handle);
  if (!dc) return FALSE;
  if (previous) *previous = dc->origin;
  dc->origin = POINT{x, y};
  return TRUE;
}

int SetBkMode(HDC handle, int mode) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  DeviceContext* dc = FindContext(state, handle);
  if (!dc) return 0;
  if (mode != TRANSPARENT && mode != OPAQUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int previous = dc->backgroundMode;
  dc->backgroundMode = mode;
  return previous;
}

COLORREF GetPixel(HDC handle, int x, int y) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  DeviceContext* dc = FindContext(state, handle);
  if (!dc) return CLR_INVALID;
  const Picture* picture = gdi::TargetPicture(state, *dc, false);
  x -= dc->origin.x;
  y -= dc->origin.y;
  if (!picture || x < 0 || y < 0 || x >= picture->width || y >= picture->height) {
    return CLR_INVALID;
  }
  return gdi::SwapRedBlue(picture->Row(y)[x]);
}

BOOL BitBlt(HDC destHandle, int x, int y, int width, int height, HDC sourceHandle, int sourceX,
            int sourceY, DWORD rop) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  DeviceContext* dest = FindContext(state, destHandle);
  if (!dest) return FALSE;
  if (!KnownRop(rop) || width < 0 || height < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Picture* source = nullptr;
  DeviceContext* from = nullptr;
  if (NeedsSource(rop)) {
    from = FindContext(state, sourceHandle);
    if (!from) return FALSE;
    // There is no desktop picture behind the screen's context to read from.
    source = gdi::TargetPicture(state, *from, false);
    if (!source) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }
  if (dest->target == Target::kScreen) return TRUE;  // the screen draws nowhere
  Picture* target = gdi::TargetPicture(state, *dest, true);
  if (!target) {
    // A fresh memory context's 1 x 1 bitmap takes nothing; a destroyed window fails.
    return dest->target == Target::kMemory ? TRUE : FALSE;
  }
  int64_t dx = int64_t{x} - dest->origin.x, dy = int64_t{y} - dest->origin.y;
  int64_t sx = sourceX, sy = sourceY;
  int sourceWidth = target->width, sourceHeight = target->height;
  if (source) {
    sx -= from->origin.x;
    sy -= from->origin.y;
    sourceWidth = source->width;
    sourceHeight = source->height;
  } else {
    sx = dx, sy = dy;
  }
  int skipX, countX, skipY, countY;
  Clip(dx, target->width, sx, sourceWidth, width, &skipX, &countX);
  Clip(dy, target->height, sy, sourceHeight, height, &skipY, &countY);
  if (countX == 0 || countY == 0) return TRUE;

  uint32_t pattern = 0;
  if (gdi::Brush* brush = state.brushes.Find(dest->brush)) {
    if (rop == PATCOPY && brush->hollow) return TRUE;
    pattern = gdi::SwapRedBlue(brush->color);
  }
  // Copying within one picture reads every source row before any is written.
  std::vector<uint32_t> copy;
  if (source == target) {
    copy.resize(static_cast<size_t>(countX) * countY);
    for (int row = 0; row < countY; ++row) {
      std::memcpy(copy.data() + static_cast<size_t>(row) * countX,
                  source->Row(sy + skipY + row) + sx + skipX, sizeof(uint32_t) * countX);
    }
  }
  for (int row = 0; row < countY; ++row) {
    const uint32_t* in = nullptr;
    if (!copy.empty()) {
      in = copy.data() + static_cast<size_t>(row) * countX;
    } else if (source) {
      in = source->Row(sy + skipY + row) + sx + skipX;
    }
    Combine(rop, in, pattern, target->Row(dy + skipY + row) + dx + skipX, countX);
  }
  return TRUE;
}

BOOL FillRect(HDC handle, const RECT* rect, HBRUSH brushHandle) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  DeviceContext* dc = FindContext(state, handle);
  gdi::Brush* brush = state.brushes.Find(brushHandle);
  if (!dc || !brush || !rect) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (brush->hollow || dc->target == Target::kScreen) return TRUE;
  Picture* target = gdi::TargetPicture(state, *dc, true);
  if (!target) return dc->target == Target::kMemory ? TRUE : FALSE;
  auto place = [](LONG v, LONG origin, int size) {
    return static_cast<int>(std::clamp<int64_t>(int64_t{v} - origin, 0, size));
  };
  int left = place(rect->left, dc->origin.x, target->width);
  int top = place(rect->top, dc->origin.y, target->height);
  int right = place(rect->right, dc->origin.x, target->width);
  int bottom = place(rect->bottom, dc->origin.y, target->height);
  uint32_t color = gdi::SwapRedBlue(brush->color);
  for (int row = top; row < bottom; ++row) {
    if (right > left) std::fill(target->Row(row) + left, target->Row(row) + right, color);
  }
  return TRUE;
}
