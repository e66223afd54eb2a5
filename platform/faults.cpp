// Fault counters shared by every platform implementation.
#include "platform.h"

namespace {
qlong gCountdown[kFaultKinds] = {};
}

void plat_fault_after(PlatFault kind, qlong n) { gCountdown[kind] = n > 0 ? n : 0; }

bool plat_fault_hit(PlatFault kind) {
  if (gCountdown[kind] == 0) return false;
  return --gCountdown[kind] == 0;
}
