// The library's one seam to the operating system. Each build compiles exactly one
// implementation: win32.cpp (real Windows, or the POSIX stand-in of its calls on Linux) or
// mac.cpp (the Toolbox, here its stand-in). Everything above this header is written once.
//
// Results are small codes of the library's own (PlatResult); the raw system error of the
// last failing call is kept for diagnostics (plat_last_error). Nothing here allocates
// behind the caller's back or keeps state apart from that error and the fault counters.
#ifndef QUILLOMAR_PLATFORM_H
#define QUILLOMAR_PLATFORM_H

#include "../base/qtypes.h"

enum PlatResult : qshort {
  kPlatOk = 0,
  kPlatNotFound = 1, // the file does not exist
  kPlatIoError = 2,  // any other failure of the system call
  kPlatEnd = 3,      // a read stopped at the end of the file
  kPlatNotAFile = 4, // the path names a folder, pipe, device or anything but a plain file
};

// ---- Memory ------------------------------------------------------------------------------
// Fixed block, zero-filled; null when memory runs out.
void* plat_ptr_new(qlong size);
void plat_ptr_dispose(void* p);
// Movable block; zero-filled when zeroFill is set; null when memory runs out.
XPHandle plat_handle_new(qlong size, bool zeroFill);
// Resize a movable block (unlocked by the caller). 0 on success, else the platform's code
// (1 on Windows, the Memory Manager's error on macOS) with handle and contents unchanged.
// Windows zero-fills the bytes a resize adds; macOS leaves them undefined.
qshort plat_handle_resize(XPHandle* h, qlong newSize);
void* plat_handle_lock(XPHandle h);
// Harmless on a handle that is not locked.
void plat_handle_unlock(XPHandle h);
void plat_handle_dispose(XPHandle h);

// ---- Files -------------------------------------------------------------------------------
// A path as the build's open call takes it: terminated UTF-16 (Unicode Windows) or bytes
// (8-bit Windows); on macOS a length-prefixed byte string of at most 255 bytes.
#if QM_MAC
typedef const uint8_t* platpath;
#else
typedef const oschar* platpath;
#endif

// Per-file state that must live with the import file that owns it: the macOS build keeps
// the File Manager parameter block of that file here. Opaque above this seam.
struct PlatFileBlock {
  alignas(8) unsigned char opaque[QM_MAC ? 96 : 8];
};

// Opens an existing plain file for reading, shared for reading with others, without ever
// waiting (a pipe or device is refused with kPlatNotAFile). On success *ref is a file
// reference other than 0, 1 and 2 that no other open file has.
PlatResult plat_file_open(platpath path, qfileref* ref, PlatFileBlock* block);
// The file's size, whole (64 bits on every build).
PlatResult plat_file_size(qfileref ref, PlatFileBlock* block, int64_t* size);
PlatResult plat_file_close(qfileref ref, PlatFileBlock* block);
// Moves the system read position to pos bytes from the start.
PlatResult plat_file_seek(qfileref ref, PlatFileBlock* block, qpos pos);
// The largest file size this build's file calls can read to its end: 2^53 - 1 where seeks
// take 64-bit positions (every position a host number holds exactly), 2^31 - 1 on macOS,
// whose File Manager calls take 32-bit positions.
qpos plat_file_size_limit(void);
// Reads up to count bytes at the system position into buf and sets *got to the bytes
// delivered. kPlatOk also when fewer came (Windows reports the end that way); kPlatEnd when
// the system reported the end as a failure (macOS eofErr, Windows error 87 or a failure
// without an error code); kPlatIoError for any other failure, *got then holding what came.
PlatResult plat_file_read(qfileref ref, PlatFileBlock* block, void* buf, qlong count, qlong* got);

// ---- Clipboard ---------------------------------------------------------------------------
// Whether the build has a system clipboard to read: the Windows builds do; macOS does not,
// and its build leaves the clipboard source out (the calls below are the Windows builds').
constexpr bool kPlatHasClipboard = !QM_MAC;
// Opens the clipboard with owner as its owner window; kPlatIoError when it cannot be opened.
PlatResult plat_clipboard_open(void* owner);
// The plain 8-bit text on the open clipboard, or with unicode its Unicode text (UTF-16 in
// the machine's byte order): the address of its block, locked, and the block's size in
// *size; null when there is none. Unlock before closing.
const void* plat_clipboard_lock_text(bool unicode, qlong* size);
void plat_clipboard_unlock_text(void);
void plat_clipboard_close(void);

// ---- String resources --------------------------------------------------------------------
// The library's own string resources, handed to the system by the layers above where it
// cannot read them from the library's file (the stand-ins): inst is the module they belong
// to (Windows) and the texts are a string list whose id is the first entry's (macOS). A
// real Windows DLL carries them as resources, and there this does nothing.
struct PlatString {
  qlong id;
  const char* utf8;
};
void plat_register_strings(void* inst, const PlatString* table, qlong count);

#if QM_MAC
// Item index (from 1) of the library's string list listId, as a length-prefixed Mac OS Roman
// string; empty (length 0) when there is none.
void plat_get_ind_string(qshort listId, qshort index, uint8_t str[256]);
// A converter from Mac OS Roman to UTF-16, made once and kept; 0 when it cannot be made.
typedef intptr_t PlatConverter;
PlatConverter plat_roman_converter_create(void);
// Converts inLen bytes into at most outMax bytes of UTF-16 at out (what does not fit is
// cut) and sets *outLen to the bytes written; false when the conversion failed. The flush
// writes what the converter kept back.
bool plat_roman_convert(PlatConverter c, const uint8_t* in, qlong inLen, void* out, qlong outMax,
                        qlong* outLen);
bool plat_roman_flush(PlatConverter c, void* out, qlong outMax, qlong* outLen);
#else
// String id from the library module inst into buf: at most max - 1 units and a terminator.
// Returns the units copied; 0 when there is no such string.
qlong plat_load_string(void* inst, qlong id, oschar* buf, qlong max);
#endif

#if QM_MAC
// ---- Host numbers (macOS) ----------------------------------------------------------------
// The host's 80-bit extended number, 10 bytes as the host lays it out.
struct qx80 {
  uint8_t bytes[10];
};
qreal plat_x80_to_real(const qx80* x);
void plat_real_to_x80(qreal value, qx80* x);
#endif

// ---- Misc --------------------------------------------------------------------------------
// The short tone that marks a failed load.
void plat_beep_failure(void);
// The raw system error of the last failed call (GetLastError, or an OSErr), for diagnostics.
qlong plat_last_error(void);

// ---- Fault injection (tests) -------------------------------------------------------------
// Makes the n-th following call of a kind fail as if the system had refused it (n = 1: the
// next one); n = 0 switches it off. plat_fault_from makes the n-th and every later call fail.
// Every implementation honours them, so one set of fault tests serves every build.
enum PlatFault {
  kFaultPtrNew,
  kFaultHandleNew,
  kFaultHandleResize,
  kFaultFileClose,
  kFaultFileRead,
  kFaultFileSeek,
  kFaultFileShortRead, // the read succeeds with half the bytes asked for (at least one)
  kFaultFileOpen,
  kFaultFileSize,
  kFaultClipboard,    // opening the clipboard or taking its text
  kFaultResourceText, // loading a resource text or converting it to the system's characters
  kFaultKinds
};
void plat_fault_after(PlatFault kind, qlong n);
void plat_fault_from(PlatFault kind, qlong n);
bool plat_fault_hit(PlatFault kind);
// How many calls of a kind were made, and how many of them were failed, since the last reset.
qlong plat_fault_calls(PlatFault kind);
qlong plat_fault_fired(PlatFault kind);
void plat_fault_reset_counts(void);

#endif
