// The video-capture window and its drivers. The capture window carries out the WM_CAP_*
// requests on the driver it is connected to; the drivers are listed in
// platform/capture/drivers.h (cameras, then the demo camera; tests install their own).
#pragma once

#include "platform/types.h"
#include "platform/window.h"

#if defined(_WIN32)
// On Windows the system declares all of this itself.
#include <windows.h>
// (after <windows.h>, whose types it uses)
#include <vfw.h>
#else

// Capability record of the connected driver (44 bytes: handles are kept as 32-bit values).
struct CAPDRIVERCAPS {
  UINT wDeviceIndex;
  BOOL fHasOverlay;
  BOOL fHasDlgVideoSource;
  BOOL fHasDlgVideoFormat;
  BOOL fHasDlgVideoDisplay;
  BOOL fCaptureInitialized;
  BOOL fDriverSuppliesPalettes;
  DWORD hVideoIn;
  DWORD hVideoOut;
  DWORD hVideoExtIn;
  DWORD hVideoExtOut;
};
static_assert(sizeof(CAPDRIVERCAPS) == 44);

// Status record of the capture window (76 bytes).
struct CAPSTATUS {
  UINT uiImageWidth;
  UINT uiImageHeight;
  BOOL fLiveWindow;
  BOOL fOverlayWindow;
  BOOL fScale;
  POINT ptScroll;
  BOOL fUsingDefaultPalette;
  BOOL fAudioHardware;
  BOOL fCapFileExists;
  DWORD dwCurrentVideoFrame;
  DWORD dwCurrentVideoFramesDropped;
  DWORD dwCurrentWaveSamples;
  DWORD dwCurrentTimeElapsedMS;
  DWORD hPalCurrent;
  BOOL fCapturingNow;
  DWORD dwReturn;
  UINT wNumVideoAllocated;
  UINT wNumAudioAllocated;
};
static_assert(sizeof(CAPSTATUS) == 76);

#define WM_CAP_START WM_USER
#define WM_CAP_DRIVER_CONNECT (WM_CAP_START + 10)
#define WM_CAP_DRIVER_DISCONNECT (WM_CAP_START + 11)
#define WM_CAP_DRIVER_GET_NAME (WM_CAP_START + 12)
#define WM_CAP_DRIVER_GET_CAPS (WM_CAP_START + 14)
#define WM_CAP_EDIT_COPY (WM_CAP_START + 30)
#define WM_CAP_DLG_VIDEOFORMAT (WM_CAP_START + 41)
#define WM_CAP_DLG_VIDEOSOURCE (WM_CAP_START + 42)
#define WM_CAP_GET_VIDEOFORMAT (WM_CAP_START + 44)
#define WM_CAP_SET_VIDEOFORMAT (WM_CAP_START + 45)
#define WM_CAP_SET_PREVIEW (WM_CAP_START + 50)
#define WM_CAP_SET_PREVIEWRATE (WM_CAP_START + 52)
#define WM_CAP_GET_STATUS (WM_CAP_START + 54)
#define WM_CAP_GRAB_FRAME (WM_CAP_START + 60)
#define WM_CAP_GRAB_FRAME_NOSTOP (WM_CAP_START + 61)
static_assert(WM_CAP_DRIVER_CONNECT == 1034 && WM_CAP_GET_STATUS == 1078 &&
              WM_CAP_GRAB_FRAME_NOSTOP == 1085 && WM_CAP_EDIT_COPY == 1054);

// Creates a capture window (a child window when WS_CHILD is given) that is not yet
// connected to any driver; null on failure.
HWND capCreateCaptureWindowA(LPCSTR name, DWORD style, int x, int y, int width, int height,
                             HWND parent, int id);
// Copies driver `index`'s name and version (terminated, cut to the buffer sizes); FALSE
// when there is no driver of that index.
BOOL capGetDriverDescriptionA(WORD index, LPSTR name, int nameSize, LPSTR version, int versionSize);

#endif  // _WIN32
