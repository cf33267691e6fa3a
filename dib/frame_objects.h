// The frame grabber's pictures, shared with the painting of the frame windows. They are
// defined here, below the grabber, so that painting can read them without depending on it.
// The grabber owns them: it replaces each under frameObjectsMutex (releasing the previous
// object first and clearing the handle), and painting holds the same mutex while it draws.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/types.h"

// The palette of the last frame taken from the clipboard (a copy of the clipboard's
// palette, or the stock default palette, which is never released); null at start.
extern HPALETTE framePalette;
// The last converted frame, a packed bitmap in a movable block; null at start.
extern HGLOBAL frameDib;
// The reference frame as a device bitmap, painted by the reference frame window.
extern HBITMAP referenceBitmap;
// The last grabbed frame as a device bitmap, painted by the upload frame window.
extern HBITMAP uploadBitmap;
// The device bitmap through which the reference frame is re-rendered.
extern HBITMAP renderBitmap;
// 1 once a frame has been converted, never cleared; nothing is painted while it is 0.
extern std::atomic<int32_t> frameAvailable;
// Guards the five handles above: held by whoever replaces them and by painting.
extern std::mutex frameObjectsMutex;
