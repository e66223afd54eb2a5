// The macOS flavour loads its resources through the Resource Manager: no module handle.
#include "command.h"

void* LibraryInstance() { return nullptr; }
