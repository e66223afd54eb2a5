// The system calls the library relies on, as the build has them: real Windows under Wine,
// or the stand-ins natively. The same expectations run against both, so a stand-in that
// drifts from the real thing fails here first.
#include "base/qtypes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#if QM_MAC
#include "platform/standin/toolbox.h"
#elif defined(_WIN32)
#include <windows.h>
#else
#include "platform/standin/winapi.h"
#endif

namespace {

void writeFile(const char* name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

#if !QM_MAC

TEST(WindowsCalls, FixedBlocksAreTheirOwnAddressAndZeroFilled) {
  HGLOBAL p = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 100);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(GlobalLock(p), p);
  const auto* b = static_cast<const unsigned char*>(p);
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(b[i], 0);
  EXPECT_EQ(GlobalFree(p), nullptr);
}

TEST(WindowsCalls, MovableBlocksGrowWithZerosAndCountLocks) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4);
  ASSERT_NE(h, nullptr);
  std::memcpy(GlobalLock(h), "abcd", 4);
  EXPECT_FALSE(GlobalUnlock(h)); // the last lock is gone
  HGLOBAL g = GlobalReAlloc(h, 64, GMEM_MOVEABLE | GMEM_ZEROINIT);
  ASSERT_NE(g, nullptr);
  EXPECT_GE(GlobalSize(g), 64u);
  auto* p = static_cast<unsigned char*>(GlobalLock(g));
  EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
  for (int i = 4; i < 64; ++i)
    ASSERT_EQ(p[i], 0) << i;
  GlobalLock(g);
  EXPECT_TRUE(GlobalUnlock(g)); // still locked once
  EXPECT_FALSE(GlobalUnlock(g));
  EXPECT_FALSE(GlobalUnlock(g)); // unlocking an unlocked block does nothing
  EXPECT_EQ(GlobalFree(g), nullptr);
}

// Two threads locking and unlocking one block lose no count: afterwards the one lock taken
// before them is still held, and only it.
TEST(WindowsCalls, LockCountsHoldUnderThreads) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_NE(h, nullptr);
  ASSERT_NE(GlobalLock(h), nullptr);
  std::vector<std::thread> threads;
  threads.reserve(2);
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([h] {
      for (int i = 0; i < 100000; ++i) {
        GlobalLock(h);
        GlobalUnlock(h);
      }
    });
  for (auto& t : threads)
    t.join();
  GlobalLock(h);
  EXPECT_TRUE(GlobalUnlock(h));  // the first lock is still there
  EXPECT_FALSE(GlobalUnlock(h)); // and it was the only one
  EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(WindowsCalls, FilesOpenReadAndSeekAsTheReaderExpects) {
  writeFile("system-calls.txt", "hello");
  HANDLE f = CreateFileA("system-calls.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  auto value = reinterpret_cast<intptr_t>(f);
  EXPECT_EQ(static_cast<intptr_t>(static_cast<int32_t>(value)), value); // fits 32 bits
  EXPECT_EQ(GetFileSize(f, nullptr), 5u);

  char buf[8] = {};
  DWORD got = 99;
  EXPECT_TRUE(ReadFile(f, buf, 8, &got, nullptr)); // a short read at the end succeeds
  EXPECT_EQ(got, 5u);
  EXPECT_TRUE(ReadFile(f, buf, 1, &got, nullptr)); // at the end: success, no byte
  EXPECT_EQ(got, 0u);

  EXPECT_EQ(SetFilePointer(f, 1, nullptr, FILE_BEGIN), 1u);
  EXPECT_TRUE(ReadFile(f, buf, 1, &got, nullptr));
  EXPECT_EQ(buf[0], 'e');
  EXPECT_EQ(SetFilePointer(f, -5, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(f, 0, nullptr, FILE_CURRENT), 2u);   // not moved by the failure
  EXPECT_EQ(SetFilePointer(f, 100, nullptr, FILE_BEGIN), 100u); // past the end is allowed
  EXPECT_TRUE(ReadFile(f, buf, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(CloseHandle(f));
  std::remove("system-calls.txt");
}

TEST(WindowsCalls, WidePathsAndMissingFiles) {
  writeFile("system-w.txt", "x");
  const WCHAR wide[] = {'s', 'y', 's', 't', 'e', 'm', '-', 'w', '.', 't', 'x', 't', 0};
  HANDLE f = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  std::remove("system-w.txt");
  HANDLE none = CreateFileA("no-such-file.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(none, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(WindowsCalls, ClipboardTextRoundTrip) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, 6);
  std::memcpy(GlobalLock(mem), "a\tb\r\n", 6);
  GlobalUnlock(mem);
  EXPECT_NE(SetClipboardData(CF_TEXT, mem), nullptr);
  EXPECT_TRUE(CloseClipboard());

  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(CF_TEXT);
  ASSERT_NE(data, nullptr);
  EXPECT_GE(GlobalSize(data), 6u);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(data)), "a\tb\r\n");
  GlobalUnlock(data);
  EmptyClipboard();
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
  CloseClipboard();
}

#else

TEST(ToolboxCalls, HandlesLockOnceAndGrowOnlyUnlocked) {
  Handle h = NewHandleClear(4);
  ASSERT_NE(h, nullptr);
  std::memcpy(*h, "abcd", 4);
  HLock(h);
  HLock(h);
  SetHandleSize(h, 4096);
  EXPECT_EQ(MemError(), memLockedErr); // a locked block cannot move
  EXPECT_EQ(GetHandleSize(h), 4);
  HUnlock(h); // one unlock releases it, however often it was locked
  SetHandleSize(h, 4096);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 4096);
  EXPECT_EQ(std::memcmp(*h, "abcd", 4), 0);
  SetHandleSize(h, 2);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(std::memcmp(*h, "ab", 2), 0);
  DisposeHandle(h);
}

TEST(ToolboxCalls, FileManagerReadsAndEndOfFile) {
  writeFile("toolbox.txt", "hello");
  const uint8_t name[] = "\x0btoolbox.txt";
  FSIORefNum ref = 0;
  ASSERT_EQ(HOpen(0, 0, name, fsRdPerm, &ref), noErr);
  EXPECT_GT(ref, 2);
  ParamBlockRec pb{};
  pb.ioRefNum = ref;
  ASSERT_EQ(PBGetEOFSync(&pb), noErr);
  EXPECT_EQ(reinterpret_cast<intptr_t>(pb.ioMisc), 5);

  char buf[8] = {};
  EXPECT_EQ(SetFPos(ref, fsFromStart, 1), noErr);
  pb.ioBuffer = buf;
  pb.ioReqCount = 8;
  pb.ioPosMode = fsFromMark;
  pb.ioPosOffset = 0;
  EXPECT_EQ(PBReadSync(&pb), eofErr); // fewer bytes than asked: eofErr with what was there
  EXPECT_EQ(pb.ioActCount, 4);
  EXPECT_EQ(std::string(buf, 4), "ello");
  EXPECT_EQ(SetFPos(ref, fsFromStart, -1), posErr);
  EXPECT_EQ(SetFPos(ref, fsFromStart, 6), eofErr);
  EXPECT_EQ(PBCloseSync(&pb), noErr);
  EXPECT_EQ(PBCloseSync(&pb), rfNumErr); // closed already
  std::remove("toolbox.txt");

  const uint8_t missing[] = "\x07missing";
  EXPECT_EQ(HOpen(0, 0, missing, fsRdPerm, &ref), fnfErr);
  EXPECT_EQ(ref, 0);
}

#endif

} // namespace
