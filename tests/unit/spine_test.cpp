// Load and unload at the level of the system: failures, and what is given back.
#include "glue/XPqUtil.h"
#include "harness.h"
#include "import/filetable.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

using qtest::InProcess;

namespace {

TEST(Spine, LoadThatCannotAllocateTheTableStaysUnloadedAndLeaksNothing) {
  long before = qtest::liveBlocks();
  InProcess p;
  plat_fault_after(kFaultHandleNew, 1);
  p.send(kMsgLoad);
  EXPECT_EQ(*p.slot(), nullptr);
  if (before >= 0) {
    EXPECT_EQ(qtest::liveBlocks(), before);
  }
  p.execute(kCmdAbout, {});
  ASSERT_TRUE(p.host().returnCode());
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(-1));
  // The next load succeeds.
  p.send(kMsgLoad);
  EXPECT_NE(*p.slot(), nullptr);
}

TEST(Spine, LoadThatCannotAllocateTheBlockStaysUnloaded) {
  InProcess p;
  plat_fault_after(kFaultPtrNew, 1);
  p.send(kMsgLoad);
  EXPECT_EQ(*p.slot(), nullptr);
}

TEST(Spine, UnloadReleasesEveryKindOfRecord) {
  long before = qtest::liveBlocks();
  {
    InProcess p;
    p.send(kMsgLoad);
    auto* g = static_cast<globals*>(*p.slot());
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->sig, kSigReady);
    fileTableView view;
    LockFileSpecTable(g->fileSpecsH, &view);
    for (qfileref ref : {kClipboardRef, kFieldRef, kNoSourceRef}) {
      importFileSpec* rec = nullptr;
      ASSERT_EQ(AppendFileSpec(&g->fileSpecsH, &view, &rec), 0);
      rec->fileRef = ref;
      if (ref != kNoSourceRef) rec->dataHandle = NewXPHandle(32);
      rec->fields = static_cast<fieldSpec*>(NewXPPointer(2 * sizeof(fieldSpec)));
      rec->transTable = static_cast<qbyte*>(NewXPPointer(6));
    }
    UnlockFileSpecTable(g->fileSpecsH, &view);
    p.send(kMsgUnload);
    EXPECT_EQ(*p.slot(), nullptr);
  }
  if (before >= 0) {
    EXPECT_EQ(qtest::liveBlocks(), before);
  }
}

TEST(Spine, ReadRecordWithoutFormatAnswersOneEvenWithFewParameters) {
  InProcess p;
  p.send(kMsgLoad);
  auto* g = static_cast<globals*>(*p.slot());
  fileTableView view;
  LockFileSpecTable(g->fileSpecsH, &view);
  importFileSpec* rec = nullptr;
  ASSERT_EQ(AppendFileSpec(&g->fileSpecsH, &view, &rec), 0);
  rec->fileRef = kClipboardRef;
  rec->dataHandle = NewXPHandle(8);
  UnlockFileSpecTable(g->fileSpecsH, &view);

  p.execute(kCmdReadRecord, {qtest::lit(1)});
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(1));
  // Unassigned command numbers with a usable reference: 0.
  p.execute(9, {qtest::lit(1)});
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(0));
  p.execute(0, {qtest::lit(1)});
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(0));
  p.execute(-4, {qtest::lit(1)});
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(0));
#if QM_MAC
  // Records keep 16 bits of the reference on macOS: 65537 names the clipboard source too,
  // and 65536 counts as 0.
  p.execute(9, {qtest::lit(65537)});
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(0));
  p.execute(9, {qtest::lit(65536)});
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(6));
#else
  p.execute(9, {qtest::lit(65537)});
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(6));
#endif

  // An in-memory source whose text is gone can no longer be named.
  LockFileSpecTable(g->fileSpecsH, &view);
  DisposeXPHandle(view.firstP[0].dataHandle);
  view.firstP[0].dataHandle = nullptr;
  UnlockFileSpecTable(g->fileSpecsH, &view);
  p.execute(9, {qtest::lit(1)});
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(6));
}

} // namespace
