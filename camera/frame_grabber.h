// The frame grabber: the test loop on the window thread, the armed loop on the alarm
// thread, and the alarm thread's countdown. Frames travel from the capture driver through
// the clipboard and are converted into 24-bit packed bitmaps for the frame handler.
//
// Only one grab loop runs at a time. A loop started while another is still running (for
// instance a test started while the alarm thread finishes its last pass after a disarm)
// refuses at once with result 0 and touches nothing: waiting could not work, because the
// running loop's capture requests need the window thread that would be waiting.
#pragma once

#include "platform/types.h"

// Places the reference and upload frames, captures the reference, grabs until the
// motion-detected flag is non-zero, then shows the upload frame and restores the main
// window. 1 after motion, 0 when re-rendering the reference failed or a loop was running.
int RunTestLoop();
// Captures the reference and grabs while the armed flag is set. 1 after a disarm, 0 when
// re-rendering the reference failed or a loop was running.
int RunArmedLoop();
// The alarm thread's procedure: fifteen rounds of a one-second pause and a beep, counted in
// the frame counter, then the armed loop. The argument is ignored; gives 0.
DWORD AlarmCountdown(LPVOID parameter);

// One reference capture: the frame the driver holds now becomes the reference bitmap and
// is handed to the frame handler; `showReference` shows the reference frame window. Gives
// 0 when re-rendering the reference failed (the loop must then end with 0), otherwise 1.
int CaptureReference(int showReference);
// One pass of a grab loop: a new frame from the driver, converted and handed on.
void GrabFrame();
// Draws frameDib through renderBitmap and reads it back as the new frameDib, with the given
// compression and depth. Gives the new frameDib, frameDib unchanged when no bitmap could be
// made, or null (also while no frame is available). The caller holds frameObjectsMutex.
HGLOBAL RerenderPackedDib(DWORD compression, WORD depth);
