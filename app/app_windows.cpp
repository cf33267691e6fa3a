#include "app/app_windows.h"

HINSTANCE moduleInstance = nullptr;
HWND MainWindow = nullptr;
HWND videoFrame = nullptr;
HWND baseFrame = nullptr;
HWND afterFrame = nullptr;
HWND captureWindow = nullptr;
