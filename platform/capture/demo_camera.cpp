// The demo camera: the room is drawn once per size and brightness, and with it a few
// pictures of the room with sensor noise (a shifted run of a noise table per row), which the
// frames take in turn: a frame without the figure is one of them, lent as it is, so that the
// camera costs next to nothing between walks; during a walk the figure is drawn over a copy.
#include "platform/capture/demo_camera.h"

#include <algorithm>
#include <cmath>

#include "platform/capture/driver_dialogs.h"
#include "platform/threads.h"

namespace platform {
namespace {

// Room values stay at or below this, so that noise (at most kNoiseMax) never overflows.
constexpr int kRoomMax = 250;
constexpr int kNoiseMax = 5;
// Extra noise-table length from which each row takes its own shifted run.
constexpr size_t kNoiseSpan = 4096;

struct Colour {
  double b, g, r;
};

// The 5 x 7 letters of the mark, one byte per row, bit 4 the leftmost column.
struct Glyph {
  char letter;
  BYTE rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};
constexpr char kMark[] = "DEMO CAMERA";

const Glyph& GlyphOf(char letter) {
  for (const Glyph& glyph : kGlyphs) {
    if (glyph.letter == letter) return glyph;
  }
  return kGlyphs[sizeof kGlyphs / sizeof kGlyphs[0] - 1];
}

// A picture of packed bottom-up 24-bit rows addressed top-down.
struct Canvas {
  BYTE* bits;
  int width;
  int height;
  size_t rowBytes;

  BYTE* At(int x, int y) const {
    return bits + rowBytes * static_cast<size_t>(height - 1 - y) + 3 * static_cast<size_t>(x);
  }
  void Put(int x, int y, BYTE b, BYTE g, BYTE r) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    BYTE* p = At(x, y);
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
  void Fill(int x0, int y0, int x1, int y1, BYTE b, BYTE g, BYTE r) const {
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) Put(x, y, b, g, r);
    }
  }
};

// The colour of the room at (x, y), before brightness.
Colour RoomColour(double x, double y, double w, double h) {
  const double horizon = 0.62 * h;
  // Furniture and objects in front of the wall and floor.
  if (x >= 0.62 * w && x < 0.86 * w && y >= 0.42 * h && y < 0.72 * h) {  // cabinet
    double top = 0.42 * h + 0.03 * h;
    if (y < top) return {70, 100, 135};
    double drawer = std::fmod(y - top, 0.09 * h);
    if (drawer < 0.006 * h) return {30, 45, 60};
    if (std::fabs(x - 0.74 * w) < 0.012 * w && std::fabs(drawer - 0.045 * h) < 0.008 * h) {
      return {140, 170, 190};  // knob
    }
    return {45, 70, 100};
  }
  if (x >= 0.73 * w && x < 0.76 * w && y >= 0.30 * h && y < 0.42 * h) return {40, 40, 45};
  if (y >= 0.22 * h && y < 0.30 * h) {  // lamp shade, wider at the bottom
    double half = (0.04 + 0.03 * (y - 0.22 * h) / (0.08 * h)) * w;
    if (std::fabs(x - 0.745 * w) < half) return {160, 225, 245};
  }
  if (x >= 0.45 * w && x < 0.56 * w && y >= 0.16 * h && y < 0.34 * h) {  // picture
    if (x < 0.46 * w || x >= 0.55 * w || y < 0.175 * h || y >= 0.325 * h) return {30, 50, 70};
    return y < 0.26 * h ? Colour{210, 170, 120} : Colour{70, 140, 90};
  }
  if (y < horizon) {
    // Wall, darker towards the ceiling, lit around the window.
    double shade = 0.80 + 0.20 * (y / horizon);
    double dx = (x - 0.22 * w) / w, dy = (y - 0.30 * h) / h;
    double glow = 0.25 * std::exp(-(dx * dx + dy * dy) * 12.0);
    Colour wall{150, 182, 205};
    if (y > horizon - 0.02 * h) return {55, 75, 95};  // skirting board
    bool inWindow = x >= 0.08 * w && x < 0.36 * w && y >= 0.10 * h && y < 0.48 * h;
    if (inWindow) {
      double frame = 0.012 * w;
      bool bar = x < 0.08 * w + frame || x >= 0.36 * w - frame || y < 0.10 * h + frame ||
                 y >= 0.48 * h - frame || std::fabs(x - 0.22 * w) < frame / 2 ||
                 std::fabs(y - 0.29 * h) < frame / 2;
      if (bar) return {225, 230, 232};
      double sky = (y - 0.10 * h) / (0.38 * h);
      return {240 - 20 * sky, 205 + 20 * sky, 150 + 50 * sky};
    }
    double f = shade * (1.0 + glow);
    return {wall.b * f, wall.g * f, wall.r * f};
  }
  // Floor: planks converging on a vanishing point, lit where the window's light falls.
  double depth = y - horizon;
  double u = (x - 0.5 * w) / (depth + 0.15 * h) * 6.0;
  double plank = std::floor(u);
  double seam = u - plank;
  Colour floor{40, 85, 135};
  double tint = 0.9 + 0.1 * std::fabs(std::sin(plank * 12.9898));
  if (seam < 0.05) tint *= 0.6;
  double rx = (x - 0.5 * w) / (0.22 * w), ry = (y - 0.84 * h) / (0.07 * h);
  if (rx * rx + ry * ry < 1.0) floor = {55, 45, 140};  // rug
  double left = 0.14 * w + depth * 0.5, right = 0.40 * w + depth * 1.1;
  if (x >= left && x < right) tint *= 1.3;
  double near = 0.85 + 0.15 * depth / (h - horizon);
  return {floor.b * tint * near, floor.g * tint * near, floor.r * tint * near};
}

}  // namespace

DemoCamera::DemoCamera(uint32_t seed, int width, int height)
    : rngState_(seed ? seed : 0x9E3779B9u),
      width_(320),
      height_(240),
      tickCount_(::GetTickCount),
      sleep_(::Sleep) {
  noise_.resize(kNoiseSpan + FrameRowBytes(kSizes[2][0]));
  for (BYTE& value : noise_) value = static_cast<BYTE>(Random() % (kNoiseMax + 1));
  if (!SetSize(width, height)) RenderRoom();
  nextWalk_ = DrawPause();
}

void DemoCamera::SetClock(DWORD (*tickCount)(), void (*sleep)(DWORD)) {
  tickCount_ = tickCount;
  sleep_ = sleep;
  lastTick_ = tickCount_();
}

uint32_t DemoCamera::Random() {
  // xorshift32: cheap, and the same sequence for the same seed everywhere.
  uint32_t x = rngState_;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  rngState_ = x;
  return x;
}

int64_t DemoCamera::FrameTime(int64_t number) {
  return (number * 1000 + kFramesPerSecond - 1) / kFramesPerSecond;
}

int64_t DemoCamera::StreamNow() {
  // Differences of the 32-bit tick count, so that its wrap after 49 days goes unnoticed.
  const DWORD now = tickCount_();
  streamTime_ += static_cast<DWORD>(now - lastTick_);
  lastTick_ = now;
  return streamTime_;
}

int64_t DemoCamera::DrawPause() {
  const int64_t low = walkSeconds_ * int64_t{2000} / 3, high = walkSeconds_ * int64_t{4000} / 3;
  return low + static_cast<int64_t>(Random() % static_cast<uint32_t>(high - low + 1));
}

// Starts the walk that is due by `time` and ends the one that is over by then, however many
// frames nobody took in between.
void DemoCamera::AdvanceWalks(int64_t time) {
  for (;;) {
    if (walkStart_ < 0) {
      if (time < nextWalk_) return;
      walkStart_ = nextWalk_;
    }
    if (time < walkStart_ + kWalkMilliseconds) return;
    nextWalk_ = walkStart_ + kWalkMilliseconds + DrawPause();
    walkStart_ = -1;
    walkLeftToRight_ = !walkLeftToRight_;
  }
}

void DemoCamera::TakeFrame(int64_t number) {
  frameNumber_ = number;
  AdvanceWalks(FrameTime(number));
  RenderFrame();
}

bool DemoCamera::SetSize(int width, int height) {
  bool known = false;
  for (const auto& size : kSizes) known = known || (size[0] == width && size[1] == height);
  if (!known) return false;
  width_ = width;
  height_ = height;
  RenderRoom();
  if (frameNumber_ >= 0) RenderFrame();
  return true;
}

void DemoCamera::SetBrightness(int percent) {
  brightness_ = std::clamp(percent, 50, 150);
  RenderRoom();
  if (frameNumber_ >= 0) RenderFrame();
}

void DemoCamera::SetWalkSeconds(int seconds) {
  walkSeconds_ = std::clamp(seconds, 5, 60);
  if (walkStart_ < 0) nextWalk_ = StreamNow() + DrawPause();
}

void DemoCamera::StartWalkIn(int64_t milliseconds) {
  if (walkStart_ < 0) nextWalk_ = StreamNow() + std::max<int64_t>(0, milliseconds);
}

void DemoCamera::RenderRoom() {
  CaptureFrame room;
  ShapeCaptureFrame(&room, width_, height_);
  Canvas canvas{room.pixels(), width_, height_, FrameRowBytes(width_)};
  const double scale = brightness_ / 100.0;
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      Colour c = RoomColour(x + 0.5, y + 0.5, width_, height_);
      auto level = [&](double v) {
        return static_cast<BYTE>(std::clamp(static_cast<int>(v * scale), 0, kRoomMax));
      };
      canvas.Put(x, y, level(c.b), level(c.g), level(c.r));
    }
  }
  // The mark: white letters on a dark red box in the top-left corner, at any brightness.
  const int dot = std::max(1, width_ / 160);
  const int letters = static_cast<int>(sizeof kMark - 1);
  const int left = 3 * dot, top = 3 * dot;
  canvas.Fill(left, top, left + (letters * 6 + 3) * dot, top + 11 * dot, 20, 20, 170);
  for (int i = 0; i < letters; ++i) {
    const Glyph& glyph = GlyphOf(kMark[i]);
    for (int row = 0; row < 7; ++row) {
      for (int column = 0; column < 5; ++column) {
        if (!(glyph.rows[row] & (0x10 >> column))) continue;
        int x = left + (2 + i * 6 + column) * dot, y = top + (2 + row) * dot;
        canvas.Fill(x, y, x + dot, y + dot, kRoomMax, kRoomMax, kRoomMax);
      }
    }
  }
  // The room with noise, a few times over.
  const size_t rowBytes = FrameRowBytes(width_);
  noisyRooms_.assign(kNoisyRooms, room);
  for (CaptureFrame& noisy : noisyRooms_) {
    for (int y = 0; y < height_; ++y) {
      const BYTE* noise = noise_.data() + (Random() % kNoiseSpan);
      BYTE* row = noisy.pixels() + rowBytes * static_cast<size_t>(y);
      for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<BYTE>(row[i] + noise[i]);
    }
  }
}

void DemoCamera::RenderFrame() {
  const CaptureFrame& noisy = noisyRooms_[static_cast<size_t>(frameNumber_) % kNoisyRooms];
  if (walkStart_ < 0) {
    current_ = &noisy;
    return;
  }
  frame_.dib = noisy.dib;
  DrawFigure(static_cast<double>(frameTime() - walkStart_) / kWalkMilliseconds);
  current_ = &frame_;
}

void DemoCamera::DrawFigure(double progress) {
  Canvas canvas{frame_.pixels(), width_, height_, FrameRowBytes(width_)};
  const double h = 0.70 * height_;  // the figure's height
  const double feet = 0.93 * height_;
  const double travel = width_ + 0.6 * h;
  double centre = -0.3 * h + progress * travel;
  if (!walkLeftToRight_) centre = width_ - centre;
  const double step = std::sin(progress * 14.0 * 3.14159265);
  const double head = 0.085 * h;
  const double shoulders = feet - h + 2 * head;
  const double hips = feet - 0.47 * h;
  const double bodyHalf = 0.13 * h;
  // Head.
  for (int y = static_cast<int>(feet - h); y < static_cast<int>(shoulders); ++y) {
    for (int x = static_cast<int>(centre - head); x <= static_cast<int>(centre + head); ++x) {
      double dx = x - centre, dy = y - (feet - h + head);
      if (dx * dx + dy * dy <= head * head) canvas.Put(x, y, 95, 135, 190);
    }
  }
  // Body and arms.
  for (int y = static_cast<int>(shoulders); y < static_cast<int>(hips); ++y) {
    double arm = step * 0.12 * h * (y - shoulders) / (hips - shoulders);
    for (int x = static_cast<int>(centre - bodyHalf); x <= static_cast<int>(centre + bodyHalf);
         ++x) {
      canvas.Put(x, y, 90, 40, 30);
    }
    for (int side = -1; side <= 1; side += 2) {
      int ax = static_cast<int>(centre + side * (bodyHalf + 0.02 * h) + side * arm);
      for (int x = ax - static_cast<int>(0.03 * h); x <= ax + static_cast<int>(0.03 * h); ++x) {
        canvas.Put(x, y, 80, 35, 25);
      }
    }
  }
  // Legs, swinging with the step.
  for (int y = static_cast<int>(hips); y < static_cast<int>(feet); ++y) {
    double swing = step * 0.16 * h * (y - hips) / (feet - hips);
    for (int side = -1; side <= 1; side += 2) {
      int lx = static_cast<int>(centre + side * 0.06 * h + side * swing);
      for (int x = lx - static_cast<int>(0.055 * h); x <= lx + static_cast<int>(0.055 * h); ++x) {
        canvas.Put(x, y, 150, 185, 200);
      }
    }
  }
}

bool DemoCamera::Describe(std::string* name, std::string* version) {
  *name = "Corvantis demo camera";
  *version = "Synthetic room 1.0";
  return true;
}

bool DemoCamera::Connect() {
  // The stream starts afresh: frame 0 is due now.
  connected_ = true;
  lastTick_ = tickCount_();
  streamTime_ = 0;
  frameNumber_ = grabbed_ = -1;
  walkStart_ = -1;
  nextWalk_ = DrawPause();
  return true;
}

void DemoCamera::Disconnect() {
  connected_ = false;
}

bool DemoCamera::GetCaps(CAPDRIVERCAPS* caps) {
  *caps = CAPDRIVERCAPS{};
  caps->fHasDlgVideoSource = TRUE;
  caps->fHasDlgVideoFormat = TRUE;
  caps->fCaptureInitialized = connected_ ? TRUE : FALSE;
  return true;
}

bool DemoCamera::GetFormat(std::vector<BYTE>* format) {
  BITMAPINFOHEADER header = MakeFormatHeader(width_, height_, 24);
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&header);
  format->assign(bytes, bytes + sizeof header);
  return true;
}

bool DemoCamera::GetImageSize(UINT* width, UINT* height) {
  *width = static_cast<UINT>(width_);
  *height = static_cast<UINT>(height_);
  return true;
}

bool DemoCamera::SetPreviewRate(UINT milliseconds) {
  // The preview shows the stream at whatever rate it is asked for; frames still come at
  // kFramesPerSecond.
  return milliseconds > 0 && milliseconds <= 10000;
}

bool DemoCamera::SetPreview(bool) {
  return connected_;
}

bool DemoCamera::Grab() {
  if (!connected_) return false;
  // The frame after the last one handed out, or the newest when the grabs fell behind (the
  // frames between were never taken, as a camera drops them).
  int64_t now = StreamNow();
  const int64_t next = std::max(grabbed_ + 1, now * kFramesPerSecond / 1000);
  if (next > frameNumber_) {
    if (FrameTime(next) > now) sleep_(static_cast<DWORD>(FrameTime(next) - now));
    StreamNow();
    TakeFrame(next);
  }
  // Otherwise the preview already took that frame into the buffer.
  grabbed_ = next;
  return true;
}

bool DemoCamera::PreviewFrame() {
  if (!connected_) return false;
  const int64_t newest = StreamNow() * kFramesPerSecond / 1000;
  if (newest <= frameNumber_) return false;
  TakeFrame(newest);
  return true;
}

const CaptureFrame* DemoCamera::Frame() {
  return frameNumber_ >= 0 ? current_ : nullptr;
}

INT_PTR DemoCamera::ShowFormatDialog(HWND owner) {
  std::vector<FrameSize> sizes;
  for (const auto& size : kSizes) sizes.push_back({size[0], size[1]});
  FrameSize size{width_, height_};
  if (!ChooseFrameSize(owner, "Demo Camera Format", sizes, &size)) return 0;
  SetSize(size.width, size.height);
  return 1;
}

INT_PTR DemoCamera::ShowSourceDialog(HWND owner) {
  std::vector<Setting> settings = {{"Brightness (%)", 50, 150, brightness_},
                                   {"Seconds between walks", 5, 60, walkSeconds_}};
  if (!AdjustSettings(owner, "Demo Camera Source", &settings)) return 0;
  SetBrightness(settings[0].value);
  SetWalkSeconds(settings[1].value);
  return 1;
}

}  // namespace platform
