// The frame handler: runs the detector on each grabbed frame, holds results back during the
// 60-frame warm-up, and writes and uploads a triggering frame while the alarm is armed.
#pragma once

#include "platform/types.h"

// Handles one grabbed frame (a movable block holding a 24-bit packed bitmap, which it locks
// for the call and neither keeps nor frees). Gives 0 for a null block, otherwise 1.
int HandleFrame(HGLOBAL frameBlock);
