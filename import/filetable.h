// The import file table: one movable block holding a 16-bit record count followed by the
// import file records in the order they were opened (the records start at the first
// offset aligned for them). Pointers into it are valid only while it is locked and until
// the next resize; the operations that resize it refresh the caller's view.
#ifndef QUILLOMAR_FILETABLE_H
#define QUILLOMAR_FILETABLE_H

#include "globals.h"

// Where the records begin: the count word, padded so the records are aligned.
constexpr qlong kFileTableHeader = alignof(importFileSpec) > 2 ? alignof(importFileSpec) : 2;

// A locked table: the count word and the first record; both null while unlocked.
struct fileTableView {
  qshort* fileSpecsBaseP;
  importFileSpec* firstP;
};

// A new empty table (count 0, no records); null when memory runs out.
XPHandle CreateFileSpecTable();
// Locks the table and fills the view.
void LockFileSpecTable(XPHandle tableH, fileTableView* view);
// Unlocks the table (harmless when it is not locked) and clears the view.
void UnlockFileSpecTable(XPHandle tableH, fileTableView* view);

// On a locked table: adds a record with every field zero and returns it in *added.
// 0 on success (table locked again); 4 when the table is full (still locked) or cannot grow
// (left unlocked and as it was).
qshort AppendFileSpec(XPHandle* tableH, fileTableView* view, importFileSpec** added);
// On a locked table: drops the last record. 0, or 4 when the table cannot shrink: the count
// is then left as it was, so the abandoned record stays at the end (unlocked).
qshort DropLastFileSpec(XPHandle* tableH, fileTableView* view);
// On a locked table whose record at 1-based position has released its resources: removes
// it. 0, or 4 when the storage could not shrink (removed all the same, left unlocked).
qshort RemoveFileSpec(XPHandle* tableH, fileTableView* view, qshort position);

// The first record whose file reference equals ref (macOS: its low 16 bits), with its
// 1-based position; null when none does.
importFileSpec* FindFileSpec(const fileTableView* view, qlong ref, qshort* position);

// Closes the record's source: frees an in-memory source's text (5 never), or closes a disk
// file (5 when the system refuses; the record then keeps its file). Records with no source
// have nothing to close.
qshort CloseFileSpecSource(importFileSpec* rec);
// Frees the record's format and substitution table.
void FreeFileSpecDefinitions(importFileSpec* rec);
// Unload: releases every record (definitions first, close failures ignored), then the table.
void ReleaseAllFileSpecs(XPHandle tableH);

#endif
