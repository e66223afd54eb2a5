// The library's basic types, one flavour per build.
//
// The build defines exactly one of:
//   QM_FLAVOUR_WINU  Windows flavour for the Unicode host  (32-bit qchar, 16-bit oschar)
//   QM_FLAVOUR_WIN8  Windows flavour for the 8-bit host    (byte qchar and oschar)
//   QM_FLAVOUR_MAC   macOS flavour                          (32-bit qchar, 16-bit oschar)
// The Windows flavours build both as real DLLs and, over a POSIX stand-in of the Windows
// calls, as Linux shared libraries. This is the one header that turns the flavour into
// types; shared code tests only QM_UNICODE and QM_MAC, and only where a function differs.
#ifndef QUILLOMAR_QTYPES_H
#define QUILLOMAR_QTYPES_H

#include <cstddef>
#include <cstdint>

#if defined(QM_FLAVOUR_WINU) + defined(QM_FLAVOUR_WIN8) + defined(QM_FLAVOUR_MAC) != 1
#error "define exactly one of QM_FLAVOUR_WINU, QM_FLAVOUR_WIN8, QM_FLAVOUR_MAC"
#endif

#if defined(QM_FLAVOUR_WIN8)
#define QM_UNICODE 0
#else
#define QM_UNICODE 1
#endif
#if defined(QM_FLAVOUR_MAC)
#define QM_MAC 1
#else
#define QM_MAC 0
#endif

typedef int16_t qshort;
typedef int32_t qlong;
// A byte position or size in a source: 64 bits, so that every position a host number holds
// exactly (below 2^53) can be named.
typedef int64_t qpos;
typedef uint8_t qbyte;
typedef int32_t qbool;

#if QM_UNICODE
typedef uint32_t qchar;  // a Unicode code point
typedef uint16_t oschar; // a UTF-16 code unit
#else
typedef uint8_t qchar; // a byte of the host's 8-bit character set
typedef uint8_t oschar;
#endif

// The host's length-prefixed string record.
#if QM_UNICODE
struct str255 {
  uint32_t len;       // characters in content, 0 to 255
  qchar content[255]; // no terminator needed
};
static_assert(sizeof(str255) == 1024, "host string record layout");
#else
struct str255 {
  uint8_t len;
  qchar content[255];
};
static_assert(sizeof(str255) == 256, "host string record layout");
#endif

// Host numbers as callers of the adapter hold them: a double on Windows, the native long
// double on macOS (the adapter converts to and from the host's 80-bit form).
#if QM_MAC
typedef long double qreal;
#else
typedef double qreal;
#endif

// The way back to the host, handed in with every message.
#if QM_MAC
struct HostCallbackRec; // an array of function pointers owned by the host
typedef HostCallbackRec* qcallback;
#else
#if defined(_WIN32) && !defined(_WIN64)
#define QM_CDECL __cdecl
#define QM_STDCALL __stdcall
#else
#define QM_CDECL
#define QM_STDCALL
#endif
typedef qshort(QM_CDECL* qcallback)(qlong op, ...);
#endif

// An opaque movable memory block; see glue/XPqUtil.h.
typedef void* XPHandle;

// A file reference as host methods see it: 32 bits on Windows, a 16-bit File Manager
// reference number on macOS.
#if QM_MAC
typedef qshort qfileref;
#else
typedef qlong qfileref;
#endif

// The read loop's stages are inline functions, compiled into one loop. A profiling build
// (QM_PROFILE_STAGES, tools/profile.py) keeps them out of line, so that an instruction count
// by function can tell the stages apart.
#if defined(QM_PROFILE_STAGES)
#define QM_STAGE inline __attribute__((noinline))
#else
#define QM_STAGE inline
#endif

#endif
