// The commands' failure paths that need the system to refuse something, through the real
// dispatcher and the stand-in host.
#include "base/avx2.h"
#include "harness.h"
#include "import/filetable.h"
#include "import/readahead.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cmath>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using qtest::InProcess;
using qtest::lit;
using qtest::rc;
using qtest::var;

namespace {

// The format list "fmt" of two entries, into the variables a and b (which it declares: the
// format names variables): a COMMA one, then one ended by lastDelim, both of size bytes.
void declareTwoFields(qhost::Host& host, double size, const char32_t* lastDelim) {
  host.setVariable("a", qhost::Value::str(U""));
  host.setVariable("b", qhost::Value::str(U""));
  host.declareList("fmt", {"name", "size", "delim"});
  host.addRow("fmt",
              {qhost::Value::str(U"a"), qhost::Value::num(size), qhost::Value::str(U"COMMA")});
  host.addRow("fmt",
              {qhost::Value::str(U"b"), qhost::Value::num(size), qhost::Value::str(lastDelim)});
}

class Commands : public ::testing::Test {
protected:
  void SetUp() override {
    std::ofstream("commands.txt", std::ios::binary) << "x,y\rp,q\r";
    p.host().setVariable("ref", qhost::Value::num(0));
    p.host().setVariable("pos", qhost::Value::num(0));
    declareTwoFields(p.host(), 10, U"RETURN");
    p.send(kMsgLoad);
    p.execute(kCmdOpenFile, {lit("commands.txt"), var("ref")});
    ASSERT_EQ(rc(p), qhost::Value::num(0));
    ref = p.host().variable("ref")->number;
  }
  void TearDown() override {
    p.send(kMsgUnload);
    std::remove("commands.txt");
  }
  void defineFormat() {
    p.execute(kCmdDefineFormat, {lit(ref), var("fmt"), lit("name"), lit("size"), lit("delim")});
  }
  qshort tableCount() {
    auto* g = static_cast<globals*>(*p.slot());
    fileTableView view;
    LockFileSpecTable(g->fileSpecsH, &view);
    qshort n = *view.fileSpecsBaseP;
    UnlockFileSpecTable(g->fileSpecsH, &view);
    return n;
  }

  InProcess p;
  double ref = 0;
};

TEST_F(Commands, OpenThatCannotGrowTheTableAnswersFour) {
  plat_fault_after(kFaultHandleResize, 1);
  p.host().setVariable("other", qhost::Value::num(9));
  p.execute(kCmdOpenFile, {lit("commands.txt"), var("other")});
  EXPECT_EQ(rc(p), qhost::Value::num(4));
  EXPECT_EQ(*p.host().variable("other"), qhost::Value::num(0));
  EXPECT_EQ(tableCount(), 1);
}

TEST_F(Commands, FailedOpensLeaveNoRecordBehind) {
  p.host().setVariable("other", qhost::Value::num(9));
  for (const char* path : {"missing.txt", "", "FIELD:nothing"}) {
    p.execute(kCmdOpenFile, {lit(path), var("other")});
    EXPECT_NE(rc(p), qhost::Value::num(0)) << path;
  }
  EXPECT_EQ(tableCount(), 1);
}

TEST_F(Commands, CloseThatTheSystemRefusesKeepsTheFile) {
  plat_fault_after(kFaultFileClose, 1);
  p.execute(kCmdCloseFile, {var("ref")});
  EXPECT_EQ(rc(p), qhost::Value::num(5));
  EXPECT_EQ(*p.host().variable("ref"), qhost::Value::num(ref));
  p.execute(kCmdCloseFile, {var("ref")});
  EXPECT_EQ(rc(p), qhost::Value::num(0));
  EXPECT_EQ(tableCount(), 0);
}

TEST_F(Commands, DefinitionsWithoutMemoryLoseTheOldOne) {
  defineFormat();
  ASSERT_EQ(rc(p), qhost::Value::num(0));
  plat_fault_after(kFaultPtrNew, 1);
  defineFormat();
  EXPECT_EQ(rc(p), qhost::Value::num(4));
  p.execute(kCmdReadRecord, {lit(ref), var("pos")});
  EXPECT_EQ(rc(p), qhost::Value::num(1)); // no format any more
}

TEST_F(Commands, BackwardReadWithoutMemoryWritesNothing) {
  defineFormat();
  p.host().setVariable("pos", qhost::Value::num(8));
  plat_fault_after(kFaultHandleNew, 1);
  p.execute(kCmdReadRecord, {lit(ref), var("pos"), lit(0.0), lit(1.0)});
  EXPECT_EQ(rc(p), qhost::Value::num(4));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(8));
  EXPECT_EQ(*p.host().variable("a"), qhost::Value::str(U""));
  // The import file is itself again: a forward read works.
  p.host().setVariable("pos", qhost::Value::num(4));
  p.execute(kCmdReadRecord, {lit(ref), var("pos")});
  EXPECT_EQ(rc(p), qhost::Value::num(0));
  EXPECT_EQ(*p.host().variable("a"), qhost::Value::str(U"p"));
}

TEST_F(Commands, AReadFailureStoresWhatCameBefore) {
  // A record that straddles the end of the read-ahead window: its second field needs the
  // next fill, which fails.
  p.execute(kCmdCloseFile, {var("ref")}); // Windows lets nobody write a file held open
  std::string data = "p,q\r" + std::string(kReadAheadBytes - 6, 'z') + "x,y\r";
  std::ofstream("commands.txt", std::ios::binary | std::ios::trunc) << data;
  p.execute(kCmdOpenFile, {lit("commands.txt"), var("ref")});
  ASSERT_EQ(rc(p), qhost::Value::num(0));
  ref = p.host().variable("ref")->number;
  defineFormat();
  p.execute(kCmdReadRecord, {lit(ref), var("pos")});
  ASSERT_EQ(rc(p), qhost::Value::num(0));
  p.host().setVariable("b", qhost::Value::str(U"keep"));
  p.host().setVariable("pos", qhost::Value::num(kReadAheadBytes - 2));
  plat_fault_after(kFaultFileRead, 1);
  p.execute(kCmdReadRecord, {lit(ref), var("pos")});
  EXPECT_EQ(rc(p), qhost::Value::num(5));
  EXPECT_EQ(*p.host().variable("a"), qhost::Value::str(U"x"));
  EXPECT_EQ(*p.host().variable("b"), qhost::Value::str(U"keep"));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(kReadAheadBytes));
  // The next read from there succeeds.
  p.execute(kCmdReadRecord, {lit(ref), var("pos")});
  EXPECT_EQ(rc(p), qhost::Value::num(9)); // "y" and the return, as field a: no comma
  EXPECT_EQ(*p.host().variable("a"), qhost::Value::str(U"y\r"));
}

// A record's last entry ends at a line end (EOL) with or without its carriage return; the
// maximum bounds the text, so a bare line feed one past it is an over-long piece (11), its
// maximum kept. Each record has plenty of bytes after it, as in any file.
TEST_F(Commands, ALineEndOnePastTheMaximumIsAnOverLongPiece) {
  p.execute(kCmdCloseFile, {var("ref")});
  const std::string rest = "\n" + std::string(40, 'z') + "\n";
  std::ofstream("commands.txt", std::ios::binary | std::ios::trunc)
      << "x,abc\r\n" + std::string(40, 'z') + "\nx,abcd\n" + rest;
  p.execute(kCmdOpenFile, {lit("commands.txt"), var("ref")});
  ASSERT_EQ(rc(p), qhost::Value::num(0));
  ref = p.host().variable("ref")->number;
  p.host().declareList("eol", {"name", "size", "delim"});
  p.host().addRow("eol",
                  {qhost::Value::str(U"a"), qhost::Value::num(5), qhost::Value::str(U"COMMA")});
  p.host().addRow("eol",
                  {qhost::Value::str(U"b"), qhost::Value::num(3), qhost::Value::str(U"EOL")});
  p.execute(kCmdDefineFormat, {lit(ref), var("eol"), lit("name"), lit("size"), lit("delim")});
  ASSERT_EQ(rc(p), qhost::Value::num(0));
  p.execute(kCmdReadRecord, {lit(ref), var("pos")}); // "abc" and CR LF: within the maximum
  EXPECT_EQ(rc(p), qhost::Value::num(0));
  EXPECT_EQ(*p.host().variable("b"), qhost::Value::str(U"abc"));
  p.host().setVariable("pos", qhost::Value::num(48));
  p.execute(kCmdReadRecord, {lit(ref), var("pos")}); // "abcd" and LF: one past it
  EXPECT_EQ(rc(p), qhost::Value::num(11));
  EXPECT_EQ(*p.host().variable("b"), qhost::Value::str(U"abc"));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(53));
}

} // namespace

namespace {

// More disk files in use than a load keeps windows: each file still reads its own bytes, and
// the windows never number more than the bound.
TEST(ReadAheadPool, ManyFilesShareABoundedPool) {
  InProcess p;
  p.send(kMsgLoad);
  constexpr int kFiles = kReadAheadSlots + 4;
  std::vector<double> refs;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "pool-" + std::to_string(i) + ".txt";
    std::ofstream(name, std::ios::binary | std::ios::trunc)
        << "file" << i << ",a\rfile" << i << ",b\r";
    p.host().setVariable("ref", qhost::Value::num(0));
    p.execute(kCmdOpenFile, {lit(name.c_str()), var("ref")});
    ASSERT_EQ(rc(p), qhost::Value::num(0));
    refs.push_back(p.host().variable("ref")->number);
  }
  auto liveWindows = [&] {
    auto* g = static_cast<globals*>(*p.slot());
    int n = 0;
    for (readAheadWindow* w : g->readAhead)
      n += w != nullptr;
    return n;
  };
  // Round after round over every file: each read lands on its own file's record.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < kFiles; ++i) {
      p.host().setVariable("pos", qhost::Value::num(round == 0 ? 0 : 8 + (i >= 10)));
      p.host().setVariable("text", qhost::Value::str(U""));
      p.execute(kCmdReadUpTo, {lit(refs[static_cast<size_t>(i)]), var("pos"), lit(0.0), lit("\r"),
                               lit(100.0), var("text")});
      ASSERT_EQ(rc(p), qhost::Value::num(0));
      const std::string want = "file" + std::to_string(i) + (round == 0 ? ",a" : ",b");
      EXPECT_EQ(p.host().variable("text")->text, qhost::fromUtf8(want));
      EXPECT_LE(liveWindows(), kReadAheadSlots);
    }
  }
  for (double ref : refs)
    p.execute(kCmdCloseFile, {lit(ref)});
  EXPECT_EQ(liveWindows(), 0); // each close gave its window back
  p.send(kMsgUnload);
  for (int i = 0; i < kFiles; ++i)
    std::remove(("pool-" + std::to_string(i) + ".txt").c_str());
}

} // namespace

namespace {

// Inputs a hostile method or system could hand the commands.
class Hostile : public ::testing::Test {
protected:
  void SetUp() override {
    p.send(kMsgLoad);
    p.host().setVariable("ref", qhost::Value::num(0));
    p.host().setVariable("size", qhost::Value::num(-1));
    p.host().setVariable("pos", qhost::Value::num(0));
    p.host().setVariable("data", qhost::Value::str(U"unset"));
  }
  void TearDown() override {
    p.send(kMsgUnload);
    std::remove("hostile.bin");
  }
  qhost::Value open(const char* path) {
    p.execute(kCmdOpenFile, {lit(path), var("ref"), var("size")});
    return rc(p);
  }
  InProcess p;
};

TEST_F(Hostile, SizesAreTakenWhole) {
  namespace fs = std::filesystem;
  std::ofstream("hostile.bin", std::ios::binary) << "x";
  // 4 GiB and 10 bytes: the low half of the size alone would say 10.
  std::error_code ec;
  fs::resize_file("hostile.bin", (uint64_t{1} << 32) + 10, ec);
  if (ec) GTEST_SKIP() << "no sparse 4 GiB file here: " << ec.message();
#if QM_MAC
  // The File Manager's positions are 32-bit: such a file opens registered, and reads nothing.
  EXPECT_EQ(open("hostile.bin"), qhost::Value::num(5));
  EXPECT_EQ(*p.host().variable("size"), qhost::Value::num(0));
  const double ref = p.host().variable("ref")->number;
  EXPECT_NE(ref, 0); // registered, so that it can be closed
  p.execute(kCmdReadBytes, {lit(ref), var("pos"), lit(0.0), lit(10.0), var("data")});
  EXPECT_EQ(rc(p), qhost::Value::num(7)); // nothing can be read from it
  p.execute(kCmdCloseFile, {var("ref")});
  EXPECT_EQ(rc(p), qhost::Value::num(0));
  for (uint64_t size : {uint64_t{0xFFFFFFFF}, uint64_t{0x80000000}}) {
    fs::resize_file("hostile.bin", size, ec);
    EXPECT_EQ(open("hostile.bin"), qhost::Value::num(5));
    p.execute(kCmdCloseFile, {var("ref")});
  }
#else
  // 64-bit positions: the exact size, however the halves of it look.
  for (uint64_t size : {uint64_t{0x10000000A}, uint64_t{0xFFFFFFFF}, uint64_t{0x80000000}}) {
    fs::resize_file("hostile.bin", size, ec);
    EXPECT_EQ(open("hostile.bin"), qhost::Value::num(0));
    EXPECT_EQ(*p.host().variable("size"), qhost::Value::num(static_cast<double>(size)));
    p.execute(kCmdCloseFile, {var("ref")});
  }
#endif
  // One byte less than 2 GiB: the largest file every build opens.
  fs::resize_file("hostile.bin", (uint64_t{1} << 31) - 1, ec);
  {
    std::fstream last("hostile.bin", std::ios::binary | std::ios::in | std::ios::out);
    last.seekp((std::streamoff{1} << 31) - 2);
    last.put('z');
  }
  ASSERT_EQ(open("hostile.bin"), qhost::Value::num(0));
  EXPECT_EQ(*p.host().variable("size"), qhost::Value::num(2147483647.0));
  // The last byte reads, and the position stops at the size.
  p.host().setVariable("pos", qhost::Value::num(2147483646.0));
  p.execute(kCmdReadBytes,
            {var("ref"), var("pos"), lit(0.0), lit(32000.0), var("data"), var("size")});
  EXPECT_EQ(rc(p), qhost::Value::num(8));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(2147483647.0));
  EXPECT_EQ(*p.host().variable("size"), qhost::Value::num(1));
  EXPECT_EQ(*p.host().variable("data"), qhost::Value::str(U"z"));
  p.execute(kCmdReadBytes, {var("ref"), var("pos"), lit(0.0), lit(1.0), var("data")});
  EXPECT_EQ(rc(p), qhost::Value::num(7));
  p.execute(kCmdCloseFile, {var("ref")});
}

// A sparse file of more than 4 GiB with records across 2^31 and 2^32 and at its end.
TEST_F(Hostile, FilesBeyondFourGiBAreReadAtEveryPosition) {
  namespace fs = std::filesystem;
  const double two31 = 2147483648.0, two32 = 4294967296.0;
  const double size = two32 + 107;
  {
    std::ofstream f("hostile.bin", std::ios::binary);
    f << "x";
  }
  std::error_code ec;
  fs::resize_file("hostile.bin", static_cast<uint64_t>(size), ec);
  if (ec) GTEST_SKIP() << "no sparse file of 4 GiB here: " << ec.message();
  {
    std::fstream f("hostile.bin", std::ios::binary | std::ios::in | std::ios::out);
    auto put = [&](double at, const char* text) {
      f.seekp(static_cast<std::streamoff>(at));
      f << text;
    };
    put(two31 - 4, "\nab,cd\n"); // a record from 2^31 - 3 to 2^31 + 3
    put(two32 - 3, "\nef,gh\n"); // from 2^32 - 2 to 2^32 + 4
    put(size - 7, "\nij,kl\n");  // the last record
  }
  const qhost::Value opened = open("hostile.bin");
#if QM_MAC
  EXPECT_EQ(opened, qhost::Value::num(5)); // the File Manager's positions are 32-bit
  p.execute(kCmdCloseFile, {var("ref")});
  return;
#endif
  ASSERT_EQ(opened, qhost::Value::num(0));
  EXPECT_EQ(*p.host().variable("size"), qhost::Value::num(size));
  p.host().declareList("fmt", {"name", "size", "delim"});
  p.host().setVariable("a", qhost::Value::str(U""));
  p.host().setVariable("b", qhost::Value::str(U""));
  p.host().addRow("fmt",
                  {qhost::Value::str(U"a"), qhost::Value::num(10), qhost::Value::str(U"COMMA")});
  p.host().addRow("fmt",
                  {qhost::Value::str(U"b"), qhost::Value::num(10), qhost::Value::str(U"LF")});
  p.execute(kCmdDefineFormat, {var("ref"), var("fmt"), lit("name"), lit("size"), lit("delim")});
  ASSERT_EQ(rc(p), qhost::Value::num(0));
  auto record = [&](double from, bool backwards) {
    p.host().setVariable("pos", qhost::Value::num(from));
    p.execute(kCmdReadRecord, {var("ref"), var("pos"), lit(0.0), lit(backwards ? 1.0 : 0.0)});
    return qhost::toUtf8(p.host().variable("a")->text) + "/" +
           qhost::toUtf8(p.host().variable("b")->text);
  };
  auto pos = [&] { return p.host().variable("pos")->number; };
  // Forwards across 2^31 and 2^32, positions handed back exactly.
  EXPECT_EQ(record(two31 - 3, false), "ab/cd");
  EXPECT_EQ(pos(), two31 + 3);
  EXPECT_EQ(record(two32 - 2, false), "ef/gh");
  EXPECT_EQ(pos(), two32 + 4);
  // Backwards from the end, and from the end of the record across 2^32.
  EXPECT_EQ(record(size, true), "ij/kl");
  EXPECT_EQ(rc(p), qhost::Value::num(0));
  EXPECT_EQ(pos(), size - 6);
  EXPECT_EQ(record(two32 + 4, true), "ef/gh");
  EXPECT_EQ(pos(), two32 - 2);
  // A fraction is dropped, as it always was.
  EXPECT_EQ(record(two31 - 3 + 0.5, false), "ab/cd");
  // ReadBytes and ReadUpTo across 2^31 and 2^32.
  p.host().setVariable("pos", qhost::Value::num(two31 - 3));
  p.execute(kCmdReadBytes, {var("ref"), var("pos"), lit(0.0), lit(5.0), var("data"), var("size")});
  EXPECT_EQ(*p.host().variable("data"), qhost::Value::str(U"ab,cd"));
  EXPECT_EQ(pos(), two31 + 2);
  p.host().setVariable("pos", qhost::Value::num(two32 - 2));
  p.execute(kCmdReadUpTo, {var("ref"), var("pos"), lit(0.0), lit("\n"), lit(100.0), var("data")});
  EXPECT_EQ(*p.host().variable("data"), qhost::Value::str(U"ef,gh"));
  EXPECT_EQ(pos(), two32 + 4);
  // At or beyond the end, at or beyond 2^53, negative or no number at all: 7, nothing read
  // and nothing written back.
  for (double bad : {size, size + 1, 9007199254740991.0, 9007199254740992.0, 18014398509481984.0,
                     -1.0, -two32, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    p.host().setVariable("a", qhost::Value::str(U"keep"));
    record(bad, false);
    EXPECT_EQ(rc(p), qhost::Value::num(7)) << bad;
    EXPECT_EQ(p.host().variable("a")->text, U"keep") << bad;
    p.host().setVariable("pos", qhost::Value::num(bad));
    p.execute(kCmdReadBytes, {var("ref"), var("pos"), lit(0.0), lit(5.0), var("data")});
    EXPECT_EQ(rc(p), qhost::Value::num(7)) << bad;
  }
  EXPECT_EQ(record(size + 1, true), "keep/cd");
  EXPECT_EQ(rc(p), qhost::Value::num(7));
  // A 32-bit integer variable cannot hold a position past 2^31 - 1: the first one handed
  // back is read back, and the change answers 10, so a loop over it ends.
  p.host().setVariable("small", qhost::Value::integer(two31 - 3));
  p.execute(kCmdReadRecord, {var("ref"), var("small")});
  EXPECT_EQ(rc(p), qhost::Value::num(10));
  EXPECT_NE(p.host().variable("small")->number, two31 + 3);
  // A number variable holds it.
  p.host().setVariable("pos", qhost::Value::num(two31 - 3));
  p.execute(kCmdReadRecord, {var("ref"), var("pos")});
  EXPECT_EQ(rc(p), qhost::Value::num(0));
  EXPECT_EQ(pos(), two31 + 3);
  p.execute(kCmdCloseFile, {var("ref")});
}

#if !defined(_WIN32)
TEST_F(Hostile, SpecialFilesAreRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo("hostile.fifo", 0600), 0);
  EXPECT_EQ(open("hostile.fifo"), qhost::Value::num(2)); // a blocking open would hang here
  EXPECT_EQ(*p.host().variable("ref"), qhost::Value::num(0));
  std::remove("hostile.fifo");
  EXPECT_EQ(open("/dev/null"), qhost::Value::num(2));
}
#endif

#if !defined(_WIN32)
// Windows lets nobody shorten a file held open here; other systems do. Reads then end where
// the bytes end, with the codes for the end of the data, and never reach past them.
TEST_F(Hostile, AFileThatShrinksEndsEarly) {
  std::string data;
  for (int i = 0; data.size() < 200000; ++i)
    data += "r" + std::to_string(i) + ",x\r\n";
  std::ofstream("hostile.bin", std::ios::binary) << data;
  ASSERT_EQ(open("hostile.bin"), qhost::Value::num(0));
  p.host().declareList("fmt", {"name", "size", "delim"});
  p.host().addRow("fmt",
                  {qhost::Value::str(U"data"), qhost::Value::num(20), qhost::Value::str(U"COMMA")});
  p.host().addRow("fmt",
                  {qhost::Value::str(U""), qhost::Value::num(20), qhost::Value::str(U"CRLF")});
  p.execute(kCmdDefineFormat, {var("ref"), var("fmt"), lit("name"), lit("size"), lit("delim")});
  std::filesystem::resize_file("hostile.bin", 1000);
  // Beyond the new end: a delimited field ends at once, a fixed-length read too. The File
  // Manager refuses a position past the end outright (7).
  p.host().setVariable("pos", qhost::Value::num(150000));
  p.execute(kCmdReadRecord, {var("ref"), var("pos")});
  EXPECT_EQ(rc(p), qhost::Value::num(QM_MAC ? 7 : 9));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(150000));
  p.execute(kCmdReadBytes, {var("ref"), var("pos"), lit(0.0), lit(100.0), var("data")});
  EXPECT_EQ(rc(p), qhost::Value::num(QM_MAC ? 7 : 8));
  // Backwards from the size seen at open: there is nothing there any more, so no record
  // start is found (11); the File Manager refuses the seek, which is a failed read (5).
  p.host().setVariable("pos", qhost::Value::num(static_cast<double>(data.size())));
  p.execute(kCmdReadRecord, {var("ref"), var("pos"), lit(0.0), lit(1.0)});
  EXPECT_EQ(rc(p), qhost::Value::num(QM_MAC ? 5 : 11));
  // At the new end exactly, every system lets the read start and finds nothing there.
  p.host().setVariable("pos", qhost::Value::num(1000));
  p.execute(kCmdReadRecord, {var("ref"), var("pos")});
  EXPECT_EQ(rc(p), qhost::Value::num(9));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(1000));
  // Backwards from a little past it: the window's fill stops where the bytes stop, and what
  // lies between holds no record start (11), and the position stays.
  p.host().setVariable("pos", qhost::Value::num(5000));
  p.execute(kCmdReadRecord, {var("ref"), var("pos"), lit(0.0), lit(1.0)});
  EXPECT_EQ(rc(p), qhost::Value::num(11));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(5000));
  // Within what is left, records read as before.
  p.host().setVariable("pos", qhost::Value::num(0));
  p.execute(kCmdReadRecord, {var("ref"), var("pos")});
  EXPECT_EQ(rc(p), qhost::Value::num(0));
  EXPECT_EQ(*p.host().variable("data"), qhost::Value::str(U"r0"));
}
#endif

TEST_F(Hostile, ListsBeyond32767LinesAreRefused) {
  std::ofstream("hostile.bin", std::ios::binary) << "a,b\r\n";
  ASSERT_EQ(open("hostile.bin"), qhost::Value::num(0));
  p.host().declareList("fmt", {"name", "size", "delim"});
  for (int i = 0; i < 65537; ++i)
    p.host().addRow("fmt",
                    {qhost::Value::str(U""), qhost::Value::num(1), qhost::Value::str(U"COMMA")});
  // 65537 lines would wrap to 1 as a 16-bit count.
  p.execute(kCmdDefineFormat, {var("ref"), var("fmt"), lit("name"), lit("size"), lit("delim")});
  EXPECT_EQ(rc(p), qhost::Value::num(3));
  p.execute(kCmdDefineSubs, {var("ref"), var("fmt"), lit("name"), lit("delim")});
  EXPECT_EQ(rc(p), qhost::Value::num(3));
}

TEST_F(Hostile, AFailedReadInABackwardReadKeepsThePosition) {
  std::ofstream("hostile.bin", std::ios::binary) << "a,b\r\nc,d\r\n";
  ASSERT_EQ(open("hostile.bin"), qhost::Value::num(0));
  p.host().declareList("fmt", {"name", "size", "delim"});
  p.host().addRow("fmt",
                  {qhost::Value::str(U"data"), qhost::Value::num(5), qhost::Value::str(U"COMMA")});
  p.host().addRow("fmt",
                  {qhost::Value::str(U""), qhost::Value::num(5), qhost::Value::str(U"CRLF")});
  p.execute(kCmdDefineFormat, {var("ref"), var("fmt"), lit("name"), lit("size"), lit("delim")});
  p.host().setVariable("pos", qhost::Value::num(10));
  plat_fault_after(kFaultFileRead, 1);
  p.execute(kCmdReadRecord, {var("ref"), var("pos"), lit(0.0), lit(1.0)});
  EXPECT_EQ(rc(p), qhost::Value::num(5));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(10)); // not 0: nothing is skipped
  EXPECT_EQ(*p.host().variable("data"), qhost::Value::str(U"unset"));
  p.execute(kCmdReadRecord, {var("ref"), var("pos"), lit(0.0), lit(1.0)});
  EXPECT_EQ(rc(p), qhost::Value::num(0));
  EXPECT_EQ(*p.host().variable("data"), qhost::Value::str(U"c"));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(5));
}

// Under CSV quoting a backward read confirms the record start with a trial read and stores
// the pieces that read found; whatever the record, it must store what a forward read of the
// same record stores. The records: zero bytes among short pieces;
// quoted values holding delimiters, line ends and doubled quotes; an over-long value before
// the last entry; a blank-padded and an empty one; a
// format of more entries than a trial keeps; and, alone in its file, a value holding more
// line ends than a backward read tries, whose record starts at the file's first byte; a
// value of long stretches with one line end in it; a long value of many line ends, whose
// record's start a pass over 64-byte blocks finds where the processor has AVX2 (the test runs
// again without it).
TEST(CsvBackwards, StoresWhatAForwardReadStores) {
  struct Case {
    int fields;
    int size;
    std::string record;
    bool alone = false; // the file holds the record once, not twice
  };
  std::string lineEnds = "\"";
  for (int i = 0; i < 100; ++i)
    lineEnds += "x\n";
  lineEnds += "\",b\n";
  // A long value whose line end only the quotes of the long stretches around it (doubled
  // quotes among them) show to stand inside quotes: a backward read passes those stretches
  // 64 bytes a look.
  const std::string longValue = "\"" + std::string(100, 'a') + "\"\"" + std::string(80, 'b') +
                                "\n" + std::string(150, 'c') + "\"\"q\"\"" + std::string(90, 'd') +
                                "\",b\n";
  std::string longLines = "\"";
  for (int i = 0; i < 40; ++i) // lines of up to 90 bytes, doubled quotes in some
    longLines +=
        std::string(static_cast<size_t>(i * 37 % 90), 'v') + (i % 3 == 0 ? "\"\"" : "") + "\r\n";
  longLines += "\",\"x\ny\"\r\n";
  std::string many;
  for (int i = 0; i < 70; ++i)
    many += (i % 9 == 4 ? "\"q,\n" + std::to_string(i) + "\"" : std::to_string(i)) +
            (i < 69 ? "," : "\n");
  // Short pieces over more than one 64-byte look, some across the looks' edges, and zero
  // bytes before delimiters.
  const char zeroes[] = "aa,b\0b,ccc,\0,dd,0123456789012,ee,ff,gg,hh,ii,jj,kk,ll,mm,\0n,oo,"
                        "pp,qq,rr,ss\n";
  const std::vector<Case> cases = {
      {21, 20, std::string(zeroes, sizeof zeroes - 1)},
      {3, 20, "one,\"say \"\"hi\"\", ok\",three\n"},
      {3, 20, "first,\"two\nlines, \"\"x\"\"\",\"end\"\n"},
      {3, 4, "abcdefgh,xyz,last\n"},
      {3, 20, "  pad  ,,\"  kept  \"\n"},
      {3, 20, "xy,yz,\"last\nhas a line end\"\r\n"},
      {70, 20, many},
      {2, 500, longValue},
      {2, 400, lineEnds, true},
      {2, 4000, longLines},
  };
#if QM_AVX2
  for (const bool blocks : {true, false}) {
    qtest::ScopedFlag pass(avx2::gUsable, blocks && avx2::gUsable);
#else
  {
#endif
    for (const Case& c : cases) {
      SCOPED_TRACE(c.record);
      // The record twice: the second has a whole record before it, as in any file.
      std::ofstream("backcsv.csv", std::ios::binary | std::ios::trunc)
          << c.record << (c.alone ? "" : c.record);
      const auto size = static_cast<double>((c.alone ? 1 : 2) * c.record.size());
      const double start = c.alone ? 0 : size / 2;
      InProcess p;
      p.send(kMsgLoad);
      p.host().declareList("fmt", {"name", "size", "delim"});
      for (int i = 0; i < c.fields; ++i) {
        const std::string name = "f" + std::to_string(i);
        p.host().addRow("fmt", {qhost::Value::str(qhost::fromUtf8(name)), qhost::Value::num(c.size),
                                qhost::Value::str(i + 1 < c.fields ? U"COMMA" : U"EOL")});
        p.host().setVariable(name, qhost::Value::str(U"unset")); // the format names variables
      }
      p.host().setVariable("ref", qhost::Value::num(0));
      p.execute(kCmdOpenFile,
                {lit("backcsv.csv"), var("ref"), lit(0.0), lit(0.0), lit(""), lit("CSV")});
      ASSERT_EQ(rc(p), qhost::Value::num(0));
      p.execute(kCmdDefineFormat, {var("ref"), var("fmt"), lit("name"), lit("size"), lit("delim")});
      ASSERT_EQ(rc(p), qhost::Value::num(0));
      auto readAt = [&](double pos, bool backwards) {
        for (int i = 0; i < c.fields; ++i)
          p.host().setVariable("f" + std::to_string(i), qhost::Value::str(U"unset"));
        p.host().setVariable("pos", qhost::Value::num(pos));
        p.execute(kCmdReadRecord, {var("ref"), var("pos"), lit(0.0), lit(backwards ? 1.0 : 0.0)});
        std::vector<qhost::Value> got{rc(p)};
        for (int i = 0; i < c.fields; ++i)
          got.push_back(*p.host().variable("f" + std::to_string(i)));
        return got;
      };
      const auto forwards = readAt(start, false);
      EXPECT_EQ(readAt(size, true), forwards);
      EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(start));
      EXPECT_NE(forwards[1], qhost::Value::str(U"unset"));
      p.send(kMsgUnload);
    }
  }
  std::remove("backcsv.csv");
}

#if !defined(_WIN32)
// A backward read that fills its window again keeps the bytes the window already holds of
// the new one's end, and reads only those before them. A file that shrank while open (here
// cut below the window) delivers fewer: the kept bytes must then not be joined to what was
// read, across the gap. The read finds nothing within reach and stores nothing. (Windows
// refuses to cut a file another handle reads, so this runs over the POSIX stand-in.)
TEST(BackwardWindow, AFileCutWhileOpenJoinsNoBytesAcrossTheGap) {
  std::string data;
  for (int i = 0; data.size() < 3 * static_cast<size_t>(kReadAheadBytes); ++i)
    data += "rec" + std::to_string(i) + ",value\n";
  std::ofstream("cut.txt", std::ios::binary | std::ios::trunc) << data;
  const auto size = static_cast<double>(data.size());
  InProcess p;
  p.send(kMsgLoad);
  declareTwoFields(p.host(), 20, U"LF");
  p.host().setVariable("ref", qhost::Value::num(0));
  p.execute(kCmdOpenFile, {lit("cut.txt"), var("ref")});
  ASSERT_EQ(rc(p), qhost::Value::num(0));
  p.execute(kCmdDefineFormat, {var("ref"), var("fmt"), lit("name"), lit("size"), lit("delim")});
  ASSERT_EQ(rc(p), qhost::Value::num(0));
  auto backFrom = [&](double pos) {
    p.host().setVariable("a", qhost::Value::str(U"unset"));
    p.host().setVariable("b", qhost::Value::str(U"unset"));
    p.host().setVariable("pos", qhost::Value::num(pos));
    p.execute(kCmdReadRecord, {var("ref"), var("pos"), lit(0.0), lit(1.0)});
  };
  backFrom(size); // the window now holds the file's last 64 KiB
  ASSERT_EQ(rc(p), qhost::Value::num(0));
  EXPECT_EQ(p.host().variable("b")->describe(), "\"value\"");
  const double windowStart = size - kReadAheadBytes;
  std::filesystem::resize_file("cut.txt", static_cast<uintmax_t>(windowStart) - 1000);
  backFrom(windowStart + 40); // reaches below the window: it is filled again
  EXPECT_EQ(rc(p), qhost::Value::num(11));
  EXPECT_EQ(*p.host().variable("a"), qhost::Value::str(U"unset"));
  EXPECT_EQ(*p.host().variable("b"), qhost::Value::str(U"unset"));
  EXPECT_EQ(*p.host().variable("pos"), qhost::Value::num(windowStart + 40));
  p.send(kMsgUnload);
  std::remove("cut.txt");
}
#endif

} // namespace

#if defined(_WIN32)
namespace {
// Another program that holds a file open for writing keeps it from being opened to read.
TEST(HostileWindows, AFileHeldForWritingAnswersTwo) {
  InProcess p;
  p.send(kMsgLoad);
  HANDLE writer = CreateFileW(L"held.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  p.host().setVariable("ref", qhost::Value::num(9));
  p.execute(kCmdOpenFile, {lit("held.txt"), var("ref")});
  EXPECT_EQ(rc(p), qhost::Value::num(2));
  EXPECT_EQ(*p.host().variable("ref"), qhost::Value::num(0));
  CloseHandle(writer);
  p.execute(kCmdOpenFile, {lit("held.txt"), var("ref")});
  EXPECT_EQ(rc(p), qhost::Value::num(0));
  p.send(kMsgUnload);
  DeleteFileW(L"held.txt");
}
} // namespace
#endif
