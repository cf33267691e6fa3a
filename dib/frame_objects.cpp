#include "dib/frame_objects.h"

HPALETTE framePalette = nullptr;
HGLOBAL frameDib = nullptr;
HBITMAP referenceBitmap = nullptr;
HBITMAP uploadBitmap = nullptr;
HBITMAP renderBitmap = nullptr;
std::atomic<int32_t> frameAvailable{0};
std::mutex frameObjectsMutex;
