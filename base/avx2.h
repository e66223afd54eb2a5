// The library's AVX2 path, and the one check that chooses it: the widening of long texts to
// host characters, 32 bytes at a time, in the builds whose host characters are 32-bit. It
// goes in front of the SSE2 and plain paths that do the same 16 bytes or one byte at a time,
// and is taken only where usable() is true. (The backward search, tried with it, ran no
// faster: it waits on its branches and on memory, not on the instructions that look at bytes.)
//
// No target of the library has AVX2 as its baseline: this function alone is compiled for it,
// and the processor and the system are asked once, when the library is loaded. It keeps its
// 256-bit values in registers, so it needs no stack aligned beyond what its caller gives it.
// A build with QM_NO_SSE2 (the plain-path test build) leaves it out.
#ifndef QUILLOMAR_AVX2_H
#define QUILLOMAR_AVX2_H

#include "qtypes.h"

#if QM_UNICODE && !defined(QM_NO_SSE2) && (defined(__x86_64__) || defined(__i386__)) &&            \
    defined(__GNUC__)
#define QM_AVX2 1
#if defined(__i386__)
// A 32-bit Windows caller keeps its stack aligned to 4 bytes only.
#define QM_AVX2_FN inline __attribute__((target("avx2"), force_align_arg_pointer))
#else
#define QM_AVX2_FN inline __attribute__((target("avx2")))
#endif
#else
#define QM_AVX2 0
#endif

#if QM_AVX2
#include <cpuid.h>
#include <immintrin.h>

namespace avx2 {

// AVX2 in the processor, and the system saving the 256-bit registers (XCR0's SSE and AVX
// state bits): without the second an AVX2 instruction faults although the processor has it.
inline bool processorHasAvx2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0)
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

} // namespace avx2
#endif

#endif
