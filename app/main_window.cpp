// The main window's procedure and the layout of the windows around the live picture.
#include "app/main_window.h"

#include "app/app_windows.h"
#include "app/menu_commands.h"
#include "camera/camera_connection.h"
#include "detect/alarm_state.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/window.h"

int32_t borderWidthX = 0;
int32_t borderWidthY = 0;

namespace {

// The driver's picture size, as signed values for the layout arithmetic.
int64_t PictureWidth() {
  return static_cast<int64_t>(captureStatus.uiImageWidth);
}
int64_t PictureHeight() {
  return static_cast<int64_t>(captureStatus.uiImageHeight);
}

}  // namespace

void PlaceMainWindow() {
  int64_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
  int64_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
  if (screenWidth < 640) {
    MessageBoxA(MainWindow, "Monitor resolution should be at minimum of 640 x 480",
                "Please change monintor settings", MB_OK);
  }
  int64_t width = PictureWidth(), height = PictureHeight();
  int64_t dx = screenWidth - width - 100;
  int64_t dy = screenHeight - height - 200;
  int x = dx < 0 ? 0 : static_cast<int>(dx / 2);
  int y = dy < 0 ? 0 : static_cast<int>(dy / 2);
  SetWindowPos(MainWindow, nullptr, x, y, static_cast<int>(width + 9),
               static_cast<int>(height + 75), SWP_NOZORDER);
  LayoutVideo();
}

void LayoutVideo() {
  borderWidthX = GetSystemMetrics(SM_CXBORDER);
  borderWidthY = GetSystemMetrics(SM_CYBORDER);
  int64_t width = PictureWidth(), height = PictureHeight();
  SetWindowPos(videoFrame, nullptr, 0, 2, static_cast<int>(width + 2 * borderWidthX),
               static_cast<int>(height + 2 * borderWidthY + 25), SWP_NOZORDER);
  SetWindowPos(captureWindow, nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
               SWP_NOZORDER);
}

LRESULT MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      SetBkMode(dc, TRANSPARENT);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_CLOSE:
      // Closing is refused without a word while the alarm is armed.
      if (AlarmState.armed.load(std::memory_order_relaxed) != 0) return 0;
      DestroyWindow(captureWindow);
      DestroyWindow(videoFrame);
      DestroyWindow(baseFrame);
      DestroyWindow(afterFrame);
      DestroyWindow(MainWindow);
      return 0;
    case WM_SYSCOLORCHANGE:
      SendMessageA(videoFrame, message, wParam, lParam);
      return 1;
    case WM_NCHITTEST: {
      // The sizing border answers as the caption: a drag moves the window, never sizes it.
      LRESULT hit = DefWindowProcA(window, message, wParam, lParam);
      return (hit >= HTLEFT && hit <= HTBOTTOMRIGHT) ? HTCAPTION : hit;
    }
    case WM_COMMAND:
      MenuProc(window, wParam, lParam);
      return 0;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
      return SendMessageA(captureWindow, message, wParam, lParam);
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
