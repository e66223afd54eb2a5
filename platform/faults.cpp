// Fault counters shared by every platform implementation.
#include "platform.h"

namespace {
qlong gCountdown[kFaultKinds] = {};
bool gPersistent[kFaultKinds] = {};
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
  if (gCountdown[kind] == 0) return false;
  if (gCountdown[kind] == 1 && gPersistent[kind]) return true;
  return --gCountdown[kind] == 0;
}
