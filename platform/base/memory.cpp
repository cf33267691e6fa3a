// Movable memory blocks kept in a handle table; local blocks as plain checked allocations.
#include "platform/memory.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "platform/handle_table.h"
#include "platform/threads.h"
#include "platform/unfilled_allocator.h"

namespace {

struct Block {
  // Grown without GMEM_ZEROINIT, the new bytes are left as they are, as the platform leaves
  // them: a frame's block is written whole right after it is sized.
  std::vector<unsigned char, platform::UnfilledAllocator<unsigned char>> bytes;
  unsigned locks = 0;
};

// Every live global block of the process. Never destroyed, so that a thread still running
// while the process ends, or a destructor of another file, can still use its blocks.
platform::HandleTable<Block>& Blocks() {
  static auto* table = new platform::HandleTable<Block>(platform::HandleKind::kMemory);
  return *table;
}

// Addresses of the live local blocks (never destroyed, as above).
std::unordered_set<void*>& LocalBlocks() {
  static auto* blocks = new std::unordered_set<void*>;
  return *blocks;
}
std::mutex localMutex;

// Sizes the block; with `zero` the bytes it gains are zero.
bool Resize(Block& block, SIZE_T size, bool zero) {
  try {
    const size_t old = block.bytes.size();
    block.bytes.resize(size);
    if (zero && size > old)
      std::fill(block.bytes.begin() + static_cast<ptrdiff_t>(old), block.bytes.end(), 0);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  auto block = std::make_unique<Block>();
  if (!Resize(*block, bytes, (flags & GMEM_ZEROINIT) != 0)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto& table = Blocks();
  std::lock_guard lock(table.mutex());
  return table.Add<HGLOBAL>(std::move(block));
}

namespace {

// Runs `use` on the block of `handle` under the table's lock; `failed`, with
// ERROR_INVALID_HANDLE, for a handle that names no block.
template <typename R, typename F>
R WithBlock(HGLOBAL handle, R failed, F&& use) {
  auto& table = Blocks();
  std::lock_guard lock(table.mutex());
  Block* block = table.Find(handle);
  if (!block) {
    SetLastError(ERROR_INVALID_HANDLE);
    return failed;
  }
  return use(*block);
}

}  // namespace

LPVOID GlobalLock(HGLOBAL handle) {
  return WithBlock<LPVOID>(handle, nullptr, [](Block& block) -> LPVOID {
    if (block.bytes.empty()) return nullptr;
    ++block.locks;
    return block.bytes.data();
  });
}

BOOL GlobalUnlock(HGLOBAL handle) {
  return WithBlock<BOOL>(handle, FALSE, [](Block& block) {
    if (block.locks > 0) --block.locks;
    SetLastError(ERROR_SUCCESS);
    return block.locks > 0 ? TRUE : FALSE;
  });
}

HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags) {
  return WithBlock<HGLOBAL>(handle, nullptr, [&](Block& block) -> HGLOBAL {
    // A locked block may not move unless the caller allows it; growing a vector may move.
    bool mayMove = block.locks == 0 || (flags & GMEM_MOVEABLE) || bytes <= block.bytes.capacity();
    if (!mayMove || !Resize(block, bytes, (flags & GMEM_ZEROINIT) != 0)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    return handle;
  });
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  auto& table = Blocks();
  std::unique_ptr<Block> block;
  {
    std::lock_guard lock(table.mutex());
    block = table.Remove(handle);
  }
  if (!block) {
    SetLastError(ERROR_INVALID_HANDLE);
    return handle;
  }
  return nullptr;
}

SIZE_T GlobalSize(HGLOBAL handle) {
  return WithBlock<SIZE_T>(handle, 0, [](Block& block) { return block.bytes.size(); });
}

UINT GlobalFlags(HGLOBAL handle) {
  return WithBlock<UINT>(handle, 0x8000 /* GMEM_INVALID_HANDLE */,
                         [](Block& block) { return static_cast<UINT>(block.locks & 0xff); });
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if (flags & ~static_cast<UINT>(LMEM_ZEROINIT)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  void* block = std::calloc(bytes ? bytes : 1, 1);
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard lock(localMutex);
  LocalBlocks().insert(block);
  return block;
}

HLOCAL LocalFree(HLOCAL handle) {
  if (!handle) return nullptr;
  {
    std::lock_guard lock(localMutex);
    if (LocalBlocks().erase(handle) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return handle;
    }
  }
  std::free(handle);
  return nullptr;
}
