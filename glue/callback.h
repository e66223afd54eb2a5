// The adapter over the host's callback: one function per host operation, the same names and
// arguments in every build. Each takes the host's callback (Windows) or callback record
// (macOS) last. Also the host-character string helpers of the callback module.
#ifndef QUILLOMAR_CALLBACK_H
#define QUILLOMAR_CALLBACK_H

#include "../base/qtypes.h"

// Value formats of field and list reads and writes.
enum : qshort {
  fmtNumber = 0, // a host number (qreal at the address)
  fmtString = 2, // a terminated host-character string
  fmtLength = 4, // reads only: a 32-bit count of characters
  fmtHandle = 8, // reads only: an XP handle that receives a qchar handle string
};

// Operation codes of the Windows callback.
enum : qlong {
  opGetFldRef = 28,
  opGetFldNum = 29,
  opSetFldVal = 30,
  opSetFldNum = 31,
  opShowMessage = 36,
  opGetFldVal = 38,
  opGetLstVal = 39,
  opGetLstNum = 40,
  opGetPackageId = 48,
  opGetDesignPtr = 49,
};

// Byte offsets of the slots of the macOS callback record, in a record of 4-byte pointers;
// slot k is entry k / 4 of the record's array of function pointers on every build.
enum : int {
  slotGetFldRef = 12,
  slotGetFldNum = 24,
  slotSetFldVal = 28,
  slotSetFldNum = 32,
  slotShowMessage = 92,
  slotGetFldVal = 128,
  slotGetLstVal = 132,
  slotGetPackageId = 168,
  slotGetDesignPtr = 172,
};

// The Windows callback's list-cell record.
struct q_ {
  qlong lineno;
  qlong maxlen;
};

qshort GetFldRef(const qchar* name, qcallback cb);
qshort GetFldInt(qshort fldref, qcallback cb);
qlong GetFldLong(qshort fldref, qcallback cb);
void SetFldVal(qshort fldref, qshort fmt, void* val, qcallback cb);
void SetFldInt(qshort fldref, qshort val, qcallback cb);
void SetFldLong(qshort fldref, qlong val, qcallback cb);
// Writes a number at full width (a position or size beyond 32 bits).
void SetFldReal(qshort fldref, qreal val, qcallback cb);
void GetFldVal(qshort fldref, qshort fmt, qlong maxlen, void* val, qcallback cb);
void GetLstVal(qshort listno, qlong lineno, qshort fldref, qshort fmt, qlong maxlen, void* val,
               qcallback cb);
qshort GetLstInt(qshort listno, qlong lineno, qshort fldref, qcallback cb);
// A field's or list cell's number at its full width, as the host holds it; the commands
// range-check it themselves instead of letting it wrap to 16 bits.
qreal GetFldReal(qshort fldref, qcallback cb);
qreal GetLstReal(qshort listno, qlong lineno, qshort fldref, qcallback cb);
qbyte ShowMessage(qshort mty, qbyte high, qbyte large, qbyte bell, const qchar* message,
                  qcallback cb);
qshort GetPackageId(qcallback cb);
void* GetDesignPtr(qcallback cb);

// Fills the host's length-prefixed record from a terminated string, cut at 255 characters.
void sthandle(const qchar* m, str255* str);

// Host numbers to integers, truncated toward zero. Out of range (or not a number) gives the
// most negative value, as the x86 conversion does; the Windows 16-bit reads keep the low 16
// bits of the 32-bit result instead.
qlong qrealToLong(qreal value);
// Whether value, truncated towards zero, lies within lo to hi; *out then holds it. False for
// anything else, a value that is not a number included.
bool qrealInRange(qreal value, qlong lo, qlong hi, qlong* out);

// ---- Host-character strings and conversions ----------------------------------------------
// Destinations belong to the caller and must be large enough (see each function); nothing
// here checks a capacity. Bytes from 0x80 to 0xFF widen to the code point of the same value.

// Widens an 8-bit string to host characters (the 8-bit build: a byte copy); a terminator is
// written when copyTerminator is non-zero. dest: strlen + 1 units.
void CHRcopyAsciiStringToQchar(const char* pSource, qchar* pDest, qbyte pCopyNullTerminator);

// Length of a terminated host string; 0 for null.
qlong OMstrlen(const qchar* pString);
// Appends pSource to pDest; with either null, changes nothing. Returns pDest.
qchar* OMstrcat(qchar* pDest, const qchar* pSource);

#if QM_UNICODE
// Narrows host characters to their low 8 bits. dest: length + 1 bytes.
void CHRcopyQcharStringToAscii(const qchar* pSource, char* pDest, qbyte pCopyNullTerminator);
// UTF-32 to UTF-16; pOutBuf may be pInBuf. Code points above 0x10FFFF become 0x0001.
// Returns the units written before the terminator. dest: 2 * length + 1 units.
qlong CHRcharToOschar(const qchar* pInBuf, oschar* pOutBuf);
// UTF-16 to UTF-32: a surrogate before the terminator becomes 0x0001, two units that start
// with a surrogate but are no pair become 0x0002. Returns the characters written before the
// terminator. dest: length + 1 units.
qlong CHRoscharToChar(const oschar* pInBuf, qchar* pOutBuf);
// Copies pSource with its terminator to pDest; with either null, copies nothing.
qchar* OMstrcpy(qchar* pDest, const qchar* pSource);
#endif

#if QM_MAC
// Widens exactly count bytes (none when count <= 0); no terminator.
void CHRcopyAsciiDataToQchar(const char* pSource, qlong count, qchar* pDest);
void CHRcopyAsciiDataToQoschar(const char* pSource, qlong count, oschar* pDest);
void CHRcopyAsciiStringToQoschar(const char* pSource, oschar* pDest, qbyte pCopyNullTerminator);
void CHRcopyQoscharStringToAscii(const oschar* pSource, char* pDest, qbyte pCopyNullTerminator);
#endif

#endif
