// Drawing objects: stock objects, palettes, brushes and device bitmaps, and their release.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/gdi.h"
#include "platform/gdi/gdi_objects.h"
#include "platform/threads.h"

namespace gdi {

const PALETTEENTRY kSystemColors[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
    {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

namespace {

State* MakeState() {
  auto* state = new State;
  auto palette = std::make_unique<Palette>();
  palette->entries.assign(std::begin(kSystemColors), std::end(kSystemColors));
  palette->stock = true;
  state->defaultPalette = state->palettes.Add<HPALETTE>(std::move(palette));

  auto bitmap = std::make_unique<Bitmap>();
  AllocatePicture(&bitmap->picture, 1, 1);
  bitmap->stock = true;
  state->defaultBitmap = state->bitmaps.Add<HBITMAP>(std::move(bitmap));

  const COLORREF colors[NULL_BRUSH + 1] = {RGB(255, 255, 255), RGB(192, 192, 192),
                                           RGB(128, 128, 128), RGB(64, 64, 64),
                                           RGB(0, 0, 0),       RGB(0, 0, 0)};
  for (int i = 0; i <= NULL_BRUSH; ++i) {
    auto brush = std::make_unique<Brush>();
    brush->color = colors[i];
    brush->stock = true;
    brush->hollow = i == NULL_BRUSH;
    state->stockBrushes[i] = state->brushes.Add<HBRUSH>(std::move(brush));
  }
  return state;
}

}  // namespace

State& Objects() {
  // Never destroyed: other threads may still draw while the process ends.
  static State* state = MakeState();
  return *state;
}

bool AllocatePicture(Picture* picture, int width, int height, bool filled) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPixels) {
    return false;
  }
  try {
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (filled) {
      picture->pixels.assign(count, 0);
    } else {
      picture->pixels.resize(count);
    }
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  picture->width = width;
  picture->height = height;
  return true;
}

bool NullOrLiveContext(HDC dc) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  if (!dc || state.contexts.Find(dc)) return true;
  SetLastError(ERROR_INVALID_HANDLE);
  return false;
}

Picture* TargetPicture(State& state, const DeviceContext& dc, bool forWriting) {
  if (dc.target == Target::kMemory) {
    if (forWriting && dc.bitmap == state.defaultBitmap) return nullptr;
    Bitmap* bitmap = state.bitmaps.Find(dc.bitmap);
    return bitmap ? &bitmap->picture : nullptr;
  }
  if (dc.target == Target::kWindow) {
    auto it = state.surfaces.find(reinterpret_cast<uintptr_t>(dc.window));
    return it == state.surfaces.end() ? nullptr : &it->second;
  }
  return nullptr;
}

}  // namespace gdi

using gdi::Objects;

int GetObjectA(HGDIOBJ object, int bufferSize, LPVOID buffer) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  if (gdi::Bitmap* bitmap = state.bitmaps.Find(object)) {
    if (!buffer) return sizeof(BITMAP);
    if (bufferSize < static_cast<int>(sizeof(BITMAP))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    BITMAP info{};
    info.bmWidth = bitmap->picture.width;
    info.bmHeight = bitmap->picture.height;
    info.bmWidthBytes = bitmap->picture.width * 4;
    info.bmPlanes = 1;
    info.bmBitsPixel = 32;
    std::memcpy(buffer, &info, sizeof info);
    return sizeof(BITMAP);
  }
  if (gdi::Palette* palette = state.palettes.Find(object)) {
    if (!buffer) return sizeof(WORD);
    if (bufferSize < static_cast<int>(sizeof(WORD))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    WORD count = static_cast<WORD>(palette->entries.size());
    std::memcpy(buffer, &count, sizeof count);
    return sizeof(WORD);
  }
  // Brushes have no description record in this subset; everything else is not an object.
  SetLastError(state.brushes.Find(object) ? ERROR_NOT_SUPPORTED : ERROR_INVALID_HANDLE);
  return 0;
}

HGDIOBJ GetStockObject(int index) {
  auto& state = Objects();
  if (index >= WHITE_BRUSH && index <= NULL_BRUSH) return state.stockBrushes[index];
  if (index == DEFAULT_PALETTE) return state.defaultPalette;
  // Fonts, pens and the other stock objects are not part of this subset.
  return nullptr;
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto& state = Objects();
  auto brush = std::make_unique<gdi::Brush>();
  brush->color = color & 0xffffff;
  std::lock_guard lock(state.mutex);
  return state.brushes.Add<HBRUSH>(std::move(brush));
}

BOOL DeleteObject(HGDIOBJ object) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  if (gdi::Bitmap* bitmap = state.bitmaps.Find(object)) {
    if (bitmap->stock) return TRUE;
    if (bitmap->selectedInto) return FALSE;
    state.bitmaps.Remove(object);
    return TRUE;
  }
  if (gdi::Palette* palette = state.palettes.Find(object)) {
    if (palette->stock) return TRUE;
    if (palette->selections > 0) return FALSE;
    state.palettes.Remove(object);
    return TRUE;
  }
  if (gdi::Brush* brush = state.brushes.Find(object)) {
    if (brush->stock) return TRUE;
    if (brush->selections > 0) return FALSE;
    state.brushes.Remove(object);
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

HPALETTE CreatePalette(const LOGPALETTE* logical) {
  if (!logical || logical->palVersion != 0x300) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto palette = std::make_unique<gdi::Palette>();
  // palPalEntry is declared with one entry; the caller's block holds palNumEntries of them.
  const PALETTEENTRY* entries = logical->palPalEntry;
  palette->entries.assign(entries, entries + logical->palNumEntries);
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  return state.palettes.Add<HPALETTE>(std::move(palette));
}

UINT GetPaletteEntries(HPALETTE handle, UINT start, UINT count, PALETTEENTRY* entries) {
  auto& state = Objects();
  std::lock_guard lock(state.mutex);
  gdi::Palette* palette = state.palettes.Find(handle);
  if (!palette) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  UINT size = static_cast<UINT>(palette->entries.size());
  // Without a buffer the answer is the palette's size.
  if (!entries) return size;
  if (start >= size) return 0;
  UINT copied = std::min(count, size - start);
  std::copy_n(palette->entries.begin() + start, copied, entries);
  return copied;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  auto& state = Objects();
  // Every device bitmap is in the screen's 32-bit format, whatever the context holds.
  if (width <= 0 || height <= 0 || width > gdi::kMaxSide || height > gdi::kMaxSide) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!gdi::NullOrLiveContext(dc)) return nullptr;
  auto bitmap = std::make_unique<gdi::Bitmap>();
  if (!gdi::AllocatePicture(&bitmap->picture, width, height)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard lock(state.mutex);
  return state.bitmaps.Add<HBITMAP>(std::move(bitmap));
}
