// Threads, the calling thread's last error, and pauses.
#pragma once

#include "platform/types.h"

#if defined(_WIN32)
// On Windows the system declares all of this itself.
#include <windows.h>
#else

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID parameter);

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

#define ERROR_SUCCESS 0
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_CLASS_ALREADY_EXISTS 1410
#define ERROR_CLASS_DOES_NOT_EXIST 1411
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_CLIPBOARD_NOT_OPEN 1418
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813
#define ERROR_NOT_SUPPORTED 50

// Starts `start(parameter)` on a new thread (the stack size and attributes are ignored;
// flags must be 0). Gives a handle that CloseHandle releases and WaitForSingleObject can
// wait on, or null with GetLastError set. `threadId` receives the thread's id when given.
HANDLE CreateThread(void* attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, DWORD* threadId);
// Waits for a thread to end: WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED for a bad handle.
// With a time-out other than 0 or INFINITE the wait is measured on the real clock.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);
DWORD GetCurrentThreadId();

// The calling thread's last error code.
DWORD GetLastError();
void SetLastError(DWORD code);

// Pauses the calling thread. On the desktop backend a real pause; on the headless backend
// it advances the virtual clock (see platform/headless/headless.h) and returns at once.
void Sleep(DWORD milliseconds);
// Milliseconds since the backend started: real on the desktop, virtual when headless.
DWORD GetTickCount();

#endif  // _WIN32
