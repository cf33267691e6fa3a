// The capture drivers behind the capture window: the window carries out each WM_CAP_*
// request by calling the connected driver through this interface. Drivers run on the
// thread that owns their capture window.
#pragma once

#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/gdi.h"
#include "platform/types.h"

namespace platform {

// A 24-bit frame as a packed bitmap: a 40-byte information header (biBitCount 24,
// biCompression 0, no colour table) followed by the rows, bottom row first, each padded to
// a multiple of 4 bytes.
struct CaptureFrame {
  std::vector<BYTE> dib;

  const BITMAPINFOHEADER* header() const {
    return reinterpret_cast<const BITMAPINFOHEADER*>(dib.data());
  }
  const BYTE* pixels() const { return dib.data() + sizeof(BITMAPINFOHEADER); }
  BYTE* pixels() { return dib.data() + sizeof(BITMAPINFOHEADER); }
};

// Bytes in one row of a 24-bit frame `width` pixels wide.
inline size_t FrameRowBytes(int width) {
  return ((24u * static_cast<size_t>(width) + 31) / 32) * 4;
}
// Sizes `frame` for width x height (contents zero) and writes its header.
void ShapeCaptureFrame(CaptureFrame* frame, int width, int height);
// A BITMAPINFOHEADER of the given size and depth (biSizeImage filled in for uncompressed
// depths), as drivers report their format.
BITMAPINFOHEADER MakeFormatHeader(int width, int height, int bitCount);

class CaptureDriver {
 public:
  virtual ~CaptureDriver() = default;

  // Name and version for capGetDriverDescriptionA; false when the driver cannot be used.
  virtual bool Describe(std::string* name, std::string* version) = 0;
  virtual bool Connect() = 0;
  virtual void Disconnect() = 0;
  // Fills the capability record (wDeviceIndex is set by the capture window).
  virtual bool GetCaps(CAPDRIVERCAPS* caps) = 0;
  // The current video format: a BITMAPINFOHEADER (possibly with a colour table), or any
  // block of bytes the driver calls its format; false when the driver cannot say.
  virtual bool GetFormat(std::vector<BYTE>* format) = 0;
  // The size of the live picture for the status record; false when it cannot be read.
  virtual bool GetImageSize(UINT* width, UINT* height) = 0;
  // Accepts or refuses a preview rate in milliseconds.
  virtual bool SetPreviewRate(UINT milliseconds) = 0;
  // Accepts or refuses turning the preview on or off.
  virtual bool SetPreview(bool on) = 0;
  // Takes one new frame into the driver's frame buffer: a camera's next frame, waiting for it
  // when it is not due yet.
  virtual bool Grab() = 0;
  // Takes the newest frame into the buffer for the live preview without waiting for one;
  // false when none has come since the last. Drivers whose Grab never waits keep this.
  virtual bool PreviewFrame() { return Grab(); }
  // The frame in the buffer as a 24-bit packed bitmap, valid until the driver's next Grab,
  // PreviewFrame, Disconnect or dialog; null before the first grab.
  virtual const CaptureFrame* Frame() = 0;
  // A copy of the frame in the buffer; false before the first grab.
  bool CurrentFrame(CaptureFrame* frame) {
    const CaptureFrame* current = Frame();
    if (!current) return false;
    frame->dib = current->dib;
    return true;
  }
  // The palette the driver supplies with its frames; false when it supplies none.
  virtual bool GetPalette(std::vector<PALETTEENTRY>* /*entries*/) { return false; }
  // The driver's own dialogs, modal and owned by `owner`; non-zero when the user confirmed.
  virtual INT_PTR ShowFormatDialog(HWND owner) = 0;
  virtual INT_PTR ShowSourceDialog(HWND owner) = 0;
  // Every request the capture window receives for this driver, before it is carried out
  // (for a connect, before Connect). Drivers that keep a log override it.
  virtual void NoteRequest(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {}
};

}  // namespace platform
