// Byte searches a word at a time, shared by the forward and backward readers. Plain C++ on
// every target (8-byte words on 64-bit ones, 4-byte words on 32-bit ones such as any i686):
// no SIMD instructions, so no runtime check and no second path to keep in step.
#ifndef QUILLOMAR_SCAN_H
#define QUILLOMAR_SCAN_H

#include "../base/qtypes.h"

#include <cstddef>
#include <cstring>

namespace scan {

using word = uintptr_t;
constexpr word kOnes = ~word{0} / 0xFF;
constexpr word kHighs = kOnes * 0x80;

// A word whose zero bytes are marked by their high bit: (x - 0x01..) & ~x & 0x80.. . Its
// lowest mark is always a true one (a false one can only follow a true one, above it).
inline word zeroMarks(word x) { return (x - kOnes) & ~x & kHighs; }

} // namespace scan

// The first byte equal to c or to 0 in [p, end), or null. On a little-endian target the
// count of trailing zero bits of the marks names the byte; elsewhere the word is searched a
// byte at a time. Never reads past end.
inline const char* findByteOrZero(const char* p, const char* end, char c) {
  const scan::word pattern = scan::kOnes * static_cast<qbyte>(c);
  while (end - p >= static_cast<ptrdiff_t>(sizeof(scan::word))) {
    scan::word w = 0;
    std::memcpy(&w, p, sizeof w);
    const scan::word marks = scan::zeroMarks(w) | scan::zeroMarks(w ^ pattern);
    if (marks != 0) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      return p + __builtin_ctzll(static_cast<unsigned long long>(marks)) / 8;
#else
      break;
#endif
    }
    p += sizeof w;
  }
  for (; p < end; ++p)
    if (*p == c || *p == 0) return p;
  return nullptr;
}

// The last byte equal to c in [p, p + n), or null. A word at a time from the end: a word
// with no byte equal to c is passed over whole; within a word that may hold one the bytes
// are looked at from its end.
inline const char* findLastByte(const char* p, qlong n, char c) {
  const scan::word pattern = scan::kOnes * static_cast<qbyte>(c);
  const char* end = p + n;
  while (end - p >= static_cast<ptrdiff_t>(sizeof(scan::word))) {
    scan::word w = 0;
    std::memcpy(&w, end - sizeof w, sizeof w);
    if (scan::zeroMarks(w ^ pattern) != 0) break;
    end -= sizeof w;
  }
  while (end > p)
    if (*--end == c) return end;
  return nullptr;
}

#endif
