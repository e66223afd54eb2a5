// The few system calls the stand-in host makes on the library's behalf, per build: the
// memory calls that resize a handle the library allocated, and the clipboard.
#pragma once

#include "protocol.h"

#include <string>

namespace qhost {

// Resizes the movable block whose handle is stored at handleVar (updating it if the system
// hands back a new one) and locks it. Null when the system refuses.
void* resizeAndLockHandle(void* handleVar, size_t bytes);
void unlockHandle(void* handleVar);

// Puts bytes on the clipboard as plain text (a terminating zero is added), or empties it
// when bytes is null. False when the clipboard could not be set (or the build has none).
bool systemSetClipboard(Flavour flavour, const std::string* bytes);

// Counters of the stand-in systems, for leak checks; -1 where the build has no stand-in.
long systemLiveBlocks();
long systemOpenFiles();

} // namespace qhost
