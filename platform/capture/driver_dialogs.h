// The dialogs the drivers show for their format and video source, built from templates the
// drivers hold and run modally by the windowing backend (DialogBoxIndirectParamA).
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

struct FrameSize {
  int width;
  int height;

  bool operator==(const FrameSize&) const = default;
};

// Offers `sizes` in a drop-down list with *size selected (the first entry when it is not
// offered). Gives 1 with the chosen size in *size when the user confirmed, 0 when cancelled
// or when the dialog could not be shown.
INT_PTR ChooseFrameSize(HWND owner, const char* caption, const std::vector<FrameSize>& sizes,
                        FrameSize* size);

// One slider of a settings dialog; `value` is updated when the user confirms.
struct Setting {
  std::string label;
  int minimum;
  int maximum;
  int value;
};

// Shows one slider per setting. Gives 1 with the values updated when the user confirmed,
// 0 (values unchanged) otherwise.
INT_PTR AdjustSettings(HWND owner, const char* caption, std::vector<Setting>* settings);

// Control ids of the two dialogs, for scripts that drive them.
constexpr int kFrameSizeListId = 101;
constexpr int kFirstSettingId = 201;  // the slider of setting i is kFirstSettingId + i

}  // namespace platform
