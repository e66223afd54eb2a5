// System calls of the stand-in host. A Windows-flavour host uses the Windows calls (real
// under Windows and Wine, the POSIX stand-in natively); a macOS-flavour host uses the
// Toolbox stand-in. The library of the same build makes the same calls.
#include "system.h"

#include <cstring>

#if defined(QHOST_SYSTEM_MAC)
#include "../platform/standin/toolbox.h"
#elif defined(_WIN32)
#include <windows.h>
#else
#include "../platform/standin/winapi.h"
#endif

namespace qhost {

#if defined(QHOST_SYSTEM_MAC)

void* resizeAndLockHandle(void* handleVar, size_t bytes) {
  Handle h = *static_cast<Handle*>(handleVar);
  SetHandleSize(h, static_cast<Size>(bytes));
  if (MemError() != noErr) return nullptr;
  HLock(h);
  return *h;
}

void unlockHandle(void* handleVar) { HUnlock(*static_cast<Handle*>(handleVar)); }

bool systemSetClipboard(Flavour, const std::string*) { return false; }

long systemLiveBlocks() { return static_cast<long>(ToolboxLiveBlockCount()); }
long systemOpenFiles() { return static_cast<long>(ToolboxOpenFileCount()); }

#else

void* resizeAndLockHandle(void* handleVar, size_t bytes) {
  HGLOBAL h = *static_cast<HGLOBAL*>(handleVar);
  HGLOBAL fresh = GlobalReAlloc(h, bytes, GMEM_MOVEABLE);
  if (!fresh) return nullptr;
  *static_cast<HGLOBAL*>(handleVar) = fresh;
  return GlobalLock(fresh);
}

void unlockHandle(void* handleVar) { GlobalUnlock(*static_cast<HGLOBAL*>(handleVar)); }

bool systemSetClipboard(Flavour, const std::string* bytes) {
  if (!OpenClipboard(nullptr)) return false;
  bool ok = EmptyClipboard() != FALSE;
  if (ok && bytes) {
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes->size() + 1);
    void* p = mem ? GlobalLock(mem) : nullptr;
    if (p) {
      std::memcpy(p, bytes->data(), bytes->size());
      static_cast<char*>(p)[bytes->size()] = 0;
      GlobalUnlock(mem);
      ok = SetClipboardData(CF_TEXT, mem) != nullptr;
    } else {
      ok = false;
    }
    if (!ok && mem) GlobalFree(mem);
  }
  CloseClipboard();
  return ok;
}

#if defined(_WIN32)
long systemLiveBlocks() { return -1; }
long systemOpenFiles() { return -1; }
#else
long systemLiveBlocks() { return static_cast<long>(StandinLiveBlockCount()); }
long systemOpenFiles() { return static_cast<long>(StandinOpenFileCount()); }
#endif

#endif

} // namespace qhost
