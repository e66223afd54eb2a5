// The reader's view of a source: runs of bytes at a position, from an in-memory text or a
// disk file's read-ahead window. Shared by the byte reader (reader.cpp) and the UTF-16
// reader (reader16.cpp); nothing outside the reader uses it.
#ifndef QUILLOMAR_BYTESOURCE_H
#define QUILLOMAR_BYTESOURCE_H

#include "globals.h"
#include "readahead.h"

// Where the bytes of a source come from: an in-memory text (locked for the call) or a disk
// file's read-ahead window. Either way the reader sees runs of bytes at a position.
struct byteSource {
  importFileSpec* rec;
  const char* text; // in-memory text, or null for a disk file
  qlong available;  // in-memory bytes that may be read
};

// The run of bytes at pos and its length (> 0); null at the end of the data (*why kPlatEnd)
// or when the system fails (kPlatIoError).
inline const char* bytesAt(const byteSource& src, qpos pos, qlong* run, PlatResult* why) {
  if (src.text) {
    *run = static_cast<qlong>(src.available - pos); // in memory: within 32 bits
    *why = kPlatEnd;
    return *run > 0 ? src.text + pos : nullptr;
  }
  return ReadAheadBytes(src.rec, pos, run, why);
}

// How far a CSV piece may look from its start for its end (raw bytes: a quoted value of
// 32000 bytes, every one a doubled quote, takes 64002).
constexpr qlong kCsvLookAhead = 1024 * 1024;

// readField for a UTF-16 source (reader16.cpp): the same rules, applied to characters. maxBytes
// is the field's maximum as the buffer path takes it (0 to 32000).
qshort ReadField16(const byteSource& src, const fieldSpec* f, qlong maxBytes, qpos* filePos,
                   char* buffer);

#endif
