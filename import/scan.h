// Byte searches, shared by the forward and backward readers, and the one place that chooses
// between the SIMD paths (base/sse2.h, base/avx2.h, csvscan.h) and the plain ones: plain C++ a word
// at a time on every target (8-byte words on 64-bit ones, 4-byte words on 32-bit ones such as any
// i686), with the 16-byte SSE2 searches of base/sse2.h in front wherever that file finds them
// usable. The tests compare the two.
#ifndef QUILLOMAR_SCAN_H
#define QUILLOMAR_SCAN_H

#include "../base/qtypes.h"
#include "../base/sse2.h"
#include "csvscan.h"

#include <bit>
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

// The first byte equal to c, to stop or to 0 in [p, end), or null (a stop of 0 is none: the
// piece rule's second terminator, piece.h). On a little-endian target the count of trailing
// zero bits of the marks names the byte; elsewhere the word is searched a byte at a time.
// Never reads past end.
QM_STAGE const char* findByteOrZeroPlain(const char* p, const char* end, char c, char stop = 0) {
  const scan::word pattern = scan::kOnes * static_cast<qbyte>(c);
  const scan::word other = scan::kOnes * static_cast<qbyte>(stop);
  while (end - p >= static_cast<ptrdiff_t>(sizeof(scan::word))) {
    scan::word w = 0;
    std::memcpy(&w, p, sizeof w);
    const scan::word marks =
        scan::zeroMarks(w) | scan::zeroMarks(w ^ pattern) | scan::zeroMarks(w ^ other);
    if (marks != 0) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      return p + std::countr_zero(marks) / 8; // no 64-bit helper call on a 32-bit target
#else
      break;
#endif
    }
    p += sizeof w;
  }
  for (; p < end; ++p)
    if (*p == c || *p == 0 || *p == stop) return p;
  return nullptr;
}

#if QM_SSE2
// The plain search for the last bytes of a source, out of line: only a piece that ends within
// 16 bytes of the source's end takes it, and inline its constants were set up for every piece.
[[gnu::noinline]] inline const char* findByteOrZeroTail(const char* p, const char* end, char c,
                                                        char stop) {
  return findByteOrZeroPlain(p, end, c, stop);
}
#endif

// The same, 16 bytes at a time where SSE2 is usable, then the plain search for the rest.
// readable, at or past end, is where the bytes that may be read end: a 16-byte load may look
// past end as long as it stays before readable, and what lies past end is masked off, so a
// short piece costs one load however short its limit.
QM_STAGE const char* findByteOrZero(const char* p, const char* end, const char* readable, char c,
                                    char stop = 0) {
#if QM_SSE2
  if (sse2::usable()) {
    // Most records have no stop: their loads compare against two bytes, not three.
    const char* hit = stop != 0 ? sse2::findByteOrZero(p, end, readable, c, stop)
                                : sse2::findByteOrZero(p, end, readable, c);
    if (hit) return hit;
    if (p >= end) return nullptr;
    return findByteOrZeroTail(p, end, c, stop);
  }
#endif
  (void)readable;
  return findByteOrZeroPlain(p, end, c, stop);
}

// The quick steps for short pieces (reader.h), where SSE2 is the baseline (x86-64). A 32-bit
// x86 build leaves them out: there its positions take register pairs and its look is a call
// (the SSE2 functions are not inlined into plain code), and it took longer than the general
// rules. (The coverage build asks for SSE2 at run time but keeps them: it measures the 64-bit
// builds' code.)
#if QM_SSE2 && (!QM_SSE2_CHECKED || defined(QM_SSE2_ASKED))
#define QM_QUICK_PIECES 1
// Whether the quick steps' 16-byte looks may run.
inline bool QuickLooksUsable() { return sse2::usable(); }
// Which of the 16 bytes at p equal c, stop or 0: bit i for byte i.
inline unsigned ByteOrZeroMask16(const char* p, char c, char stop) {
  return stop != 0 ? sse2::byteOrZeroMask(p, c, stop) : sse2::byteOrZeroMask(p, c);
}
#else
#define QM_QUICK_PIECES 0
#endif

// The backward CSV search's pass over 64-byte blocks (csvscan.h), where AVX2 is usable.
#if QM_AVX2
#define QM_EVEN_BLOCKS 1
using evenScan = avx2::evenScan;
inline bool EvenBlocksUsable() { return avx2::usable(); }
inline bool NextEvenBlock(evenScan* s) { return avx2::nextEvenBlock(s); }
#else
#define QM_EVEN_BLOCKS 0
#endif

// The first byte c in [p, end), or null. Most delimiters come within a few dozen bytes: the
// nearest are looked at inline before a call to memchr would have started (64, 16 at a time,
// where SSE2 is usable; else 24, a byte at a time); the rest, a long quoted value's say, go
// to memchr, which passes long stretches fastest.
inline const char* findByte(const char* p, const char* end, char c) {
#if QM_SSE2
  const qlong nearBytes = sse2::usable() ? 64 : 24;
#else
  constexpr qlong nearBytes = 24;
#endif
  const char* near = end - p > nearBytes ? p + nearBytes : end;
#if QM_SSE2
  if (sse2::usable()) // whole loads; p is left where they stopped
    if (const char* hit = sse2::findByte(p, near, c)) return hit;
#endif
  for (; p < near; ++p)
    if (*p == c) return p;
  if (p == end) return nullptr;
  return static_cast<const char*>(std::memchr(p, c, static_cast<size_t>(end - p)));
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
  for (auto i = end - p; i > 0; --i)
    if (p[i - 1] == c) return p + i - 1;
  return nullptr;
}

// The same, 16 bytes at a time from the end where SSE2 is usable, then the plain search for
// the first bytes. Every load lies inside [p, p + n).
inline const char* findLastByte(const char* p, qlong n, char c) {
#if QM_SSE2
  if (sse2::usable()) {
    if (const char* hit = sse2::findLastByte(p, n, c)) return hit;
    return findLastBytePlain(p, n % 16, c);
  }
#endif
  return findLastBytePlain(p, n, c);
}

// Which of the count bytes at p (16 at most) equal a (*ma) and which equal b (*mb): bit i
// for byte i, a byte at a time.
inline void matchMasksPlain(const char* p, qlong count, char a, char b, unsigned* ma,
                            unsigned* mb) {
  unsigned ia = 0, ib = 0;
  for (qlong i = 0; i < count; ++i) {
    ia |= (p[i] == a ? 1u : 0u) << i;
    ib |= (p[i] == b ? 1u : 0u) << i;
  }
  *ma = ia;
  *mb = ib;
}

// The same with one 16-byte load for a whole block where SSE2 is usable. Every load lies
// inside [p, p + count).
inline void matchMasks(const char* p, qlong count, char a, char b, unsigned* ma, unsigned* mb) {
#if QM_SSE2
  if (count == 16 && sse2::usable()) {
    sse2::matchMasks(p, a, b, ma, mb);
    return;
  }
#endif
  matchMasksPlain(p, count, a, b, ma, mb);
}

// How many of the n bytes at p equal c; -1 when one of them equals a or b.
inline qlong countByteUnlessPlain(const char* p, qlong n, char c, char a, char b) {
  qlong count = 0;
  for (qlong i = 0; i < n; ++i) {
    if (p[i] == a || p[i] == b) return -1;
    count += p[i] == c ? 1 : 0;
  }
  return count;
}

// The same, 16 bytes at a time where SSE2 is usable.
inline qlong countByteUnless(const char* p, qlong n, char c, char a, char b) {
#if QM_SSE2
  if (n >= 16 && sse2::usable()) return sse2::countByteUnless(p, n, c, a, b);
#endif
  return countByteUnlessPlain(p, n, c, a, b);
}

// Of the units UTF-16 code units at p (big: big-endian), how many of the first are ASCII and
// none of the count bytes at specials, each narrowed to its byte at out (which holds units
// bytes; past the ones taken it may be written too). 0 where no SIMD path is usable: the
// caller's own loop then takes them all.
inline qlong NarrowAsciiUnits(const char* p, qlong units, bool big, const char* specials, int count,
                              char* out) {
#if QM_SSE2
  if (sse2::usable()) return sse2::narrowAsciiUnits(p, units, big, specials, count, out);
#endif
  (void)p, (void)units, (void)big, (void)specials, (void)count, (void)out;
  return 0;
}

#if QM_UNICODE
// Of the units UTF-16 code units at p (big: big-endian), how many come before the first that
// is one of the 7 ASCII bytes at specials (a slot not needed repeats another) or a surrogate
// (units when none is).
inline qlong FindUnitStop(const char* p, qlong units, bool big, const qbyte* specials) {
  qlong i = 0;
#if QM_SSE2
  if (sse2::usable()) i = sse2::unitStops(p, units, big, specials);
#endif
  const auto* b = reinterpret_cast<const qbyte*>(p);
  const int hi = big ? 0 : 1;
  for (; i < units; ++i) {
    const uint32_t u = static_cast<uint32_t>(b[2 * i + hi]) << 8 | b[2 * i + 1 - hi];
    if (u >= 0xD800 && u < 0xE000) return i;
    for (int k = 0; k < 7; ++k)
      if (u == specials[k]) return i;
  }
  return units;
}

// The two bytes at p as one value, as the unit searches below compare them: a unit is found
// by the value of its own two bytes, whatever the source's byte order.
inline uint16_t RawUnit(const char* p) {
  uint16_t raw = 0;
  std::memcpy(&raw, p, sizeof raw);
  return raw;
}

// The same for the unit u as a source in big-endian (big) or little-endian order writes it.
inline uint16_t RawUnitOf(uint32_t u, bool big) {
  const char bytes[2] = {static_cast<char>(big ? u >> 8 : u & 0xFF),
                         static_cast<char>(big ? u & 0xFF : u >> 8)};
  return RawUnit(bytes);
}

// Of the units UTF-16 code units at p, how many are raw c (RawUnit); -1 when watch and one of
// them is a or b.
inline qlong CountUnits(const char* p, qlong units, uint16_t c, bool watch = false, uint16_t a = 0,
                        uint16_t b = 0) {
  qlong count = 0;
  qlong i = 0;
#if QM_SSE2
  if (units >= 8 && sse2::usable()) {
    count = sse2::countUnits(p, units, c, watch, a, b);
    if (count < 0) return -1;
    i = units & ~qlong{7};
  }
#endif
  for (; i < units; ++i) {
    const uint16_t u = RawUnit(p + 2 * static_cast<ptrdiff_t>(i));
    if (watch && (u == a || u == b)) return -1;
    count += u == c ? 1 : 0;
  }
  return count;
}

// The index of the last of the units UTF-16 code units at p that is raw (RawUnit), or -1.
inline qlong LastUnit(const char* p, qlong units, uint16_t raw) {
  qlong head = units;
#if QM_SSE2
  if (units >= 8 && sse2::usable()) {
    if (const qlong k = sse2::lastUnit(p, units, raw); k >= 0) return k;
    head = units % 8;
  }
#endif
  for (qlong i = head - 1; i >= 0; --i)
    if (RawUnit(p + 2 * static_cast<ptrdiff_t>(i)) == raw) return i;
  return -1;
}
#endif

#endif
