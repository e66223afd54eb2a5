// The library's SSE2 paths, and the one check that chooses them: the byte searches under the
// reader, the byte masks of the backward one, and the widening of texts to host characters
// (where the processor has no AVX2, base/avx2.h, for long ones). Their callers keep a plain
// path beside each, and take it wherever usable() is false.
//
// SSE2 is the baseline of every x86-64 processor: there the compiler targets it, usable() is
// a constant and these are ordinary inline code. A 32-bit x86 build must run on any i686, so
// it compiles these functions alone for SSE2 and asks the processor once, when the library is
// loaded; so does the coverage build (QM_SSE2_ASKED), so that its tests run and measure both
// paths. Any other processor, or a build with QM_NO_SSE2 (the plain-path test build), has the
// plain paths alone.
#ifndef QUILLOMAR_SSE2_H
#define QUILLOMAR_SSE2_H

#include "qtypes.h"

#include <cstddef>

#if defined(QM_NO_SSE2)
#define QM_SSE2 0
#elif defined(__SSE2__) && !defined(QM_SSE2_ASKED)
#define QM_SSE2 1
#define QM_SSE2_CHECKED 0
#define QM_SSE2_FN inline
#elif (defined(__i386__) || defined(QM_SSE2_ASKED)) && defined(__GNUC__)
#define QM_SSE2 1
#define QM_SSE2_CHECKED 1
// Never inlined into their plain callers (other instruction set); a 32-bit Windows caller
// keeps its stack aligned to 4 bytes only, so each realigns its own.
#define QM_SSE2_FN inline __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define QM_SSE2 0
#endif

#if QM_SSE2
#include <emmintrin.h>
#if QM_SSE2_CHECKED
#include <cpuid.h>
#endif

namespace sse2 {

#if QM_SSE2_CHECKED
inline bool processorHasSse2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(1, &a, &b, &c, &d) != 0 && (d & bit_SSE2) != 0;
}
// Set when the library is loaded (before that, false: the plain paths). The tests clear it
// to run the plain paths of this build too.
extern bool gUsable; // defined once, in base/cpu.cpp
inline bool usable() { return gUsable; }
#else
constexpr bool usable() { return true; }
#endif

// The first byte equal to c or to 0 in [p, end), 16 bytes at a time, or null. Each load
// stays before readable (at or past end); what a load takes past end is masked off. When it
// finds none, p is left where the loads stopped: at or past end, or within 16 bytes of
// readable, for the plain search to go on from.
QM_SSE2_FN const char* findByteOrZero(const char*& p, const char* end, const char* readable,
                                      char c) {
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
  return nullptr;
}

// The same, stopping at a second byte too (the piece rule's stop). Each
// load stays before readable (at or past end); what a load takes past end is masked off. When
// it finds none, p is left where the loads stopped: at or past end, or within 16 bytes of
// readable, for the plain search to go on from.
QM_SSE2_FN const char* findByteOrZero(const char*& p, const char* end, const char* readable, char c,
                                      char stop) {
  const __m128i pattern = _mm_set1_epi8(c);
  const __m128i other = _mm_set1_epi8(stop);
  const __m128i zero = _mm_setzero_si128();
  while (p < end && readable - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    auto hits = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, pattern), _mm_cmpeq_epi8(v, other)),
                     _mm_cmpeq_epi8(v, zero))));
    if (end - p < 16) hits &= (1u << (end - p)) - 1;
    if (hits != 0) return p + __builtin_ctz(hits);
    p += 16;
  }
  return nullptr;
}

// The first byte equal to c in [p, end), 16 bytes at a time while 16 remain, or null; p is
// then left where the loads stopped, fewer than 16 bytes before end, for a plain search to
// go on from. Every load lies inside [p, end).
QM_SSE2_FN const char* findByte(const char*& p, const char* end, char c) {
  const __m128i pattern = _mm_set1_epi8(c);
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, pattern)));
    if (hits != 0) return p + __builtin_ctz(hits);
  }
  return nullptr;
}

// The last byte equal to c in the last n - n % 16 bytes of [p, p + n), 16 at a time from the
// end, or null: the first n % 16 bytes are left for the plain search. Every load lies inside
// [p, p + n).
QM_SSE2_FN const char* findLastByte(const char* p, qlong n, char c) {
  const __m128i pattern = _mm_set1_epi8(c);
  for (const char* end = p + n; end - p >= 16; end -= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
    const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, pattern)));
    if (hits != 0) return end - 16 + (31 - __builtin_clz(hits));
  }
  return nullptr;
}

// Which of the 16 bytes at p equal c or 0: bit i for byte i.
QM_SSE2_FN unsigned byteOrZeroMask(const char* p, char c) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(_mm_movemask_epi8(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(c)), _mm_cmpeq_epi8(v, _mm_setzero_si128()))));
}

// Which of the 16 bytes at p are beyond ASCII (their high bit set): bit i for byte i.
QM_SSE2_FN unsigned highBitMask(const char* p) {
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

// Which of the 16 bytes at p equal c, stop or 0: bit i for byte i.
QM_SSE2_FN unsigned byteOrZeroMask(const char* p, char c, char stop) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(c)), _mm_cmpeq_epi8(v, _mm_set1_epi8(stop))),
      _mm_cmpeq_epi8(v, _mm_setzero_si128()))));
}

// Which of the 16 bytes at p equal a (*ma) and which equal b (*mb): bit i for byte i.
QM_SSE2_FN void matchMasks(const char* p, char a, char b, unsigned* ma, unsigned* mb) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  *ma = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(a))));
  *mb = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(b))));
}

// The two bytes of each of 8 UTF-16 code units swapped: big-endian units read as the
// little-endian ones the searches compare.
QM_SSE2_FN __m128i swapUnitBytes(__m128i v) {
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// UTF-16 code units narrowed to bytes while each is ASCII and none of the count bytes at
// specials: units units at p (big: big-endian), 8 at a time, each block's 8 bytes stored at
// out (which holds units bytes). Returns how many were taken; the block where a unit stopped
// it is stored too, its bytes from that unit on meaning nothing.
QM_SSE2_FN qlong narrowAsciiUnits(const char* p, qlong units, bool big, const char* specials,
                                  int count, char* out) {
  const __m128i notAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  qlong done = 0;
  while (units - done >= 8) {
    __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * static_cast<ptrdiff_t>(done)));
    if (big) v = swapUnitBytes(v);
    __m128i stops = _mm_cmpeq_epi16(_mm_and_si128(v, notAscii), zero); // all set: ASCII
    stops = _mm_xor_si128(stops, _mm_cmpeq_epi16(zero, zero));         // set: not ASCII
    for (int k = 0; k < count; ++k)
      stops =
          _mm_or_si128(stops, _mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<qbyte>(specials[k]))));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + done), _mm_packus_epi16(v, v));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (mask != 0) return done + __builtin_ctz(mask) / 2;
    done += 8;
  }
  return done;
}

#if QM_UNICODE
// Of units UTF-16 code units at p (big: big-endian), 8 at a time, how many come before the
// first that is one of the 7 bytes at specials or a surrogate; a multiple of 8 short of units
// when none is found in the whole blocks (the caller looks at the rest).
QM_SSE2_FN qlong unitStops(const char* p, qlong units, bool big, const qbyte* specials) {
  const __m128i surrogateBits = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  __m128i s[7];
  for (int k = 0; k < 7; ++k)
    s[k] = _mm_set1_epi16(specials[k]);
  qlong done = 0;
  while (units - done >= 8) {
    __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * static_cast<ptrdiff_t>(done)));
    if (big) v = swapUnitBytes(v);
    __m128i stops = _mm_cmpeq_epi16(_mm_and_si128(v, surrogateBits), surrogate);
    for (const __m128i& c : s)
      stops = _mm_or_si128(stops, _mm_cmpeq_epi16(v, c));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (mask != 0) return done + __builtin_ctz(mask) / 2;
    done += 8;
  }
  return done;
}

// Of the whole blocks of 8 among the units UTF-16 code units at p, each unit compared as
// the two bytes it lies in (raw: the same two bytes, as std::memcpy reads them): how many are
// c, or -1 when watch and one of them is a or b.
QM_SSE2_FN qlong countUnits(const char* p, qlong units, uint16_t c, bool watch, uint16_t a,
                            uint16_t b) {
  const __m128i vc = _mm_set1_epi16(static_cast<short>(c));
  const __m128i va = _mm_set1_epi16(static_cast<short>(a));
  const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
  __m128i sums = _mm_setzero_si128(); // four 32-bit sums
  qlong i = 0;
  while (i + 8 <= units) {
    __m128i lanes = _mm_setzero_si128(); // each lane's count, at most 32767 blocks a round
    for (int inLanes = 0; inLanes < 32767 && i + 8 <= units; ++inLanes, i += 8) {
      const __m128i v =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * static_cast<ptrdiff_t>(i)));
      if (watch &&
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb))) != 0)
        return -1;
      lanes = _mm_sub_epi16(lanes, _mm_cmpeq_epi16(v, vc)); // a match is -1
    }
    sums = _mm_add_epi32(sums, _mm_madd_epi16(lanes, _mm_set1_epi16(1)));
  }
  sums = _mm_add_epi32(sums, _mm_srli_si128(sums, 8));
  return _mm_cvtsi128_si32(_mm_add_epi32(sums, _mm_srli_si128(sums, 4)));
}

// The last of the units UTF-16 code units at p that is raw (as countUnits compares them),
// looked for in the whole blocks of 8 that end with them: its index, or -1 (the first
// units % 8 are the caller's).
QM_SSE2_FN qlong lastUnit(const char* p, qlong units, uint16_t raw) {
  const __m128i vr = _mm_set1_epi16(static_cast<short>(raw));
  for (qlong end = units; end >= 8; end -= 8) {
    const __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * static_cast<ptrdiff_t>(end - 8)));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, vr)));
    if (mask != 0) return end - 8 + (31 - __builtin_clz(mask)) / 2;
  }
  return -1;
}

// Widens n UTF-16 code units at in (big: big-endian; 8 or more, none a surrogate) into n
// characters at out: 8 at a time, the last 8 ending with them (overlapping as widenLong does).
QM_SSE2_FN void widenUnits(qchar* out, const char* in, qlong n, bool big) {
  static_assert(sizeof(qchar) == 4, "a unit becomes a 4-byte character");
  const __m128i zero = _mm_setzero_si128();
  for (qlong i = 0;; i += 8) {
    if (i + 8 > n) i = n - 8; // the last 8, overlapping the ones before
    __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * static_cast<ptrdiff_t>(i)));
    if (big) v = swapUnitBytes(v);
    auto* at = reinterpret_cast<__m128i*>(out + i);
    _mm_storeu_si128(at, _mm_unpacklo_epi16(v, zero));
    _mm_storeu_si128(at + 1, _mm_unpackhi_epi16(v, zero));
    if (i + 8 == n) return;
  }
}

// Widens the n bytes at value (n a multiple of 16, all readable) into n host characters,
// 16 at a time: bytes are unpacked with zeros, never sign-extended.
template <size_t n> QM_SSE2_FN void widen(qchar* chars, const char* value) {
  static_assert(n % 16 == 0 && sizeof(qchar) == 4, "16 bytes become four 4-character stores");
  const __m128i zero = _mm_setzero_si128();
  for (size_t i = 0; i < n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(value + i));
    const __m128i lo = _mm_unpacklo_epi8(v, zero);
    const __m128i hi = _mm_unpackhi_epi8(v, zero);
    auto* out = reinterpret_cast<__m128i*>(chars + i);
    _mm_storeu_si128(out, _mm_unpacklo_epi16(lo, zero));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(lo, zero));
    _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(hi, zero));
    _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(hi, zero));
  }
}

// Widens the n bytes at in (16 or more) into n characters at out: 16 at a time, the last 16
// ending with them. When n is no multiple of 16 those overlap the 16 before and write the
// same characters again, so that no loop over the last few bytes depends on n.
QM_SSE2_FN void widenLong(qchar* out, const char* in, qlong n) {
  for (qlong i = 0; i + 16 <= n; i += 16)
    widen<16>(out + i, in + i);
  if (n % 16 != 0) widen<16>(out + n - 16, in + n - 16);
}
#endif

} // namespace sse2
#endif

#endif
