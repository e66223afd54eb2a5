// Reading a record: the format's entries, piece after piece, from a cursor over the source,
// each piece handed to a store as soon as it is read. The commands own the stores (what
// becomes of a piece in the host); this file owns the order of the reads and which path reads
// each piece. A store is any type with
//   void clean(qshort fldRef, const char* text, qlong length, qlong readable);
//     a complete piece that needs no conditioning, one byte a character, as it lies
//     (readable: how many bytes from text on may be read);
//   void piece(qshort code, qshort fldRef, const char* text, qlong length);
//     any other piece, with the reader's code: conditioned and stored when the code says so;
//   void empty(qshort fldRef);
//     a field the record did not reach (a short record): stored empty;
//   void units(qshort fldRef, const char* bytes, qlong count, bool big);
//     a complete piece of a UTF-16 source that needs no conditioning: count code units as
//     they lie (big: big-endian), none a surrogate.
#ifndef QUILLOMAR_RECORDS_H
#define QUILLOMAR_RECORDS_H

#include "reader.h"
#include "scan.h"

#include <cstring>

// What one record read works with: the cursor over the source, the conditioning rule, the
// shared buffer, and, when a trial read found the record's pieces already (a backward CSV
// read), its plan and the buffer it read through.
struct recordReader {
  pieceCursor cursor;
  conditionRule rule;
  char* buffer;
  const recordPlan* plan;  // null: no trial read
  const char* trialBuffer; // the trial's buffer, with the plan's held piece
};

// A piece as a read delivers it: its text (in the buffer or in the source), its length, and
// how many bytes from its text on may be read.
struct pieceText {
  const char* text;
  qlong length;
  qlong readable;
};

// A piece where the trial read of the same record found it (recordPlan): one it took in place
// is taken from there again; the one whose text the trial's buffer still holds is taken from
// there too when it is complete and clean, and otherwise copied into the buffer as reading it
// would have left it; any other is read as NextPiece reads it. An in-place piece ends past its
// start, so with no run at hand (runCount 0) it is read as any other.
inline qshort PlannedPiece(recordReader* r, const fieldSpec* f, qshort i, qpos* filePos,
                           pieceText* out) {
  pieceCursor* c = &r->cursor;
  const recordPlan* plan = r->plan;
  if (i == plan->held && *filePos == plan->at[i]) {
    out->length = plan->heldLength;
    *filePos = plan->next[i];
    c->rec->quotedPiece = plan->heldQuoted;
    // Clean, conditioning would leave it as it is, quoted value or not.
    if (plan->heldCode == kResultOk && PieceIsClean(r->rule, r->trialBuffer, plan->heldLength)) {
      out->text = r->trialBuffer;
      out->readable = plan->heldLength + 1; // and its terminator
      return kResultOk;
    }
    std::memcpy(r->buffer, r->trialBuffer, static_cast<size_t>(plan->heldLength) + 1);
    out->text = r->buffer;
    return plan->heldCode;
  }
  if (plan->length[i] >= 0 && *filePos == plan->at[i] && plan->next[i] <= c->runCount) {
    out->text = c->run + plan->at[i];
    out->length = plan->length[i];
    out->readable = c->runCount - plan->at[i];
    *filePos = plan->next[i];
    c->rec->quotedPiece = false;
    return kResultOk;
  }
  const qshort code = NextPiece(c, f, filePos, r->buffer, &out->text, &out->length);
  if (out->text != r->buffer) out->readable = static_cast<qlong>(c->run + c->runCount - out->text);
  return code;
}

// One entry read and stored by the general rules; returns its code. With kPlanned, the
// reader's plan is a trial read's of this very record.
template <bool kPlanned, class Store>
inline qshort ReadEntry(recordReader* r, const fieldSpec* f, qshort i, qpos* at, Store& store) {
  pieceText p{nullptr, 0, 0};
  qshort code = kResultOk;
  if constexpr (kPlanned)
    code = PlannedPiece(r, f, i, at, &p);
  else
    code = NextPiece(&r->cursor, f, at, r->buffer, &p.text, &p.length);
  if (code == kResultOk && p.text != r->buffer && IsOneByteEncoding(r->cursor.rec->encoding) &&
      PieceIsClean(r->rule, p.text, p.length)) {
    if constexpr (!kPlanned)
      p.readable = static_cast<qlong>(r->cursor.run + r->cursor.runCount - p.text);
    store.clean(f->fldRefNum, p.text, p.length, p.readable); // the usual piece
  } else {
    store.piece(code, f->fldRefNum, p.text, p.length);
  }
  return code;
}

#if QM_QUICK_PIECES
// The usual piece of a delimited text, read and stored in one short step: one that
// QuickPieceLength takes, clean, from a source of bytes that nothing rewrites.
// ReadPieceInPlace and the clean store take such a piece the same way; this step only makes
// fewer decisions. When it cannot take the piece it changes nothing and answers false, and
// the piece is read as any other. run, runStart and runCount are the cursor's.
template <class Store>
QM_STAGE bool QuickPiece(Store& store, const fieldSpec* f, const pieceQuotes& quotes,
                         const char* run, qpos runStart, qlong runCount, qpos* filePos) {
  const qpos offset = *filePos - runStart;
  if (offset < 0 || offset >= runCount) return false;
  const char* at = run + offset;
  const auto room = static_cast<qlong>(runCount - offset);
  const int n = QuickPieceLength(f, quotes, at, room, static_cast<qlong>(offset));
  // The quick step runs only where nothing rewrites bytes, and a quote that matters sent the
  // piece to the general rules: the clean test is PieceIsClean's, on what is left.
  if (n < 0 || !PieceIsClean(conditionRule{false, false}, at, n)) return false;
  *filePos += n + 1;
  store.clean(f->fldRefNum, at, n, room);
  return true;
}
#endif

#if QM_UNICODE
// The usual piece of a UTF-16 source (UsualPiece16) where it lies in the run at hand, stored
// as its code units when conditioning would leave it as it is: nothing rewrites (the caller's
// test) and no blank at either end to trim (a quote is never in such a piece). It is what the
// one-pass read and the UTF-8 store would make of it, without the round trip through UTF-8.
// When it cannot take the piece it changes nothing and answers false.
template <class Store>
bool QuickPiece16(Store& store, const fieldSpec* f, const pieceCursor& c, qpos* filePos) {
  const qpos offset = *filePos - c.runStart;
  // One compare for both ends of the run: an offset before it is a huge unsigned one.
  if (c.run == nullptr || (*filePos & 1) != 0 ||
      static_cast<uint64_t>(offset) >= static_cast<uint64_t>(c.runCount))
    return false;
  const char* at = c.run + offset;
  qlong ends = 0;
  const qlong n = UsualPiece16(c.rec, f, at, static_cast<qlong>(c.runCount - offset),
                               EffectiveMax(f->fldMax), &ends);
  if (n < 0) return false;
  const bool big = c.rec->encoding == kEncodingUtf16Be;
  const uint16_t blank = RawUnitOf(' ', big);
  if (n > 0 && (RawUnit(at) == blank || RawUnit(at + n - 2) == blank)) return false;
  *filePos += n + ends;
  c.rec->quotedPiece = false;
  store.units(f->fldRefNum, at, n / 2, big);
  return true;
}
#endif

// Under the record rule (piece.h), a record whose entry i answered code: the entries after i
// of a record that ended early (a short one, or the data's end before the last) are emptied,
// never left with an earlier record's values, and the answer is kResultShortRecord; the rest
// of a long one's line is passed over (SkipRestOfRecord) and the answer is
// kResultLongRecord. Any other code stands.
template <class Store>
qshort EndRecord(recordReader* r, qshort i, qpos* at, qshort code, Store& store) {
  const importFileSpec* rec = r->cursor.rec;
  const qshort count = rec->fldCount;
  if (code == kResultLongRecord) {
    SkipRestOfRecord(&r->cursor, rec->fields + (count - 1), at, r->buffer);
    return code;
  }
  const bool early = code == kResultShortRecord || (code == kResultNoDelimiter && i + 1 < count);
  if (!early) return code;
  for (qshort k = static_cast<qshort>(i + 1); k < count; ++k)
    store.empty(rec->fields[k].fldRefNum);
  return kResultShortRecord;
}

// Reads the format's entries from *pos on, storing each; returns the last code. What the
// pieces need to know of the source and of conditioning is in the reader, taken once, not per
// piece. With kPlanned, its plan is a trial read's of this very record, one entry for each of
// the format's.
template <bool kPlanned, class Store>
qshort ReadRecordPieces(recordReader* r, qpos* pos, Store& store) {
  importFileSpec* rec = r->cursor.rec;
  qshort code = kResultOk;
  if constexpr (!kPlanned) rec->strayQuote = false; // a trial read found the planned ones
  qpos at = *pos; // a local the store callbacks cannot reach: it stays in a register
  const fieldSpec* const first = rec->fields;
  const qshort count = rec->fldCount;
#if QM_UNICODE
  const bool units = !kPlanned && IsUtf16Encoding(rec->encoding) && !r->rule.rewrites;
#endif
#if QM_QUICK_PIECES
  // The quick step takes bytes as they stand, stored as they are. The cursor's run is kept
  // in locals, taken again after any piece read by the general rules (which may move it).
  const bool quick =
      !kPlanned && QuickLooksUsable() && IsOneByteEncoding(rec->encoding) && !r->rule.rewrites;
  const char* run = r->cursor.run;
  qpos runStart = r->cursor.runStart;
  qlong runCount = r->cursor.runCount;
#endif
  for (qshort i = 0; i < count; ++i) {
    const fieldSpec* f = first + i;
#if QM_QUICK_PIECES
    if (quick && QuickPiece(store, f, r->cursor.quotes, run, runStart, runCount, &at)) continue;
#endif
#if QM_UNICODE // after the bytes' quick step, which takes most pieces: they pay no test for it
    if (units && QuickPiece16(store, f, r->cursor, &at)) continue;
#endif
    qpos entryAt = at; // a copy: at stays in a register
    code = ReadEntry<kPlanned>(r, f, i, &entryAt, store);
    at = entryAt;
#if QM_QUICK_PIECES
    run = r->cursor.run;
    runStart = r->cursor.runStart;
    runCount = r->cursor.runCount;
#endif
    if (code != kResultOk) {
      if (rec->fields[count - 1].fldStop[0] != 0) code = EndRecord(r, i, &at, code, store);
      break;
    }
  }
  *pos = at;
  if (rec->strayQuote && (code == kResultOk || code >= kResultShortRecord))
    code = kResultStrayQuote;
  return code;
}

#endif
