// The reader against every kind of source: the same cases over clipboard text, field text
// and a disk file, on whichever system this build runs over.
#include "glue/XPqUtil.h"
#include "glue/callback.h"
#include "host/host.h"
#include "import/readahead.h"
#include "import/reader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

enum class Kind { Clipboard, Field, Disk };

std::string kindName(const ::testing::TestParamInfo<Kind>& info) {
  switch (info.param) {
  case Kind::Clipboard:
    return "Clipboard";
  case Kind::Field:
    return "Field";
  case Kind::Disk:
    return "Disk";
  }
  return "?";
}

// A file name with characters beyond ASCII where the build's paths can carry them.
#if QM_UNICODE && !QM_MAC
const std::u32string kFileName = U"reader-\u00e9\U0001F600.txt";
#else
const std::u32string kFileName = U"reader-test.txt";
#endif

std::filesystem::path fsPath(const std::u32string& name) {
  std::string utf8 = qhost::toUtf8(name);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Opens a file the way the open command will: Unicode Windows converts the host's path in
// place to UTF-16, macOS passes a length-prefixed 8-bit name, 8-bit Windows the bytes.
PlatResult openPath(const std::u32string& name, qfileref* ref, PlatFileBlock* block) {
#if QM_MAC
  uint8_t pstr[256] = {static_cast<uint8_t>(name.size())};
  for (size_t i = 0; i < name.size(); ++i)
    pstr[i + 1] = static_cast<uint8_t>(name[i]);
  return plat_file_open(pstr, ref, block);
#elif QM_UNICODE
  qchar path[256] = {};
  for (size_t i = 0; i < name.size(); ++i)
    path[i] = name[i];
  CHRcharToOschar(path, reinterpret_cast<oschar*>(path));
  return plat_file_open(reinterpret_cast<oschar*>(path), ref, block);
#else
  std::string bytes(name.begin(), name.end());
  return plat_file_open(reinterpret_cast<const oschar*>(bytes.c_str()), ref, block);
#endif
}

// One import file over the given bytes.
class Source {
public:
  Source(Kind kind, const std::string& bytes, bool stripQuotes) : kind_(kind) {
    rec_.fileSize = static_cast<qlong>(bytes.size());
    rec_.stripEncQuotes = stripQuotes ? 1 : 0;
    if (kind == Kind::Disk) {
      std::ofstream(fsPath(kFileName), std::ios::binary | std::ios::trunc) << bytes;
      EXPECT_EQ(openPath(kFileName, &rec_.fileRef, &rec_.fileBlock), kPlatOk);
      EXPECT_EQ(AttachReadAhead(g_.get(), &rec_), 0);
      return;
    }
    // Clipboard text starts at byte 0; field text after its 4-byte count.
    qlong offset = kind == Kind::Field ? 4 : 0;
    rec_.fileRef = kind == Kind::Field ? kFieldRef : kClipboardRef;
    rec_.dataHandle = NewXPHandle(offset + rec_.fileSize);
    auto* block = static_cast<char*>(LockXPHandle(rec_.dataHandle));
    if (offset) std::memcpy(block, &rec_.fileSize, 4);
    std::copy(bytes.begin(), bytes.end(), block + offset);
    UnlockXPHandle(rec_.dataHandle);
  }
  ~Source() {
    if (kind_ == Kind::Disk) {
      ReleaseAllReadAhead(g_.get());
      plat_file_close(rec_.fileRef, &rec_.fileBlock);
      std::error_code ec;
      std::filesystem::remove(fsPath(kFileName), ec);
    } else {
      DisposeXPHandle(rec_.dataHandle);
    }
  }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  // Positions the source as the read commands do, then reads one field.
  qshort read(const fieldSpec& f, qpos* pos) {
    rec_.curPos = *pos;
    qshort seek = SetPositionInFile(&rec_);
    if (seek != 0) return seek;
    return readOn(f, pos);
  }
  // Reads the next field without positioning, as a record's later fields are read.
  qshort readOn(const fieldSpec& f, qpos* pos) {
    std::memset(buffer_.get(), 0x5A, kBufferSize); // whatever was there must not show through
    return ReadToDelimOrMax(&rec_, &f, pos, buffer_.get());
  }
  std::string text() const { return buffer_.get(); }
  const char* buffer() const { return buffer_.get(); }
  importFileSpec& rec() { return rec_; }

private:
  Kind kind_;
  std::unique_ptr<globals> g_ = std::make_unique<globals>(); // holds the disk file's window
  importFileSpec rec_{};
  std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(kBufferSize);
};

fieldSpec delimited(const std::string& delim, qshort max) {
  fieldSpec f{};
  f.fldMax = max;
  f.fldDelim[0] = static_cast<qbyte>(delim.size());
  std::memcpy(f.fldDelim + 1, delim.data(), delim.size());
  return f;
}

fieldSpec fixed(qshort max) { return delimited("", max); }

class Reader : public ::testing::TestWithParam<Kind> {
protected:
  struct Result {
    qshort code;
    std::string text;
    qpos pos;
  };
  Result read(const std::string& data, const fieldSpec& f, qlong from = 0, bool strip = false) {
    Source s(GetParam(), data, strip);
    qpos pos = from;
    qshort code = s.read(f, &pos);
    return {code, s.text(), pos};
  }
};

TEST_P(Reader, DelimiterFoundIsConsumedNotKept) {
  Result r = read("abc,def", delimited(",", 3));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, "abc");
  EXPECT_EQ(r.pos, 4);
  r = read(",rest", delimited(",", 3));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.pos, 1);
}

TEST_P(Reader, OverLongFieldKeepsItsMaximumAndStopsThere) {
  Result r = read("abcd,", delimited(",", 3));
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.text, "abc");
  EXPECT_EQ(r.pos, 3);
  // The limit is reached before the end is noticed; the next read gets the rest.
  Source s(GetParam(), "abcd", false);
  qpos pos = 0;
  EXPECT_EQ(s.read(delimited(",", 3), &pos), 11);
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(s.read(delimited(",", 3), &pos), 9);
  EXPECT_EQ(s.text(), "d");
  EXPECT_EQ(pos, 4);
}

TEST_P(Reader, EndOfDataEndsTheField) {
  Result r = read("xyz", delimited(",", 10));
  EXPECT_EQ(r.code, 9);
  EXPECT_EQ(r.text, "xyz");
  EXPECT_EQ(r.pos, 3);
  // A two-byte delimiter cut by the end keeps its first byte in the text.
  r = read("ab\r", delimited("\r\n", 10));
  EXPECT_EQ(r.code, 9);
  EXPECT_EQ(r.text, "ab\r");
  EXPECT_EQ(r.pos, 3);
}

TEST_P(Reader, FixedLengthFields) {
  Result r = read("abcde", fixed(5), 3);
  EXPECT_EQ(r.code, 8);
  EXPECT_EQ(r.text, "de");
  EXPECT_EQ(r.pos, 5);
  // Consecutive fields of a record continue without a seek.
  Source s(GetParam(), "abcdef", false);
  qpos pos = 0;
  EXPECT_EQ(s.read(fixed(4), &pos), 0);
  EXPECT_EQ(s.text(), "abcd");
  EXPECT_EQ(s.readOn(fixed(4), &pos), 8);
  EXPECT_EQ(s.text(), "ef");
  EXPECT_EQ(pos, 6);
}

TEST_P(Reader, RecordFieldsFollowEachOther) {
  Source s(GetParam(), "x,y\r\np,q\r\n", false);
  qpos pos = 0;
  EXPECT_EQ(s.read(delimited(",", 10), &pos), 0);
  EXPECT_EQ(s.text(), "x");
  EXPECT_EQ(s.readOn(delimited("\r\n", 10), &pos), 0);
  EXPECT_EQ(s.text(), "y");
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(s.readOn(delimited(",", 10), &pos), 0);
  EXPECT_EQ(s.text(), "p");
}

TEST_P(Reader, QuotedFieldsIgnoreDelimitersInside) {
  Result r = read("\"a,b\",c", delimited(",", 10), 0, true);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, "\"a,b\"");
  EXPECT_EQ(r.pos, 6);
  // A blank before the opening quote: not quoted for the reader.
  r = read(" \"a,b\",c", delimited(",", 10), 0, true);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, " \"a");
  // Without quote stripping the first comma ends the field.
  r = read("\"a,b\",c", delimited(",", 10), 0, false);
  EXPECT_EQ(r.text, "\"a");
  // An unclosed quote runs to the end.
  r = read("\"a,b", delimited(",", 10), 0, true);
  EXPECT_EQ(r.code, 9);
  EXPECT_EQ(r.text, "\"a,b");
}

TEST_P(Reader, AFieldStartingAtTheEndFindsNothing) {
  Result r = read("ab", delimited(",", 5), 2, true);
  EXPECT_EQ(r.code, 9);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.pos, 2);
}

TEST_P(Reader, ThreeByteDelimitersMatchOnlyWhole) {
  Result r = read("a~~b~~~c", delimited("~~~", 20));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, "a~~b");
  EXPECT_EQ(r.pos, 7);
}

TEST_P(Reader, ZeroMaximumAcceptsOnlyAnEmptyField) {
  Result r = read(",", delimited(",", 0));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.pos, 1);
  r = read("x,", delimited(",", 0));
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.pos, 0);
}

TEST_P(Reader, AtMost32000BytesAreLookedAt) {
  // The delimiter is byte 32001: a reader that looked one byte further would find it.
  std::string data(32000, 'a');
  data += ",tail";
  Result r = read(data, delimited(",", 32000));
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.text.size(), 32000u);
  EXPECT_EQ(r.pos, 32000);
  r = read(data, delimited(",", 31999));
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.text.size(), 31999u);
  EXPECT_EQ(r.pos, 31999);
}

TEST_P(Reader, MaximaOutsideTheBufferAreClamped) {
  std::string data(40000, 'b');
  Result r = read(data, fixed(32767));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text.size(), 32000u);
  EXPECT_EQ(r.pos, 32000);
  r = read(data, delimited(",", 32767));
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.text.size(), 32000u);
  EXPECT_EQ(r.pos, 32000);
  // A negative maximum reads nothing and moves nothing.
  r = read("abc", fixed(-5));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.pos, 0);
  r = read("abc,", delimited(",", -5));
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.pos, 0);
}

TEST_P(Reader, PositionsOutsideTheTextReadNothing) {
  Source s(GetParam(), "abc", false);
  qpos pos = -1;
  EXPECT_EQ(s.read(delimited(",", 5), &pos), 7);
  EXPECT_EQ(pos, -1);
  EXPECT_EQ(s.text(), "");
  if (GetParam() != Kind::Disk) {
    pos = 4; // past the end of an in-memory text
    EXPECT_EQ(s.read(fixed(2), &pos), 7);
    EXPECT_EQ(pos, 4);
  }
}

TEST_P(Reader, TheBufferIsAlwaysTerminated) {
  Source s(GetParam(), "abcdef", false);
  qpos pos = 0;
  s.read(fixed(3), &pos);
  EXPECT_EQ(s.buffer()[3], 0);
  pos = 0;
  s.read(delimited(";", 2), &pos);
  EXPECT_EQ(s.buffer()[2], 0);
}

fieldSpec eol(qshort max) {
  fieldSpec f = delimited("\n", max);
  f.fldFlags = kFieldEol;
  return f;
}

TEST_P(Reader, EolTakesACarriageReturnBeforeItsLineFeed) {
  for (const char* data : {"ab\r\nc", "ab\nc"}) {
    Result r = read(data, eol(2));
    EXPECT_EQ(r.code, 0) << data;
    EXPECT_EQ(r.text, "ab");
    EXPECT_EQ(r.pos, static_cast<qlong>(std::strlen(data)) - 1);
  }
  // The maximum bounds the text, not the line end: a line feed past it is an over-long field.
  EXPECT_EQ(read("abc\r\n", eol(3)).code, 0);
  Result r = read("abcd\n", eol(3));
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.text, "abc");
  EXPECT_EQ(r.pos, 3);
  // A carriage return alone ends nothing; one inside a quoted field (enclosing-quote rule)
  // still belongs to the line end that follows the closing quote.
  EXPECT_EQ(read("a\rb", eol(5)).text, "a\rb");
  r = read("\"a\nb\"\r\nc", eol(10), 0, true);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, "\"a\nb\"");
  EXPECT_EQ(r.pos, 7);
}

// A piece under CSV quoting, from the given position.
class CsvReader : public Reader {
protected:
  Result csv(const std::string& data, const fieldSpec& f, qlong from = 0, bool* quoted = nullptr) {
    Source s(GetParam(), data, true); // enclosing-quote stripping plays no part under CSV
    s.rec().quoting = kQuotingCsv;
    qpos pos = from;
    qshort code = s.read(f, &pos);
    if (quoted) *quoted = s.rec().quotedPiece;
    return {code, s.text(), pos};
  }
};

TEST_P(CsvReader, QuotedValuesHoldDelimitersLineEndsAndDoubledQuotes) {
  bool quoted = false;
  Result r = csv("\"say \"\"hi\"\", ok\",3", delimited(",", 20), 0, &quoted);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, "say \"hi\", ok");
  EXPECT_EQ(r.pos, 17);
  EXPECT_TRUE(quoted);
  r = csv("\"a\r\nb\"\r\nc", delimited("\r\n", 20));
  EXPECT_EQ(r.text, "a\r\nb");
  EXPECT_EQ(r.pos, 8);
  // After the closing quote the text runs on to the delimiter; a quote inside an unquoted
  // value is text.
  EXPECT_EQ(csv("\"ab\"c\"d,e", delimited(",", 20)).text, "abc\"d");
  r = csv("5\" tv,e", delimited(",", 20), 0, &quoted);
  EXPECT_EQ(r.text, "5\" tv");
  EXPECT_FALSE(quoted);
  // A delimiter counts only when all of it lies outside the quotes.
  r = csv("\"a\r\"\nb\r\n", delimited("\r\n", 20));
  EXPECT_EQ(r.text, "a\r\nb");
  EXPECT_EQ(r.pos, 8);
  // A multi-byte delimiter matches only whole: a lone line feed is text.
  r = csv("a\nb\r\nc", delimited("\r\n", 20));
  EXPECT_EQ(r.text, "a\nb");
  EXPECT_EQ(r.pos, 5);
  // EOL: the carriage return belongs to the line end only outside the quotes.
  r = csv("\"a\r\"\nb", eol(20));
  EXPECT_EQ(r.text, "a\r");
  EXPECT_EQ(r.pos, 5);
}

TEST_P(CsvReader, UnclosedQuotesReadToTheEnd) {
  Result r = csv("\"ab,c\nd", delimited(",", 20));
  EXPECT_EQ(r.code, 9);
  EXPECT_EQ(r.text, "ab,c\nd");
  EXPECT_EQ(r.pos, 7);
  r = csv("\"ab\"", delimited(",", 20)); // closed at the very end
  EXPECT_EQ(r.code, 9);
  EXPECT_EQ(r.text, "ab");
}

TEST_P(CsvReader, OverLongValuesAreConsumedWhole) {
  // The first maxBytes are kept; the position is after the piece's delimiter, never inside
  // the quotes, however many windows the value spans.
  for (size_t n : {size_t{10}, size_t{3 * kReadAheadBytes}}) {
    std::string value(n, 'v');
    value[n / 2] = ',';
    std::string data = "\"" + value + "\"\"x\",y";
    Result r = csv(data, delimited(",", 4));
    EXPECT_EQ(r.code, 11);
    EXPECT_EQ(r.text, "vvvv");
    EXPECT_EQ(r.pos, static_cast<qlong>(data.size()) - 1);
  }
  // Doubled quotes count once against the maximum.
  Result r = csv("\"\"\"\"\"\"\"\",", delimited(",", 3));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, "\"\"\"");
}

TEST_P(CsvReader, TheLookAheadIsBounded) {
  // A quote that never closes: 1 MiB is looked at, no more.
  const qlong bound = 1024 * 1024;
  std::string data = "\"" + std::string(static_cast<size_t>(bound) + 500, 'q');
  Result r = csv(data, delimited(",", 32000), 0);
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.text, std::string(32000, 'q'));
  EXPECT_EQ(r.pos, bound);
  // Short of the bound, the end of the data comes first.
  r = csv(data.substr(0, 70000), delimited(",", 32000), 0);
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.pos, 70000);
}

#if QM_UNICODE
TEST_P(CsvReader, AUtf16LookAheadIsBoundedInBytes) {
  // A quote that never closes in UTF-16: 1 MiB of bytes is looked at, the maximum in bytes kept.
  const qlong bound = 1024 * 1024;
  std::string data("\"\0", 2);
  for (qlong i = 0; i < bound / 2 + 300; ++i)
    data.append("q\0", 2);
  Source s(GetParam(), data, false);
  s.rec().quoting = kQuotingCsv;
  s.rec().encoding = kEncodingUtf16Le;
  qpos pos = 0;
  EXPECT_EQ(s.read(delimited(",", 32000), &pos), 11);
  EXPECT_EQ(s.text(), std::string(16000, 'q'));
  EXPECT_EQ(pos, bound);
}
#endif

#if QM_UNICODE
TEST_P(Reader, AUtf16PieceEndsWithinTheBuffersBytesOrIsCut) {
  // The one-pass read and the character reader agree at the edges: a piece and its delimiter
  // fill the 32000 bytes one read may look at, or the delimiter lies past them (11, the
  // maximum kept); a piece past a small maximum is cut there.
  auto units = [](qlong n, const char* after) {
    std::string text;
    for (qlong i = 0; i < n; ++i)
      text.append("q\0", 2);
    return text.append(after, 2);
  };
  for (const qlong n : {qlong{15999}, qlong{16000}}) {
    Source s(GetParam(), units(n, ",\0"), false);
    s.rec().encoding = kEncodingUtf16Le;
    qpos pos = 0;
    EXPECT_EQ(s.read(delimited(",", 32000), &pos), n == 15999 ? 0 : 11) << n;
    EXPECT_EQ(s.text(), std::string(static_cast<size_t>(n), 'q')) << n;
    EXPECT_EQ(pos, 32000) << n;
  }
  Source s(GetParam(), units(6, ",\0"), false);
  s.rec().encoding = kEncodingUtf16Le;
  qpos pos = 0;
  EXPECT_EQ(s.read(delimited(",", 10), &pos), 11);
  EXPECT_EQ(s.text(), "qqqqq");
  EXPECT_EQ(pos, 10);
}
#endif

INSTANTIATE_TEST_SUITE_P(EverySource, Reader,
                         ::testing::Values(Kind::Clipboard, Kind::Field, Kind::Disk), kindName);
INSTANTIATE_TEST_SUITE_P(EverySource, CsvReader,
                         ::testing::Values(Kind::Clipboard, Kind::Field, Kind::Disk), kindName);

TEST(ReaderFaults, AFailingSystemReadGivesFiveWithWhatCameBefore) {
  // The field starts two bytes before the window's end: the window's next fill fails.
  std::string data(kReadAheadBytes + 100, 'a');
  Source s(Kind::Disk, data, false);
  qpos pos = 0;
  EXPECT_EQ(s.read(fixed(10), &pos), 0);
  pos = kReadAheadBytes - 2;
  plat_fault_after(kFaultFileRead, 1);
  EXPECT_EQ(s.read(delimited(",", 10), &pos), 5);
  EXPECT_EQ(s.text(), "aa");
  EXPECT_EQ(pos, kReadAheadBytes);
  // The failure was transient: the same read now succeeds.
  EXPECT_EQ(s.readOn(fixed(4), &pos), 0);
  EXPECT_EQ(pos, kReadAheadBytes + 4);
  // Inside the window no system read is made; outside it the fill fails at once.
  pos = kReadAheadBytes + 50;
  plat_fault_after(kFaultFileRead, 1);
  EXPECT_EQ(s.read(fixed(4), &pos), 0);
  pos = 5;
  ASSERT_EQ(s.read(fixed(1), &pos), 5);
  EXPECT_EQ(pos, 5);
}

TEST(ReaderFaults, AFailingReadInsideAQuotedValueLeavesThePositionAtItsStart) {
  std::string data(kReadAheadBytes - 3, 'a');
  data += ",\"b,c\",d";
  Source s(Kind::Disk, data, false);
  s.rec().quoting = kQuotingCsv;
  qpos pos = 0;
  EXPECT_EQ(s.read(fixed(4), &pos), 0);
  pos = kReadAheadBytes - 2; // the opening quote; the fill of the rest fails
  plat_fault_after(kFaultFileRead, 1);
  EXPECT_EQ(s.read(delimited(",", 10), &pos), 5);
  EXPECT_EQ(pos, kReadAheadBytes - 2); // read again from there, the value comes whole
  EXPECT_EQ(s.read(delimited(",", 10), &pos), 0);
  EXPECT_EQ(s.text(), "b,c");
}

#if QM_UNICODE
// UTF-16 pieces whose next unit lies past the window, or whose unit the window's end splits
// (a window filled from an odd position), when the fill fails: 5 with the characters before,
// never half a unit taken for a character.
TEST(ReaderFaults, AFailingReadInUtf16TextGivesFiveWithWholeCharacters) {
  std::string data;
  for (qlong i = 0; i < kReadAheadBytes; ++i)
    data += i % 2 == 0 ? 'a' : '\0';
  data.append("b\0c\0,\0", 6);
  for (bool csv : {false, true}) {
    Source s(Kind::Disk, data, false);
    s.rec().encoding = kEncodingUtf16Le;
    if (csv) s.rec().quoting = kQuotingCsv;
    qpos pos = 0;
    EXPECT_EQ(s.read(fixed(2), &pos), 0); // the window from 0: its end falls between units
    pos = kReadAheadBytes - 2;
    plat_fault_after(kFaultFileRead, 1);
    EXPECT_EQ(s.read(delimited(",", 40), &pos), 5);
    EXPECT_EQ(s.text(), csv ? "" : "a"); // a CSV piece is read again from its start
    EXPECT_EQ(pos, csv ? kReadAheadBytes - 2 : kReadAheadBytes);
  }
  for (bool csv : {false, true}) {
    Source s(Kind::Disk, data, false);
    s.rec().encoding = kEncodingUtf16Le;
    if (csv) s.rec().quoting = kQuotingCsv;
    qpos pos = 1; // the window from an odd position: its end splits the unit at 65536
    EXPECT_EQ(s.read(fixed(1), &pos), 0);
    EXPECT_EQ(s.text(), "\xEF\xBF\xBD"); // a lone byte: U+FFFD
    pos = kReadAheadBytes;
    plat_fault_after(kFaultFileRead, 1);
    EXPECT_EQ(s.read(delimited(",", 40), &pos), 5);
    EXPECT_EQ(s.text(), "");
    EXPECT_EQ(pos, kReadAheadBytes);
    EXPECT_EQ(s.read(delimited(",", 40), &pos), 0); // transient: the same read now succeeds
    EXPECT_EQ(s.text(), "bc");
    EXPECT_EQ(pos, kReadAheadBytes + 6);
  }
}
#endif

TEST(ReaderFaults, ShortReadsChangeNothing) {
  std::string data;
  for (int i = 0; data.size() < 200000; ++i)
    data += std::to_string(i) + (i % 7 ? "," : "\r\n");
  auto readAll = [&](bool shortReads) {
    Source s(Kind::Disk, data, false);
    if (shortReads) plat_fault_from(kFaultFileShortRead, 1);
    std::string all;
    qpos pos = 0;
    s.read(delimited(",", 100), &pos);
    while (true) {
      qshort code = s.readOn(delimited(",", 100), &pos);
      all += s.text() + "|" + std::to_string(code) + "|";
      if (code != 0) break;
    }
    plat_fault_after(kFaultFileShortRead, 0);
    return all + std::to_string(pos);
  };
  EXPECT_EQ(readAll(true), readAll(false));
}

TEST(ReaderFaults, FieldTextIsBoundedByItsCount) {
  // A field source whose size says more than its block holds reads only the block's bytes.
  Source s(Kind::Field, "abc", false);
  s.rec().fileSize = 10;
  qpos pos = 0;
  EXPECT_EQ(s.read(delimited(",", 20), &pos), 9);
  EXPECT_EQ(s.text(), "abc");
  EXPECT_EQ(pos, 3);
}

// A backward CSV read settles the usual record by counting its delimiters (QuickFits) rather
// than by a trial read (RecordFits); the count may only say "fits" where the trial does. Over
// formats the count serves (comma or tab entries, a last one ended by a line feed, a carriage
// return and line feed, or EOL) and formats it must leave to the trial (a raw or quoted last
// delimiter, one delimiter for all, a last one whose final byte stands in it twice, entries
// of two delimiters, entries ended by a quote), under small maxima so that over-long entries come
// often, and texts of those bytes, quotes, lone carriage returns and zero bytes.
TEST(CsvFits, TheCountSaysFitsOnlyWhereTheTrialReadDoes) {
  std::mt19937 rng(20261210);
  std::vector<char> scratch(kBufferSize);
  int counted = 0, refused = 0;
  for (int round = 0; round < 30000; ++round) {
    const auto n = static_cast<qshort>(1 + rng() % 5);
    std::vector<fieldSpec> fields(static_cast<size_t>(n));
    const char d = rng() % 2 == 0 ? ',' : '\t';
    for (fieldSpec& f : fields) {
      f.fldDelim[0] = 1;
      f.fldDelim[1] = static_cast<qbyte>(d);
      f.fldMax = static_cast<qshort>(rng() % 7);
    }
    fieldSpec& last = fields.back();
    const int kind = static_cast<int>(rng() % 10);
    if (kind == 0 || kind == 3) { // CRLF, or a quote before the line feed
      last.fldDelim[0] = 2;
      last.fldDelim[1] = kind == 0 ? '\r' : '"';
      last.fldDelim[2] = '\n';
    } else if (kind == 7) { // a last delimiter whose final byte stands in it twice
      last.fldDelim[0] = 2;
      last.fldDelim[1] = '\n';
      last.fldDelim[2] = '\n';
    } else if (kind == 8 && n > 2) { // one entry before the last ends at another byte
      fields[static_cast<size_t>(n) - 2].fldDelim[1] = d == ',' ? '\t' : ',';
      last.fldDelim[1] = '\n';
    } else if (kind == 9) { // the entries end at a quote
      for (fieldSpec& f : fields)
        f.fldDelim[1] = '"';
      last.fldDelim[1] = '\n';
    } else if (kind != 4) { // 4: the entries' own delimiter ends the record too
      last.fldDelim[1] = '\n';
      if (kind == 1) last.fldFlags = kFieldEol;
      if (kind == 2) last.fldFlags = kFieldRaw;
    }
    for (fieldSpec& f : fields)
      PlanPiece(&f);
    importFileSpec rec{};
    rec.quoting = kQuotingCsv;
    rec.fields = fields.data();
    rec.fldCount = n;
    PlanRecord(&rec);
    if (n < 2 || kind == 2 || kind == 3 || kind == 4 || kind == 7 || kind == 9 ||
        (kind == 8 && n > 2)) {
      ASSERT_EQ(rec.fitDelim, 0) << "round " << round << ", kind " << kind;
      ++refused;
    }
    std::string text;
    const auto size = rng() % 30;
    for (size_t i = 0; i < size; ++i)
      text += rng() % 8 == 0 ? std::string(1, "\"\r\n\0"[rng() % 4])
                             : std::string(1, "ab,\t"[rng() % 4]);
    const qshort len = DelimiterLength(&last);
    if (rng() % 2 == 0)
      text.append(reinterpret_cast<const char*>(last.fldDelim + 1), static_cast<size_t>(len));
    const bool endsWithDelim =
        text.size() >= static_cast<size_t>(len) &&
        std::equal(text.end() - len, text.end(), reinterpret_cast<const char*>(last.fldDelim + 1));
    std::vector<char> bytes(text.begin(), text.end()); // exactly the bytes that may be read
    const auto textSize = static_cast<qlong>(bytes.size());
    if (!QuickFits(&rec, bytes.data(), textSize, endsWithDelim)) continue;
    ++counted;
    ASSERT_TRUE(RecordFits(&rec, bytes.data(), textSize, endsWithDelim, scratch.data(), nullptr))
        << "round " << round << ", kind " << kind << ", " << n << " entries: " << text;
  }
  // Both answers came often enough for the comparison to mean something.
  EXPECT_GT(counted, 2000);
  EXPECT_GT(refused, 2000);
}

#if QM_QUICK_PIECES
// The quick looks take a piece only as the in-place path would: the 16-byte look near a
// run's end (ending with it) and the 64-byte block from any origin up to 20 bytes before
// the piece, over runs of commas, zero bytes, quotes and line ends, under maxima around the
// looks' sizes, for plain and raw fields. Each run is exactly the bytes that may be read.
TEST(QuickLooks, TakeAPieceOnlyAsTheInPlacePathFindsIt) {
  std::mt19937 rng(20261209);
  int quickTaken = 0, blockTaken = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<char> run(static_cast<size_t>(1 + rng() % 90));
    for (char& b : run)
      b = "ab,,\0\"\n"[rng() % 7];
    fieldSpec f{};
    f.fldDelim[0] = 1;
    f.fldDelim[1] = ',';
    f.fldMax = static_cast<qshort>(rng() % 70);
    if (rng() % 4 == 0) f.fldFlags |= kFieldRaw;
    PlanPiece(&f);
    importFileSpec rec{};
    pieceCursor cursor{};
    cursor.rec = &rec;
    cursor.run = run.data();
    cursor.runStart = 0;
    cursor.runCount = static_cast<qlong>(run.size());
    cursor.quotes.stops[0] = true;
    cursor.quotes.quote = kQuoteByte;
    cursor.quotes.stops[1] = rng() % 2 == 0;
    const auto size = static_cast<qlong>(run.size());
    for (qlong at = 0; at < size; ++at) {
      SCOPED_TRACE("round " + std::to_string(round) + ", at " + std::to_string(at));
      qpos pos = at;
      const char* text = nullptr;
      qlong length = -1;
      const bool inPlace = ReadPieceInPlace(&cursor, &f, &pos, &text, &length);
      const int quick = QuickPieceLength(&f, cursor.quotes, run.data() + at, size - at, at);
      if (quick >= 0) {
        ++quickTaken;
        ASSERT_TRUE(inPlace);
        ASSERT_EQ(quick, length);
      }
      pieceBlock block{};
      block.delim = ',';
      const qlong origin = at - std::min<qlong>(at, static_cast<qlong>(rng() % 21));
      LoadPieceBlock(&block, run.data() + origin, size - origin);
      ASSERT_TRUE(BlockServes(block, &f));
      const int fromBlock = BlockPieceLength(block, &f, cursor.quotes, run.data() + at);
      if (fromBlock >= 0) {
        ++blockTaken;
        ASSERT_TRUE(inPlace);
        ASSERT_EQ(fromBlock, length);
      }
      // A miss is only where the block does not reach the piece's delimiter.
      if (fromBlock == kBlockMisses && block.start != nullptr && at - origin < block.bytes) {
        ASSERT_TRUE(std::find(run.begin() + at, run.begin() + origin + block.bytes, ',') ==
                        run.begin() + origin + block.bytes &&
                    std::find(run.begin() + at, run.begin() + origin + block.bytes, '\0') ==
                        run.begin() + origin + block.bytes);
      }
    }
  }
  // Both looks answered often enough for the comparisons to mean something.
  EXPECT_GT(quickTaken, 20000);
  EXPECT_GT(blockTaken, 20000);
}
#endif

} // namespace
