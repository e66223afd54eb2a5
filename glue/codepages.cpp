// The one-byte code pages the Unicode builds decode by tables of their own: Windows-1252,
// ISO-8859-15 and Mac Roman. Each page's lower half is ASCII, so delimiters, quotes and line
// ends are the same bytes in every page and the reader needs no table; only the text stored
// into a field, and the characters a method gives to look for, pass through one.
#include "XPqUtil.h"

#if QM_UNICODE

namespace {

struct pageChars {
  qchar chars[256];
};

constexpr pageChars latin1() {
  pageChars page{};
  for (int b = 0; b < 256; ++b)
    page.chars[b] = static_cast<qchar>(b);
  return page;
}

// A page that is ISO-8859-1 but for the run of characters of its own from byte first on
// (U+FFFD where it leaves a byte undefined).
template <size_t n> constexpr pageChars latin1But(int first, const qchar (&own)[n]) {
  pageChars page = latin1();
  for (size_t k = 0; k < n; ++k)
    page.chars[first + static_cast<int>(k)] = own[k];
  return page;
}

// Windows-1252: letters and punctuation where ISO-8859-1 has the control characters 0x80 to
// 0x9F, five of them undefined.
constexpr qchar kWindows1252[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// ISO-8859-15: eight characters of ISO-8859-1 replaced.
struct byteChar {
  int byte;
  qchar c;
};
constexpr byteChar kLatin9[8] = {{0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161}, {0xB4, 0x017D},
                                 {0xB8, 0x017E}, {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178}};

// Mac Roman's upper half, which shares little with ISO-8859-1.
constexpr qchar kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3,
    0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3,
    0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA,
    0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D,
    0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE,
    0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

// The whole pages, so that decoding is one load a byte.
constexpr pageChars latin9() {
  pageChars page = latin1();
  for (const byteChar& e : kLatin9)
    page.chars[e.byte] = e.c;
  return page;
}
constexpr pageChars kPages[3] = {latin1But(0x80, kWindows1252), latin9(),
                                 latin1But(0x80, kMacRoman)};

} // namespace

const qchar* CodePageChars(qshort page) {
  if (page < kCodePageWindows1252 || page > kCodePageMacRoman) return nullptr;
  return kPages[page - kCodePageWindows1252].chars;
}

int CHRqcharToCodePage(qchar c, qshort page) {
  const qchar* chars = CodePageChars(page);
  if (!chars || c == 0xFFFD) return -1; // U+FFFD stands for no byte of a page
  if (c < 0x80) return static_cast<int>(c);
  for (int b = 0x80; b < 0x100; ++b)
    if (chars[b] == c) return b;
  return -1;
}

qlong CHRqcharsToCodePage(const qchar* chars, qlong most, qshort page, qbyte* bytes) {
  qlong n = 0;
  for (; n < most && chars[n] != 0; ++n) {
    const int b = CHRqcharToCodePage(chars[n], page);
    if (b < 0) return -1;
    bytes[n] = static_cast<qbyte>(b);
  }
  return chars[n] == 0 ? n : -1;
}

#endif
