#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/threads.h"

namespace {

bool AllZero(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i]) return false;
  }
  return true;
}

TEST(GlobalMemory, AllocLockUnlockAndCounts) {
  HGLOBAL block = GlobalAlloc(GHND, 1000);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalSize(block), 1000u);
  EXPECT_EQ(GlobalFlags(block), 0u);
  auto* first = static_cast<unsigned char*>(GlobalLock(block));
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(AllZero(first, 1000));
  std::memset(first, 0x5C, 1000);
  EXPECT_EQ(GlobalLock(block), first);  // the same address while locked
  EXPECT_EQ(GlobalFlags(block), 2u);
  EXPECT_EQ(GlobalUnlock(block), TRUE);  // still locked once
  EXPECT_EQ(GlobalUnlock(block), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(GlobalFlags(block), 0u);
  auto* again = static_cast<unsigned char*>(GlobalLock(block));
  EXPECT_EQ(again[999], 0x5C);  // the contents survive unlocking
  GlobalUnlock(block);
  EXPECT_EQ(GlobalFree(block), nullptr);

  // A zero-size block exists but has no address.
  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalLock(empty), nullptr);
  EXPECT_EQ(GlobalFree(empty), nullptr);
}

TEST(GlobalMemory, ReAllocKeepsContentsAndZeroFillsGrowth) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 16);
  auto* bytes = static_cast<unsigned char*>(GlobalLock(block));
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i + 1);
  GlobalUnlock(block);
  EXPECT_EQ(GlobalReAlloc(block, 1 << 20, GMEM_MOVEABLE | GMEM_ZEROINIT), block);
  EXPECT_EQ(GlobalSize(block), size_t{1} << 20);
  bytes = static_cast<unsigned char*>(GlobalLock(block));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(bytes[i], i + 1);
  EXPECT_TRUE(AllZero(bytes + 16, (1 << 20) - 16));
  GlobalUnlock(block);
  // Shrinking keeps the front.
  EXPECT_EQ(GlobalReAlloc(block, 8, 0), block);
  EXPECT_EQ(GlobalSize(block), 8u);
  bytes = static_cast<unsigned char*>(GlobalLock(block));
  EXPECT_EQ(bytes[7], 8);
  // A locked block does not move without GMEM_MOVEABLE...
  EXPECT_EQ(GlobalReAlloc(block, 1 << 22, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(GlobalSize(block), 8u);
  // ...but may with it.
  EXPECT_EQ(GlobalReAlloc(block, 1 << 22, GMEM_MOVEABLE), block);
  GlobalUnlock(block);
  GlobalFree(block);
}

TEST(GlobalMemory, StaleAndForeignHandlesFailWithoutHarm) {
  HGLOBAL block = GlobalAlloc(GHND, 64);
  ASSERT_EQ(GlobalFree(block), nullptr);
  // A thread handle is of another kind; made-up values and null name nothing.
  HANDLE thread = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  const HGLOBAL bad[] = {block, thread, nullptr,
                         reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(0x1234)),
                         reinterpret_cast<HGLOBAL>(~uintptr_t{0})};
  for (HGLOBAL handle : bad) {
    SetLastError(0);
    EXPECT_EQ(GlobalLock(handle), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GlobalUnlock(handle), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GlobalReAlloc(handle, 100, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GlobalSize(handle), 0u);
    EXPECT_EQ(GlobalFlags(handle), 0x8000u);
    EXPECT_EQ(GlobalFree(handle), handle);
  }
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(CloseHandle(thread), TRUE);
  // A new block never takes the old handle's value.
  HGLOBAL next = GlobalAlloc(GHND, 64);
  EXPECT_NE(next, block);
  GlobalFree(next);
}

TEST(GlobalMemory, HugeRequestsFailCleanly) {
  SetLastError(0);
  EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, ~SIZE_T{0}), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 10);
  EXPECT_EQ(GlobalReAlloc(block, ~SIZE_T{0}, GMEM_MOVEABLE), nullptr);
  EXPECT_EQ(GlobalSize(block), 10u);
  GlobalFree(block);
}

TEST(GlobalMemory, BlocksCanBeUsedFromSeveralThreadsAtOnce) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) {
        HGLOBAL block = GlobalAlloc(GHND, 32);
        auto* bytes = static_cast<unsigned char*>(GlobalLock(block));
        bytes[0] = static_cast<unsigned char>(t);
        GlobalUnlock(block);
        GlobalReAlloc(block, 64, GMEM_MOVEABLE | GMEM_ZEROINIT);
        bytes = static_cast<unsigned char*>(GlobalLock(block));
        EXPECT_EQ(bytes[0], t);
        GlobalUnlock(block);
        EXPECT_EQ(GlobalFree(block), nullptr);
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

TEST(LocalMemory, FixedBlocksAndTheirRelease) {
  HLOCAL block = LocalAlloc(LPTR, 300);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block, 300));
  std::memset(block, 1, 300);
  HLOCAL empty = LocalAlloc(LMEM_FIXED, 0);
  EXPECT_NE(empty, nullptr) << "a zero-size block is still a block";
  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(LocalFree(block), block);  // already released
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  int onStack = 0;
  EXPECT_EQ(LocalFree(&onStack), &onStack);  // never a block of ours: left alone
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  SetLastError(0);
  EXPECT_EQ(LocalAlloc(0x0002 /* LMEM_MOVEABLE */, 10), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

}  // namespace
