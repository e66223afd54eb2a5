// The reader's own SIMD kernels, for CSV quoting: a count of a delimiter in a record that
// holds no quote (a backward read's quick fit, SSE2), and a backward pass over blocks of 64
// bytes for line ends outside quotes (AVX2). Only import/scan.h includes this file and
// chooses between these and the plain code.
#ifndef QUILLOMAR_CSVSCAN_H
#define QUILLOMAR_CSVSCAN_H

#include "../base/avx2.h"
#include "../base/sse2.h"

#if QM_SSE2
namespace sse2 {

// The bytes of v where keep is set: whether none equals a stop byte (stops); if so, each
// that matches adds one to its lane of *lanes.
QM_SSE2_FN bool countLanes(__m128i v, __m128i keep, __m128i match, __m128i stopA, __m128i stopB,
                           __m128i* lanes) {
  const __m128i stop = _mm_or_si128(_mm_cmpeq_epi8(v, stopA), _mm_cmpeq_epi8(v, stopB));
  if (_mm_movemask_epi8(_mm_and_si128(stop, keep)) != 0) return false;
  *lanes = _mm_sub_epi8(*lanes, _mm_and_si128(_mm_cmpeq_epi8(v, match), keep)); // a match is -1
  return true;
}

// How many of the n bytes at p (16 or more) equal c, or -1 as soon as one equals a or b: 16
// at a time, the last few through a load that ends with them, masked to the bytes not yet
// looked at. Matches are summed in byte lanes, folded out every 255 loads, before they can
// wrap. Every load lies inside [p, p + n).
QM_SSE2_FN qlong countByteUnless(const char* p, qlong n, char c, char a, char b) {
  const __m128i match = _mm_set1_epi8(c);
  const __m128i stopA = _mm_set1_epi8(a);
  const __m128i stopB = _mm_set1_epi8(b);
  const __m128i zero = _mm_setzero_si128();
  const __m128i all = _mm_cmpeq_epi8(zero, zero);
  __m128i sums = zero; // in its two 64-bit halves
  __m128i lanes = zero;
  qlong i = 0;
  for (int inLanes = 0; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    if (!countLanes(v, all, match, stopA, stopB, &lanes)) return -1;
    if (++inLanes == 255) {
      sums = _mm_add_epi64(sums, _mm_sad_epu8(lanes, zero));
      lanes = zero;
      inLanes = 0;
    }
  }
  if (i < n) { // the lanes of the bytes before i were looked at already
    const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i keep = _mm_cmpgt_epi8(index, _mm_set1_epi8(static_cast<char>(15 - (n - i))));
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16));
    if (!countLanes(v, keep, match, stopA, stopB, &lanes)) return -1;
  }
  sums = _mm_add_epi64(sums, _mm_sad_epu8(lanes, zero));
  return static_cast<qlong>(_mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
}

} // namespace sse2
#endif

#if QM_AVX2
namespace avx2 {

// A window's occurrences of one byte, looked for from an end towards its start 64 bytes a
// block, keeping those with an even number of double quotes between them and the window's
// end: under CSV quoting, the line ends that may stand outside quotes. Each block's counts
// come from its masks, so the line ends of a long quoted value, with an odd count, are
// passed with their block rather than one at a time. The window has 64 bytes or more; its
// first bytes are looked at through the 64 that start it, those already passed masked off.
struct evenScan {
  const char* window;
  qlong blockStart; // the block in hand: [blockStart, blockStart + 64); 0 once at the start
  uint64_t hits;    // its occurrences
  uint64_t even;    // those of them not yet given that have an even count after them
  qlong passed;     // the occurrences in the blocks after it
  bool oddAbove;    // whether the bytes from its end to the window's end hold an odd count
  char target;
  char quote; // the quote byte counted
};

// The bits set in x, in 32-bit halves, which a 32-bit target has the instruction for too.
QM_AVX2_FN qlong bitCount(uint64_t x) {
  return static_cast<qlong>(_mm_popcnt_u32(static_cast<uint32_t>(x)) +
                            _mm_popcnt_u32(static_cast<uint32_t>(x >> 32)));
}

// Which of the 64 bytes at p equal c: bit i for byte i.
QM_AVX2_FN uint64_t byteMask64(const char* p, __m256i c) {
  const auto* v = reinterpret_cast<const __m256i*>(p);
  const auto low =
      static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_loadu_si256(v), c)));
  const auto high =
      static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_loadu_si256(v + 1), c)));
  return uint64_t{high} << 32 | low;
}

// Moves to the next block towards the window's start that holds an occurrence with an even
// count: true, with its masks in hand; false when none is left.
QM_AVX2_FN bool nextEvenBlock(evenScan* s) {
  const __m256i target = _mm256_set1_epi8(s->target);
  const __m256i quote = _mm256_set1_epi8(s->quote);
  const __m128i ones = _mm_set1_epi64x(-1);
  qlong start = s->blockStart;
  qlong passed = s->passed + bitCount(s->hits);
  uint64_t hits = 0, even = 0;
  uint64_t odd = s->oddAbove ? ~uint64_t{0} : 0; // all bits: an odd count above the block
  while (start > 0) {
    uint64_t keep = ~uint64_t{0};
    if (start < 64) { // the window's first bytes
      keep = (uint64_t{1} << start) - 1;
      start = 64;
    }
    start -= 64;
    hits = byteMask64(s->window + start, target) & keep;
    const uint64_t quotes = byteMask64(s->window + start, quote) & keep;
    // Bit i: the parity of the quotes at bits 0 to i (a carry-less multiply by all ones).
    uint64_t upTo = 0;
    _mm_storel_epi64(
        reinterpret_cast<__m128i*>(&upTo),
        _mm_clmulepi64_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&quotes)), ones, 0));
    const uint64_t block = 0 - (upTo >> 63); // all bits: the block's count is odd
    // The quotes after bit i: the block's less those up to it, and those above the block.
    even = hits & ~(block ^ upTo ^ odd);
    odd ^= block;
    if (even != 0) break;
    passed += bitCount(hits);
  }
  s->blockStart = start;
  s->passed = passed;
  s->hits = hits;
  s->even = even;
  s->oddAbove = odd != 0;
  return even != 0;
}

} // namespace avx2
#endif

#endif
