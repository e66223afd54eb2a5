// The read-ahead window of a disk import file: a bounded run of the file's bytes kept in
// memory, so that a delimited field costs no system read per byte and a seek inside the
// window costs no system call at all. The window's logical position is the reader's
// position; the system position is only moved when the window has to be filled again.
//
// The windows of one load form a small pool in the globals block (see AttachReadAhead for
// the bound). A window lives across commands, like any buffered reader, and is given back
// when its file is closed or the library unloaded.
#ifndef QUILLOMAR_READAHEAD_H
#define QUILLOMAR_READAHEAD_H

#include "globals.h"

struct readAheadWindow {
  qfileref owner;   // the disk file whose bytes these are
  qpos start;       // file position of bytes[0]
  qlong count;      // bytes held from start (never past the size seen at open)
  qpos sysPos;      // where the system read position stands; -1 when unknown
  uint32_t lastUse; // the pool's clock when this window last served a command
  char bytes[kReadAheadBytes];
};

// Gives the record's disk file its window for this command (rec->window), reusing the one
// it had; in-memory sources get none. 0, or 4 when no window can be had for lack of memory.
qshort AttachReadAhead(globals* g, importFileSpec* rec);
// Gives back the window of a file that is being closed.
void ReleaseReadAhead(globals* g, const importFileSpec* rec);
// Gives back every window and the backward-read scratch block (unload).
void ReleaseAllReadAhead(globals* g);

// Moves the logical position of the record's window to pos: no system call when pos lies in
// the window (or at its end); otherwise one system seek. 0, or 7 when the seek fails.
qshort ReadAheadSeek(importFileSpec* rec, qpos pos);

// The bytes of the record's disk file from pos on, filling the window forwards when pos is
// not in it: *available (> 0) bytes at the returned address. At the end of the data (pos at
// the size seen at open, or the system delivers nothing) returns null with *why kPlatEnd;
// when the system fails, null with kPlatIoError.
const char* ReadAheadBytes(importFileSpec* rec, qpos pos, qlong* available, PlatResult* why);

// The count bytes of the record's disk file that end at start + count, filling the window
// backwards (so that it ends there) when they are not in it: returns their address and sets
// *got to count, or fewer when the file ended early (it shrank). Null when the system
// failed.
const char* ReadAheadBackward(importFileSpec* rec, qpos start, qlong count, qlong* got);

#endif
