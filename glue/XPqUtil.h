// Portable memory blocks (fixed XP pointers and movable XP handles) and, later, the typed
// text wrappers and handle conversions of the XPqUtil module.
#ifndef QUILLOMAR_XPQUTIL_H
#define QUILLOMAR_XPQUTIL_H

#include <bit>
#include <cstring>

#include "../base/qtypes.h"
#include "../base/sse2.h"
#include "callback.h"

// Largest movable block that comes back zero-filled; larger ones are left uninitialised.
constexpr qlong kXPZeroFillLimit = 8192;

void* NewXPPointer(qlong pointerSize);
void DisposeXPPointer(void* thePointer);
XPHandle NewXPHandle(qlong handleSize);
// 0 on success; on failure non-zero, with *theHandle and its contents unchanged.
qshort ResizeXPHandle(XPHandle* theHandle, qlong newSize);
void* LockXPHandle(XPHandle theHandle);
void UnlockXPHandle(XPHandle theHandle);
void DisposeXPHandle(XPHandle theHandle);
#if QM_MAC
void ClearMemBlock(void* address, qlong byteCount);
#endif

// ---- Conversions of whole texts ----------------------------------------------------------
// A terminated host-character copy of an 8-bit literal, from the ordinary heap (the caller
// frees it with free()); null when memory runs out.
qchar* convertLiteral(const char* message);

#if QM_UNICODE
// Encodes host characters as UTF-8 (one to six bytes each, the whole 32-bit range), with a
// terminating 0 byte when pCopyNullTerminator is set. dest: 6 * length + 1 bytes. The name
// is the interface's own and says "Ascii": what it writes is UTF-8.
void myCHRcopyQcharStringToAscii(const qchar* pSource, char* pDest, qbyte pCopyNullTerminator);
// Replaces the qchar handle string in *hStrHandle (count, then characters) by an 8-bit
// handle string of its UTF-8 (count, then bytes), stopping at a 0 character. 1 on success;
// 0 for a null address or handle or when memory runs out, the handle then unchanged.
qbool convertQHStrToAsciiHStr(XPHandle* hStrHandle);
#endif

#if QM_MAC
// The way back: an 8-bit handle string becomes a qchar handle string (with a 0 character
// after the counted ones). 1 on success, 0 as above.
qbool convertAsciiHStrToQHStr(XPHandle* hStrHandle);
#endif

// ---- Typed text wrappers -----------------------------------------------------------------
// The field reference of an 8-bit name; 0 when the host knows none or memory runs out.
qshort getGlobalRef(const char* fieldName, qcallback cb);
// A field's text as 8-bit text, at most maxlen characters, terminated; value holds at least
// maxlen + 1 bytes. Empty when memory runs out.
void getAsciiStringParm(qshort fldRef, qlong maxlen, char* value, qcallback cb);
// The same for a list cell.
void getAsciiListColumn(qshort listRef, qshort colRef, qlong lineNum, qlong maxlen, char* value,
                        qcallback cb);
// Stores 8-bit text into a field as host characters (empty when memory runs out).
void setStringField(qshort fldRef, const char* value, qcallback cb);
// Texts shorter than this many host characters are built on the stack on their way to a field.
constexpr qlong kStoreOnStackChars = 512;
#if QM_UNICODE
// Texts shorter than this go into a small array instead: most pieces are a few bytes, and
// setting up the vectorised loop costs more than it saves on them.
constexpr qlong kShortText = 32;
// The longer texts' half of setStringFieldN.
void setStringFieldLong(qshort fldRef, const char* value, qlong length, qcallback cb, qchar* room);
#endif
// The same as setStringField for the first length bytes of value (which holds no zero byte
// before them), when the caller knows the length already. The 8-bit build hands value on as
// it stands, so there it must hold a zero byte at length.
// room, when given, holds length + 1 host characters and takes the text on its way to the
// host when it is too long for the stack (a read loop allocates nothing); without it such a
// text takes a block of its own.
// readable: how many bytes at value may be read, length or more. A short text is widened as
// a fixed count of bytes (16, or 32 for one of 16 or more) when that many may be read: a
// fixed count the compiler unrolls, so that no branch depends on its exact length (the
// mispredicted end of a loop over the length cost more than the widening); the terminator
// then cuts the text at length.
#if QM_UNICODE
// Widens the first n bytes at value into chars: with SSE2 where it is usable, otherwise a
// byte at a time from a local copy (so the compiler need not check at run time whether chars
// overlaps them).
template <size_t n> inline void widenFixed(qchar* chars, const char* value) {
#if QM_SSE2
  if (sse2::usable()) {
    sse2::widen<n>(chars, value);
    return;
  }
#endif
  qbyte bytes[n];
  std::memcpy(bytes, value, n);
  for (size_t i = 0; i < n; ++i)
    chars[i] = bytes[i]; // never sign-extended
}

// Widens a text shorter than kShortText into chars, terminated.
inline void widenShort(qchar* chars, const char* value, qlong length, qlong readable) {
  if (length < kShortText / 2 && readable >= kShortText / 2) {
    widenFixed<kShortText / 2>(chars, value);
  } else if (readable >= kShortText) {
    widenFixed<kShortText>(chars, value);
  } else {
    for (qlong i = 0; i < length; ++i)
      chars[i] = static_cast<qbyte>(value[i]);
  }
  chars[length] = 0;
}

QM_STAGE void setStringFieldN(qshort fldRef, const char* value, qlong length, qcallback cb,
                              qchar* room = nullptr, qlong readable = 0) {
  if (length >= kShortText) {
    setStringFieldLong(fldRef, value, length, cb, room);
    return;
  }
  qchar chars[kShortText];
  widenShort(chars, value, length, readable);
  SetFldVal(fldRef, fmtString, chars, cb);
}
#else
void setStringFieldN(qshort fldRef, const char* value, qlong length, qcallback cb,
                     qchar* room = nullptr);
#endif

#if QM_UNICODE
// UTF-8 to host characters: well-formed sequences of one to four bytes become their
// characters; a malformed or cut sequence becomes U+FFFD per maximal subpart (the Unicode
// standard's recommended practice), so no byte is dropped or misread. dest holds at least
// length characters; returns the characters written.
qlong CHRutf8ToQchar(const char* src, qlong length, qchar* dest);
// Host characters to UTF-8: count characters (stopping at a 0); returns the bytes written
// (at most 4 a character for the characters of Unicode).
qlong CHRqcharToUtf8(const qchar* src, qlong count, char* dest);
// Stores length bytes of UTF-8 into a field as the characters they encode.
void setStringFieldUtf8(qshort fldRef, const char* value, qlong length, qcallback cb,
                        qchar* room = nullptr);
// Stores count UTF-16 code units (big: big-endian), none a surrogate, into a field as the
// characters they are.
void setStringFieldUnits(qshort fldRef, const char* units, qlong count, bool big, qcallback cb,
                         qchar* room = nullptr);
// How many of the first length bytes of UTF-8 text may be kept without splitting the
// character that continues past them: length, or the start of that character.
qlong Utf8CutPoint(const char* text, qlong length, qlong available);

// The one-byte code pages decoded by tables of their own (glue/codepages.cpp); ISO-8859-1
// needs none, its bytes being the first 256 characters.
constexpr qshort kCodePageWindows1252 = 1;
constexpr qshort kCodePageLatin9 = 2; // ISO-8859-15
constexpr qshort kCodePageMacRoman = 3;
// The 256 characters page's bytes stand for (U+FFFD where the page defines none); null for a
// page that is not one of the above.
const qchar* CodePageChars(qshort page);
// The byte that stands for c in page, or -1 when the page has none.
int CHRqcharToCodePage(qchar c, qshort page);
// The characters at chars (up to a 0) as page's bytes, into bytes: how many, or -1 when
// there are more than most or one the page has no byte for. chars holds most + 1 or ends
// with a 0 before.
qlong CHRqcharsToCodePage(const qchar* chars, qlong most, qshort page, qbyte* bytes);
// Stores length bytes of text in page into a field as the characters they stand for.
void setStringFieldCodePage(qshort fldRef, const char* value, qlong length, qshort page,
                            qcallback cb, qchar* room = nullptr);
// The same as setStringFieldN does it for bytes as they stand (readable as there), with
// chars, page's CodePageChars: most pieces are ASCII, which every page keeps, so a short one
// is widened as it stands and only its bytes beyond ASCII looked up.
QM_STAGE void setStringFieldPageN(qshort fldRef, const char* value, qlong length, qshort page,
                                  const qchar* chars, qcallback cb, qchar* room, qlong readable) {
  if (length >= kShortText) {
    setStringFieldCodePage(fldRef, value, length, page, cb, room);
    return;
  }
  qchar text[kShortText];
  widenShort(text, value, length, readable);
#if QM_SSE2
  // Which bytes are beyond ASCII, from whole loads where they may be made: a piece of ASCII
  // costs no loop over its length.
  if (sse2::usable() && readable >= kShortText) {
    static_assert(kShortText == 32, "two 16-byte loads cover a short text");
    uint32_t high = sse2::highBitMask(value);
    if (length > 16) high |= uint32_t{sse2::highBitMask(value + 16)} << 16;
    high &= (uint32_t{1} << length) - 1; // length < 32
    for (; high != 0; high &= high - 1) {
      const int i = std::countr_zero(high);
      text[i] = chars[text[i]];
    }
    SetFldVal(fldRef, fmtString, text, cb);
    return;
  }
#endif
  for (qlong i = 0; i < length; ++i)
    if (text[i] >= 0x80) text[i] = chars[text[i]];
  SetFldVal(fldRef, fmtString, text, cb);
}
#endif

// ---- Design information ------------------------------------------------------------------
// Fills the host's design-information record for command cmdNumber: for item 5 the label of
// its parameter line ("Parms: " and the parameter list of its command text), for item 6 that
// of its return-code line; any other item leaves the record as it is. rootID is the first
// string id of the command table; inst the library's module (ignored on macOS).
void doDesignInfo(void* designinfo, qshort cmdNumber, qshort rootID, void* inst);

#endif
