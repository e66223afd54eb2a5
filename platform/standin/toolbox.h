// A POSIX stand-in for the Mac Toolbox calls the macOS flavour makes (Memory Manager, File
// Manager, SysBeep, the 80-bit number conversions). Like the Windows stand-in it is a shared
// library of its own that the library and the stand-in host both load.
//
// Behaviour the library depends on, as the Toolbox documents it:
//  - A Handle is the address of a master pointer; HLock pins the block, and one HUnlock
//    releases it however often it was locked. SetHandleSize on a locked handle that must
//    grow fails with memLockedErr; bytes added by growing are undefined (filled with 0xA5
//    here so that nobody can rely on them). MemError reports the last Memory Manager call.
//  - File reference numbers are 16-bit, never 0, 1 or 2. Reads past the end give eofErr
//    with the bytes that were there; positions before the start give posErr.
//  - extended80 is the 10-byte SANE format: a sign bit and 15-bit exponent in the first
//    two bytes, then a 64-bit significand with an explicit integer bit, most significant
//    byte first. x80told and ldtox80 convert through the value, not the bit pattern of the
//    machine's long double, so they are right on any machine.
#ifndef QUILLOMAR_STANDIN_TOOLBOX_H
#define QUILLOMAR_STANDIN_TOOLBOX_H

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define TOOLBOX_API extern "C" __attribute__((visibility("default")))
#else
#define TOOLBOX_API extern "C"
#endif

typedef int16_t OSErr;
typedef int32_t Size;
typedef char* Ptr;
typedef Ptr* Handle;
typedef int16_t FSIORefNum;
typedef uint8_t Str255[256];
typedef const uint8_t* ConstStr255Param;
typedef uint8_t* StringPtr;

enum : OSErr {
  noErr = 0,
  ioErr = -36,
  eofErr = -39,
  posErr = -40,
  fnfErr = -43,
  paramErr = -50,
  rfNumErr = -51,
  tmfoErr = -42,
  memFullErr = -108,
  nilHandleErr = -109,
  memLockedErr = -117,
  notAFileErr = -1302,
};

enum : int16_t { fsAtMark = 0, fsFromStart = 1, fsFromLEOF = 2, fsFromMark = 3 };
enum : int8_t { fsCurPerm = 0, fsRdPerm = 1 };

struct extended80 {
  uint8_t bytes[10];
};

typedef void (*IOCompletionUPP)(void*);

// The part of the File Manager's parameter block that these calls use.
struct ParamBlockRec {
  IOCompletionUPP ioCompletion;
  OSErr ioResult;
  StringPtr ioNamePtr;
  int16_t ioVRefNum;
  FSIORefNum ioRefNum;
  int8_t ioVersNum;
  int8_t ioPermssn;
  Ptr ioMisc;   // PBGetEOFSync: the end-of-file position
  Ptr ioBuffer; // PBReadSync: where the bytes go
  int32_t ioReqCount;
  int32_t ioActCount;
  int16_t ioPosMode;
  int32_t ioPosOffset;
};
typedef ParamBlockRec* ParmBlkPtr;

// Memory Manager
TOOLBOX_API Ptr NewPtrClear(Size size);
TOOLBOX_API void DisposePtr(Ptr p);
TOOLBOX_API Handle NewHandle(Size size);
TOOLBOX_API Handle NewHandleClear(Size size);
TOOLBOX_API void SetHandleSize(Handle h, Size newSize);
TOOLBOX_API Size GetHandleSize(Handle h);
TOOLBOX_API void HLock(Handle h);
TOOLBOX_API void HUnlock(Handle h);
TOOLBOX_API void DisposeHandle(Handle h);
TOOLBOX_API OSErr MemError(void);

// File Manager
TOOLBOX_API OSErr HOpen(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName, int8_t perm,
                        FSIORefNum* refNum);
TOOLBOX_API OSErr PBGetEOFSync(ParmBlkPtr pb);
TOOLBOX_API OSErr FSGetForkSize(FSIORefNum forkRefNum, int64_t* forkSize);
TOOLBOX_API OSErr PBReadSync(ParmBlkPtr pb);
TOOLBOX_API OSErr SetFPos(FSIORefNum refNum, int16_t posMode, int32_t posOff);
TOOLBOX_API OSErr PBCloseSync(ParmBlkPtr pb);

TOOLBOX_API void SysBeep(int16_t duration);

// fp.h
TOOLBOX_API long double x80told(const extended80* x);
TOOLBOX_API void ldtox80(const long double* x, extended80* x80);

// Resource Manager: item index (from 1) of STR# list strListID; empty when there is none.
TOOLBOX_API void GetIndString(StringPtr theString, int16_t strListID, int16_t index);

// Text Encoding Conversion Manager: only Mac OS Roman to UTF-16 is offered.
typedef uint32_t TextEncoding;
typedef int32_t OSStatus;
typedef struct OpaqueTECObjectRef* TECObjectRef;
typedef unsigned long ByteCount;
enum : uint32_t { kTextEncodingMacRoman = 0, kTextEncodingUnicodeDefault = 0x100 };
enum : uint32_t { kUnicode16BitFormat = 0 };
enum : OSStatus {
  kTextUnsupportedEncodingErr = -8738,
  kTECOutputBufferFullStatus = -8785, // a status, not a failure: what fitted was converted
};
TOOLBOX_API TextEncoding CreateTextEncoding(uint32_t base, uint32_t variant, uint32_t format);
TOOLBOX_API OSStatus TECCreateConverter(TECObjectRef* newEncodingConverter,
                                        TextEncoding inputEncoding, TextEncoding outputEncoding);
TOOLBOX_API OSStatus TECConvertText(TECObjectRef converter, const uint8_t* inputBuffer,
                                    ByteCount inputBufferLength, ByteCount* actualInputLength,
                                    uint8_t* outputBuffer, ByteCount outputBufferLength,
                                    ByteCount* actualOutputLength);
TOOLBOX_API OSStatus TECFlushText(TECObjectRef converter, uint8_t* outputBuffer,
                                  ByteCount outputBufferLength, ByteCount* actualOutputLength);

// Stand-in only: what a test needs to observe the "system".
TOOLBOX_API unsigned ToolboxBeepCount(void);
TOOLBOX_API unsigned ToolboxOpenFileCount(void);
// Tests: the next file that opens comes back as this reference number (its descriptor is
// closed at once, so the number reaches nothing).
TOOLBOX_API void ToolboxForceNextRefNum(FSIORefNum refNum);
TOOLBOX_API unsigned ToolboxLiveBlockCount(void);
// The stand-in's resource file: a library registers its STR# lists (Mac OS Roman bytes).
TOOLBOX_API void ToolboxRegisterStringList(int16_t strListID, const char* const* items,
                                           size_t count);
// Makes the next TECCreateConverter calls fail (count), for tests.
TOOLBOX_API void ToolboxFailConverterCreation(unsigned count);

#endif
