// The speaker: one tone at a time.
#pragma once

#include "platform/types.h"

#if defined(_WIN32)
// On Windows the system declares all of this itself.
#include <windows.h>
#else

// Plays a tone of `frequency` Hz for `duration` milliseconds and returns when it has ended
// (the headless backend logs it and advances the virtual clock by the duration). Gives
// FALSE for a frequency outside 37 to 32767 Hz.
BOOL Beep(DWORD frequency, DWORD duration);

#endif  // _WIN32
