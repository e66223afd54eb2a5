// The seams' refusals: what the platform calls, the entry point and the reader do with
// values no ordinary run hands them.
#include "harness.h"
#include "glue/XPqUtil.h"
#include "glue/callback.h"
#if !QM_MAC
#include "entry/export_win.h"
#endif
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

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using qtest::InProcess;
using qtest::lit;
using qtest::rc;
using qtest::var;

namespace {

// Opens "edges.txt" through the platform seam, in the name form the build's open call takes.
PlatResult openEdges(qfileref* ref, PlatFileBlock* block) {
#if QM_MAC
  const uint8_t name[] = "\x09"
                         "edges.txt";
#else
  const oschar name[] = {'e', 'd', 'g', 'e', 's', '.', 't', 'x', 't', 0};
#endif
  return plat_file_open(name, ref, block);
}

// A plain file opened through the platform seam, closed at the end.
struct PlatFile {
  qfileref ref = 0;
  PlatFileBlock block{};
  PlatResult opened = kPlatIoError;
  explicit PlatFile(const std::string& bytes) {
    std::ofstream("edges.txt", std::ios::binary | std::ios::trunc) << bytes;
    opened = openEdges(&ref, &block);
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
  // Beyond what the build's positions can take: refused, not cut to 32 bits.
  if (plat_file_size_limit() <= INT32_MAX) {
    EXPECT_NE(plat_file_seek(f.ref, &f.block, qpos{1} << 32), kPlatOk);
  }
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

#if QM_MAC
// The resource file's string lists hold 64 items: an empty table registers nothing, and a
// longer one keeps its first 64 rather than writing past the list.
TEST(PlatformEdges, StringListsKeepTheirFirst64Items) {
  std::vector<std::string> texts;
  std::vector<PlatString> table;
  for (int i = 0; i < 70; ++i)
    texts.push_back("item " + std::to_string(i + 1));
  for (const std::string& t : texts)
    table.push_back(PlatString{4100, t.c_str()});
  plat_register_strings(nullptr, table.data(), 70);
  plat_register_strings(nullptr, table.data(), 0); // leaves the list as it was
  uint8_t str[256];
  plat_get_ind_string(4100, 64, str);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(str + 1), str[0]), "item 64");
  plat_get_ind_string(4100, 65, str);
  EXPECT_EQ(str[0], 0);
}
#endif

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
#if !QM_MAC
  // Nor can a method hold a handle beyond 32 bits; a negative one it can.
  if (sizeof(void*) > 4) {
    StandinForceNextFileHandle(reinterpret_cast<HANDLE>(intptr_t{1} << 32 | 0x104));
    PlatFile wide("abc");
    EXPECT_EQ(wide.opened, kPlatIoError);
  }
  StandinForceNextFileHandle(reinterpret_cast<HANDLE>(intptr_t{-8}));
  PlatFile negative("abc");
  EXPECT_EQ(negative.opened, kPlatNotAFile); // the stand-in knows no such handle's type
#else
  ToolboxForceNextRefNum(-5);
  PlatFile negative("abc");
  EXPECT_EQ(negative.opened, kPlatOk);
  EXPECT_EQ(negative.ref, -5);
#endif
}

// A name the system cannot resolve (a link to itself) is no file to open.
TEST(PlatformEdges, UnresolvableNamesFail) {
  std::remove("edges.txt");
  ASSERT_EQ(::symlink("edges.txt", "edges.txt"), 0);
  qfileref ref = 0;
  PlatFileBlock block{};
  EXPECT_EQ(openEdges(&ref, &block), kPlatIoError);
  std::remove("edges.txt");
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
  qpos pos = 0;
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
  qpos pos = 0;
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

#if QM_UNICODE
TEST(GlueEdges, StringHelpersTakeNullAndEdges) {
  qchar dest[8] = {'a', 0};
  const qchar more[] = {'b', 0};
  EXPECT_EQ(OMstrcat(nullptr, more), nullptr);
  EXPECT_EQ(OMstrcat(dest, nullptr), dest);
  EXPECT_EQ(OMstrcpy(nullptr, more), nullptr);
  EXPECT_EQ(OMstrcpy(dest, nullptr), dest);
  EXPECT_EQ(OMstrlen(nullptr), 0);
  // Without the terminator the destination keeps what followed.
  qchar wide[4] = {'x', 'x', 'x', 'x'};
  CHRcopyAsciiStringToQchar("ab", wide, 0);
  EXPECT_EQ(wide[2], 'x');
  char narrow[4] = {'y', 'y', 'y', 'y'};
  const qchar ab[] = {'a', 'b', 0};
  CHRcopyQcharStringToAscii(ab, narrow, 0);
  EXPECT_EQ(narrow[2], 'y');
  // A high surrogate followed by something else than a low one is not a pair.
  const oschar units[] = {0xD800, 'a', 0xDC00, 0xDC00, 0xD800, 0xE000, 0};
  qchar chars[8];
  EXPECT_EQ(CHRoscharToChar(units, chars), 3);
  EXPECT_EQ(chars[0], 2u);
  EXPECT_EQ(chars[1], 2u);
  EXPECT_EQ(chars[2], 2u);
}
#endif

#if QM_MAC
TEST(GlueEdges, MacHandleConversionRefusesNothingToConvert) {
  EXPECT_EQ(convertAsciiHStrToQHStr(nullptr), 0);
  XPHandle none = nullptr;
  EXPECT_EQ(convertAsciiHStrToQHStr(&none), 0);
  XPHandle h = NewXPHandle(8);
  qlong four = 4;
  std::memcpy(LockXPHandle(h), &four, 4);
  UnlockXPHandle(h);
  plat_fault_after(kFaultHandleNew, 1);
  EXPECT_EQ(convertAsciiHStrToQHStr(&h), 0); // no memory: the handle stays as it was
  EXPECT_NE(h, nullptr);
  DisposeXPHandle(h);
}
#elif !defined(_WIN32)
// Natively the library attached itself when it was loaded, as Windows would have.
TEST(EntryEdges, DllMainKeepsTheFirstInstance) {
  void* first = LibraryInstance();
  int dummy = 0;
  DllMain(&dummy, 1, nullptr); // a second attach keeps the instance it has
  EXPECT_EQ(LibraryInstance(), first);
  DllMain(&dummy, 2, nullptr); // thread notices change nothing
  EXPECT_EQ(LibraryInstance(), first);
}
#endif

#if !QM_UNICODE
TEST(GlueEdges, NegativeMaximaReadNothing) {
  InProcess p;
  p.send(kMsgLoad);
  p.inside(kCmdAbout, {lit("text")}, [&](qcallback cb) {
    char value[4] = {'x', 0};
    getAsciiStringParm(kFirstParamField, -1, value, cb);
    EXPECT_EQ(value[0], 0);
    value[0] = 'x';
    getAsciiListColumn(kFirstParamField, 1, 1, -1, value, cb);
    EXPECT_EQ(value[0], 0);
  });
  p.send(kMsgUnload);
}
#endif

TEST(EntryEdges, DesignAndSetupWithoutTheirRecords) {
  InProcess p;
  p.send(kMsgLoad);
  // A callback that hands out no design record: nothing is written anywhere.
  p.inside(kCmdAbout, {}, [&](qcallback cb) {
    EXPECT_EQ(GetDesignPtr(cb), nullptr);
    QuillomarMessage(kMsgDesignInfo, p.slot(), nullptr, cb);
    QuillomarMessage(kMsgSetupInfo, p.slot(), nullptr, cb);
  });
  EXPECT_TRUE(p.host().protocolErrors().empty());
  p.send(kMsgUnload);
}

#if QM_UNICODE && !defined(_WIN32)
// A parameter list longer than the label holds fills all 255 characters of the host's
// length-prefixed string, and no more.
TEST(GlueEdges, DesignLabelsUseAll255Characters) {
  const std::string text = "Quillomar.Long(" + std::string(300, 'p') + "):rc";
#if QM_MAC
  const char* items[] = {text.c_str()};
  ToolboxRegisterStringList(5000, items, 1);
  void* inst = nullptr;
#else
  static char tag;
  const StandinString table[] = {{5000, text.c_str()}};
  StandinRegisterStrings(&tag, table, 1);
  void* inst = &tag;
#endif
  std::vector<unsigned char> record(1034, 0);
  const qshort item = 5;
  std::memcpy(record.data() + 6, &item, 2);
  doDesignInfo(record.data(), 1, 5000, inst);
  uint32_t len = 0;
  std::memcpy(&len, record.data() + 10, 4);
#if QM_MAC
  // A string list item holds 255 bytes: the text itself ends after 240 of the p's.
  EXPECT_EQ(len, 7u + 255 - 15);
#else
  EXPECT_EQ(len, 255u);
#endif
  uint32_t last = 0;
  std::memcpy(&last, record.data() + 14 + 4 * (len - 1), 4);
  EXPECT_TRUE(last == 'p' || last == '(') << last;
}
#endif

#if !QM_MAC && !defined(_WIN32)
TEST(PlatformEdges, ClipboardHeldElsewhereOrEmpty) {
  InProcess p;
  p.send(kMsgLoad);
  p.host().setClipboard("abc");
  ASSERT_TRUE(OpenClipboard(nullptr)); // another owner holds it
  p.host().setVariable("ref", qhost::Value::num(9));
  p.execute(kCmdOpenFile, {lit("CLIPBOARD"), var("ref")});
  EXPECT_EQ(rc(p), qhost::Value::num(4));
  CloseClipboard();
  plat_clipboard_unlock_text(); // nothing locked: harmless
  p.send(kMsgUnload);
}
#endif

TEST(EntryEdges, ExecuteWithoutASlotAnswersNotLoaded) {
  InProcess p;
  p.send(kMsgLoad);
  p.inside(kCmdAbout, {}, [&](qcallback cb) {
    QuillomarMessage(kMsgExecute, nullptr, nullptr, cb);
    auto* g = static_cast<globals*>(*p.slot());
    XPHandle table = g->fileSpecsH;
    g->fileSpecsH = nullptr; // a block without its table is not a loaded library
    QuillomarMessage(kMsgExecute, p.slot(), nullptr, cb);
    g->fileSpecsH = table;
  });
  EXPECT_EQ(rc(p), qhost::Value::num(-1));
  p.send(kMsgUnload);
}

TEST(ReaderEdges, OnlyDiskFilesTakeAWindow) {
  auto g = std::make_unique<globals>();
  importFileSpec none{}; // a record left without a source
  EXPECT_EQ(AttachReadAhead(g.get(), &none), 0);
  EXPECT_EQ(none.window, nullptr);
  importFileSpec text{};
  text.fileRef = kClipboardRef;
  EXPECT_EQ(AttachReadAhead(g.get(), &text), 0);
  EXPECT_EQ(text.window, nullptr);
  ReleaseReadAhead(g.get(), &none);
  ReleaseReadAhead(g.get(), &text);
  for (readAheadWindow* w : g->readAhead)
    EXPECT_EQ(w, nullptr);
}

} // namespace
