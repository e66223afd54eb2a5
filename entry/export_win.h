// What the Windows flavours' exports share with the platform layer, which calls DllMain
// itself where no Windows loader does (the native Linux builds).
#ifndef QUILLOMAR_EXPORT_WIN_H
#define QUILLOMAR_EXPORT_WIN_H

#include "../base/qtypes.h"

#if defined(_WIN32)
// Exported by the .def file, which a link-time optimised build does not see: the attributes
// keep the entry point (and what it calls) from being dropped as unused.
#define QM_EXPORT __attribute__((used, externally_visible))
#else
#define QM_EXPORT __attribute__((visibility("default")))
#endif

extern void* hInstLib; // this library's module instance, kept by DllMain

extern "C" int QM_STDCALL DllMain(void* hInst, uint32_t reason, void* reserved);

#endif
