// The import file table of import files.
#include "filetable.h"

#include "../glue/XPqUtil.h"

#include <cstring>

namespace {
qlong tableBytes(qlong records) {
  return kFileTableHeader + records * static_cast<qlong>(sizeof(importFileSpec));
}

void fillView(void* base, fileTableView* view) {
  view->fileSpecsBaseP = static_cast<qshort*>(base);
  view->firstP = reinterpret_cast<importFileSpec*>(static_cast<char*>(base) + kFileTableHeader);
}
} // namespace

XPHandle CreateFileSpecTable() {
  // The block's zero fill is its count of 0.
  return NewXPHandle(kFileTableHeader);
}

void LockFileSpecTable(XPHandle tableH, fileTableView* view) {
  fillView(LockXPHandle(tableH), view);
}

void UnlockFileSpecTable(XPHandle tableH, fileTableView* view) {
  UnlockXPHandle(tableH);
  view->fileSpecsBaseP = nullptr;
  view->firstP = nullptr;
}

qshort AppendFileSpec(XPHandle* tableH, fileTableView* view, importFileSpec** added) {
  *added = nullptr;
  qshort count = *view->fileSpecsBaseP;
  // The count is 16-bit: one more record would wrap it and lose the whole table.
  if (count >= kMaxFileSpecs) return kResultNoMemory;
  UnlockFileSpecTable(*tableH, view);
  if (ResizeXPHandle(tableH, tableBytes(count + 1)) != 0) return kResultNoMemory;
  LockFileSpecTable(*tableH, view);
  *view->fileSpecsBaseP = static_cast<qshort>(count + 1);
  importFileSpec* rec = view->firstP + count;
  std::memset(rec, 0, sizeof *rec); // growth is not zero-filled on every platform
  *added = rec;
  return kResultOk;
}

qshort DropLastFileSpec(XPHandle* tableH, fileTableView* view) {
  auto count = static_cast<qshort>(*view->fileSpecsBaseP - 1);
  UnlockFileSpecTable(*tableH, view);
  if (ResizeXPHandle(tableH, tableBytes(count)) != 0) return kResultNoMemory;
  LockFileSpecTable(*tableH, view);
  *view->fileSpecsBaseP = count;
  return kResultOk;
}

qshort RemoveFileSpec(XPHandle* tableH, fileTableView* view, qshort position) {
  qshort count = *view->fileSpecsBaseP;
  importFileSpec* rec = view->firstP + (position - 1);
  qlong following = count - position;
  if (following > 0) std::memmove(rec, rec + 1, static_cast<size_t>(following) * sizeof *rec);
  *view->fileSpecsBaseP = static_cast<qshort>(count - 1);
  UnlockFileSpecTable(*tableH, view);
  // One spare record: the next append reuses it without growing.
  if (ResizeXPHandle(tableH, tableBytes(count)) != 0) return kResultNoMemory;
  LockFileSpecTable(*tableH, view);
  return kResultOk;
}

importFileSpec* FindFileSpec(const fileTableView* view, qlong ref, qshort* position) {
  qshort count = *view->fileSpecsBaseP;
  for (qshort i = 0; i < count; ++i) {
    importFileSpec* rec = view->firstP + i;
#if QM_MAC
    bool same = static_cast<uint16_t>(rec->fileRef) == static_cast<uint16_t>(ref);
#else
    bool same = rec->fileRef == ref;
#endif
    if (same) {
      *position = static_cast<qshort>(i + 1);
      return rec;
    }
  }
  *position = 0;
  return nullptr;
}

qshort CloseFileSpecSource(importFileSpec* rec) {
  if (IsInMemorySource(rec)) {
    DisposeXPHandle(rec->dataHandle);
    rec->dataHandle = nullptr;
    rec->fileSize = 0;
    return kResultOk;
  }
  if (rec->fileRef == kNoSourceRef) return kResultOk;
  return plat_file_close(rec->fileRef, &rec->fileBlock) == kPlatOk ? kResultOk : kResultIoError;
}

void FreeFileSpecDefinitions(importFileSpec* rec) {
  if (rec->fields) {
    DisposeXPPointer(rec->fields);
    rec->fields = nullptr;
    rec->fldCount = 0;
    rec->fitDelim = 0;
  }
  if (rec->transTable) {
    DisposeXPPointer(rec->transTable);
    rec->transTable = nullptr;
  }
}

void ReleaseAllFileSpecs(XPHandle tableH) {
  fileTableView view;
  LockFileSpecTable(tableH, &view);
  qshort count = *view.fileSpecsBaseP;
  for (qshort i = 0; i < count; ++i) {
    importFileSpec* rec = view.firstP + i;
    FreeFileSpecDefinitions(rec);
    // Unload goes on whatever the system says; a close refused once is tried once more, so
    // that a passing failure does not keep the file open after the library is gone.
    if (CloseFileSpecSource(rec) != kResultOk) CloseFileSpecSource(rec);
  }
  UnlockFileSpecTable(tableH, &view);
  DisposeXPHandle(tableH);
}
