// The capture window: a window of its own class, registered through the windowing backend,
// whose procedure carries out the WM_CAP_* requests on the connected driver. While the
// preview is on, a timer takes the driver's newest frame at the preview rate, without
// waiting for one, and paints it into the window's surface; grabs paint theirs too.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/capture/drivers.h"
#include "platform/clipboard.h"
#include "platform/gdi.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace {

constexpr char kClassName[] = "corvantisCaptureWindow";
constexpr UINT_PTR kPreviewTimer = 1;
// The preview rate until the program sets one.
constexpr UINT kDefaultPreviewRate = 66;
// The last message number of the capture requests.
constexpr UINT kLastCaptureRequest = WM_CAP_START + 100;

struct CaptureWindowState {
  std::shared_ptr<platform::CaptureDriver> driver;  // null while unconnected
  int index = -1;
  UINT previewRate = kDefaultPreviewRate;
  bool previewOn = false;
  DWORD framesGrabbed = 0;
};

std::mutex stateMutex;
// One entry per live capture window; each state is used only by its window's thread.
std::map<HWND, std::unique_ptr<CaptureWindowState>> states;  // guarded by stateMutex

CaptureWindowState& StateOf(HWND window) {
  std::lock_guard lock(stateMutex);
  auto& state = states[window];
  if (!state) state = std::make_unique<CaptureWindowState>();
  return *state;
}

void ForgetState(HWND window) {
  std::unique_ptr<CaptureWindowState> state;
  {
    std::lock_guard lock(stateMutex);
    auto it = states.find(window);
    if (it == states.end()) return;
    state = std::move(it->second);
    states.erase(it);
  }
  if (state->driver) state->driver->Disconnect();
}

// Copies min(size, sizeof record) bytes of `record` to the caller's buffer.
template <typename T>
void CopyRecord(const T& record, WPARAM size, LPARAM buffer) {
  if (!buffer) return;
  std::memcpy(reinterpret_cast<void*>(buffer), &record, std::min<size_t>(size, sizeof record));
}

const BITMAPINFO* InfoOf(const platform::CaptureFrame& frame) {
  return reinterpret_cast<const BITMAPINFO*>(frame.dib.data());
}

// Draws the frame in the driver's buffer at the window's top-left corner.
void PaintFrame(HDC dc, CaptureWindowState& state) {
  const platform::CaptureFrame* frame = state.driver ? state.driver->Frame() : nullptr;
  if (!frame) return;
  const BITMAPINFOHEADER* header = frame->header();
  SetDIBitsToDevice(
      dc, 0, 0, static_cast<DWORD>(header->biWidth), static_cast<DWORD>(header->biHeight), 0, 0, 0,
      static_cast<UINT>(header->biHeight), frame->pixels(), InfoOf(*frame), DIB_RGB_COLORS);
}

// Whether the window can be seen: it and its parents are shown and their top-level window
// is not minimised. A window that cannot be seen paints the frame in the buffer once it can
// (WM_PAINT), so new frames need not be drawn meanwhile; while the alarm is armed the main
// window is minimised and the frames go to the frame handler only.
bool CanBeSeen(HWND window) {
  if (!IsWindowVisible(window)) return false;
  HWND top = window;
  while (GetWindowLongA(top, GWL_STYLE) & WS_CHILD) top = GetParent(top);
  return top && !IsIconic(top);
}

void ShowNewFrame(HWND window, CaptureWindowState& state) {
  if (!CanBeSeen(window)) return;
  if (HDC dc = GetDC(window)) {
    PaintFrame(dc, state);
    ReleaseDC(window, dc);
  }
}

// Counts and shows the frame that a grab or a preview tick took into the driver's buffer,
// when `taken`; gives `taken`.
bool TookFrame(HWND window, CaptureWindowState& state, bool taken) {
  if (taken) {
    ++state.framesGrabbed;
    ShowNewFrame(window, state);
  }
  return taken;
}

bool Grab(HWND window, CaptureWindowState& state) {
  return TookFrame(window, state, state.driver->Grab());
}

bool StartPreviewTimer(HWND window, CaptureWindowState& state) {
  return SetTimer(window, kPreviewTimer, state.previewRate, nullptr) != 0;
}

void StopPreview(HWND window, CaptureWindowState& state) {
  if (state.previewOn) KillTimer(window, kPreviewTimer);
  state.previewOn = false;
}

void DisconnectDriver(HWND window, CaptureWindowState& state) {
  StopPreview(window, state);
  state.driver->Disconnect();
  state.driver.reset();
  state.index = -1;
}

LRESULT Connect(HWND window, CaptureWindowState& state, WPARAM index) {
  std::shared_ptr<platform::CaptureDriver> driver =
      platform::CaptureDriverAt(static_cast<int>(index));
  if (!driver) return FALSE;
  driver->NoteRequest(WM_CAP_DRIVER_CONNECT, index, 0);
  if (driver == state.driver) return TRUE;
  if (state.driver) DisconnectDriver(window, state);
  if (!driver->Connect()) return FALSE;
  state.driver = driver;
  state.index = static_cast<int>(index);
  state.framesGrabbed = 0;
  // A connected driver's buffer holds a picture from the start, as on a live camera.
  Grab(window, state);
  return TRUE;
}

// Puts the current frame on the clipboard as a device bitmap, with the driver's palette
// when it supplies one. Fails when the clipboard is held open by another window.
LRESULT CopyFrame(HWND window, CaptureWindowState& state) {
  const platform::CaptureFrame* frame = state.driver->Frame();
  if (!frame || !OpenClipboard(window)) return FALSE;
  // The previous frame goes first, so that the new one can take its memory.
  EmptyClipboard();
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBitmap(screen, frame->header(), CBM_INIT, frame->pixels(),
                                  InfoOf(*frame), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (!bitmap || !SetClipboardData(CF_BITMAP, bitmap)) {
    if (bitmap) DeleteObject(bitmap);
    CloseClipboard();
    return FALSE;
  }
  std::vector<PALETTEENTRY> entries;
  if (state.driver->GetPalette(&entries) && !entries.empty() && entries.size() <= 256) {
    std::vector<BYTE> block(sizeof(LOGPALETTE) + entries.size() * sizeof(PALETTEENTRY));
    auto* logical = reinterpret_cast<LOGPALETTE*>(block.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = static_cast<WORD>(entries.size());
    std::memcpy(logical->palPalEntry, entries.data(), entries.size() * sizeof(PALETTEENTRY));
    if (HPALETTE palette = CreatePalette(logical)) {
      if (!SetClipboardData(CF_PALETTE, palette)) DeleteObject(palette);
    }
  }
  CloseClipboard();
  return TRUE;
}

LRESULT GetStatus(CaptureWindowState& state, WPARAM size, LPARAM buffer) {
  CAPSTATUS status{};
  if (!state.driver->GetImageSize(&status.uiImageWidth, &status.uiImageHeight)) return FALSE;
  std::vector<PALETTEENTRY> entries;
  status.fLiveWindow = state.previewOn ? TRUE : FALSE;
  status.fUsingDefaultPalette = state.driver->GetPalette(&entries) ? FALSE : TRUE;
  status.dwCurrentVideoFrame = state.framesGrabbed;
  CopyRecord(status, size, buffer);
  return TRUE;
}

LRESULT CaptureRequest(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CaptureWindowState& state = StateOf(window);
  if (message == WM_CAP_DRIVER_CONNECT) return Connect(window, state, wParam);
  if (!state.driver) return FALSE;
  state.driver->NoteRequest(message, wParam, lParam);
  switch (message) {
    case WM_CAP_DRIVER_DISCONNECT:
      DisconnectDriver(window, state);
      return TRUE;
    case WM_CAP_DRIVER_GET_NAME: {
      std::string name, version;
      if (!state.driver->Describe(&name, &version) || !lParam || wParam == 0) return FALSE;
      size_t count = std::min<size_t>(name.size(), wParam - 1);
      std::memcpy(reinterpret_cast<char*>(lParam), name.data(), count);
      reinterpret_cast<char*>(lParam)[count] = '\0';
      return TRUE;
    }
    case WM_CAP_DRIVER_GET_CAPS: {
      CAPDRIVERCAPS caps{};
      if (!state.driver->GetCaps(&caps)) return FALSE;
      caps.wDeviceIndex = static_cast<UINT>(state.index);
      CopyRecord(caps, wParam, lParam);
      return TRUE;
    }
    case WM_CAP_GET_VIDEOFORMAT: {
      std::vector<BYTE> format;
      if (!state.driver->GetFormat(&format)) return 0;
      if (!lParam) return static_cast<LRESULT>(format.size());
      size_t count = std::min<size_t>(wParam, format.size());
      if (count > 0) std::memcpy(reinterpret_cast<void*>(lParam), format.data(), count);
      return static_cast<LRESULT>(count);
    }
    case WM_CAP_SET_VIDEOFORMAT:
      // No driver here takes a format imposed by the program; they change it through their
      // format dialogs only. Refused as the platform refuses a format its driver rejects.
      return FALSE;
    case WM_CAP_DLG_VIDEOFORMAT: {
      INT_PTR result = state.driver->ShowFormatDialog(window);
      if (result && state.previewOn) ShowNewFrame(window, state);
      return result != 0 ? TRUE : FALSE;
    }
    case WM_CAP_DLG_VIDEOSOURCE:
      return state.driver->ShowSourceDialog(window) != 0 ? TRUE : FALSE;
    case WM_CAP_GET_STATUS:
      return GetStatus(state, wParam, lParam);
    case WM_CAP_SET_PREVIEWRATE:
      if (wParam == 0 || !state.driver->SetPreviewRate(static_cast<UINT>(wParam))) return FALSE;
      state.previewRate = static_cast<UINT>(wParam);
      if (state.previewOn) StartPreviewTimer(window, state);
      return TRUE;
    case WM_CAP_SET_PREVIEW:
      if (wParam) {
        if (!state.driver->SetPreview(true) || !StartPreviewTimer(window, state)) return FALSE;
        state.previewOn = true;
      } else {
        state.driver->SetPreview(false);
        StopPreview(window, state);
      }
      return TRUE;
    case WM_CAP_GRAB_FRAME:
      // A single grab ends the preview, as on the platform.
      StopPreview(window, state);
      state.driver->SetPreview(false);
      return Grab(window, state) ? TRUE : FALSE;
    case WM_CAP_GRAB_FRAME_NOSTOP:
      return Grab(window, state) ? TRUE : FALSE;
    case WM_CAP_EDIT_COPY:
      return CopyFrame(window, state);
    default:
      // Requests of the platform's capture interface that no driver here supports.
      return FALSE;
  }
}

LRESULT CaptureWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_CAP_START && message <= kLastCaptureRequest) {
    return CaptureRequest(window, message, wParam, lParam);
  }
  switch (message) {
    case WM_TIMER:
      if (wParam == kPreviewTimer) {
        CaptureWindowState& state = StateOf(window);
        // The driver's newest frame, when a new one has come.
        if (state.driver && state.previewOn) TookFrame(window, state, state.driver->PreviewFrame());
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (dc) PaintFrame(dc, StateOf(window));
      EndPaint(window, &paint);
      return 0;
    }
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
      // Frames are drawn in true colour: no palette to realise.
      return 0;
    case WM_DESTROY:
      if (StateOf(window).previewOn) KillTimer(window, kPreviewTimer);
      ForgetState(window);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// Registers the capture window class once per process.
bool RegisterCaptureClass() {
  static std::mutex mutex;
  static bool registered = false;
  std::lock_guard lock(mutex);
  if (registered) return true;
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = CaptureWindowProc;
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }
  registered = true;
  return true;
}

}  // namespace

HWND capCreateCaptureWindowA(LPCSTR name, DWORD style, int x, int y, int width, int height,
                             HWND parent, int id) {
  if (!RegisterCaptureClass()) return nullptr;
  return CreateWindowExA(0, kClassName, name, style, x, y, width, height, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}
