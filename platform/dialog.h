// Modal dialogs built from the program's templates, their controls, and message boxes.
// Written once in the window system's model (platform/window_system) over either display.
#pragma once

#include "platform/resources.h"
#include "platform/types.h"
#include "platform/window.h"

#if defined(_WIN32)
// On Windows the system declares all of this itself.
#include <windows.h>
// (after <windows.h>, whose types it uses)
#include <commctrl.h>
#else

typedef INT_PTR (*DLGPROC)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Dialog template styles.
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_3DLOOK 0x0004L
#define DS_CENTER 0x0800L

// Control styles.
#define ES_LEFT 0x0000L
#define ES_PASSWORD 0x0020L
#define ES_AUTOHSCROLL 0x0080L
#define BS_PUSHBUTTON 0x0000L
#define BS_DEFPUSHBUTTON 0x0001L
#define BS_GROUPBOX 0x0007L
#define SS_LEFT 0x0000L
#define SS_CENTER 0x0001L
#define SS_BITMAP 0x000EL
#define TBS_HORZ 0x0000
#define TBS_BOTH 0x0008
#define TBS_NOTICKS 0x0010

#define CBS_DROPDOWNLIST 0x0003L

// Command ids of the standard buttons.
#define IDOK 1
#define IDCANCEL 2

// Notifications in WM_COMMAND (high word of wParam) and WM_HSCROLL (low word).
#define BN_CLICKED 0
#define CBN_SELCHANGE 1
#define EN_CHANGE 0x0300
#define TB_LINEUP 0
#define TB_LINEDOWN 1
#define TB_PAGEUP 2
#define TB_PAGEDOWN 3
#define TB_THUMBPOSITION 4
#define TB_THUMBTRACK 5
#define TB_TOP 6
#define TB_BOTTOM 7
#define TB_ENDTRACK 8

#define ERROR_CONTROL_ID_NOT_FOUND 1421

// Trackbar messages. The range is packed as minimum in the low 16 bits and maximum in the
// high ones (default 0 to 100); positions are clamped to the range, also when it changes.
#define TBM_GETPOS (WM_USER)
#define TBM_SETPOS (WM_USER + 5)
#define TBM_SETRANGE (WM_USER + 6)
#define TBM_GETRANGEMIN (WM_USER + 1)
#define TBM_GETRANGEMAX (WM_USER + 2)

// Combo box (drop-down list) messages. CB_SETCURSEL outside the list clears the selection
// and gives CB_ERR; the control's text is the selected item's.
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_ADDSTRING 0x0143
#define CB_SETCURSEL 0x014E
#define CB_RESETCONTENT 0x014B
#define CB_ERR (-1)

// Message box flags and answers.
#define MB_OK 0x00000000L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0L

// Shows a message box owned by `owner` (none allowed) and returns the pressed button's id
// (IDOK), or 0 when the box could not be shown (an owner that is gone:
// ERROR_INVALID_WINDOW_HANDLE). A box asked for on a thread other than the owner's is shown
// by the window thread while the caller waits.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Makes the common controls (the trackbar) available to dialog templates. Both backends have
// them built into their dialogs, so it does nothing here; on Windows it loads the system's
// common controls library.
void InitCommonControls();

// Runs the dialog of template `templateName` (MAKEINTRESOURCEA(id)) modally, owned by
// `owner`, with `procedure` as its dialog procedure; gives the value passed to EndDialog,
// or -1 when the dialog could not be created (ERROR_RESOURCE_NAME_NOT_FOUND for a missing
// template). The owner (the top-level window of an owner that is a child window) is disabled
// while the dialog runs; the template's position counts from the owner's client area. The
// procedure gets WM_INITDIALOG (wParam: the first enabled control with WS_TABSTOP, lParam:
// initParam); a non-zero answer puts the focus on that control. Buttons send WM_COMMAND
// (id, BN_CLICKED); Enter presses the push button with the focus, else the default push
// button (IDOK when there is none), unless it is disabled; Escape sends WM_COMMAND IDCANCEL
// whatever the template; the close box (templates with WS_SYSMENU) sends WM_CLOSE, which a
// procedure that does not handle it turns into WM_COMMAND IDCANCEL. Typing sends EN_CHANGE,
// choosing a list's item CBN_SELCHANGE; sliders send WM_HSCROLL to the dialog.
// The modal loop carries out messages of the thread (and those sent by other threads) until
// EndDialog; a WM_QUIT ends the dialog and stays queued for the outer loop.
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM initParam);
// The same for a template the caller holds (drivers build their own dialogs this way).
INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, const platform::DialogTemplate* dialog,
                                HWND owner, DLGPROC procedure, LPARAM initParam);
// Ends a modal dialog with `result` once its procedure returns; FALSE for a bad handle.
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
// Copies the control's text (at most maxCount - 1 characters, terminated); gives the length
// copied, 0 when the control has no text or does not exist.
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int maxCount);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);

#endif  // _WIN32
