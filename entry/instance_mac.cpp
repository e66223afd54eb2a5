// The macOS flavour loads its resources through the Resource Manager: no module handle. The
// command table is the bundle's string list, handed to the system when the library loads.
#include "command.h"

#include "../platform/platform.h"
#include "../resources/command_strings.h"

void* LibraryInstance() { return nullptr; }

namespace {
#define QM_PLAT_STRING(id, text) {id, text},
const PlatString kStrings[] = {QM_COMMAND_STRINGS(QM_PLAT_STRING)};
#undef QM_PLAT_STRING

__attribute__((constructor)) void registerResources() {
  plat_register_strings(nullptr, kStrings, sizeof kStrings / sizeof kStrings[0]);
}
} // namespace
