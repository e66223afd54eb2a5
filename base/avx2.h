// The library's generic AVX2 paths, and the one check that chooses them: the widening of long
// texts to host characters, 32 bytes at a time, in the builds whose host characters are
// 32-bit (the reader's own AVX2 kernels are in import/csvscan.h). Each goes
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

} // namespace avx2
#endif

#endif
