// The library's AVX2 paths, and the one check that chooses them: the widening of long texts
// to host characters, 32 bytes at a time, in the builds whose host characters are 32-bit; and
// a backward CSV search's pass over blocks of 64 bytes for line ends outside quotes. Each goes
// in front of SSE2 or plain code that does the same, and is taken only where usable() is true.
//
// No target of the library has AVX2 as its baseline: these functions alone are compiled for
// it (with the carry-less multiply and bit count every AVX2 processor has), and the processor
// and the system are asked once, when the library is loaded. They keep their 256-bit values
// in registers, so they need no stack aligned beyond what their callers give them. A build
// with QM_NO_SSE2 (the plain-path test build) leaves them out.
#ifndef QUILLOMAR_AVX2_H
#define QUILLOMAR_AVX2_H

#include "qtypes.h"

#if !defined(QM_NO_SSE2) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define QM_AVX2 1
#if defined(__i386__)
// A 32-bit Windows caller keeps its stack aligned to 4 bytes only.
#define QM_AVX2_FN inline __attribute__((target("avx2,pclmul,popcnt"), force_align_arg_pointer))
#else
#define QM_AVX2_FN inline __attribute__((target("avx2,pclmul,popcnt")))
#endif
#else
#define QM_AVX2 0
#endif

#if QM_AVX2
#include <cpuid.h>
#include <immintrin.h>

namespace avx2 {

// AVX2 in the processor (with the carry-less multiply and the bit count), and the system
// saving the 256-bit registers (XCR0's SSE and AVX state bits): without the second an AVX2
// instruction faults although the processor has it.
inline bool processorHasAvx2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0 ||
      (c & bit_PCLMUL) == 0 || (c & bit_POPCNT) == 0)
    return false;
  unsigned xcr0 = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(high) : "c"(0));
  if ((xcr0 & 6u) != 6u || __get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & bit_AVX2) != 0;
}

// Set when the library is loaded. The tests clear it to run the paths behind it too.
extern bool gUsable; // defined once, in base/cpu.cpp
inline bool usable() { return gUsable; }

#if QM_UNICODE
// Widens the 32 bytes at in into 32 characters at out, 8 an instruction, never
// sign-extended.
QM_AVX2_FN void widen32(qchar* out, const char* in) {
  static_assert(sizeof(qchar) == 4, "8 bytes become one 8-character store");
  for (int k = 0; k < 32; k += 8) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + k));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), _mm256_cvtepu8_epi32(bytes));
  }
}

// Widens the n bytes at in (32 or more) into n characters at out: 32 at a time, the last 32
// ending with them. When n is no multiple of 32 those overlap the 32 before and write the
// same characters again, so that no loop over the last few bytes depends on n.
QM_AVX2_FN void widen(qchar* out, const char* in, qlong n) {
  for (qlong i = 0; i + 32 <= n; i += 32)
    widen32(out + i, in + i);
  if (n % 32 != 0) widen32(out + n - 32, in + n - 32);
}
#endif

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
  const __m256i quote = _mm256_set1_epi8('"');
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
