// XPqUtil: portable memory blocks over the platform seam.
#include "XPqUtil.h"

#include "../platform/platform.h"

void* NewXPPointer(qlong pointerSize) { return plat_ptr_new(pointerSize); }

void DisposeXPPointer(void* thePointer) { plat_ptr_dispose(thePointer); }

XPHandle NewXPHandle(qlong handleSize) {
  // Clearing big blocks costs time for nothing: their callers write before they read.
  return plat_handle_new(handleSize, handleSize <= kXPZeroFillLimit);
}

qshort ResizeXPHandle(XPHandle* theHandle, qlong newSize) {
  return plat_handle_resize(theHandle, newSize);
}

void* LockXPHandle(XPHandle theHandle) { return plat_handle_lock(theHandle); }

void UnlockXPHandle(XPHandle theHandle) { plat_handle_unlock(theHandle); }

void DisposeXPHandle(XPHandle theHandle) { plat_handle_dispose(theHandle); }

#if QM_MAC
void ClearMemBlock(void* address, qlong byteCount) {
  if (byteCount <= 0) return;
  auto* bytes = static_cast<unsigned char*>(address);
  qlong words = byteCount / 4;
  for (qlong i = 0; i < words; ++i) {
    for (int k = 0; k < 4; ++k)
      bytes[4 * i + k] = 0;
  }
  for (qlong i = words * 4; i < byteCount; ++i)
    bytes[i] = 0;
}
#endif
