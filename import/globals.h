// The per-load globals block, the import file table and its records.
#ifndef QUILLOMAR_GLOBALS_H
#define QUILLOMAR_GLOBALS_H

#include "../base/qtypes.h"
#include "../glue/XPqUtil.h"
#include "../platform/platform.h"
#include "results.h"

constexpr uint32_t kSigLoading = 0x4C4F4144; // "LOAD": being built, never published
constexpr uint32_t kSigReady = 0x434F4F4C;   // "COOL": block and table complete

// No read places more than 32000 bytes plus a 0 here, or, from a UTF-16 source, the UTF-8 of
// at most 32000 bytes of its text and a terminator (3 bytes for 2: 48000 and a few).
constexpr qlong kBufferSize = 48500;
constexpr qshort kMaxFileSpecs = 32767;

// Read-ahead windows of disk files (readahead.h): the size of one, and how many one load
// keeps at most, which bounds their memory at 8 x 64 KiB whatever the number of open files.
constexpr qlong kReadAheadBytes = 64 * 1024;
constexpr qshort kReadAheadSlots = 8;
struct readAheadWindow;

// File references of the in-memory sources; anything else (but 0) is a disk file.
constexpr qfileref kNoSourceRef = 0;
constexpr qfileref kClipboardRef = 1;
constexpr qfileref kFieldRef = 2;

struct fieldSpec {
  qshort fldRefNum;  // host field receiving the piece; 0 for none
  qshort fldMax;     // most bytes in the piece
  qbyte fldDelim[4]; // [0] delimiter length 0 to 3 (0: fixed length), [1..3] its bytes
  qbyte fldFlags;    // kFieldEol, kFieldRaw
  // Decided when the format is defined (PlanPiece), for reading pieces in place; a field
  // built without it (all 0) has every piece read through the buffer.
  qbyte scanLen;     // the delimiter's length, 1 to 3, when its pieces may be read in place
  qshort scanMax;    // the maximum as the buffer holds it, 0 to 32000
  qshort scanLimit;  // the most bytes a piece looks at: itself, its delimiter and an EOL's CR
  uint16_t scanMask; // of a 16-byte look at a piece, the bytes within scanLimit: bit i, byte i
  // Decided with the whole format (PlanRecord): under CSV quoting, when the last entry ends at
  // a line end, the record's other terminator, which also ends the piece (piece.h).
  qbyte fldStop[4]; // [0] its length 0 to 3 (0: none), [1..3] its bytes
  qbyte stopFlags;  // kFieldEol: the stop is an EOL line end
  qshort stopCode;  // what a piece ended by the stop answers: kResultShortRecord or LongRecord
  char scanStop;    // the stop's last byte, which the in-place looks leave to the buffer path
};

// fieldSpec::fldFlags. EOL: the delimiter is a line feed, and a carriage return right before
// it belongs to the delimiter (Unix, Windows and mixed line ends alike). Raw: the piece is
// read as bytes whatever the file's quoting (ReadUpTo and ReadBytes).
constexpr qbyte kFieldEol = 1;
constexpr qbyte kFieldRaw = 2;

struct importFileSpec {
  qpos fileSize;           // bytes that can be read from the source
  qpos curPos;             // where the current read starts
  qshort fldCount;         // entries in fields
  fieldSpec* fields;       // record layout (XP pointer) or null
  qlong maxTotal;          // half the bytes a backward read looks back (DefineFormat)
  qbyte fitDelim;          // decided with the format (PlanRecord); 0: none
  qbyte* transTable;       // substitution table (XP pointer) or null
  XPHandle dataHandle;     // text of an in-memory source, or null
  qfileref fileRef;        // what the record reads from; also the methods' name for it
  qshort stripEncQuotes;   // non-zero: strip enclosing quotes from pieces
  PlatFileBlock fileBlock; // the platform's per-file state (macOS: its parameter block)
  readAheadWindow* window; // a disk file's read-ahead window for the current command, or null
  const void* lockedBlock; // an in-memory source's block while a record read holds it locked
  const char* heldText;    // while it is held: where its text starts in the block
  qlong heldAvailable;     // and how many of its bytes may be read
  qshort encoding;         // a kEncoding value (the fifth OpenFile parameter)
  qshort bomLength;        // the byte-order mark a source starts with (UTF-8: 3, UTF-16: 2), or 0
  qshort quoting;          // kQuotingPlain, or kQuotingCsv (the sixth OpenFile parameter)
  bool quotedPiece;        // CSV: the piece just read was a quoted value (kept untrimmed)
  bool strayQuote;         // CSV: a piece of the record opened with a quote taken as stray
  char quoteChar;          // CSV: the byte that encloses a quoted value ('"' or '\'')
  char escapeChar;         // CSV: 0 (quotes doubled), or '\\': the next byte is literal
};

// How a record's delimited pieces treat quotes: by the enclosing-quote rule of
// stripEncQuotes, or as RFC 4180 quoted values (CSV, with the record's quoteChar and
// escapeChar), where stripEncQuotes plays no part.
constexpr qshort kQuotingPlain = 0;
constexpr qshort kQuotingCsv = 1;

// What the bytes of a source are: passed as they stand (one character per byte: ISO-8859-1),
// UTF-8 decoded to the characters they encode, or a one-byte code page decoded by its table
// (Unicode builds only, beyond the first).
constexpr qshort kEncodingBytes = 0;
constexpr qshort kEncodingUtf8 = 1;
constexpr qshort kEncodingWindows1252 = 2;
constexpr qshort kEncodingLatin9 = 3;
constexpr qshort kEncodingMacRoman = 4;
// UTF-16 in either byte order; "UTF-16" is kEncodingUtf16 until the open finds the byte-order
// mark that decides (little-endian without one). Its pieces are read character by character
// (reader16.cpp) and reach the buffer as UTF-8, so the rest of the library takes them as it
// takes a UTF-8 source's.
constexpr qshort kEncodingUtf16Le = 5;
constexpr qshort kEncodingUtf16Be = 6;
constexpr qshort kEncodingUtf16 = 7;

constexpr bool IsUtf16Encoding(qshort encoding) {
  return QM_UNICODE && (encoding == kEncodingUtf16Le || encoding == kEncodingUtf16Be ||
                        encoding == kEncodingUtf16); // the 8-bit host opens none
}

// Whether the buffer holds a source's pieces, its delimiters and its terminators as UTF-8.
constexpr bool IsUtf8Text(qshort encoding) {
  return QM_UNICODE && (encoding == kEncodingUtf8 || IsUtf16Encoding(encoding));
}

// Whether an encoding writes every character in one byte: its pieces may be taken and stored
// as they lie in the source, a byte a character.
constexpr bool IsOneByteEncoding(qshort encoding) {
  return !IsUtf8Text(encoding); // every other encoding there is: bytes and code pages
}

#if QM_UNICODE
// The code page whose table decodes an encoding's bytes, or 0 for one that needs none.
constexpr qshort CodePageOf(qshort encoding) {
  switch (encoding) {
  case kEncodingWindows1252:
    return kCodePageWindows1252;
  case kEncodingLatin9:
    return kCodePageLatin9;
  case kEncodingMacRoman:
    return kCodePageMacRoman;
  default:
    return 0;
  }
}
#endif

struct globals {
  uint32_t sig;             // kSigLoading or kSigReady
  XPHandle fileSpecsH;      // the import file table
  char buffer[kBufferSize]; // shared text buffer of the read commands, 8-bit text
#if QM_UNICODE
  qchar* wide; // a long piece in host characters on its way to the host (an XP pointer of
               // kBufferSize characters, made at the first such piece and kept until unload)
#endif
  readAheadWindow* readAhead[kReadAheadSlots]; // disk files' windows (XP pointers) or null
  uint32_t readAheadClock;                     // counts commands that used a window
  XPHandle backwardH; // a backward read's record, standing in for the source; made once
};

inline bool IsInMemorySource(const importFileSpec* rec) {
  return rec->fileRef == kClipboardRef || rec->fileRef == kFieldRef;
}

#endif
