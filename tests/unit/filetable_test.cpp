// The import file table: growth, shrinkage, lookup and release.
#include "glue/XPqUtil.h"
#include "harness.h"
#include "import/filetable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

class FileTable : public ::testing::Test {
protected:
  void SetUp() override {
    table = CreateFileSpecTable();
    ASSERT_NE(table, nullptr);
    LockFileSpecTable(table, &view);
  }
  void TearDown() override {
    UnlockFileSpecTable(table, &view);
    ReleaseAllFileSpecs(table);
  }
  importFileSpec* append(qfileref ref) {
    importFileSpec* rec = nullptr;
    EXPECT_EQ(AppendFileSpec(&table, &view, &rec), 0);
    if (rec) rec->fileRef = ref;
    return rec;
  }
  qshort count() const { return *view.fileSpecsBaseP; }

  XPHandle table = nullptr;
  fileTableView view{};
};

TEST_F(FileTable, NewTableIsEmpty) {
  EXPECT_EQ(count(), 0);
  qshort pos = -1;
  EXPECT_EQ(FindFileSpec(&view, 1, &pos), nullptr);
  EXPECT_EQ(pos, 0);
}

TEST_F(FileTable, AppendedRecordsAreZeroAndFoundInOrder) {
  append(1001);
  append(1002);
  importFileSpec* third = append(1003);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->fileSize, 0);
  EXPECT_EQ(third->fields, nullptr);
  EXPECT_EQ(third->dataHandle, nullptr);
  EXPECT_EQ(count(), 3);
  qshort pos = 0;
  importFileSpec* found = FindFileSpec(&view, 1002, &pos);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(found->fileRef, 1002);
}

TEST_F(FileTable, RemovingTheMiddleMovesTheRestDown) {
  append(1001);
  append(1002)->fileSize = 22;
  append(1003)->fileSize = 33;
  qshort pos = 0;
  ASSERT_NE(FindFileSpec(&view, 1002, &pos), nullptr);
  ASSERT_EQ(RemoveFileSpec(&table, &view, pos), 0);
  EXPECT_EQ(count(), 2);
  importFileSpec* third = FindFileSpec(&view, 1003, &pos);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(third->fileSize, 33);
  EXPECT_EQ(FindFileSpec(&view, 1002, &pos), nullptr);
}

TEST_F(FileTable, TwoSourcesWithOneReferenceReachTheFirst) {
  append(kClipboardRef)->fileSize = 10;
  append(kClipboardRef)->fileSize = 20;
  qshort pos = 0;
  EXPECT_EQ(FindFileSpec(&view, kClipboardRef, &pos)->fileSize, 10);
  ASSERT_EQ(RemoveFileSpec(&table, &view, pos), 0);
  EXPECT_EQ(FindFileSpec(&view, kClipboardRef, &pos)->fileSize, 20);
}

TEST_F(FileTable, ClosingTheLastKeepsASpareAndReusesIt) {
  append(1001);
  ASSERT_EQ(RemoveFileSpec(&table, &view, 1), 0);
  EXPECT_EQ(count(), 0);
  // The spare record is reused; whatever it held before, it comes back clean.
  importFileSpec* rec = append(1002);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->curPos, 0);
  EXPECT_EQ(count(), 1);
}

TEST_F(FileTable, AppendThatCannotGrowChangesNothing) {
  append(1001);
  plat_fault_after(kFaultHandleResize, 1);
  importFileSpec* rec = nullptr;
  EXPECT_EQ(AppendFileSpec(&table, &view, &rec), 4);
  EXPECT_EQ(rec, nullptr);
  LockFileSpecTable(table, &view); // a failed append leaves the table unlocked
  EXPECT_EQ(count(), 1);
  qshort pos = 0;
  EXPECT_NE(FindFileSpec(&view, 1001, &pos), nullptr);
}

TEST_F(FileTable, DropThatCannotShrinkLeavesAnUnreachableRecord) {
  append(1001);
  append(kNoSourceRef);
  plat_fault_after(kFaultHandleResize, 1);
  EXPECT_EQ(DropLastFileSpec(&table, &view), 4);
  LockFileSpecTable(table, &view);
  EXPECT_EQ(count(), 2);
  qshort pos = 0;
  EXPECT_EQ(FindFileSpec(&view, 0, &pos)->fileRef, 0); // found here only because we ask for 0
  ASSERT_EQ(DropLastFileSpec(&table, &view), 0);
  EXPECT_EQ(count(), 1);
}

TEST_F(FileTable, RemoveThatCannotShrinkStillRemoves) {
  append(1001);
  append(1002);
  plat_fault_after(kFaultHandleResize, 1);
  EXPECT_EQ(RemoveFileSpec(&table, &view, 1), 4);
  LockFileSpecTable(table, &view);
  EXPECT_EQ(count(), 1);
  qshort pos = 0;
  EXPECT_NE(FindFileSpec(&view, 1002, &pos), nullptr);
  EXPECT_EQ(pos, 1);
}

TEST_F(FileTable, AFullTableRefusesAnotherRecord) {
  // Grow the storage to the most records a 16-bit count can say, then claim them all.
  UnlockFileSpecTable(table, &view);
  const qlong bytes = kFileTableHeader + qlong{kMaxFileSpecs} * qlong{sizeof(importFileSpec)};
  ASSERT_EQ(ResizeXPHandle(&table, bytes), 0);
  LockFileSpecTable(table, &view);
  for (qshort i = 0; i < kMaxFileSpecs; ++i)
    view.firstP[i] = importFileSpec{};
  *view.fileSpecsBaseP = kMaxFileSpecs;
  importFileSpec* rec = nullptr;
  EXPECT_EQ(AppendFileSpec(&table, &view, &rec), 4);
  EXPECT_EQ(rec, nullptr);
  ASSERT_NE(view.fileSpecsBaseP, nullptr); // still locked: nothing was resized
  EXPECT_EQ(count(), kMaxFileSpecs);
}

TEST_F(FileTable, InMemorySourceCloseFreesItsText) {
  importFileSpec* rec = append(kFieldRef);
  rec->dataHandle = NewXPHandle(16);
  rec->fileSize = 12;
  EXPECT_EQ(CloseFileSpecSource(rec), 0);
  EXPECT_EQ(rec->dataHandle, nullptr);
  EXPECT_EQ(rec->fileSize, 0);
}

std::string writeTempFile(const char* name) {
  std::ofstream(name, std::ios::binary) << "some bytes";
  return name;
}

#if QM_MAC
std::basic_string<uint8_t> platformPath(const std::string& s) {
  std::basic_string<uint8_t> p(1, static_cast<uint8_t>(s.size()));
  p.append(s.begin(), s.end());
  return p;
}
#else
std::basic_string<oschar> platformPath(const std::string& s) { return {s.begin(), s.end()}; }
#endif

TEST_F(FileTable, DiskFilesGetDistinctReferencesAndUnloadClosesThem) {
  long filesBefore = qtest::openFiles();
  std::string a = writeTempFile("filetable-a.txt"), b = writeTempFile("filetable-b.txt");
  for (const std::string* name : {&a, &b}) {
    importFileSpec* rec = append(0);
    auto path = platformPath(*name);
    ASSERT_EQ(plat_file_open(path.c_str(), &rec->fileRef, &rec->fileBlock), kPlatOk);
    EXPECT_FALSE(rec->fileRef == 0 || rec->fileRef == 1 || rec->fileRef == 2) << rec->fileRef;
    int64_t size = -1;
    EXPECT_EQ(plat_file_size(rec->fileRef, &rec->fileBlock, &size), kPlatOk);
    EXPECT_EQ(size, 10);
    rec->fields = static_cast<fieldSpec*>(NewXPPointer(sizeof(fieldSpec)));
    rec->fldCount = 1;
  }
  EXPECT_NE(view.firstP[0].fileRef, view.firstP[1].fileRef);
  if (filesBefore >= 0) {
    EXPECT_EQ(qtest::openFiles(), filesBefore + 2);
  }
  UnlockFileSpecTable(table, &view);
  ReleaseAllFileSpecs(table);
  if (filesBefore >= 0) {
    EXPECT_EQ(qtest::openFiles(), filesBefore);
  }
  table = CreateFileSpecTable(); // for TearDown
  LockFileSpecTable(table, &view);
  std::remove(a.c_str());
  std::remove(b.c_str());
}

TEST_F(FileTable, AMissingFileIsReportedAsSuch) {
  importFileSpec* rec = append(0);
  auto path = platformPath("no-such-file.txt");
  PlatResult r = plat_file_open(path.c_str(), &rec->fileRef, &rec->fileBlock);
#if QM_MAC
  EXPECT_EQ(r, kPlatNotFound);
#else
  EXPECT_NE(r, kPlatOk);
#endif
  EXPECT_EQ(rec->fileRef, 0);
}

} // namespace
