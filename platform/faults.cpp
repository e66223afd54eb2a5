// Fault counters shared by every platform implementation.
#include "platform.h"

namespace {
qlong gCountdown[kFaultKinds] = {};
bool gPersistent[kFaultKinds] = {};
qlong gCalls[kFaultKinds] = {};
qlong gFired[kFaultKinds] = {};
} // namespace

void plat_fault_after(PlatFault kind, qlong n) {
  gCountdown[kind] = n > 0 ? n : 0;
  gPersistent[kind] = false;
}

void plat_fault_from(PlatFault kind, qlong n) {
  gCountdown[kind] = n > 0 ? n : 0;
  gPersistent[kind] = n > 0;
}

bool plat_fault_hit(PlatFault kind) {
  ++gCalls[kind];
  if (gCountdown[kind] == 0) return false;
  if (gCountdown[kind] == 1 && gPersistent[kind]) {
    ++gFired[kind];
    return true;
  }
  if (--gCountdown[kind] != 0) return false;
  ++gFired[kind];
  return true;
}

qlong plat_fault_calls(PlatFault kind) { return gCalls[kind]; }
qlong plat_fault_fired(PlatFault kind) { return gFired[kind]; }

void plat_fault_reset_counts(void) {
  for (int k = 0; k < kFaultKinds; ++k)
    gCalls[k] = gFired[k] = 0;
}
