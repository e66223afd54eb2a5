// Reading a record backwards: the window of source bytes that ends where the record ends, and
// the search in it for where the record begins, by the last entry's delimiter (and under CSV
// quoting by the quotes around it). Nothing here knows of the host or of a command's
// parameters.
#ifndef QUILLOMAR_BACKWARD_H
#define QUILLOMAR_BACKWARD_H

#include "globals.h"
#include "reader.h"

// The window of a backward read of the record that ends at end: its first byte in *start and
// its length, the smallest of twice the format's total, end and 32000.
qlong BackwardWindow(const importFileSpec* rec, qpos end, qpos* start);

// The count bytes of the source that end at start + count, in place: from an in-memory text
// (its block stays locked until ReleaseWindow) or from a disk file's read-ahead window. *got
// is count, or fewer when the source has fewer; null when the system read failed.
const char* LockWindow(importFileSpec* rec, qpos start, qlong count, qlong* got);
void ReleaseWindow(importFileSpec* rec);

// Where the record that ends at the end of the w bytes at window begins: its offset in the
// window, or -1 when the window holds no record start (the record then runs from the
// window's first byte if that is the source's, fromSourceStart). Under CSV quoting a trial
// read may settle it; plan then holds where that trial found the record's pieces (otherwise
// its count is 0), and scratch, of kBufferSize bytes, holds the trial's buffer.
qlong FindRecordStart(importFileSpec* rec, const char* window, qlong w, bool fromSourceStart,
                      recordPlan* plan, char* scratch);

#endif
