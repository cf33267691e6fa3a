// The in-process clipboard. One opener at a time (a window on one thread, or the outside
// application a test stands in for); what is put on it belongs to it until it is emptied.
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/clipboard.h"
#include "platform/gdi.h"
#include "platform/gdi/clipboard_testing.h"
#include "platform/handle_table.h"
#include "platform/memory.h"
#include "platform/threads.h"

namespace {

// The platform's "access denied" error code.
constexpr DWORD kAccessDenied = 5;

struct Clipboard {
  std::mutex mutex;
  bool open = false;
  bool heldOutside = false;               // open for an application outside the program
  std::optional<std::thread::id> thread;  // the opening thread
  HWND opener = nullptr;
  HWND owner = nullptr;
  std::map<UINT, HANDLE> data;
};

Clipboard& Board() {
  static Clipboard* board = new Clipboard;  // never destroyed: threads may outlive main
  return *board;
}

bool OpenedHere(const Clipboard& board) {
  return board.open && !board.heldOutside && board.thread == std::this_thread::get_id();
}

// OpenedHere, setting ERROR_CLIPBOARD_NOT_OPEN when the clipboard is not open here.
bool CheckOpenedHere(const Clipboard& board) {
  if (!OpenedHere(board)) SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
  return OpenedHere(board);
}

// Gives an object back to its service: bitmaps and palettes are deleted, memory freed.
void Release(HANDLE object) {
  uint8_t kind = platform::KindOfHandle(object);
  if (kind == static_cast<uint8_t>(platform::HandleKind::kMemory)) {
    GlobalFree(object);
  } else {
    DeleteObject(object);
  }
}

// The kind of handle each format carries.
bool FitsFormat(UINT format, HANDLE data) {
  uint8_t kind = platform::KindOfHandle(data);
  switch (format) {
    case CF_BITMAP:
      return kind == static_cast<uint8_t>(platform::HandleKind::kBitmap);
    case CF_PALETTE:
      return kind == static_cast<uint8_t>(platform::HandleKind::kPalette);
    default:
      return kind == static_cast<uint8_t>(platform::HandleKind::kMemory);
  }
}

}  // namespace

BOOL OpenClipboard(HWND owner) {
  Clipboard& board = Board();
  std::lock_guard lock(board.mutex);
  if (board.open) {
    // Opening again from the same thread for the same window is allowed.
    if (OpenedHere(board) && board.opener == owner) return TRUE;
    SetLastError(kAccessDenied);
    return FALSE;
  }
  board.open = true;
  board.heldOutside = false;
  board.thread = std::this_thread::get_id();
  board.opener = owner;
  return TRUE;
}

BOOL CloseClipboard() {
  Clipboard& board = Board();
  std::lock_guard lock(board.mutex);
  if (!CheckOpenedHere(board)) return FALSE;
  board.open = false;
  board.thread.reset();
  board.opener = nullptr;
  return TRUE;
}

BOOL EmptyClipboard() {
  Clipboard& board = Board();
  std::lock_guard lock(board.mutex);
  if (!CheckOpenedHere(board)) return FALSE;
  for (auto& [format, object] : board.data) Release(object);
  board.data.clear();
  board.owner = board.opener;
  return TRUE;
}

HANDLE GetClipboardData(UINT format) {
  Clipboard& board = Board();
  std::lock_guard lock(board.mutex);
  if (!CheckOpenedHere(board)) return nullptr;
  auto it = board.data.find(format);
  return it == board.data.end() ? nullptr : it->second;
}

HANDLE SetClipboardData(UINT format, HANDLE data) {
  Clipboard& board = Board();
  std::lock_guard lock(board.mutex);
  if (!CheckOpenedHere(board)) return nullptr;
  // Rendering on request (no data now) is not offered.
  if (!data) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (!FitsFormat(format, data)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HANDLE& slot = board.data[format];
  if (slot && slot != data) Release(slot);
  slot = data;
  return data;
}

HWND GetClipboardOwner() {
  Clipboard& board = Board();
  std::lock_guard lock(board.mutex);
  return board.owner;
}

namespace platform {

bool HoldClipboardForOtherApplication() {
  Clipboard& board = Board();
  std::lock_guard lock(board.mutex);
  if (board.open) return false;
  board.open = true;
  board.heldOutside = true;
  board.thread.reset();
  board.opener = nullptr;
  return true;
}

bool ReleaseClipboardOfOtherApplication() {
  Clipboard& board = Board();
  std::lock_guard lock(board.mutex);
  if (!board.open || !board.heldOutside) return false;
  board.open = false;
  board.heldOutside = false;
  return true;
}

}  // namespace platform
