// The reader under every read command: one field at a byte position, to a delimiter of one
// to three bytes or to a fixed length, into the shared text buffer; and the conditioning
// that cleans a field in place before it is stored.
#ifndef QUILLOMAR_READER_H
#define QUILLOMAR_READER_H

#include "globals.h"
#include "piece.h"
#include "scan.h"

#include <bit>

// Most bytes one read places in the buffer (a terminating zero follows them).
constexpr qlong kMaxFieldBytes = 32000;

// A field's maximum as the buffer can hold it.
inline qlong EffectiveMax(qshort fldMax) {
  if (fldMax < 0) return 0;
  return fldMax > kMaxFieldBytes ? kMaxFieldBytes : fldMax;
}

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

// QuickFits for a UTF-16 source (reader16.cpp): the same counts, of code units at even
// offsets from text, whose size must then be even too.
bool QuickFits16(const importFileSpec* fileSpecsP, const char* text, qlong size,
                 bool endsWithDelim);

// The usual piece of a UTF-16 source (reader16.cpp), in the run bytes at at (an even position
// of the source): characters up to U+FFFF that no rule watches (no quote, escape, line end,
// zero unit or first character of the stop), then the delimiter, one or two ASCII units (an
// EOL's line feed with or without its carriage return), the text within maxBytes. Returns
// the text's bytes and sets *ends to the delimiter's; -1 for any other piece, which only the
// character reader reads. The one-pass read into the buffer and the store of a record's
// units as they stand both take their pieces here.
qlong UsualPiece16(const importFileSpec* rec, const fieldSpec* f, const char* at, qlong run,
                   qlong maxBytes, qlong* ends);

// A UTF-16 source's delimiter or stop (its length in [0], its UTF-8 after, as a format holds
// it) as the bytes the source writes it in: up to 12 at out; returns how many.
qlong Utf16Delimiter(const qbyte* delim, bool bigEndian, char* out);

// ---- A record's pieces in one pass ---------------------------------------------------------
// What reading a piece in place needs to know of the source, taken once a command
// (StartPieces) rather than again for every piece: the run of source bytes at hand (an
// in-memory source's held text, or a disk file's window) and the format's quote rule.
struct pieceCursor {
  importFileSpec* rec;
  const char* run; // the source's bytes from runStart on, runCount of them; null: none at hand
  qpos runStart;
  qlong runCount;
  pieceQuotes quotes; // the quote byte, and by kFieldRaw whether a leading one needs the buffer
  bool over;          // the run is the whole source (StartPiecesOver), not the record's own
};

// Takes the run at hand: between HoldSourceText and ReleaseSourceText for an in-memory
// source, after AttachReadAhead for a disk file.
void StartPieces(pieceCursor* cursor, importFileSpec* fileSpecsP);
// The same over the size bytes at text instead of the record's source, under the record's
// format, quoting and encoding: positions count from text, and nothing is read past its end
// (a backward read's record, a trial read).
void StartPiecesOver(pieceCursor* cursor, importFileSpec* fileSpecsP, const char* text, qlong size);
// The read of a piece that the in-place test below does not take: refills a disk file's
// window, reads through the buffer when it must, and takes the run at hand again.
qshort ReadPieceSlow(pieceCursor* cursor, const fieldSpec* fldSpecP, qpos* filePos, char* buffer,
                     const char** text, qlong* length);

// Under the record rule (piece.h), after the format's last entry (last) ended at its stop:
// passes over the rest of the record's line, piece by piece as CSV reads them (a quoted line
// end is no line end), up to and including the line end. Returns the last piece's code:
// kResultShortRecord at the line end, else the end of the data or a failure.
qshort SkipRestOfRecord(pieceCursor* cursor, const fieldSpec* last, qpos* filePos, char* buffer);

// Fills in the field's plan for the in-place path, once its delimiter and maximum are set.
void PlanPiece(fieldSpec* fldSpecP);

// The in-place path, for a field PlanPiece planned. It takes a piece that starts inside the
// run, does not open with a quote that matters, and has its delimiter within the run and its
// maximum, with no zero byte before it: then *text and *length are its bytes in the source
// before the delimiter, *filePos moves past the delimiter and the result is true. Anything
// else is false, with nothing changed, and ReadPieceSlow reads it as the buffer path does.
QM_STAGE bool ReadPieceInPlace(pieceCursor* c, const fieldSpec* f, qpos* filePos, const char** text,
                               qlong* length) {
  const qlong len = f->scanLen;
  const qpos offset = *filePos - c->runStart;
  if (len == 0 || offset < 0 || offset >= c->runCount) return false;
  const char* at = c->run + offset;
  if (LeadingQuoteMatters(c->quotes, f, *at)) return false;
  const auto last = static_cast<char>(f->fldDelim[len]); // never 0: PlanPiece saw to that
  const auto room = static_cast<qlong>(c->runCount - offset);
  const char* end = at + (room < f->scanLimit ? room : f->scanLimit);
  const char* readable = at + room;
  for (const char* p = at; (p = findByteOrZero(p, end, readable, last, f->scanStop)) != nullptr;
       ++p) {
    if (*p != last) return false; // a zero byte or the stop (never the delimiter): the buffer's
    const auto upTo = static_cast<qlong>(p - at) + 1;
    if (len > 1 && (upTo < len || static_cast<qbyte>(p[1 - len]) != f->fldDelim[1] ||
                    (len == 3 && static_cast<qbyte>(p[-1]) != f->fldDelim[2])))
      continue;
    const qlong piece = upTo - DelimiterSpan(f, len, upTo, upTo > 1 ? p[-1] : 0);
    if (piece > f->scanMax) return false; // a delimiter past the maximum
    *text = at;
    *length = piece;
    *filePos += upTo;
    c->rec->quotedPiece = false;
    return true;
  }
  return false;
}

#if QM_QUICK_PIECES
// The bytes of [at, at + room) that equal c or are zero, bit i for byte at + i, from one
// 16-byte look that lies inside the run: at and the 15 bytes after it, or, nearer the run's
// end than that, the 16 bytes that end with it (before bytes of the run precede at).
// Every bit past the room is clear; all are when the run has fewer than 16 bytes there.
inline unsigned LookFrom(const char* at, qlong room, qlong before, char c, char stop) {
  if (room >= 16) return ByteOrZeroMask16(at, c, stop);
  if (room > 0 && room + before >= 16)
    return ByteOrZeroMask16(at + room - 16, c, stop) >> (16 - room);
  return 0;
}

// The in-place path's shortest case, with one 16-byte look: a piece of fewer than 16 bytes
// ended by a one-byte delimiter (not a line end), starting at at with room bytes of the run
// from there and before bytes of it before (16 in all or more), opening with no quote that
// matters (quotes as the cursor's), with no zero byte or stop before its delimiter. Its length,
// as ReadPieceInPlace would find it; -1 when the in-place path must decide.
QM_STAGE int QuickPieceLength(const fieldSpec* f, const pieceQuotes& quotes, const char* at,
                              qlong room, qlong before) {
  if (!EndsAtOneByte(f) || room <= 0) return -1;
  if (LeadingQuoteMatters(quotes, f, *at)) return -1;
  const auto delim = static_cast<char>(f->fldDelim[1]);
  // Past the piece's limit (its maximum and delimiter) and the run's end nothing counts.
  const unsigned hits = LookFrom(at, room, before, delim, f->scanStop) & f->scanMask;
  if (hits == 0) return -1;
  const int n = std::countr_zero(hits); // below the limit: within the maximum
  return at[n] == delim ? n : -1;       // not a zero byte or the stop
}

// Up to 64 bytes of a run looked at once for one delimiter byte: where a record's short
// pieces follow each other, each one's end is then a bit scan of this mask. A look per piece
// waits for the last piece's end before it can load, compare and scan; the mask's loads
// wait for nothing.
struct pieceBlock {
  const char* start; // the block's first byte; null: no block
  qlong bytes;       // 16 to 64, all inside the run
  uint64_t hits;     // bit i: byte i is the delimiter or a zero byte
  char delim;
  char stop; // the stop's last byte of the fields it serves (0: none)
};

// The block of the run from at on, room bytes of it readable: up to 64 of them, the last few
// from a look that ends with the run (none when the room is under 16).
inline void LoadPieceBlock(pieceBlock* b, const char* at, qlong room) {
  const qlong bytes = room >= 64 ? 64 : room;
  b->start = bytes >= 16 ? at : nullptr;
  b->bytes = bytes;
  b->hits = 0;
  if (bytes < 16) return;
  qlong k = 0;
  for (; k + 16 <= bytes; k += 16)
    b->hits |= uint64_t{ByteOrZeroMask16(at + k, b->delim, b->stop)} << k;
  if (k < bytes) // the bytes it overlaps give the same bits again
    b->hits |= uint64_t{ByteOrZeroMask16(at + bytes - 16, b->delim, b->stop)} << (bytes - 16);
}

// Whether the block's look serves a field's pieces: a one-byte delimiter, the block's, that
// is not a line end (which may take a carriage return before it).
inline bool BlockServes(const pieceBlock& b, const fieldSpec* f) {
  return EndsAtOneByte(f) && static_cast<char>(f->fldDelim[1]) == b.delim && f->scanStop == b.stop;
}

// For a field the block serves, the piece at at as ReadPieceInPlace would find it: its
// length, when the block holds its start and its delimiter (so it has fewer than 64 bytes);
// kBlockMisses when it does not (a block loaded at the piece may); -1 when the in-place path
// must decide (a quote that matters, a zero byte, or no delimiter within the maximum).
constexpr int kBlockMisses = -2;
QM_STAGE int BlockPieceLength(const pieceBlock& b, const fieldSpec* f, const pieceQuotes& quotes,
                              const char* at) {
  if (b.start == nullptr) return kBlockMisses;
  const auto off = at - b.start;
  if (off < 0 || off >= b.bytes) return kBlockMisses;
  if (LeadingQuoteMatters(quotes, f, *at)) return -1;
  const uint64_t hits = b.hits >> off;
  if (hits == 0) return kBlockMisses;
  const int n = std::countr_zero(hits);
  // Past the maximum the in-place path finds no delimiter; a zero byte ends its text.
  return n <= f->scanMax && at[n] == b.delim ? n : -1;
}
#endif

inline qshort NextPiece(pieceCursor* c, const fieldSpec* f, qpos* filePos, char* buffer,
                        const char** text, qlong* length) {
  if (ReadPieceInPlace(c, f, filePos, text, length)) return kResultOk;
  // The slow path works on copies: were the caller's own variables handed to a call, they
  // would live in memory for every piece rather than in registers.
  qpos at = *filePos;
  const char* got = nullptr;
  qlong gotLength = 0;
  const qshort code = ReadPieceSlow(c, f, &at, buffer, &got, &gotLength);
  *filePos = at;
  *text = got;
  *length = gotLength;
  return code;
}

// Where a trial read (RecordFits) found a record's pieces, so that storing the record need
// not search for them again: for entry i, the offset in the record where its piece starts
// (at) and where the next one starts (next), and the piece's length when it was taken in
// place, or -1 when it went through the buffer. Of those, the last one's text is still in the
// trial's buffer: held names it (-1: none), with its result, length and quotedPiece; the
// others must be read again. Only the first kPlannedPieces entries are kept; count is 0 when
// the trial planned nothing.
constexpr qshort kPlannedPieces = 64;
struct recordPlan {
  qshort count;
  qlong at[kPlannedPieces];
  qlong next[kPlannedPieces];
  qlong length[kPlannedPieces];
  qshort held;
  qshort heldCode;
  qlong heldLength;
  bool heldQuoted;
};

// Under CSV quoting: whether the record's format reads the size bytes at text exactly: every
// entry but the last read completely (an over-long one too: it is consumed whole) and the
// last ending at the text's end, with its delimiter when endsWithDelim. buffer (of
// kBufferSize bytes) is scratch; nothing is stored. Backward reads use it to tell a record start
// from a delimiter inside quotes. When the record fits and has at most kPlannedPieces entries, plan
// (if given) holds where they lie; otherwise its count is 0. *shortRecord (if given) tells
// whether a record that fits has fewer pieces than the format.
bool RecordFits(importFileSpec* fileSpecsP, const char* text, qlong size, bool endsWithDelim,
                char* buffer, recordPlan* plan, bool* shortRecord = nullptr);

// Decided when the format is defined: the one delimiter byte that ends every entry but the
// last, when those all end at the same one-byte delimiter (no line end, quote, zero byte or
// raw piece) and the last at a delimiter of its own that holds no quote and whose final
// byte (its stop) is none of those and stands nowhere else in it. Otherwise fitDelim is 0.
void PlanRecord(importFileSpec* fileSpecsP);

// RecordFits's answer to the same question where a count gives it, with no trial: true when
// the format has a fitDelim and the text before the last entry's delimiter (all of it when
// the text does not end with one) holds no double quote, no byte equal to that delimiter's
// stop, and at least one fitDelim for each entry but the last. Every entry but the last then
// ends at the next fitDelim (an over-long one is consumed whole) and the last at the text's
// end, since no earlier byte can complete its delimiter. False says nothing: RecordFits must
// decide.
bool QuickFits(const importFileSpec* fileSpecsP, const char* text, qlong size, bool endsWithDelim);

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

// What conditioning a record's pieces need, decided once a command: whether substitutions
// or stripping rewrite bytes, and whether enclosing quotes come off.
struct conditionRule {
  bool rewrites;
  bool stripQuotes;
};
conditionRule ConditionRuleFor(const importFileSpec* fileSpecsP, bool stripping);

// Whether a piece read in place is stored as it stands, with no call to ConditionPiece:
// nothing rewrites it, and it has no blank at either end and no quote to close. A piece read
// in place is never a quoted value, so the CSV rule trims it as the plain one does.
QM_STAGE bool PieceIsClean(const conditionRule& rule, const char* text, qlong length) {
  if (rule.rewrites) return false;
  if (length == 0) return true;
  const char lastByte = text[length - 1];
  return text[0] != ' ' && lastByte != ' ' && !(rule.stripQuotes && lastByte == kQuoteByte);
}

#endif
