// A capture driver whose every answer is set by a test, and which records every request
// the capture window receives for it, so that tests can check the order and the absence of
// requests. Settings may be changed between requests from any thread.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/driver.h"

namespace platform {

// One request as the capture window received it.
struct CaptureRequest {
  UINT message;
  WPARAM wParam;
};

struct DriverScript {
  bool describes = true;  // capGetDriverDescriptionA succeeds
  std::string name = "Scripted camera";
  std::string version = "1.0";
  bool connects = true;
  bool capsSucceed = true;
  CAPDRIVERCAPS caps = DefaultCaps();
  // The format block the driver reports (any size, also below 40 bytes); empty with
  // formatSucceeds makes the size request answer 0.
  std::vector<BYTE> format = HeaderBytes(MakeFormatHeader(320, 240, 24));
  bool formatSucceeds = true;
  bool statusSucceeds = true;
  UINT statusWidth = 320;
  UINT statusHeight = 240;
  // Preview rates the driver refuses.
  std::vector<UINT> refusedRates;
  bool previewSucceeds = true;
  INT_PTR formatDialogResult = 1;
  INT_PTR sourceDialogResult = 1;
  // The format reported after a confirmed format dialog, when set.
  std::optional<std::vector<BYTE>> formatAfterDialog;
  // The palette delivered with each frame; empty for none.
  std::vector<PALETTEENTRY> palette;

  static CAPDRIVERCAPS DefaultCaps();
  static std::vector<BYTE> HeaderBytes(const BITMAPINFOHEADER& header);
};

class ScriptedDriver : public CaptureDriver {
 public:
  explicit ScriptedDriver(DriverScript script = {});

  // Changes the script.
  void Edit(const std::function<void(DriverScript&)>& change);
  // Frames delivered by successive grabs; the last one repeats when the queue runs out.
  void QueueFrame(CaptureFrame frame);
  // Frames made on demand: called with the grab number (0 for the first grab); replaces
  // the queue.
  void SetFrameGenerator(std::function<CaptureFrame(int)> generator);
  // Every request received so far, oldest first.
  std::vector<CaptureRequest> Requests() const;
  // How many requests of that message were received.
  int CountRequests(UINT message) const;
  bool connected() const;
  int grabs() const;

  // A width x height frame filled with one colour.
  static CaptureFrame SolidFrame(int width, int height, BYTE blue, BYTE green, BYTE red);

  bool Describe(std::string* name, std::string* version) override;
  bool Connect() override;
  void Disconnect() override;
  bool GetCaps(CAPDRIVERCAPS* caps) override;
  bool GetFormat(std::vector<BYTE>* format) override;
  bool GetImageSize(UINT* width, UINT* height) override;
  bool SetPreviewRate(UINT milliseconds) override;
  bool SetPreview(bool on) override;
  bool Grab() override;
  const CaptureFrame* Frame() override;
  bool GetPalette(std::vector<PALETTEENTRY>* entries) override;
  INT_PTR ShowFormatDialog(HWND owner) override;
  INT_PTR ShowSourceDialog(HWND owner) override;
  void NoteRequest(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  mutable std::mutex mutex_;
  DriverScript script_;                         // guarded by mutex_
  std::deque<CaptureFrame> queue_;              // guarded by mutex_
  std::function<CaptureFrame(int)> generator_;  // guarded by mutex_
  std::optional<CaptureFrame> current_;         // guarded by mutex_; replaced by Grab only
  std::vector<CaptureRequest> requests_;        // guarded by mutex_
  bool connected_ = false;                      // guarded by mutex_
  int grabs_ = 0;                               // guarded by mutex_
};

}  // namespace platform
