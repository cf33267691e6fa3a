// The scripted driver: answers from its script, frames from its queue or generator.
#include "platform/capture/scripted_driver.h"

#include <algorithm>
#include <cstring>

namespace platform {

CAPDRIVERCAPS DriverScript::DefaultCaps() {
  CAPDRIVERCAPS caps{};
  caps.fHasDlgVideoSource = TRUE;
  caps.fHasDlgVideoFormat = TRUE;
  caps.fCaptureInitialized = TRUE;
  return caps;
}

std::vector<BYTE> DriverScript::HeaderBytes(const BITMAPINFOHEADER& header) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&header);
  return std::vector<BYTE>(bytes, bytes + sizeof header);
}

ScriptedDriver::ScriptedDriver(DriverScript script) : script_(std::move(script)) {}

void ScriptedDriver::Edit(const std::function<void(DriverScript&)>& change) {
  std::lock_guard lock(mutex_);
  change(script_);
}

void ScriptedDriver::QueueFrame(CaptureFrame frame) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(frame));
}

void ScriptedDriver::SetFrameGenerator(std::function<CaptureFrame(int)> generator) {
  std::lock_guard lock(mutex_);
  generator_ = std::move(generator);
  queue_.clear();
}

std::vector<CaptureRequest> ScriptedDriver::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int ScriptedDriver::CountRequests(UINT message) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(
      std::count_if(requests_.begin(), requests_.end(),
                    [&](const CaptureRequest& r) { return r.message == message; }));
}

bool ScriptedDriver::connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

int ScriptedDriver::grabs() const {
  std::lock_guard lock(mutex_);
  return grabs_;
}

CaptureFrame ScriptedDriver::SolidFrame(int width, int height, BYTE blue, BYTE green, BYTE red) {
  CaptureFrame frame;
  ShapeCaptureFrame(&frame, width, height);
  size_t row = FrameRowBytes(width);
  for (int y = 0; y < height; ++y) {
    BYTE* p = frame.pixels() + row * static_cast<size_t>(y);
    for (int x = 0; x < width; ++x, p += 3) {
      p[0] = blue;
      p[1] = green;
      p[2] = red;
    }
  }
  return frame;
}

bool ScriptedDriver::Describe(std::string* name, std::string* version) {
  std::lock_guard lock(mutex_);
  if (!script_.describes) return false;
  *name = script_.name;
  *version = script_.version;
  return true;
}

bool ScriptedDriver::Connect() {
  std::lock_guard lock(mutex_);
  connected_ = script_.connects;
  return connected_;
}

void ScriptedDriver::Disconnect() {
  std::lock_guard lock(mutex_);
  connected_ = false;
}

bool ScriptedDriver::GetCaps(CAPDRIVERCAPS* caps) {
  std::lock_guard lock(mutex_);
  if (!script_.capsSucceed) return false;
  *caps = script_.caps;
  return true;
}

bool ScriptedDriver::GetFormat(std::vector<BYTE>* format) {
  std::lock_guard lock(mutex_);
  if (!script_.formatSucceeds) return false;
  *format = script_.format;
  return true;
}

bool ScriptedDriver::GetImageSize(UINT* width, UINT* height) {
  std::lock_guard lock(mutex_);
  if (!script_.statusSucceeds) return false;
  *width = script_.statusWidth;
  *height = script_.statusHeight;
  return true;
}

bool ScriptedDriver::SetPreviewRate(UINT milliseconds) {
  std::lock_guard lock(mutex_);
  return std::find(script_.refusedRates.begin(), script_.refusedRates.end(), milliseconds) ==
         script_.refusedRates.end();
}

bool ScriptedDriver::SetPreview(bool) {
  std::lock_guard lock(mutex_);
  return script_.previewSucceeds;
}

bool ScriptedDriver::Grab() {
  std::lock_guard lock(mutex_);
  int number = grabs_++;
  if (generator_) {
    current_ = generator_(number);
  } else if (!queue_.empty()) {
    current_ = std::move(queue_.front());
    queue_.pop_front();
  }
  return current_.has_value();
}

const CaptureFrame* ScriptedDriver::Frame() {
  // Only Grab, on the capture window's thread, replaces the frame, so the pointer stays good
  // after the lock until the next grab.
  std::lock_guard lock(mutex_);
  return current_ ? &*current_ : nullptr;
}

bool ScriptedDriver::GetPalette(std::vector<PALETTEENTRY>* entries) {
  std::lock_guard lock(mutex_);
  if (script_.palette.empty()) return false;
  *entries = script_.palette;
  return true;
}

INT_PTR ScriptedDriver::ShowFormatDialog(HWND) {
  std::lock_guard lock(mutex_);
  if (script_.formatDialogResult != 0 && script_.formatAfterDialog) {
    script_.format = *script_.formatAfterDialog;
    if (script_.format.size() >= sizeof(BITMAPINFOHEADER)) {
      BITMAPINFOHEADER header;
      std::memcpy(&header, script_.format.data(), sizeof header);
      script_.statusWidth = static_cast<UINT>(header.biWidth);
      script_.statusHeight =
          static_cast<UINT>(header.biHeight < 0 ? -header.biHeight : header.biHeight);
    }
  }
  return script_.formatDialogResult;
}

INT_PTR ScriptedDriver::ShowSourceDialog(HWND) {
  std::lock_guard lock(mutex_);
  return script_.sourceDialogResult;
}

void ScriptedDriver::NoteRequest(UINT message, WPARAM wParam, LPARAM) {
  std::lock_guard lock(mutex_);
  requests_.push_back({message, wParam});
}

}  // namespace platform
