#include "tests/windows/desktop_windows.h"

#include <cstdio>

namespace desktop {
namespace {

constexpr DWORD kAnswerMilliseconds = 10000;  // how long a window may take to answer
constexpr DWORD kLookAgainMilliseconds = 20;

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The window's text, asked of its own thread (WM_GETTEXT), so controls of other programs
// answer too.
std::string TextOf(HWND window) {
  char text[4096] = "";
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, kAnswerMilliseconds, &length)) {
    return {};
  }
  return std::string(text, length < sizeof text ? length : sizeof text - 1);
}

struct Search {
  DWORD processId;
  HWND previous;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || window == search->previous || !IsWindowVisible(window) ||
      ClassOf(window) != "#32770") {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

BOOL CALLBACK AddControl(HWND window, LPARAM parameter) {
  auto* dialog = reinterpret_cast<Dialog*>(parameter);
  Control control{window,
                  ClassOf(window),
                  GetDlgCtrlID(window),
                  TextOf(window),
                  static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)),
                  {}};
  GetWindowRect(window, &control.screen);
  dialog->controls.push_back(control);
  return TRUE;
}

Dialog Read(HWND window) {
  Dialog dialog;
  dialog.window = window;
  dialog.caption = TextOf(window);
  dialog.style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
  EnumChildWindows(window, AddControl, reinterpret_cast<LPARAM>(&dialog));
  return dialog;
}

}  // namespace

std::vector<std::string> Dialog::StaticTexts() const {
  std::vector<std::string> texts;
  for (const Control& control : controls) {
    // A picture's text names its resource, which is no text to read.
    const DWORD type = control.style & SS_TYPEMASK;
    if (_stricmp(control.className.c_str(), "Static") == 0 && !control.text.empty() &&
        type != SS_BITMAP && type != SS_ICON) {
      texts.push_back(control.text);
    }
  }
  return texts;
}

const Control* Dialog::ById(int id) const {
  for (const Control& control : controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

Dialog WaitForDialog(HANDLE process, DWORD processId, HWND previous, DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    Search search{processId, previous, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found) return Read(search.found);
    if (GetTickCount64() >= deadline) return {};
    // Ends the pause at once when the process ends.
    if (WaitForSingleObject(process, kLookAgainMilliseconds) == WAIT_OBJECT_0) return {};
  }
}

bool Press(HWND button) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kAnswerMilliseconds,
                             &result) != 0;
}

std::vector<uint32_t> ScreenPixels(const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  std::vector<uint32_t> pixels;
  if (width <= 0 || height <= 0) return pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (picture) {
    HGDIOBJ old = SelectObject(memory, picture);
    if (BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY)) {
      GdiFlush();
      const auto* values = static_cast<const uint32_t*>(bits);
      pixels.assign(values, values + size_t(width) * height);
      for (uint32_t& value : pixels) value &= 0xFFFFFF;
    }
    SelectObject(memory, old);
    DeleteObject(picture);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

bool WriteBmp(const std::string& path, const std::vector<uint32_t>& pixels, int width) {
  if (width <= 0 || pixels.size() % width != 0) return false;
  const int height = static_cast<int>(pixels.size() / width);
  const int row = (3 * width + 3) & ~3;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER header{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + row * height;
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biSizeImage = row * height;
  std::vector<unsigned char> rows(size_t(row) * height, 0);
  for (int y = 0; y < height; ++y) {
    unsigned char* out = &rows[size_t(height - 1 - y) * row];
    for (int x = 0; x < width; ++x) {
      const uint32_t value = pixels[size_t(y) * width + x];
      out[3 * x] = static_cast<unsigned char>(value);
      out[3 * x + 1] = static_cast<unsigned char>(value >> 8);
      out[3 * x + 2] = static_cast<unsigned char>(value >> 16);
    }
  }
  FILE* stream = std::fopen(path.c_str(), "wb");
  if (!stream) return false;
  bool written = std::fwrite(&file, sizeof file, 1, stream) == 1 &&
                 std::fwrite(&header, sizeof header, 1, stream) == 1 &&
                 std::fwrite(rows.data(), 1, rows.size(), stream) == rows.size();
  return std::fclose(stream) == 0 && written;
}

}  // namespace desktop
