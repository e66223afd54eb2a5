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

#if !defined(_WIN32)
// No Windows loader calls DllMain in the native Linux builds: do what it would, with a
// unique address of this library standing for its instance handle, and hand the system the
// string table that a DLL carries as resources.
#include "../platform/platform.h"
#include "../resources/command_strings.h"

namespace {
char gInstanceTag;
#define QM_PLAT_STRING(id, text) {id, text},
const PlatString kStrings[] = {QM_COMMAND_STRINGS(QM_PLAT_STRING)};
#undef QM_PLAT_STRING

__attribute__((constructor)) void attachLibrary() {
  plat_register_strings(&gInstanceTag, kStrings, sizeof kStrings / sizeof kStrings[0]);
  DllMain(&gInstanceTag, 1, nullptr);
}
__attribute__((destructor)) void detachLibrary() { DllMain(&gInstanceTag, 0, nullptr); }
} // namespace
#endif
