// The clipboard, in-process: it never touches the desktop's own clipboard. One window holds
// it open at a time; emptying it makes the opener its owner and releases what was on it.
#pragma once

#include "platform/types.h"

#if defined(_WIN32)
// On Windows the system declares all of this itself.
#include <windows.h>
#else

#define CF_TEXT 1
#define CF_BITMAP 2
#define CF_PALETTE 9

BOOL OpenClipboard(HWND owner);
BOOL CloseClipboard();
BOOL EmptyClipboard();
// The object of that format, still owned by the clipboard; null when there is none or the
// clipboard is not open on this thread.
HANDLE GetClipboardData(UINT format);
// Hands `data` over to the clipboard (which releases it when emptied); needs the clipboard
// open. Gives the data, or null.
HANDLE SetClipboardData(UINT format, HANDLE data);
HWND GetClipboardOwner();

#endif  // _WIN32
