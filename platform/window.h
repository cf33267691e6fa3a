// Windows, window classes, messages and the message loop, menus, timers and screen metrics.
// Implemented by each backend (platform/headless, platform/qt) with the same behaviour.
#pragma once

#include "platform/types.h"

#if defined(_WIN32)
// On Windows the system declares all of this itself.
#include <windows.h>
#else

typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

#define MAKEWPARAM(l, h) (static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(l, h))))

// Messages.
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SYSCOLORCHANGE 0x0015
#define WM_SHOWWINDOW 0x0018
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_NCHITTEST 0x0084
#define WM_KEYDOWN 0x0100
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_HSCROLL 0x0114
#define WM_QUERYNEWPALETTE 0x030F
#define WM_PALETTECHANGED 0x0311
#define WM_USER 0x0400

// WM_SIZE kinds.
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1

// WM_SYSCOMMAND commands (the low four bits of wParam are the platform's own).
#define SC_MINIMIZE 0xF020
#define SC_CLOSE 0xF060
#define SC_RESTORE 0xF120

// Hit-test codes.
#define HTNOWHERE 0
#define HTCLIENT 1
#define HTCAPTION 2
#define HTMENU 5
#define HTLEFT 10
#define HTRIGHT 11
#define HTTOP 12
#define HTTOPLEFT 13
#define HTTOPRIGHT 14
#define HTBOTTOM 15
#define HTBOTTOMLEFT 16
#define HTBOTTOMRIGHT 17
#define HTBORDER 18

// Window styles.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_MINIMIZE 0x20000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L

#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_RIGHT 0x00001000L
#define WS_EX_RTLREADING 0x00002000L
#define WS_EX_LEFTSCROLLBAR 0x00004000L

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002

#define CW_USEDEFAULT (static_cast<int>(0x80000000))

// ShowWindow commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

// SetWindowPos flags.
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080

// GetSystemMetrics indexes.
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXBORDER 5
#define SM_CYBORDER 6
#define SM_CYCAPTION 4
#define SM_CYMENU 15
#define SM_CXFRAME 32
#define SM_CYFRAME 33

// Stock cursors and icons (integer resources).
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)

// Menu item flags.
#define MF_BYCOMMAND 0x0000
#define MF_BYPOSITION 0x0400
#define MF_ENABLED 0x0000
#define MF_GRAYED 0x0001
#define MF_DISABLED 0x0002
#define MF_SEPARATOR 0x0800
#define MF_POPUP 0x0010

// Error codes of the window calls.
#ifndef ERROR_ACCESS_DENIED
#define ERROR_ACCESS_DENIED 5
#endif
#define ERROR_INVALID_MENU_HANDLE 1401
#define ERROR_TLW_WITH_WSCHILD 1406
#define ERROR_CANNOT_FIND_WND_CLASS 1407
#define ERROR_CLASS_HAS_WINDOWS 1412
#define ERROR_INVALID_INDEX 1413

// Classes and windows. A refused call gives 0 or null with GetLastError set. A window belongs
// to the thread that created it; only that thread may destroy it.
// Class names are compared without regard to case; a second registration of a name fails
// with ERROR_CLASS_ALREADY_EXISTS.
ATOM RegisterClassA(const WNDCLASSA* windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
// Sends WM_NCCREATE and WM_CREATE (lParam: the CREATESTRUCTA), then WM_SIZE and WM_MOVE; a
// top-level window without a menu handle gets the class's menu (LoadMenuA). For a child
// window `menu` is its id (GWL_ID); a pop-up's `parent` is its owner. Fails with
// ERROR_CANNOT_FIND_WND_CLASS, ERROR_INVALID_WINDOW_HANDLE (parent) or ERROR_TLW_WITH_WSCHILD.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
// Destroys the window and its children (children first, each receiving WM_DESTROY then
// WM_NCDESTROY), its menu and its timers; afterwards the handle is stale for every call.
// ERROR_ACCESS_DENIED from a thread other than the window's.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsWindowEnabled(HWND window);
BOOL IsIconic(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
// Gives TRUE when the window was visible before the call. Sends WM_SHOWWINDOW when the
// visibility changes and WM_SIZE when a minimise command minimises or a restore restores.
BOOL ShowWindow(HWND window, int command);
// Sends WM_PAINT at once when part of the window needs painting; FALSE for a bad handle.
BOOL UpdateWindow(HWND window);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
// Moves and sizes (SWP_NOMOVE, SWP_NOSIZE keep either); sends WM_SIZE when the size changed
// and WM_MOVE (the client area's origin) when the place changed, nothing otherwise. Child
// windows are placed in the parent's client coordinates.
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
// Minimises the window (it is not destroyed): WM_SIZE with SIZE_MINIMIZED; IsIconic is TRUE
// and the client rectangle empty until it is restored.
BOOL CloseWindow(HWND window);
// Restores a minimised window.
BOOL OpenIcon(HWND window);
// Outer rectangle in screen coordinates; client rectangle from (0, 0). The client area is the
// outer one less the frame (SM_CXFRAME/SM_CYFRAME with WS_THICKFRAME, else the borders for
// WS_BORDER, WS_DLGFRAME or a modal frame), the caption bar (SM_CYCAPTION, with WS_CAPTION)
// and the menu bar (SM_CYMENU).
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL GetClientRect(HWND window, RECT* rect);
// A child window's parent, a pop-up's owner, null otherwise.
HWND GetParent(HWND window);
int GetWindowTextA(HWND window, LPSTR text, int maxCount);
BOOL SetWindowTextA(HWND window, LPCSTR text);
LONG GetWindowLongA(HWND window, int index);
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_ID (-12)
int GetSystemMetrics(int index);

// Messages. SendMessageA calls the window procedure; from a thread other than the window's
// own, the window's thread runs it (while it fetches messages or runs a modal loop) and the
// caller waits for the result.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Fetches the next message of the calling thread: FALSE for WM_QUIT, -1 on error.
BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax);
// Takes a message like GetMessageA without waiting: messages sent by other threads are
// carried out first; FALSE when no posted message (nor WM_QUIT) is there. With PM_NOREMOVE
// the message stays in the queue.
BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT remove);
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
// Waits until one of the threads `handles` names has ended (WAIT_OBJECT_0 + its index;
// waitAll must be FALSE), or until a message of the kinds in `wakeMask` arrives for the
// calling thread (WAIT_OBJECT_0 + count), or the time-out passes (WAIT_TIMEOUT, measured
// as WaitForSingleObject does). WAIT_FAILED for a bad handle. The messages are not taken:
// PeekMessageA carries out the sent ones.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask);
#define QS_POSTMESSAGE 0x0008
#define QS_SENDMESSAGE 0x0040
#define QS_ALLPOSTMESSAGE 0x0100
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);
// The default handling: WM_CLOSE destroys the window; WM_SYSCOMMAND SC_CLOSE sends WM_CLOSE,
// SC_MINIMIZE minimises, SC_RESTORE restores; WM_PAINT validates; WM_NCHITTEST answers
// from the frame model (screen point in lParam): HTNOWHERE outside, the sizing frame as
// HTLEFT..HTBOTTOMRIGHT with WS_THICKFRAME (else HTBORDER), HTCAPTION, HTMENU, HTCLIENT.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Painting. BeginPaint validates the window and gives a device context on the window's
// surface (platform::CreateWindowDC); EndPaint releases it. A visible window that needs
// painting gets WM_PAINT when its thread has no posted message left.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);

// Timers: WM_TIMER with the timer id in wParam, posted every `milliseconds` (at least 10) when
// the thread has no other message; periods that passed unseen give one WM_TIMER. A window's
// timer is set from the window's thread. Headless timers run on the virtual clock.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, void* unused);
BOOL KillTimer(HWND window, UINT_PTR id);

// Resources of the program (see platform/resources.h for how they are installed).
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
// With a null instance only the stock IDI_APPLICATION; otherwise a numbered icon group of
// the installed resources. A name the resources lack gives null.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HMENU LoadMenuA(HINSTANCE instance, LPCSTR name);

// Menus.
HMENU GetMenu(HWND window);
// Gives the item's previous state (MF_ENABLED, MF_GRAYED, MF_DISABLED bits), or -1 when the
// menu has no such item.
BOOL EnableMenuItem(HMENU menu, UINT idOrPosition, UINT flags);
// The item's state flags, or 0xFFFFFFFF when there is no such item.
UINT GetMenuState(HMENU menu, UINT idOrPosition, UINT flags);

#endif  // _WIN32
