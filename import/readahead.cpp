// Read-ahead windows of disk import files.
//
// A window holds bytes [start, start + count) of its file and remembers where the system
// read position stands, so that reading on from the window's end needs no seek. Reads never
// ask for bytes at or past the size seen at open: a file that grew is read as it was, one
// that shrank ends early (the system delivers nothing), and either way every byte handed
// out came from this window's own storage.
#include "readahead.h"

#include "../glue/XPqUtil.h"

#include <cstring>

namespace {

void emptyAt(readAheadWindow* w, qpos pos, qpos sysPos) {
  w->start = pos;
  w->count = 0;
  w->sysPos = sysPos;
}

// Reads up to want bytes at pos into the window's storage at offset into; returns the
// system's answer and sets *got. Seeks only when the system position is elsewhere.
PlatResult fillAt(importFileSpec* rec, qpos pos, qlong into, qlong want, qlong* got) {
  readAheadWindow* w = rec->window;
  *got = 0;
  if (w->sysPos != pos) {
    if (plat_file_seek(rec->fileRef, &rec->fileBlock, pos) != kPlatOk) {
      w->sysPos = -1;
      return kPlatIoError;
    }
    w->sysPos = pos;
  }
  PlatResult r = plat_file_read(rec->fileRef, &rec->fileBlock, w->bytes + into, want, got);
  if (*got < 0 || *got > want) *got = 0; // trust the system no further than we asked
  if (r == kPlatIoError) {
    w->sysPos = -1; // where a failed read left the system position is anybody's guess
    return r;
  }
  w->sysPos = pos + *got;
  return r;
}

} // namespace

qshort AttachReadAhead(globals* g, importFileSpec* rec) {
  rec->window = nullptr;
  if (IsInMemorySource(rec) || rec->fileRef == kNoSourceRef) return kResultOk;
  ++g->readAheadClock;
  readAheadWindow* oldest = nullptr;
  qshort freeSlot = -1;
  for (qshort i = 0; i < kReadAheadSlots; ++i) {
    readAheadWindow* w = g->readAhead[i];
    if (!w) {
      if (freeSlot < 0) freeSlot = i;
      continue;
    }
    if (w->owner == rec->fileRef) {
      w->lastUse = g->readAheadClock;
      rec->window = w;
      return kResultOk;
    }
    if (!oldest || g->readAheadClock - w->lastUse > g->readAheadClock - oldest->lastUse) oldest = w;
  }
  // Memory stays bounded: a new window only while fewer than kReadAheadSlots exist; after
  // that (or when memory runs out) the file takes over the window used longest ago, whose
  // file simply fills a window again when it next reads.
  readAheadWindow* w = nullptr;
  if (freeSlot >= 0) {
    w = static_cast<readAheadWindow*>(NewXPPointer(sizeof(readAheadWindow)));
    if (w) g->readAhead[freeSlot] = w;
  }
  if (!w) w = oldest;
  if (!w) return kResultNoMemory;
  w->owner = rec->fileRef;
  w->lastUse = g->readAheadClock;
  emptyAt(w, 0, -1);
  rec->window = w;
  return kResultOk;
}

void ReleaseReadAhead(globals* g, const importFileSpec* rec) {
  if (IsInMemorySource(rec) || rec->fileRef == kNoSourceRef) return;
  for (qshort i = 0; i < kReadAheadSlots; ++i) {
    readAheadWindow* w = g->readAhead[i];
    if (w && w->owner == rec->fileRef) {
      DisposeXPPointer(w);
      g->readAhead[i] = nullptr;
    }
  }
}

void ReleaseAllReadAhead(globals* g) {
  for (qshort i = 0; i < kReadAheadSlots; ++i) {
    DisposeXPPointer(g->readAhead[i]);
    g->readAhead[i] = nullptr;
  }
  DisposeXPHandle(g->backwardH);
  g->backwardH = nullptr;
#if QM_UNICODE
  DisposeXPPointer(g->wide);
  g->wide = nullptr;
#endif
}

qshort ReadAheadSeek(importFileSpec* rec, qpos pos) {
  readAheadWindow* w = rec->window;
  if (pos >= w->start && pos <= w->start + w->count) return kResultOk;
  if (plat_file_seek(rec->fileRef, &rec->fileBlock, pos) != kPlatOk) {
    emptyAt(w, 0, -1);
    return kResultAtEnd;
  }
  emptyAt(w, pos, pos);
  return kResultOk;
}

const char* ReadAheadBytes(importFileSpec* rec, qpos pos, qlong* available, PlatResult* why) {
  readAheadWindow* w = rec->window;
  *available = 0;
  if (pos >= w->start && pos < w->start + w->count) {
    const auto offset = static_cast<qlong>(pos - w->start); // within the window's 64 KiB
    *available = w->count - offset;
    return w->bytes + offset;
  }
  *why = kPlatEnd;
  if (pos < 0 || pos >= rec->fileSize) return nullptr;
  const qpos left = rec->fileSize - pos;
  const qlong want = left > kReadAheadBytes ? kReadAheadBytes : static_cast<qlong>(left);
  qlong got = 0;
  PlatResult r = fillAt(rec, pos, 0, want, &got);
  if (r == kPlatIoError) {
    emptyAt(w, 0, -1);
    *why = kPlatIoError;
    return nullptr;
  }
  w->start = pos;
  w->count = got;
  if (got == 0) return nullptr; // the system has nothing more: the end (the file shrank)
  *available = got;
  return w->bytes;
}

const char* ReadAheadBackward(importFileSpec* rec, qpos start, qlong count, qlong* got) {
  readAheadWindow* w = rec->window;
  *got = 0;
  const qpos end = start + count;
  if (start >= w->start && end <= w->start + w->count) {
    *got = count;
    return w->bytes + (start - w->start);
  }
  // Fill so that the window ends where the wanted bytes end: the records before them, which
  // a backward import reads next, are then in the window too.
  qpos from = end - kReadAheadBytes;
  if (from < 0) from = 0;
  if (from > start) from = start;
  // What the window holds of the new one's last bytes moves up to its place rather than
  // being read again: a backward import asks for the bytes just before its window, and
  // reaches back a record or two into it each time.
  qpos readTo = end;
  if (w->count > 0 && w->start > from && w->start < end && end <= w->start + w->count) {
    readTo = w->start;
    std::memmove(w->bytes + (readTo - from), w->bytes, static_cast<size_t>(end - readTo));
  }
  qlong held = 0; // bytes from `from`: within the window's 64 KiB
  emptyAt(w, from, w->sysPos);
  while (from + held < readTo) {
    qlong delivered = 0;
    PlatResult r =
        fillAt(rec, from + held, held, static_cast<qlong>(readTo - from) - held, &delivered);
    if (r == kPlatIoError) {
      emptyAt(w, 0, -1);
      return nullptr;
    }
    held += delivered;
    w->count = held;
    if (delivered == 0) break; // the file ended early: it shrank since it was opened
  }
  // The kept bytes follow on only from a fill that reached them.
  if (from + held == readTo && readTo < end) {
    held = static_cast<qlong>(end - from);
    w->count = held;
  }
  if (from + held <= start) return w->bytes + (start - from); // nothing of it: *got 0
  *got = static_cast<qlong>(from + held - start);
  return w->bytes + (start - from);
}
