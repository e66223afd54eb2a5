// Portable memory blocks (fixed XP pointers and movable XP handles) and, later, the typed
// text wrappers and handle conversions of the XPqUtil module.
#ifndef QUILLOMAR_XPQUTIL_H
#define QUILLOMAR_XPQUTIL_H

#include "qtypes.h"

// Largest movable block that comes back zero-filled; larger ones are left uninitialised.
constexpr qlong kXPZeroFillLimit = 8192;

void* NewXPPointer(qlong pointerSize);
void DisposeXPPointer(void* thePointer);
XPHandle NewXPHandle(qlong handleSize);
// 0 on success; on failure non-zero, with *theHandle and its contents unchanged.
qshort ResizeXPHandle(XPHandle* theHandle, qlong newSize);
void* LockXPHandle(XPHandle theHandle);
void UnlockXPHandle(XPHandle theHandle);
void DisposeXPHandle(XPHandle theHandle);
#if QM_MAC
void ClearMemBlock(void* address, qlong byteCount);
#endif

#endif
