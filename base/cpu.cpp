// The processor checks' flags, each defined once and set when the library is loaded. As
// inline variables in their headers, the 32-bit MinGW linker could not place them under
// link-time optimisation.
#include "avx2.h"
#include "sse2.h"

#if QM_SSE2 && QM_SSE2_CHECKED
bool sse2::gUsable = sse2::processorHasSse2();
#endif
#if QM_AVX2
bool avx2::gUsable = avx2::processorHasAvx2();
#endif
