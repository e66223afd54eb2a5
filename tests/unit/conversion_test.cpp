// Character conversions between host characters, UTF-16, UTF-8 and 8-bit text.
#include "glue/XPqUtil.h"
#include "glue/callback.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using qstring = std::basic_string<qchar>;

TEST(Widening, BytesKeepTheirValue) {
  const char text[] = "A\xE9\xFF";
  qchar out[4] = {9, 9, 9, 9};
  CHRcopyAsciiStringToQchar(text, out, 1);
  EXPECT_EQ(out[0], static_cast<qchar>('A'));
  EXPECT_EQ(out[1], static_cast<qchar>(0xE9)); // not sign-extended
  EXPECT_EQ(out[2], static_cast<qchar>(0xFF));
  EXPECT_EQ(out[3], 0);
  qchar unterminated[3] = {7, 7, 7};
  CHRcopyAsciiStringToQchar("ab", unterminated, 0);
  EXPECT_EQ(unterminated[2], 7);
}

TEST(Literals, ConvertLiteralAndStringHelpers) {
  qchar* lit = convertLiteral("#LN");
  ASSERT_NE(lit, nullptr);
  EXPECT_EQ(OMstrlen(lit), 3);
  EXPECT_EQ(lit[0], static_cast<qchar>('#'));
  qchar buf[16] = {};
  buf[0] = 'x';
  EXPECT_EQ(OMstrcat(buf, lit), buf);
  EXPECT_EQ(OMstrlen(buf), 4);
  EXPECT_EQ(OMstrcat(buf, nullptr), buf);
  EXPECT_EQ(OMstrlen(buf), 4);
  EXPECT_EQ(OMstrlen(nullptr), 0);
  std::free(lit);
}

#if QM_UNICODE
qstring q(std::initializer_list<uint32_t> units) {
  qstring s;
  for (uint32_t u : units)
    s += static_cast<qchar>(u);
  return s;
}

std::string utf8(std::initializer_list<uint32_t> units) {
  qstring s = q(units);
  char out[64];
  std::memset(out, 0x77, sizeof out);
  myCHRcopyQcharStringToAscii(s.c_str(), out, 1);
  return out;
}

// Each page against characters taken from its published table; every byte it defines is
// the only byte for its character, so a character written and read back stays itself.
TEST(CodePages, BytesAndCharactersRoundTrip) {
  struct sample {
    qshort page;
    qbyte byte;
    qchar c;
  };
  const sample kSamples[] = {
      {kCodePageWindows1252, 0x80, 0x20AC}, {kCodePageWindows1252, 0x93, 0x201C},
      {kCodePageWindows1252, 0x9F, 0x0178}, {kCodePageWindows1252, 0xE9, 0x00E9},
      {kCodePageLatin9, 0xA4, 0x20AC},      {kCodePageLatin9, 0xBC, 0x0152},
      {kCodePageLatin9, 0xE9, 0x00E9},      {kCodePageMacRoman, 0x80, 0x00C4},
      {kCodePageMacRoman, 0xDB, 0x20AC},    {kCodePageMacRoman, 0xF0, 0xF8FF},
      {kCodePageMacRoman, 0xFF, 0x02C7}};
  for (const sample& s : kSamples) {
    EXPECT_EQ(CodePageChars(s.page)[s.byte], s.c) << s.page << " " << int{s.byte};
    EXPECT_EQ(CHRqcharToCodePage(s.c, s.page), s.byte);
  }
  for (qshort page = kCodePageWindows1252; page <= kCodePageMacRoman; ++page) {
    const qchar* chars = CodePageChars(page);
    for (int b = 0; b < 256; ++b) {
      if (chars[b] == 0xFFFD) continue;
      EXPECT_EQ(CHRqcharToCodePage(chars[b], page), b) << page << " " << b;
    }
    EXPECT_EQ(CHRqcharToCodePage(0x4E2D, page), -1); // no page writes Chinese
    EXPECT_EQ(CHRqcharToCodePage(0xFFFD, page), -1); // the undefined bytes' stand-in
  }
  // Windows-1252 leaves five bytes undefined; the others define all 256.
  for (qbyte b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
    EXPECT_EQ(CodePageChars(kCodePageWindows1252)[b], 0xFFFDu);
  EXPECT_EQ(CodePageChars(0), nullptr);
  EXPECT_EQ(CHRqcharToCodePage('a', 0), -1);
}

TEST(Utf8, EveryLength) {
  EXPECT_EQ(utf8({0x41}), "\x41");
  EXPECT_EQ(utf8({0xE9}), "\xC3\xA9");
  EXPECT_EQ(utf8({0x20AC}), "\xE2\x82\xAC");
  EXPECT_EQ(utf8({0xD800}), "\xED\xA0\x80");
  EXPECT_EQ(utf8({0x1F600}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8({0x110000}), "\xF4\x90\x80\x80");
  EXPECT_EQ(utf8({0x200000}), "\xF8\x88\x80\x80\x80");
  EXPECT_EQ(utf8({0x4000000}), "\xFC\x84\x80\x80\x80\x80");
  EXPECT_EQ(utf8({0x80000000}), "\xFE\x80\x80\x80\x80\x80");
  EXPECT_EQ(utf8({0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000}),
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80");
}

TEST(Utf8, WithoutTerminatorTheNextByteStays) {
  qstring s = q({0x41, 0xE9});
  char out[8];
  std::memset(out, 0x77, sizeof out);
  myCHRcopyQcharStringToAscii(s.c_str(), out, 0);
  EXPECT_EQ(std::string(out, 4), "A\xC3\xA9\x77");
}

TEST(Utf16, FromHostCharacters) {
  oschar out[8];
  qstring s = q({0x1F600});
  EXPECT_EQ(CHRcharToOschar(s.c_str(), out), 2);
  EXPECT_EQ(out[0], 0xD83D);
  EXPECT_EQ(out[1], 0xDE00);
  EXPECT_EQ(out[2], 0);
  s = q({0x110000});
  EXPECT_EQ(CHRcharToOschar(s.c_str(), out), 1);
  EXPECT_EQ(out[0], 0x0001);
  s = q({});
  EXPECT_EQ(CHRcharToOschar(s.c_str(), out), 0);
  EXPECT_EQ(out[0], 0);
}

TEST(Utf16, InPlaceGivesTheSameUnits) {
  qstring mixed = q({0x41, 0x1F600, 0xE9, 0x10FFFF, 0x110000, 0xD800, 0x10000, 0x5A});
  std::vector<oschar> separate(2 * mixed.size() + 1);
  qlong n = CHRcharToOschar(mixed.c_str(), separate.data());
  qstring inPlace = mixed;
  auto* units = reinterpret_cast<oschar*>(inPlace.data());
  EXPECT_EQ(CHRcharToOschar(inPlace.c_str(), units), n);
  for (qlong i = 0; i <= n; ++i)
    EXPECT_EQ(units[i], separate[i]) << i;
}

TEST(Utf16, ToHostCharacters) {
  qchar out[8];
  const oschar pair[] = {0xD83D, 0xDE00, 0};
  EXPECT_EQ(CHRoscharToChar(pair, out), 1);
  EXPECT_EQ(out[0], static_cast<qchar>(0x1F600));
  const oschar reversed[] = {0xDE00, 0xD83D, 0};
  EXPECT_EQ(CHRoscharToChar(reversed, out), 1);
  EXPECT_EQ(out[0], static_cast<qchar>(0x0002));
  const oschar lone[] = {0xD83D, 0};
  EXPECT_EQ(CHRoscharToChar(lone, out), 1);
  EXPECT_EQ(out[0], static_cast<qchar>(0x0001));
  const oschar swallowed[] = {0xDC00, 0x0041, 0x0042, 0};
  EXPECT_EQ(CHRoscharToChar(swallowed, out), 2);
  EXPECT_EQ(out[0], static_cast<qchar>(0x0002));
  EXPECT_EQ(out[1], static_cast<qchar>(0x42));
  EXPECT_EQ(out[2], 0);
}

TEST(Narrowing, KeepsTheLowByte) {
  char out[4] = {9, 9, 9, 9};
  qstring s = q({0x20AC, 0xE9});
  CHRcopyQcharStringToAscii(s.c_str(), out, 1);
  EXPECT_EQ(std::string(out), "\xAC\xE9");
  s = q({0x41, 0x100, 0x42}); // U+0100 narrows to 0, which ends the 8-bit text
  CHRcopyQcharStringToAscii(s.c_str(), out, 1);
  EXPECT_EQ(std::string(out), "A");
}

XPHandle qhandle(const qstring& chars) {
  XPHandle h = NewXPHandle(static_cast<qlong>(4 + 4 * chars.size()));
  auto* block = static_cast<char*>(LockXPHandle(h));
  auto count = static_cast<qlong>(chars.size());
  std::memcpy(block, &count, 4);
  std::copy(chars.begin(), chars.end(), reinterpret_cast<qchar*>(block + 4));
  UnlockXPHandle(h);
  return h;
}

std::string asciiHandleText(XPHandle h) {
  auto* block = static_cast<char*>(LockXPHandle(h));
  qlong n = 0;
  std::memcpy(&n, block, 4);
  std::string out(block + 4, static_cast<size_t>(n));
  UnlockXPHandle(h);
  return out;
}

TEST(FieldText, BecomesUtf8InAHandleOfItsOwn) {
  XPHandle h = qhandle(q({0x41, 0xE9}));
  ASSERT_EQ(convertQHStrToAsciiHStr(&h), 1);
  EXPECT_EQ(asciiHandleText(h), "A\xC3\xA9");
  DisposeXPHandle(h);

  h = qhandle(q({}));
  ASSERT_EQ(convertQHStrToAsciiHStr(&h), 1);
  EXPECT_EQ(asciiHandleText(h), "");
  DisposeXPHandle(h);

  h = qhandle(q({0x61, 0, 0x62}));
  ASSERT_EQ(convertQHStrToAsciiHStr(&h), 1);
  EXPECT_EQ(asciiHandleText(h), "a"); // a 0 character ends the text
  DisposeXPHandle(h);
}

TEST(FieldText, FailuresLeaveTheHandleAlone) {
  EXPECT_EQ(convertQHStrToAsciiHStr(nullptr), 0);
  XPHandle none = nullptr;
  EXPECT_EQ(convertQHStrToAsciiHStr(&none), 0);
  XPHandle h = qhandle(q({0x41}));
  XPHandle before = h;
  plat_fault_after(kFaultHandleNew, 1);
  EXPECT_EQ(convertQHStrToAsciiHStr(&h), 0);
  EXPECT_EQ(h, before);
  auto* block = static_cast<char*>(LockXPHandle(h));
  qchar c;
  std::memcpy(&c, block + 4, 4);
  EXPECT_EQ(c, static_cast<qchar>(0x41));
  UnlockXPHandle(h);
  DisposeXPHandle(h);
}

TEST(FieldText, LargeTextsConvertWhole) {
  // Far above the zero-fill limit: every byte of the result must have been written.
  XPHandle h = qhandle(qstring(100000, 'x'));
  ASSERT_EQ(convertQHStrToAsciiHStr(&h), 1);
  EXPECT_EQ(asciiHandleText(h), std::string(100000, 'x'));
  DisposeXPHandle(h);
}
#endif

#if QM_MAC
TEST(FieldText, MacWidensEveryCountedByte) {
  XPHandle h = NewXPHandle(4 + 3);
  auto* block = static_cast<char*>(LockXPHandle(h));
  qlong n = 3;
  std::memcpy(block, &n, 4);
  std::memcpy(block + 4, "a\0\xE9", 3);
  UnlockXPHandle(h);
  ASSERT_EQ(convertAsciiHStrToQHStr(&h), 1);
  block = static_cast<char*>(LockXPHandle(h));
  std::memcpy(&n, block, 4);
  EXPECT_EQ(n, 3);
  qchar chars[4];
  std::memcpy(chars, block + 4, sizeof chars);
  EXPECT_EQ(chars[0], static_cast<qchar>('a'));
  EXPECT_EQ(chars[1], 0);
  EXPECT_EQ(chars[2], static_cast<qchar>(0xE9));
  EXPECT_EQ(chars[3], 0);
  UnlockXPHandle(h);
  DisposeXPHandle(h);
}

TEST(MacCopies, SixteenBitUnits) {
  oschar units[4] = {9, 9, 9, 9};
  CHRcopyAsciiStringToQoschar("a\xE9", units, 1);
  EXPECT_EQ(units[1], 0xE9);
  EXPECT_EQ(units[2], 0);
  char back[4] = {};
  CHRcopyQoscharStringToAscii(units, back, 1);
  EXPECT_EQ(std::string(back), "a\xE9");
  qchar data[3] = {7, 7, 7};
  CHRcopyAsciiDataToQchar("x\0y", 3, data);
  EXPECT_EQ(data[1], 0);
  EXPECT_EQ(data[2], static_cast<qchar>('y'));
  CHRcopyAsciiDataToQoschar("zz", 0, units);
  EXPECT_EQ(units[0], static_cast<oschar>('a'));
}
#endif

} // namespace
