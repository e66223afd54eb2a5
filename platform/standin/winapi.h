// A POSIX stand-in for the few Windows calls the library and the stand-in host make, so that
// the Windows flavours build and run natively on Linux. It is a shared library of its own,
// playing the part of kernel32 and user32: the library and the host load the same copy, so
// memory handles, the clipboard and file handles mean the same on both sides.
//
// Semantics follow the Windows documentation where the library depends on them:
//  - GlobalAlloc(GMEM_FIXED) returns the block's address; GMEM_MOVEABLE returns a handle that
//    must be locked. Locks count; unlocking an unlocked handle is a harmless no-op.
//  - GlobalReAlloc always moves a movable block (a pointer kept from before is stale), and
//    GMEM_ZEROINIT zero-fills the bytes a resize adds.
//  - File handles are small values (multiples of 4 from 0x104), never 0, 1, 2 or -1, and
//    independent of the POSIX descriptor numbers behind them.
#ifndef QUILLOMAR_STANDIN_WINAPI_H
#define QUILLOMAR_STANDIN_WINAPI_H

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define STANDIN_API extern "C" __attribute__((visibility("default")))
#else
#define STANDIN_API extern "C"
#endif

typedef int BOOL;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef void* HANDLE;
typedef void* HGLOBAL;
typedef void* HWND;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef uint16_t WCHAR;
typedef size_t SIZE_T;
typedef const WCHAR* LPCWSTR;
typedef const char* LPCSTR;

#define TRUE 1
#define FALSE 0
#define WINAPI
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define FILE_TYPE_UNKNOWN 0u
#define FILE_TYPE_DISK 1u
#define FILE_TYPE_CHAR 2u
#define FILE_TYPE_PIPE 3u

#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

#define CF_TEXT 1u
#define CF_UNICODETEXT 13u

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_HANDLE_EOF 38u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_NOT_LOCKED 158u
#define ERROR_CLIPBOARD_NOT_OPEN 1418u

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

// kernel32: memory
STANDIN_API HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
STANDIN_API HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags);
STANDIN_API LPVOID GlobalLock(HGLOBAL mem);
STANDIN_API BOOL GlobalUnlock(HGLOBAL mem);
STANDIN_API HGLOBAL GlobalFree(HGLOBAL mem);
STANDIN_API SIZE_T GlobalSize(HGLOBAL mem);

// kernel32: files
STANDIN_API HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE tmpl);
STANDIN_API HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE tmpl);
STANDIN_API BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, DWORD* read, void* overlapped);
STANDIN_API DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
STANDIN_API DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
STANDIN_API DWORD GetFileType(HANDLE file);
STANDIN_API BOOL CloseHandle(HANDLE object);
STANDIN_API DWORD GetLastError(void);
STANDIN_API void SetLastError(DWORD code);
STANDIN_API BOOL Beep(DWORD freq, DWORD duration);

// user32: clipboard (in-process)
STANDIN_API BOOL OpenClipboard(HWND owner);
STANDIN_API BOOL EmptyClipboard(void);
STANDIN_API HANDLE SetClipboardData(UINT format, HANDLE mem);
STANDIN_API HANDLE GetClipboardData(UINT format);
STANDIN_API BOOL CloseClipboard(void);

// user32: string resources, from a table the library registers (see StandinRegisterStrings)
STANDIN_API int LoadStringW(HINSTANCE inst, UINT id, WCHAR* buffer, int bufferMax);
STANDIN_API int LoadStringA(HINSTANCE inst, UINT id, char* buffer, int bufferMax);

// Stand-in only: what a test needs to observe the "system".
STANDIN_API unsigned StandinBeepCount(void);
STANDIN_API unsigned StandinOpenFileCount(void);
// Tests: the next file that opens comes back as this handle value, as some system could hand
// out (its descriptor is closed at once, so the handle reaches nothing).
STANDIN_API void StandinForceNextFileHandle(HANDLE h);
STANDIN_API unsigned StandinLiveBlockCount(void);

// String resources have no file format on Linux: a library registers its table, keyed by
// the instance handle it will pass to LoadString (UTF-8 texts, terminated by a null id 0).
struct StandinString {
  UINT id;
  const char* utf8;
};
STANDIN_API void StandinRegisterStrings(HINSTANCE inst, const StandinString* table, size_t count);
// The modules that registered strings, in the order they did; null past the last.
STANDIN_API HINSTANCE StandinStringModule(size_t index);

#endif
