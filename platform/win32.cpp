// The seam over the Windows calls: kernel32 and user32 in the DLLs, the POSIX stand-in of
// the same calls (standin/winapi.h) in the native Linux builds of the Windows flavours.
#if defined(_WIN32)
#include <windows.h>
#else
#include "standin/winapi.h"
#endif

#include "platform.h"

namespace {
DWORD gLastError = 0;

// File handles travel to host methods as 32-bit references. Windows keeps handle values
// within 32 bits even in 64-bit processes, so the reference converts back by sign extension.
HANDLE handleOf(qfileref ref) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(ref)); }
} // namespace

void* plat_ptr_new(qlong size) {
  if (size < 0 || plat_fault_hit(kFaultPtrNew)) return nullptr;
  return GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
}

void plat_ptr_dispose(void* p) {
  if (p) GlobalFree(p);
}

XPHandle plat_handle_new(qlong size, bool zeroFill) {
  if (size < 0 || plat_fault_hit(kFaultHandleNew)) return nullptr;
  return GlobalAlloc(zeroFill ? (GMEM_MOVEABLE | GMEM_ZEROINIT) : GMEM_MOVEABLE,
                     static_cast<SIZE_T>(size));
}

qshort plat_handle_resize(XPHandle* h, qlong newSize) {
  if (newSize < 0 || plat_fault_hit(kFaultHandleResize)) return 1;
  HGLOBAL fresh = GlobalReAlloc(*h, static_cast<SIZE_T>(newSize), GMEM_MOVEABLE | GMEM_ZEROINIT);
  if (!fresh) {
    gLastError = GetLastError();
    return 1;
  }
  *h = fresh;
  return 0;
}

void* plat_handle_lock(XPHandle h) { return GlobalLock(h); }
void plat_handle_unlock(XPHandle h) { GlobalUnlock(h); }
void plat_handle_dispose(XPHandle h) {
  if (h) GlobalFree(h);
}

PlatResult plat_file_open(platpath path, qfileref* ref, PlatFileBlock*) {
  *ref = 0;
  if (plat_fault_hit(kFaultFileOpen)) return kPlatIoError;
#if QM_UNICODE
  HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
#else
  HANDLE h = CreateFileA(reinterpret_cast<LPCSTR>(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
#endif
  if (h == INVALID_HANDLE_VALUE) {
    gLastError = GetLastError();
    return kPlatIoError; // every open failure reads as "cannot be opened" on Windows
  }
  auto value = reinterpret_cast<intptr_t>(h);
  auto narrow = static_cast<qlong>(value);
  if (static_cast<intptr_t>(narrow) != value || (narrow >= 0 && narrow <= 2)) {
    CloseHandle(h); // a value methods could not hold, or would mistake for a keyword source
    gLastError = ERROR_INVALID_HANDLE;
    return kPlatIoError;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h); // a pipe, console or device: reading it could wait for ever
    gLastError = ERROR_ACCESS_DENIED;
    return kPlatNotAFile;
  }
  *ref = narrow;
  return kPlatOk;
}

PlatResult plat_file_size(qfileref ref, PlatFileBlock*, int64_t* size) {
  SetLastError(ERROR_SUCCESS); // a size of 0xFFFFFFFF is only a failure if the call says so
  DWORD high = 0;
  *size = 0;
  if (plat_fault_hit(kFaultFileSize)) return kPlatIoError;
  DWORD low = GetFileSize(handleOf(ref), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
    gLastError = GetLastError();
    return kPlatIoError;
  }
  *size = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low); // never cut to 32 bits
  return kPlatOk;
}

PlatResult plat_file_close(qfileref ref, PlatFileBlock*) {
  if (plat_fault_hit(kFaultFileClose)) return kPlatIoError;
  if (!CloseHandle(handleOf(ref))) {
    gLastError = GetLastError();
    return kPlatIoError;
  }
  return kPlatOk;
}

qpos plat_file_size_limit(void) { return (qpos{1} << 53) - 1; }

PlatResult plat_file_seek(qfileref ref, PlatFileBlock*, qpos pos) {
  if (plat_fault_hit(kFaultFileSeek)) return kPlatIoError;
  SetLastError(ERROR_SUCCESS); // 0xFFFFFFFF is only a failure if the call says so
  // The position whole: its low 32 bits and, through the high part, the rest.
  LONG high = static_cast<LONG>(pos >> 32);
  DWORD at = SetFilePointer(handleOf(ref), static_cast<LONG>(static_cast<uint32_t>(pos)), &high,
                            FILE_BEGIN);
  if (at == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
    gLastError = GetLastError();
    return kPlatIoError;
  }
  return kPlatOk;
}

PlatResult plat_file_read(qfileref ref, PlatFileBlock*, void* buf, qlong count, qlong* got) {
  DWORD delivered = 0;
  *got = 0;
  if (count < 0) return kPlatIoError;
  if (plat_fault_hit(kFaultFileRead)) return kPlatIoError;
  if (plat_fault_hit(kFaultFileShortRead) && count > 1) count = (count + 1) / 2;
  SetLastError(ERROR_SUCCESS);
  if (!ReadFile(handleOf(ref), buf, static_cast<DWORD>(count), &delivered, nullptr)) {
    *got = static_cast<qlong>(delivered);
    gLastError = GetLastError();
    // Error 87, or a failure without an error code, is how some systems say "end of file".
    return (gLastError == ERROR_INVALID_PARAMETER || gLastError == ERROR_SUCCESS) ? kPlatEnd
                                                                                  : kPlatIoError;
  }
  *got = static_cast<qlong>(delivered);
  return kPlatOk;
}

namespace {
HANDLE gClipText = nullptr; // the clipboard's text block while it is locked
} // namespace

PlatResult plat_clipboard_open(void* owner) {
  if (plat_fault_hit(kFaultClipboard)) return kPlatIoError;
  if (!OpenClipboard(static_cast<HWND>(owner))) {
    gLastError = GetLastError();
    return kPlatIoError;
  }
  return kPlatOk;
}

const void* plat_clipboard_lock_text(bool unicode, qlong* size) {
  *size = 0;
  if (plat_fault_hit(kFaultClipboard)) return nullptr;
  gClipText = GetClipboardData(unicode ? CF_UNICODETEXT : CF_TEXT);
  if (!gClipText) return nullptr;
  const void* text = GlobalLock(gClipText);
  if (!text) {
    gClipText = nullptr;
    return nullptr;
  }
  SIZE_T bytes = GlobalSize(gClipText);
  *size = bytes > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<qlong>(bytes);
  return text;
}

void plat_clipboard_unlock_text(void) {
  if (gClipText) GlobalUnlock(gClipText);
  gClipText = nullptr;
}

void plat_clipboard_close(void) { CloseClipboard(); }

qlong plat_load_string(void* inst, qlong id, oschar* buf, qlong max) {
  if (max < 1) return 0;
  if (plat_fault_hit(kFaultResourceText)) {
    buf[0] = 0;
    return 0;
  }
  auto module = static_cast<HINSTANCE>(inst);
  auto uid = static_cast<UINT>(id);
#if QM_UNICODE
  int n = LoadStringW(module, uid, reinterpret_cast<WCHAR*>(buf), static_cast<int>(max));
#else
  int n = LoadStringA(module, uid, reinterpret_cast<char*>(buf), static_cast<int>(max));
#endif
  if (n <= 0) buf[0] = 0;
  return n > 0 ? n : 0;
}

void plat_beep_failure(void) { Beep(1500, 2); }

qlong plat_last_error(void) { return static_cast<qlong>(gLastError); }

void plat_register_strings(void* inst, const PlatString* table, qlong count) {
#if defined(_WIN32)
  (void)inst; // the DLL's string table holds them already
  (void)table;
  (void)count;
#else
  constexpr qlong kMost = 64;
  StandinString strings[kMost];
  qlong n = count < kMost ? count : kMost;
  for (qlong i = 0; i < n; ++i)
    strings[i] = StandinString{static_cast<UINT>(table[i].id), table[i].utf8};
  StandinRegisterStrings(static_cast<HINSTANCE>(inst), strings, static_cast<size_t>(n));
#endif
}
