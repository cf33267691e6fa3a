// Internal to the platform: lets a backend learn that a thread started with CreateThread has
// ended, so that a message loop waiting for it can wake up without polling.
#pragma once

namespace platform {

// Called on the ending thread, after its procedure has returned. One listener; null removes it.
void SetThreadEndListener(void (*listener)());

}  // namespace platform
