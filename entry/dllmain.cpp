// The Windows flavours' library initialisation: remembers the module instance, from which
// the command texts are loaded.
#include "command.h"
#include "export_win.h"

void* hInstLib = nullptr;

extern "C" int QM_STDCALL DllMain(void* hInst, uint32_t reason, void* /*reserved*/) {
  if (reason == 1 && !hInstLib)
    hInstLib = hInst; // the process attaches the library
  else if (reason == 0)
    hInstLib = nullptr; // the process detaches it
  return 1;
}

void* LibraryInstance() { return hInstLib; }
