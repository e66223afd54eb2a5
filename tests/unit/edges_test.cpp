// The seams' refusals: what the platform calls, the entry point and the reader do with
// values no ordinary run hands them.
#include "harness.h"
#include "glue/XPqUtil.h"
#include "glue/callback.h"
#include "import/readahead.h"
#include "import/reader.h"
#include "platform/platform.h"

#if !defined(_WIN32)
#if QM_MAC
#include "platform/standin/toolbox.h"
#else
#include "platform/standin/winapi.h"
#endif
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

using qtest::InProcess;
using qtest::lit;
using qtest::var;

namespace {

qhost::Value rc(InProcess& p) { return p.host().returnCode().value_or(qhost::Value::str(U"none")); }

// A plain file opened through the platform seam, closed at the end.
struct PlatFile {
  qfileref ref = 0;
  PlatFileBlock block{};
  PlatResult opened = kPlatIoError;
  explicit PlatFile(const std::string& bytes) {
    std::ofstream("edges.txt", std::ios::binary | std::ios::trunc) << bytes;
#if QM_MAC
    const uint8_t name[] = "\x09"
                           "edges.txt";
#else
    const oschar name[] = {'e', 'd', 'g', 'e', 's', '.', 't', 'x', 't', 0};
#endif
    opened = plat_file_open(name, &ref, &block);
  }
  ~PlatFile() {
    if (opened == kPlatOk) plat_file_close(ref, &block);
    std::remove("edges.txt");
  }
  PlatFile(const PlatFile&) = delete;
  PlatFile& operator=(const PlatFile&) = delete;
};

TEST(PlatformEdges, NegativeSizesAndCountsAreRefused) {
  EXPECT_EQ(plat_ptr_new(-1), nullptr);
  EXPECT_EQ(plat_handle_new(-1, true), nullptr);
  XPHandle h = plat_handle_new(4, true);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(plat_handle_resize(&h, -1), 0);
  plat_handle_dispose(h);
  PlatFile f("abc");
  ASSERT_EQ(f.opened, kPlatOk);
  char buf[4];
  qlong got = 9;
  EXPECT_EQ(plat_file_read(f.ref, &f.block, buf, -1, &got), kPlatIoError);
  EXPECT_EQ(got, 0);
  EXPECT_NE(plat_file_seek(f.ref, &f.block, -1), kPlatOk);
#if !QM_MAC
  oschar none[4] = {'x', 0};
  EXPECT_EQ(plat_load_string(nullptr, 1, none, 0), 0);
#endif
}

TEST(PlatformEdges, CallsOnAClosedFileFail) {
  PlatFile f("abc");
  ASSERT_EQ(f.opened, kPlatOk);
  ASSERT_EQ(plat_file_close(f.ref, &f.block), kPlatOk);
  f.opened = kPlatIoError; // closed already
  int64_t size = 7;
  char buf[4];
  qlong got = 9;
  EXPECT_EQ(plat_file_size(f.ref, &f.block, &size), kPlatIoError);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(plat_file_read(f.ref, &f.block, buf, 2, &got), kPlatIoError);
  EXPECT_NE(plat_file_close(f.ref, &f.block), kPlatOk);
}

#if !defined(_WIN32)
// A system that hands out a file reference of 0, 1 or 2 would make the file look like no
// source or a keyword source: the open refuses such a reference.
TEST(PlatformEdges, ReferencesZeroToTwoAreRefused) {
  for (intptr_t value : {0, 1, 2}) {
#if QM_MAC
    ToolboxForceNextRefNum(static_cast<FSIORefNum>(value));
#else
    StandinForceNextFileHandle(reinterpret_cast<HANDLE>(value));
#endif
    PlatFile f("abc");
    EXPECT_EQ(f.opened, kPlatIoError) << value;
    EXPECT_EQ(f.ref, 0);
  }
}
#endif

// Messages the host should never send, or sends without what they need.
TEST(EntryEdges, MessagesWithoutTheirPartsDoNothing) {
  InProcess p;
  QuillomarMessage(kMsgLoad, nullptr, nullptr, nullptr); // no slot to fill
  QuillomarMessage(kMsgUnload, nullptr, nullptr, nullptr);
  void* empty = nullptr;
  QuillomarMessage(kMsgUnload, &empty, nullptr, nullptr);
  EXPECT_EQ(empty, nullptr);
  p.send(kMsgLoad);
  void* block = *p.slot();
  p.send(kMsgLoad); // loaded already: the same block stays
  EXPECT_EQ(*p.slot(), block);
  // A slot whose block is not a finished globals block counts as not loaded.
  auto* g = static_cast<globals*>(block);
  const uint32_t sig = g->sig;
  g->sig = kSigLoading;
  p.execute(kCmdAbout, {});
  EXPECT_EQ(rc(p), qhost::Value::num(-1));
  g->sig = sig;
  p.send(kMsgUnload);
}

TEST(ReaderEdges, DiskReadsNeedTheirWindow) {
  PlatFile f("a,b");
  ASSERT_EQ(f.opened, kPlatOk);
  importFileSpec rec{};
  rec.fileRef = f.ref;
  rec.fileBlock = f.block;
  rec.fileSize = 3;
  fieldSpec comma{};
  comma.fldMax = 5;
  comma.fldDelim[0] = 1;
  comma.fldDelim[1] = ',';
  auto buffer = std::make_unique<char[]>(kBufferSize);
  qlong pos = 0;
  EXPECT_EQ(SetPositionInFile(&rec), 4);
  EXPECT_EQ(ReadToDelimOrMax(&rec, &comma, &pos, buffer.get()), 4);
  EXPECT_EQ(pos, 0);
  // A delimiter length byte read as negative means no delimiter: a fixed-length field.
  fieldSpec odd = comma;
  odd.fldDelim[0] = 0xFF;
  EXPECT_EQ(DelimiterLength(&odd), 0);
  odd.fldDelim[0] = 7;
  EXPECT_EQ(DelimiterLength(&odd), 3);
}

TEST(ReaderEdges, AQuotedFieldWithATwoByteDelimiter) {
  // The quote rule with a CRLF delimiter: only a line end after the closing quote counts.
  const std::string text = "\"a\r\nb\"\r\nc";
  XPHandle h = NewXPHandle(static_cast<qlong>(text.size()));
  std::memcpy(LockXPHandle(h), text.data(), text.size());
  UnlockXPHandle(h);
  importFileSpec rec{};
  rec.fileRef = kClipboardRef;
  rec.dataHandle = h;
  rec.fileSize = static_cast<qlong>(text.size());
  rec.stripEncQuotes = 1;
  fieldSpec crlf{};
  crlf.fldMax = 20;
  crlf.fldDelim[0] = 2;
  crlf.fldDelim[1] = '\r';
  crlf.fldDelim[2] = '\n';
  auto buffer = std::make_unique<char[]>(kBufferSize);
  qlong pos = 0;
  HoldSourceText(&rec);
  HoldSourceText(&rec); // held already: one lock
  EXPECT_EQ(ReadToDelimOrMax(&rec, &crlf, &pos, buffer.get()), 0);
  ReleaseSourceText(&rec);
  ReleaseSourceText(&rec);
  EXPECT_STREQ(buffer.get(), "\"a\r\nb\"");
  EXPECT_EQ(pos, 8);
  DisposeXPHandle(h);
}

TEST(GlueEdges, NumbersOutsideTheirRange) {
  qlong v = 0;
  EXPECT_FALSE(qrealInRange(0.0 / 0.0, 0, 10, &v));
  EXPECT_FALSE(qrealInRange(10.5 + 1, 0, 10, &v));
  EXPECT_TRUE(qrealInRange(10.9, 0, 10, &v));
  EXPECT_EQ(v, 10);
  EXPECT_TRUE(qrealInRange(-0.9, 0, 10, &v));
  EXPECT_EQ(v, 0);
  EXPECT_EQ(qrealToLong(2147483648.0), INT32_MIN);
  EXPECT_EQ(qrealToLong(-2147483648.9), INT32_MIN);
  EXPECT_EQ(qrealToLong(2147483647.9), INT32_MAX);
}

} // namespace
