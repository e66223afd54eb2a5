// The few system calls the stand-in host makes on the library's behalf, per build: the
// memory calls that resize a handle the library allocated, and the clipboard.
#pragma once

#include "protocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qhost {

// Resizes the movable block whose handle is stored at handleVar (updating it if the system
// hands back a new one) and locks it. Null when the system refuses.
void* resizeAndLockHandle(void* handleVar, size_t bytes);
void unlockHandle(void* handleVar);

// Puts bytes on the clipboard as plain text (a terminating zero is added), or empties it
// when bytes is null. False when the clipboard could not be set (or the build has none).
bool systemSetClipboard(Flavour flavour, const std::string* bytes, bool unicode = false);

// What the host's method editor reads from a library's resources: the command table's
// strings from id first on (Windows: the module's string table, natively the stand-in's;
// macOS: the string list), and the Q7INF record's bytes (empty where there is none).
std::vector<std::string> systemCommandStrings(void* module, int first, int count);
std::vector<uint8_t> systemQ7inf(void* module);

// Counters of the stand-in systems, for leak checks; -1 where the build has no stand-in.
long systemLiveBlocks();
long systemOpenFiles();

} // namespace qhost
