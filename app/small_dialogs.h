// The settings dialog with its two sliders, the welcome dialog and the about box.
#pragma once

#include <cstdint>

#include "platform/types.h"

// smoothing and sensitivity as they were when the settings dialog opened (window thread).
extern int32_t savedSmoothing;
extern int32_t savedSensitivity;

// The sliders set the two thresholds while they move; OK keeps them, Cancel (Escape, the
// close box) restores the values of the dialog's opening. Always ends with 1.
INT_PTR SettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Only OK closes it (with 1).
INT_PTR WelcomeDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Only OK closes it (with 1).
INT_PTR AboutDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
