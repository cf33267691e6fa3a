// Test control of the in-process clipboard: lets a test stand in for another application
// that holds the clipboard open, so that every window's OpenClipboard fails meanwhile.
#pragma once

namespace platform {

// Opens the clipboard for an application outside the program. False when someone already
// holds it open.
bool HoldClipboardForOtherApplication();
// Closes the clipboard held by HoldClipboardForOtherApplication; false when it is not held.
bool ReleaseClipboardOfOtherApplication();

}  // namespace platform
