// The reader under every read command: one field at a byte position, to a delimiter of one
// to three bytes or to a fixed length, into the shared text buffer; and the conditioning
// that cleans a field in place before it is stored.
#ifndef QUILLOMAR_READER_H
#define QUILLOMAR_READER_H

#include "globals.h"

// Most bytes one read places in the buffer (a terminating zero follows them).
constexpr qlong kMaxFieldBytes = 32000;

// A field's delimiter length as the reader takes it: 0 (fixed length) to 3.
qshort DelimiterLength(const fieldSpec* f);

// Moves a disk file's read position to the record's curPos (inside its read-ahead window no
// system call is made); nothing for the in-memory sources. 0, or 7 when the system refuses
// the position; 4 when no window was attached (AttachReadAhead).
qshort SetPositionInFile(importFileSpec* fileSpecsP);

// Reads one field at *filePos into buffer (always zero-terminated) and advances *filePos by
// the bytes consumed. Results: 0 complete; 5 the system read failed; 7 the position lies
// outside an in-memory source's text (nothing read); 8 a fixed-length field ended early;
// 9 a delimited field reached the end of the data; 11 no delimiter within the maximum (the
// first fldMax bytes are kept, *filePos advances by fldMax); 4 a disk file without its
// read-ahead window. A maximum below 0 counts as 0 and one above 32000 as 32000. A disk file
// is read through its window at *filePos, never past the size seen at open.
qshort ReadToDelimOrMax(importFileSpec* fileSpecsP, const fieldSpec* fldSpecP, qpos* filePos,
                        char* buffer);

// The same, for a piece that is conditioned and stored next: *text and *length give its text
// (up to its first zero byte, as the buffer would hold it). A short unquoted piece that ends
// inside the source's current run is not copied: *text then points into the source and stays
// valid until the source is read again. Otherwise the piece is read into buffer.
qshort ReadPiece(importFileSpec* fileSpecsP, const fieldSpec* fldSpecP, qpos* filePos, char* buffer,
                 const char** text, qlong* length);

// Under CSV quoting: whether the record's format reads the size bytes at text exactly: every
// entry but the last read completely (an over-long one too: it is consumed whole) and the
// last ending at the text's end, with its delimiter when endsWithDelim. buffer is scratch;
// nothing is stored. Backward reads use it to tell a record start from a delimiter inside
// quotes.
bool RecordFits(importFileSpec* fileSpecsP, const char* text, qlong size, bool endsWithDelim,
                char* buffer);

// A record's fields are read under one lock of an in-memory source's block rather than one
// per field: between HoldSourceText and ReleaseSourceText, ReadToDelimOrMax reads the held
// block. Nothing happens for a disk file.
void HoldSourceText(importFileSpec* fileSpecsP);
void ReleaseSourceText(importFileSpec* fileSpecsP);

// Cleans the zero-terminated text in buffer in place: the record's substitutions and, when
// stripping, removal of control characters (tab becomes a blank, carriage return stays);
// then blank trimming and, when the record strips enclosing quotes, removal of one pair.
void ConditionBuffer(char* buffer, const importFileSpec* fileSpecsP, bool stripping);
// The same for a text whose length (up to its first zero byte) the caller knows; returns the
// length after conditioning.
qlong ConditionText(char* buffer, qlong length, const importFileSpec* fileSpecsP, bool stripping);
// The same for a piece ReadPiece gave, wherever it lies: a piece in the source is conditioned
// by narrowing *text and *length when only trimming applies, and copied into buffer first
// when substitutions or stripping rewrite it.
void ConditionPiece(const char** text, qlong* length, char* buffer,
                    const importFileSpec* fileSpecsP, bool stripping);

#endif
