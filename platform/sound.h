// The speaker: one tone at a time.
#pragma once

#include "platform/types.h"

// Plays a tone of `frequency` Hz for `duration` milliseconds and returns when it has ended
// (the headless backend logs it and advances the virtual clock by the duration). Gives
// FALSE for a frequency outside 37 to 32767 Hz.
BOOL Beep(DWORD frequency, DWORD duration);
