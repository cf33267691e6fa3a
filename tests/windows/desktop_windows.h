// Looking at another program's windows on the Windows desktop, as a user would: finding its
// dialogs and message boxes, reading what they say, pressing their buttons and taking a
// picture of them from the screen.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace desktop {

// A control of a dialog, as read from outside the program.
struct Control {
  HWND window;
  std::string className;
  int id;
  std::string text;
  DWORD style;
  RECT screen;  // where it is on the screen
};

// A dialog or message box on the screen.
struct Dialog {
  HWND window = nullptr;
  std::string caption;
  DWORD style = 0;
  std::vector<Control> controls;
  // The texts of the static text controls that have one, in the order of the controls.
  std::vector<std::string> StaticTexts() const;
  const Control* ById(int id) const;
};

// Waits until the process shows a visible dialog (class "#32770") other than `previous`, and
// reads it. Gives a dialog with a null window when the process ends or `milliseconds` pass
// first. The wait looks again every 20 ms and ends at once when the process does.
Dialog WaitForDialog(HANDLE process, DWORD processId, HWND previous, DWORD milliseconds);

// Presses the button as a click does (BM_CLICK); false when it cannot be reached.
bool Press(HWND button);

// The screen's pixels in `area`, as 0xRRGGBB values, top row first.
std::vector<uint32_t> ScreenPixels(const RECT& area);
// Writes pixels of `width` columns as a 24-bit BMP file; false when it cannot.
bool WriteBmp(const std::string& path, const std::vector<uint32_t>& pixels, int width);

}  // namespace desktop
