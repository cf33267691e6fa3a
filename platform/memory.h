// Movable memory blocks. A block is named by a handle; GlobalLock gives its address until
// the matching GlobalUnlock, and an unlocked block may move when it is resized. A stale or
// foreign handle makes every call fail (null, 0 or the handle itself, as each call says).
#pragma once

#include "platform/types.h"

#if defined(_WIN32)
// On Windows the system declares all of this itself.
#include <windows.h>
#else

#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// A new block of `bytes` bytes (zero-filled with GMEM_ZEROINIT), or null. GMEM_FIXED blocks
// are handled like movable ones: their address is also obtained with GlobalLock.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// The block's address, and one more lock; null for a stale handle or a zero-size block.
LPVOID GlobalLock(HGLOBAL block);
// One lock fewer. TRUE while the block stays locked, FALSE when it is now unlocked or the
// handle is stale (GetLastError then tells them apart: 0 for a good unlock).
BOOL GlobalUnlock(HGLOBAL block);
// Resizes the block (zero-filling the growth with GMEM_ZEROINIT); a locked block is resized
// only when GMEM_MOVEABLE is given or the block need not move. Gives the handle, or null.
HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags);
// Releases the block: null on success, the handle when it is stale.
HGLOBAL GlobalFree(HGLOBAL block);
// The block's size in bytes, 0 for a stale handle.
SIZE_T GlobalSize(HGLOBAL block);
// Lock count of the block in the low byte, as GlobalFlags reports it.
UINT GlobalFlags(HGLOBAL block);

// Fixed local blocks: the handle is the block's address. LMEM_MOVEABLE is not supported
// and fails with null. LocalFree gives null on success and the handle when it is not a
// live local block.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL block);

#endif  // _WIN32
