// Byte searches, shared by the forward and backward readers: plain C++ a word at a time on
// every target (8-byte words on 64-bit ones, 4-byte words on 32-bit ones such as any i686),
// and, where the compiler targets SSE2 (every x86-64 processor has it; a 32-bit build for any
// i686 does not assume it), 16 bytes at a time in front of the plain search. Which is used
// is decided when the library is compiled, never at run time; the tests compare the two.
#ifndef QUILLOMAR_SCAN_H
#define QUILLOMAR_SCAN_H

#include "../base/qtypes.h"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QM_SCAN_SSE2 1
#else
#define QM_SCAN_SSE2 0
#endif

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
QM_STAGE const char* findByteOrZeroPlain(const char* p, const char* end, char c) {
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

#if QM_SCAN_SSE2
// The plain search for the last bytes of a source, out of line: only a piece that ends within
// 16 bytes of the source's end takes it, and inline its constants were set up for every piece.
[[gnu::noinline]] inline const char* findByteOrZeroTail(const char* p, const char* end, char c) {
  return findByteOrZeroPlain(p, end, c);
}
#endif

// The same, 16 bytes at a time (SSE2), then the plain search for the rest. readable, at or
// past end, is where the bytes that may be read end: a 16-byte load may look past end as long
// as it stays before readable, and what lies past end is masked off, so a short piece costs
// one load however short its limit.
QM_STAGE const char* findByteOrZero(const char* p, const char* end, const char* readable, char c) {
#if QM_SCAN_SSE2
  const __m128i pattern = _mm_set1_epi8(c);
  const __m128i zero = _mm_setzero_si128();
  while (p < end && readable - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    auto hits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, pattern), _mm_cmpeq_epi8(v, zero))));
    if (end - p < 16) hits &= (1u << (end - p)) - 1;
    if (hits != 0) return p + __builtin_ctz(hits);
    p += 16;
  }
  if (p >= end) return nullptr;
  return findByteOrZeroTail(p, end, c);
#else
  (void)readable;
  return findByteOrZeroPlain(p, end, c);
#endif
}

// The last byte equal to c in [p, p + n), or null. A word at a time from the end: a word
// with no byte equal to c is passed over whole; within a word that may hold one the bytes
// are looked at from its end.
inline const char* findLastBytePlain(const char* p, qlong n, char c) {
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

// The same, 16 bytes at a time from the end (SSE2), then the plain search for the first
// bytes. Every load lies inside [p, p + n).
inline const char* findLastByte(const char* p, qlong n, char c) {
#if QM_SCAN_SSE2
  const __m128i pattern = _mm_set1_epi8(c);
  const char* end = p + n;
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
    const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, pattern)));
    if (hits != 0) return end - 16 + (31 - __builtin_clz(hits));
    end -= 16;
  }
  return findLastBytePlain(p, static_cast<qlong>(end - p), c);
#else
  return findLastBytePlain(p, n, c);
#endif
}

#endif
