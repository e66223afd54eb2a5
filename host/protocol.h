// The host's side of the binary interface between the host and an external library,
// written down here independently of the library's own headers, so that a layout mistake on
// either side shows up as a failing scenario rather than agreeing with itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qhost {

enum class Flavour { WinUnicode, Win8, Mac };

inline bool isUnicode(Flavour f) { return f != Flavour::Win8; }
inline bool isWindows(Flavour f) { return f != Flavour::Mac; }
inline const char* flavourName(Flavour f) {
  switch (f) {
  case Flavour::WinUnicode:
    return "windows-unicode";
  case Flavour::Win8:
    return "windows-8bit";
  case Flavour::Mac:
    return "mac";
  }
  return "?";
}

// Messages the host sends.
enum : int16_t { kLoad = 0, kExecute = 1, kUnload = 2, kDesignInfo = 3, kSetupInfo = 4 };

// Pseudo-fields of the command being executed.
enum : int16_t { kReturnCode = 200, kParamCount = 210, kFirstParam = 211 };

// Return codes a command leaves in field 200, as the host's side reads them.
// (Plain constants rather than an enum: the host compares them with its numbers.)
inline constexpr int kRcNotLoaded = -1;
inline constexpr int kRcOk = 0;
inline constexpr int kRcNoFormat = 1;
inline constexpr int kRcCannotOpen = 2;
inline constexpr int kRcBadParameter = 3;
inline constexpr int kRcNoMemory = 4;
inline constexpr int kRcIoError = 5;
inline constexpr int kRcNoSuchFile = 6;
inline constexpr int kRcAtEnd = 7;
inline constexpr int kRcShortFixed = 8;
inline constexpr int kRcNoDelimiter = 9;
inline constexpr int kRcPositionLost = 10;
inline constexpr int kRcTooLong = 11;
inline constexpr int kRcShortRecord = 12;
inline constexpr int kRcLongRecord = 13;
inline constexpr int kRcStrayQuote = 14;

// What the tools call a return code; "unknown result" for one not listed above.
inline const char* resultText(int code) {
  switch (code) {
  case kRcNotLoaded:
    return "the library is not loaded";
  case kRcOk:
    return "complete";
  case kRcNoFormat:
    return "no record format";
  case kRcCannotOpen:
    return "the file cannot be opened";
  case kRcBadParameter:
    return "a parameter is missing or out of range";
  case kRcNoMemory:
    return "out of memory, or the clipboard cannot be opened";
  case kRcIoError:
    return "input/output error";
  case kRcNoSuchFile:
    return "no such import file";
  case kRcAtEnd:
    return "end of the source";
  case kRcShortFixed:
    return "the source ended within a fixed-length field";
  case kRcNoDelimiter:
    return "the source ended before the delimiter";
  case kRcPositionLost:
    return "the position variable could not hold the position handed back";
  case kRcTooLong:
    return "a field longer than its maximum";
  case kRcShortRecord:
    return "a short record (fewer fields than the format; a blank line has none)";
  case kRcLongRecord:
    return "a long record (more fields than the format)";
  case kRcStrayQuote:
    return "a stray quote (a quote that opened a value did not close it)";
  default:
    return "unknown result";
  }
}

// Value formats.
enum : int16_t { kFmtNumber = 0, kFmtString = 2, kFmtLength = 4, kFmtHandle = 8 };

// Windows callback operation codes.
enum : int32_t {
  kOpGetFldRef = 28,
  kOpGetFldNum = 29,
  kOpSetFldVal = 30,
  kOpSetFldNum = 31,
  kOpShowMessage = 36,
  kOpGetFldVal = 38,
  kOpGetLstVal = 39,
  kOpGetLstNum = 40,
  kOpGetPackageId = 48,
  kOpGetDesignPtr = 49,
};

// macOS callback record: byte offsets in a record of 4-byte pointers. The host builds it as
// an array of function pointers in which offset k is entry k / 4.
enum : int {
  kSlotGetFldRef = 12,
  kSlotGetFldNum = 24,
  kSlotSetFldVal = 28,
  kSlotSetFldNum = 32,
  kSlotShowMessage = 92,
  kSlotGetFldVal = 128,
  kSlotGetLstVal = 132,
  kSlotGetPackageId = 168,
  kSlotGetDesignPtr = 172,
};
constexpr int kCallbackRecordEntries = 64;

// Length-prefixed host string: 32-bit count and 4-byte characters (Unicode), or an 8-bit
// count and bytes.
struct Str255Wide {
  uint32_t len;
  uint32_t content[255];
};
struct Str255Narrow {
  uint8_t len;
  uint8_t content[255];
};
static_assert(sizeof(Str255Wide) == 1024 && sizeof(Str255Narrow) == 256);

// The Windows list-cell record.
struct ListCellArgs {
  int32_t lineno;
  int32_t maxlen;
};

// The 80-bit extended number of the macOS host: sign and 15-bit exponent, then a 64-bit
// significand with its integer bit, most significant byte first.
struct Extended80 {
  uint8_t bytes[10];
};

// The design-information record (packed): offsets of its fields.
constexpr size_t kDiType = 0, kDiFlags = 2, kDiQfldid = 6, kDiUseDefault = 8, kDiVarLength = 9,
                 kDiLabel = 10;
inline size_t designRecordSize(Flavour f) { return isUnicode(f) ? 1034 : 266; }
// The set-up record: the library sets the 16-bit word at this offset to 1.
constexpr size_t kSetupFlagOffset = 14;
constexpr size_t kSetupRecordSize = 32;

// Entry points.
#if defined(_WIN32) && !defined(_WIN64)
#define QHOST_STDCALL __stdcall
#define QHOST_CDECL __cdecl
#else
#define QHOST_STDCALL
#define QHOST_CDECL
#endif
typedef int16_t(QHOST_CDECL* WinCallback)(int32_t op, ...);
typedef void(QHOST_STDCALL* WinEntry)(int16_t md, void** ref, void* hwnd, void* hwnd2, void* inst,
                                      WinCallback cb);
typedef void (*MacEntry)(int16_t md, void** ref, void* callbackRecord);

} // namespace qhost
