// Portable memory blocks, on whichever system this build runs over.
#include "glue/XPqUtil.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool allZero(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i]) return false;
  return true;
}

TEST(MemoryBlocks, PointersAreZeroFilled) {
  // The globals block is this size; the library relies on its zero fill.
  void* p = NewXPPointer(32508);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(allZero(p, 32508));
  DisposeXPPointer(p);
}

TEST(MemoryBlocks, HandlesUpToTheLimitAreZeroFilled) {
  for (qlong size : {2, 100, 8192}) {
    XPHandle h = NewXPHandle(size);
    ASSERT_NE(h, nullptr) << size;
    void* p = LockXPHandle(h);
    EXPECT_TRUE(allZero(p, static_cast<size_t>(size))) << size;
    UnlockXPHandle(h);
    DisposeXPHandle(h);
  }
}

TEST(MemoryBlocks, LargeHandlesAreUsableButNotPromisedZero) {
  // 8193 bytes promise no content: write and read back every byte instead.
  XPHandle h = NewXPHandle(8193);
  ASSERT_NE(h, nullptr);
  auto* p = static_cast<unsigned char*>(LockXPHandle(h));
  for (int i = 0; i < 8193; ++i)
    p[i] = static_cast<unsigned char>(i * 7);
  for (int i = 0; i < 8193; ++i)
    ASSERT_EQ(p[i], static_cast<unsigned char>(i * 7));
  UnlockXPHandle(h);
  DisposeXPHandle(h);
}

TEST(MemoryBlocks, ResizeKeepsContentsBothWays) {
  XPHandle h = NewXPHandle(16);
  std::memcpy(LockXPHandle(h), "0123456789abcdef", 16);
  UnlockXPHandle(h);
  ASSERT_EQ(ResizeXPHandle(&h, 4096), 0);
  EXPECT_EQ(std::memcmp(LockXPHandle(h), "0123456789abcdef", 16), 0);
  UnlockXPHandle(h);
  ASSERT_EQ(ResizeXPHandle(&h, 4), 0);
  EXPECT_EQ(std::memcmp(LockXPHandle(h), "0123", 4), 0);
  UnlockXPHandle(h);
  DisposeXPHandle(h);
}

TEST(MemoryBlocks, FailedResizeLeavesHandleAndContents) {
  XPHandle h = NewXPHandle(8);
  std::memcpy(LockXPHandle(h), "keepthis", 8);
  UnlockXPHandle(h);
  XPHandle before = h;
  plat_fault_after(kFaultHandleResize, 1);
  EXPECT_NE(ResizeXPHandle(&h, 1 << 20), 0);
  EXPECT_EQ(h, before);
  EXPECT_EQ(std::memcmp(LockXPHandle(h), "keepthis", 8), 0);
  UnlockXPHandle(h);
  // A negative size is refused the same way, by every platform.
  EXPECT_NE(ResizeXPHandle(&h, -1), 0);
  EXPECT_EQ(h, before);
  DisposeXPHandle(h);
}

TEST(MemoryBlocks, UnlockingAnUnlockedHandleIsHarmless) {
  XPHandle h = NewXPHandle(4);
  UnlockXPHandle(h);
  auto* p = static_cast<char*>(LockXPHandle(h));
  p[0] = 'x';
  UnlockXPHandle(h);
  UnlockXPHandle(h);
  EXPECT_EQ(static_cast<char*>(LockXPHandle(h))[0], 'x');
  UnlockXPHandle(h);
  DisposeXPHandle(h);
}

TEST(MemoryBlocks, AllocationFailuresGiveNull) {
  plat_fault_after(kFaultPtrNew, 1);
  EXPECT_EQ(NewXPPointer(16), nullptr);
  plat_fault_after(kFaultHandleNew, 1);
  EXPECT_EQ(NewXPHandle(16), nullptr);
  // The faults fire once: the next calls succeed.
  void* p = NewXPPointer(16);
  XPHandle h = NewXPHandle(16);
  EXPECT_NE(p, nullptr);
  EXPECT_NE(h, nullptr);
  DisposeXPPointer(p);
  DisposeXPHandle(h);
}

#if QM_MAC
TEST(MemoryBlocks, ClearMemBlockClearsExactlyTheRange) {
  unsigned char buf[16];
  for (qlong n : {0, 1, 3, 4, 7, 13}) {
    std::memset(buf, 0xEE, sizeof buf);
    ClearMemBlock(buf + 1, n);
    EXPECT_EQ(buf[0], 0xEE);
    EXPECT_TRUE(allZero(buf + 1, static_cast<size_t>(n))) << n;
    EXPECT_EQ(buf[1 + n], 0xEE) << n;
  }
}
#endif

} // namespace
