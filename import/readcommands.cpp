// ReadRecord (forwards and backwards), ReadUpTo and ReadBytes.
#include "commands.h"

#include "../base/avx2.h"
#include "../glue/XPqUtil.h"
#include "../glue/callback.h"
#include "readahead.h"
#include "reader.h"
#include "scan.h"

#include <bit>
#include <cstring>

namespace {

// Positions are host numbers: exact below 2^53.
constexpr qreal kPositionLimit = 9007199254740992.0;

// The position parameter taken whole; false when it is no number from 0 to 2^53 - 1 (a
// fraction is dropped, as it always was).
bool readPosition(cmdContext* ctx, qpos* pos) {
  const qreal v = GetFldReal(paramField(2), ctx->cb);
  if (!(v > -1.0 && v < kPositionLimit)) return false; // NaN fails too
  *pos = static_cast<qpos>(v); // truncates towards zero, without a call per record
  return true;
}

// Writes a position back over the one the command was given. A variable of a 32-bit integer
// type cannot hold a position beyond 2^31 - 1, and what the host makes of one is its own
// affair. Such a variable only ever hands in positions below 2^31, so the position is read
// back whenever a read that started below 2^31 hands back one beyond it: a variable that
// changed it answers 10, and a loop over it ends instead of reading records again. A number
// variable that holds the position goes on from beyond 2^31 and is never asked again, and
// files below 2 GiB never are.
qshort writePosition(cmdContext* ctx, qpos given, qpos pos) {
  SetFldReal(paramField(2), static_cast<qreal>(pos), ctx->cb);
  if (given > INT32_MAX || pos <= INT32_MAX) return kResultOk;
  return GetFldReal(paramField(2), ctx->cb) == static_cast<qreal>(pos) ? kResultOk
                                                                       : kResultPositionLost;
}

#if QM_UNICODE
// Where a piece of length bytes becomes host characters when it is too long for the stack:
// a block made at the first such piece and kept until unload, so that a read loop allocates
// nothing (null when it cannot be made: the store then takes a block of its own).
qchar* wideRoom(cmdContext* ctx, qlong length) {
  if (length < kStoreOnStackChars || ctx->g->wide) return ctx->g->wide;
  ctx->g->wide = static_cast<qchar*>(NewXPPointer(kBufferSize * qlong{sizeof(qchar)}));
  return ctx->g->wide;
}
#endif

// The common store rule: a piece read completely or softly ended is conditioned and stored.
// text and length are the piece as ReadPiece gave it, in the buffer or in the source.
void storePiece(cmdContext* ctx, const conditionRule& rule, qshort code, qshort fldRef,
                bool stripping, const char* text, qlong length) {
  if (!IsStoredResult(code)) return;
  char* buffer = ctx->g->buffer;
  if (text == buffer || !PieceIsClean(rule, text, length))
    ConditionPiece(&text, &length, buffer, ctx->fileSpecsP, stripping);
#if QM_UNICODE
  if (ctx->fileSpecsP->encoding == kEncodingUtf8) {
    setStringFieldUtf8(fldRef, text, length, ctx->cb,
                       wideRoom(ctx, length)); // decoded after conditioning
    return;
  }
#else
  // The 8-bit host takes zero-terminated text as it stands: a piece read in place is copied
  // out of the source, with its terminator.
  if (text != buffer) {
    std::memcpy(buffer, text, static_cast<size_t>(length));
    buffer[length] = 0;
    text = buffer;
  }
#endif
#if QM_UNICODE
  setStringFieldN(fldRef, text, length, ctx->cb, wideRoom(ctx, length));
#else
  setStringFieldN(fldRef, text, length, ctx->cb);
#endif
}

// Stores a piece that needs no conditioning, one byte a character, as it lies in the source.
// readable: the bytes from text on that lie in the source.
inline void storeAsItStands(cmdContext* ctx, qshort fldRef, const char* text, qlong length,
                            qlong readable) {
#if QM_UNICODE
  setStringFieldN(fldRef, text, length, ctx->cb,
                  length < kStoreOnStackChars ? nullptr : wideRoom(ctx, length), readable);
#else
  // The 8-bit host takes zero-terminated text: the piece is copied out, with its terminator.
  // A short one is copied as a fixed 32 bytes where the source has them, so that the copy
  // does not branch on its length.
  char* buffer = ctx->g->buffer;
  constexpr qlong kBlock = 32;
  if (length < kBlock && readable >= kBlock)
    std::memcpy(buffer, text, kBlock);
  else
    std::memcpy(buffer, text, static_cast<size_t>(length));
  buffer[length] = 0;
  setStringFieldN(fldRef, buffer, length, ctx->cb);
#endif
}

// The same for a piece read into the buffer.
void storeIfRead(cmdContext* ctx, qshort code, qshort fldRef, bool stripping) {
  const char* text = ctx->g->buffer;
  storePiece(ctx, ConditionRuleFor(ctx->fileSpecsP, stripping), code, fldRef, stripping, text,
             static_cast<qlong>(std::strlen(text)));
}

// A piece where a trial read of the same record found it (recordPlan): one it took in place
// is taken from there again; the one whose text the trial's buffer still holds is taken from
// there too when it is complete and clean, and otherwise copied into the buffer as reading it
// would have left it; any other is read as NextPiece reads it. *readable is how many bytes
// from *text on may be read. An in-place piece ends past its start, so with no run at hand
// (runCount 0) it is read as any other.
qshort plannedPiece(pieceCursor* c, const fieldSpec* f, const recordPlan* plan,
                    const conditionRule& rule, const char* trialBuffer, qshort i, qpos* filePos,
                    char* buffer, const char** text, qlong* length, qlong* readable) {
  if (i == plan->held && *filePos == plan->at[i]) {
    *length = plan->heldLength;
    *filePos = plan->next[i];
    c->rec->quotedPiece = plan->heldQuoted;
    // Clean, conditioning would leave it as it is, quoted value or not.
    if (plan->heldCode == 0 && PieceIsClean(rule, trialBuffer, plan->heldLength)) {
      *text = trialBuffer;
      *readable = plan->heldLength + 1; // and its terminator
      return kResultOk;
    }
    std::memcpy(buffer, trialBuffer, static_cast<size_t>(plan->heldLength) + 1);
    *text = buffer;
    return plan->heldCode;
  }
  if (plan->length[i] >= 0 && *filePos == plan->at[i] && plan->next[i] <= c->runCount) {
    *text = c->run + plan->at[i];
    *length = plan->length[i];
    *readable = c->runCount - plan->at[i];
    *filePos = plan->next[i];
    c->rec->quotedPiece = false;
    return kResultOk;
  }
  const qshort code = NextPiece(c, f, filePos, buffer, text, length);
  if (*text != buffer) *readable = static_cast<qlong>(c->run + c->runCount - *text);
  return code;
}

// One entry read and stored by the general rules; returns its code. With kPlanned, plan is
// a trial read's of this very record and trialBuffer the buffer it read through.
template <bool kPlanned>
inline qshort readEntry(cmdContext* ctx, pieceCursor* cursor, const conditionRule& rule,
                        bool stripping, const fieldSpec* f, qshort i, qpos* at,
                        const recordPlan* plan, const char* trialBuffer) {
  char* buffer = ctx->g->buffer;
  const char* text = nullptr;
  qlong length = 0;
  qlong readable = 0;
  qshort code = kResultOk;
  if constexpr (kPlanned)
    code =
        plannedPiece(cursor, f, plan, rule, trialBuffer, i, at, buffer, &text, &length, &readable);
  else
    code = NextPiece(cursor, f, at, buffer, &text, &length);
  if (code == kResultOk && text != buffer && ctx->fileSpecsP->encoding == kEncodingBytes &&
      PieceIsClean(rule, text, length)) {
    if constexpr (!kPlanned) readable = static_cast<qlong>(cursor->run + cursor->runCount - text);
    storeAsItStands(ctx, f->fldRefNum, text, length, readable); // the usual piece
  } else {
    storePiece(ctx, rule, code, f->fldRefNum, stripping, text, length);
  }
  return code;
}

#if QM_QUICK_PIECES
// The usual piece of a delimited text, read and stored in one short step: one that
// QuickPieceLength takes, clean (no blank at either end), from a source of bytes that nothing
// rewrites. ReadPieceInPlace and storeAsItStands take such a piece the same way; this step
// only makes fewer decisions. When it cannot take the piece it changes nothing and answers
// false, and the piece is read as any other. run, runStart and runCount are the cursor's.
QM_STAGE bool quickPiece(cmdContext* ctx, const fieldSpec* f, const bool quoteStops[2],
                         const char* run, qpos runStart, qlong runCount, qpos* filePos) {
  const qpos offset = *filePos - runStart;
  if (offset < 0 || offset >= runCount) return false;
  const char* at = run + offset;
  const auto room = static_cast<qlong>(runCount - offset);
  const int n = QuickPieceLength(f, quoteStops, at, room, static_cast<qlong>(offset));
  // Clean as PieceIsClean has it. A last quote closes nothing here: were quotes stripped, a
  // first one would have sent the piece to the general rules.
  if (n < 0 || (n > 0 && (at[0] == ' ' || at[n - 1] == ' '))) return false;
  *filePos += n + 1;
  storeAsItStands(ctx, f->fldRefNum, at, n, room);
  return true;
}
#endif

// Reads the format's entries from *pos on, storing each; returns the last code. What the
// pieces need to know of the source and of conditioning is taken once, not per piece. With
// kPlanned, plan is a trial read's of this very record, one entry for each of the format's,
// and trialBuffer the buffer it read through.
template <bool kPlanned>
qshort readEntries(cmdContext* ctx, qpos* pos, bool stripping, const recordPlan* plan,
                   const char* trialBuffer) {
  importFileSpec* rec = ctx->fileSpecsP;
  qshort code = kResultOk;
  HoldSourceText(rec);
  pieceCursor cursor{};
  StartPieces(&cursor, rec);
  const conditionRule rule = ConditionRuleFor(rec, stripping);
  qpos at = *pos; // a local the store callbacks cannot reach: it stays in a register
  const fieldSpec* const first = rec->fields;
  const qshort count = rec->fldCount;
#if QM_QUICK_PIECES
  // The quick step takes bytes as they stand, stored as they are. The cursor's run is kept
  // in locals, taken again after any piece read by the general rules (which may move it).
  const bool quick =
      !kPlanned && sse2::usable() && rec->encoding == kEncodingBytes && !rule.rewrites;
  const char* run = cursor.run;
  qpos runStart = cursor.runStart;
  qlong runCount = cursor.runCount;
#endif
  for (qshort i = 0; i < count; ++i) {
    const fieldSpec* f = first + i;
#if QM_QUICK_PIECES
    if (quick && quickPiece(ctx, f, cursor.quoteStops, run, runStart, runCount, &at)) continue;
#endif
    qpos entryAt = at; // a copy: at stays in a register
    code = readEntry<kPlanned>(ctx, &cursor, rule, stripping, f, i, &entryAt, plan, trialBuffer);
    at = entryAt;
#if QM_QUICK_PIECES
    run = cursor.run;
    runStart = cursor.runStart;
    runCount = cursor.runCount;
#endif
    if (code != kResultOk) break;
  }
  *pos = at;
  ReleaseSourceText(rec);
  return code;
}

// The count bytes of the source that end at start + count, in place: from an in-memory
// text (its block stays locked until releaseWindow) or from a disk file's read-ahead window.
// *got is count, or fewer when the source has fewer; null when the system read failed.
const char* lockWindow(importFileSpec* rec, qpos start, qlong count, qlong* got) {
  *got = 0;
  if (!IsInMemorySource(rec)) return ReadAheadBackward(rec, start, count, got);
  const char* block = static_cast<const char*>(LockXPHandle(rec->dataHandle));
  qpos available = rec->fileSize;
  if (rec->fileRef == kFieldRef) {
    qlong held = 0; // a field's text is bounded by its own count, whatever fileSize says
    std::memcpy(&held, block, sizeof held);
    if (held < available) available = held;
    block += 4;
  }
  if (start >= 0 && start < available)
    *got = available - start < count ? static_cast<qlong>(available - start) : count;
  return block + start;
}

void releaseWindow(importFileSpec* rec) {
  if (IsInMemorySource(rec)) UnlockXPHandle(rec->dataHandle);
}

// Whether the n bytes at p are the n at delim: a delimiter has at most 3 bytes, too few for
// a call to memcmp to pay.
inline bool delimiterBytesAt(const char* p, const qbyte* delim, qlong n) {
  for (qlong i = 0; i < n; ++i)
    if (static_cast<qbyte>(p[i]) != delim[i]) return false;
  return true;
}

// Where the record that ends at the window's end begins, searching back for the last
// entry's delimiter; -1 when there is none in the window.
qlong recordStart(const char* window, qlong w, const qbyte* delim, qlong len) {
  if (len == 0) return -1; // a fixed-length last entry marks no boundary
  bool endsWithDelim = w >= len && delimiterBytesAt(window + w - len, delim, len);
  qlong searchStart = w - 1 - (endsWithDelim ? len : 0);
  // An occurrence counts only when all of it lies at or before the search start: its last
  // byte is looked for at searchStart and before, and the bytes before that one compared.
  const auto last = static_cast<char>(delim[len - 1]);
  for (qlong n = searchStart + 1; n >= len;) {
    const char* hit = findLastByte(window, n, last);
    if (!hit) break;
    const auto at = static_cast<qlong>(hit - window); // the occurrence's last byte
    if (at + 1 >= len && delimiterBytesAt(window + at + 1 - len, delim, len - 1)) return at + 1;
    n = at;
  }
  return -1;
}

// Whether n bytes hold an odd number of double quotes. Only the parity is needed, so the
// loop keeps it in a byte, which the compiler vectorises 16 bytes an instruction or so.
bool oddQuotes(const char* p, qlong n) {
  unsigned char odd = 0;
  for (qlong i = 0; i < n; ++i)
    odd ^= p[i] == '"' ? 1 : 0;
  return odd != 0;
}

// Whether x has an odd number of bits set (the compiler's parity, a few instructions on
// every target, where a bit count may be a call).
inline bool oddBits(unsigned x) { return __builtin_parity(x) != 0; }

// The bytes of a window before an end, looked at from that end 16 at a time: each occurrence
// of one byte, nearest first, with whether an odd number of double quotes stands between it
// and the window's end. One pass finds both, so the quotes are counted where the
// occurrences are searched for, not in a second look at the same bytes.
struct backwardHits {
  const char* window;
  char target;
  qlong blockStart; // the block in hand is [blockStart, blockStart + 16) or shorter
  unsigned hits;    // its occurrences not yet given, bit i for byte blockStart + i
  unsigned quotes;  // its quotes
  unsigned passed;  // the quotes of the blocks passed, folded by exclusive or: only their
                    // parity is wanted, and folding keeps it
  bool oddAfter;    // whether the bytes after the first block hold an odd number of quotes
};

// Starts before end; after is how many bytes follow end in the window (their quotes count).
backwardHits startBackwardHits(const char* window, qlong end, qlong after, char target) {
  return {window, target, end, 0, 0, 0, oddQuotes(window + end, after)};
}

// Whether the bytes from the block in hand's end to the window's end hold an odd number of
// quotes.
bool oddAbove(const backwardHits& h) { return h.oddAfter != oddBits(h.passed); }

// The next occurrence towards the window's start: false when there is none.
bool nextBackwardHit(backwardHits* h, qlong* at, bool* oddAfter) {
  if (h->hits == 0) { // on locals, which stay in registers for the blocks passed over
    qlong start = h->blockStart;
    unsigned hits = 0, quotes = h->quotes, passed = h->passed;
    while (hits == 0 && start >= 16) {
      passed ^= quotes;
      start -= 16;
      matchMasks(h->window + start, 16, h->target, '"', &hits, &quotes);
    }
    if (hits == 0 && start > 0) { // the window's first bytes, fewer than a block
      passed ^= quotes;
      matchMasks(h->window, start, h->target, '"', &hits, &quotes);
      start = 0;
    }
    h->blockStart = start;
    h->quotes = quotes;
    h->passed = passed;
    if (hits == 0) return false;
    h->hits = hits;
  }
  const int bit = 31 - std::countl_zero(h->hits);
  h->hits &= ~(1u << bit);
  *at = h->blockStart + bit;
  // The quotes after it within the block: the bits above its own (bit is at most 15).
  *oddAfter = oddAbove(*h) != oddBits(h->quotes >> (bit + 1));
  return true;
}

#if QM_AVX2
// The next occurrence with an even count (avx2::evenScan), nearest first: *at its offset,
// *after how many occurrences, whatever their count, lie between it and the end. False at the
// window's start.
bool nextEvenHit(avx2::evenScan* s, qlong* at, qlong* after) {
  if (s->even == 0 && !avx2::nextEvenBlock(s)) return false;
  const int bit = 63 - std::countl_zero(s->even);
  s->even &= ~(uint64_t{1} << bit);
  *at = s->blockStart + bit;
  *after = s->passed + std::popcount(s->hits >> bit >> 1);
  return true;
}
#endif

// Whether the whole window holds an odd number of quotes.
bool windowQuotesOdd(const backwardHits& h) {
  return oddQuotes(h.window, h.blockStart) != (oddAbove(h) != oddBits(h.quotes));
}

// Under CSV quoting the last entry's delimiter may stand inside a quoted value, so the
// record start is chosen among the delimiter's occurrences in the window, nearest first,
// and the source's first byte when the window starts there:
//   1. the nearest with an even number of double quotes after it from which the record reads
//      to exactly its end (QuickFits, else RecordFits);
//   2. failing that, the nearest from which it reads so;
//   3. failing that, the nearest occurrence, as under plain quoting.
// In well-formed CSV the text after a line end inside a quoted value holds an odd number of
// quotes (the rest of the value's doubled quotes and its closing one), so rule 1 finds the
// true start; only a quote outside the rules of RFC 4180 can mislead it. Only the nearest
// kRecordTrials candidates are read, so a window full of line ends stays cheap. Returns the
// start's offset in the window, or -1 (no occurrence: as under plain quoting). The start a
// trial read confirmed is the one it read last, so plan then holds that record's pieces;
// otherwise its count is 0. The trials read through scratch, so that the plan's held piece
// outlives the stores of the pieces before it.
constexpr int kRecordTrials = 64;

qlong csvRecordStart(cmdContext* ctx, const char* window, qlong w, qlong searchStart, qlong len,
                     bool fromSourceStart, bool endsWithDelim, recordPlan* plan, char* scratch) {
  importFileSpec* rec = ctx->fileSpecsP;
  const qbyte* delim = rec->fields[rec->fldCount - 1].fldDelim + 1;
  const qlong bom = rec->bomLength;
  auto fits = [&](qlong start) {
    const qlong skip = fromSourceStart && start == 0 && w >= bom ? bom : 0;
    const char* text = window + start + skip;
    const qlong size = w - start - skip;
    // A count settles the usual record, whose text holds no quote; plan then stays empty.
    return QuickFits(rec, text, size, endsWithDelim) ||
           RecordFits(rec, text, size, endsWithDelim, scratch, plan);
  };
  // Rule 1 as the candidates are found, so the usual record costs one trial read; the
  // candidates with an odd count wait for rule 2.
  qlong oddStarts[kRecordTrials + 1];
  int odds = 0, trials = 0;
  qlong nearest = -1;
  auto consider = [&](qlong start, bool odd) {
    ++trials;
    if (!odd) return fits(start);
    oddStarts[odds++] = start;
    return false;
  };
  // The occurrences, nearest first, found by their last byte as recordStart finds them.
  const auto last = static_cast<char>(delim[len - 1]);
  backwardHits hits = startBackwardHits(window, searchStart + 1, w - searchStart - 1, last);
#if QM_AVX2
  // Rule 1 alone, with the occurrences of an odd count (a quoted value's line ends) passed a
  // block at a time (avx2::nextEvenBlock) instead of one by one. While fewer than
  // kRecordTrials occurrences follow a candidate, the loop below would try it too, in this
  // order and after the same trials, so a start found here is the one it would find.
  auto evenStart = [&]() -> qlong {
    avx2::evenScan evens{window, searchStart + 1, 0, 0, 0, hits.oddAfter, last};
    for (qlong at = 0, after = 0; nextEvenHit(&evens, &at, &after) && after < kRecordTrials;)
      if (at + 1 >= len && delimiterBytesAt(window + at + 1 - len, delim, len - 1) && fits(at + 1))
        return at + 1;
    return -1;
  };
  bool blocksTried = !avx2::usable() || w < 64;
#endif
  qlong at = 0; // the occurrence's last byte
  bool odd = false;
  while (trials < kRecordTrials && nextBackwardHit(&hits, &at, &odd)) {
    if (at + 1 < len || !delimiterBytesAt(window + at + 1 - len, delim, len - 1)) continue;
    const qlong start = at + 1;
    if (nearest < 0) nearest = start;
#if QM_AVX2
    // The first line end inside a quoted value: most likely a long record's, with more such
    // line ends before its start. A short record without them never pays for the blocks.
    if (odd && !blocksTried) {
      blocksTried = true;
      if (const qlong found = evenStart(); found >= 0) return found;
    }
#endif
    if (consider(start, odd)) return start;
  }
  if (fromSourceStart && consider(0, windowQuotesOdd(hits))) return 0;
  for (int i = 0; i < odds; ++i)
    if (fits(oddStarts[i])) return oddStarts[i];
  return nearest;
}

void readBackwards(cmdContext* ctx, qpos position, bool stripping) {
  importFileSpec* rec = ctx->fileSpecsP;
  if (position < 2) {
    ctx->errCd = kResultAtEnd;
    return;
  }
  const qpos oldPos = position;
  // In 64 bits: twice the largest format's total would not fit 32.
  qpos span = 2 * qpos{rec->maxTotal};
  if (span > rec->fileSize) span = rec->fileSize;
  qpos windowStart = oldPos - span;
  if (windowStart < 0) {
    windowStart = 0;
    span = oldPos;
  }
  qlong bytesToRead = kMaxFieldBytes;
  if (span > kMaxFieldBytes)
    windowStart = oldPos - kMaxFieldBytes;
  else
    bytesToRead = static_cast<qlong>(span);
  if (!IsInMemorySource(rec) && AttachReadAhead(ctx->g, rec) != kResultOk) {
    ctx->errCd = kResultNoMemory;
    return;
  }
  // One block, made at the first backward read and kept until unload, stands in for the
  // source's block while the record's entries are read, and is the buffer of a CSV trial read.
  // It stays locked for the whole command.
  if (!ctx->g->backwardH && !(ctx->g->backwardH = NewXPHandle(kBufferSize))) {
    ctx->errCd = kResultNoMemory;
    return;
  }
  XPHandle tempDataH = ctx->g->backwardH;
  auto* trialBuffer = static_cast<char*>(LockXPHandle(tempDataH));
  if (!trialBuffer) { // the system would not lock the block: nothing is stored, the position stays
    ctx->errCd = kResultNoMemory;
    return;
  }
  qlong w = 0;
  const char* window = lockWindow(rec, windowStart, bytesToRead, &w);
  if (!window) {
    UnlockXPHandle(tempDataH);
    ctx->errCd = kResultIoError; // the system read failed: nothing is known of the record, the
                                 // position stays
    return;
  }
  const fieldSpec* last = rec->fields + (rec->fldCount - 1);
  const qlong len = DelimiterLength(last);
  qlong start = -1;
  recordPlan plan;
  plan.count = 0;
  if (rec->quoting == kQuotingCsv && len > 0) {
    const bool endsWithDelim =
        w >= len && delimiterBytesAt(window + w - len, last->fldDelim + 1, len);
    start = csvRecordStart(ctx, window, w, w - 1 - (endsWithDelim ? len : 0), len, windowStart == 0,
                           endsWithDelim, &plan, trialBuffer);
  } else {
    start = recordStart(window, w, last->fldDelim + 1, len);
  }
  if (start < 0 && windowStart > 0) {
    releaseWindow(rec);
    UnlockXPHandle(tempDataH);
    ctx->errCd = kResultTooLong; // no record start within reach; the position stays
    return;
  }
  if (start < 0) start = 0; // the record runs from the source's first byte
  // The byte-order mark of a UTF-8 source belongs to no record; the position still counts it.
  const qlong skip =
      windowStart + start == 0 && w >= rec->bomLength ? qlong{rec->bomLength} : qlong{0};
  const qlong recordLength = w - start - skip;
  const char* record = window + start + skip;
  char* buffer = ctx->g->buffer;

  // The record stands in for the source while the entries are read from it, where it lies in
  // the window: standing in for an in-memory text, it is never read past its own end, and
  // nothing reads the real source (so moves its window) before releaseWindow below.
  const qfileref realFileRef = rec->fileRef;
  const qpos realFileSize = rec->fileSize;
  const XPHandle realDataHandle = rec->dataHandle;
  rec->fileRef = kClipboardRef;
  rec->fileSize = recordLength;
  rec->dataHandle = tempDataH;
  // Held as HoldSourceText would hold it; ReleaseSourceText unlocks the backward read's block,
  // locked above.
  rec->lockedBlock = record;
  rec->heldText = record;
  rec->heldAvailable = recordLength;
  qpos clipFilePos = 0;
  buffer[0] = 0;
  // Under CSV quoting the trial that confirmed the start has found the pieces already.
  ctx->errCd = plan.count > 0 ? readEntries<true>(ctx, &clipFilePos, stripping, &plan, trialBuffer)
                              : readEntries<false>(ctx, &clipFilePos, stripping, nullptr, nullptr);
  rec->fileRef = realFileRef;
  rec->fileSize = realFileSize;
  rec->dataHandle = realDataHandle;
  releaseWindow(rec);

  // Backwards the position only falls: a variable that held the one given holds this one.
  SetFldReal(paramField(2), static_cast<qreal>(windowStart + start), ctx->cb);
}

} // namespace

bool FlagParam(const cmdContext* ctx, qshort n) {
  return ctx->paramCount >= n && GetFldReal(paramField(n), ctx->cb) != 0;
}

void doReadRecord(cmdContext* ctx) {
  if (ctx->paramCount < 2) {
    ctx->errCd = kResultBadParameter;
    return;
  }
  importFileSpec* rec = ctx->fileSpecsP;
  qpos position = 0;
  const bool known = readPosition(ctx, &position);
  bool stripping = FlagParam(ctx, 3);
  bool backwards = FlagParam(ctx, 4);
  if (!known || position > rec->fileSize || (position == rec->fileSize && !backwards)) {
    ctx->errCd = kResultAtEnd;
    return;
  }
  if (backwards) {
    readBackwards(ctx, position, stripping);
    return;
  }
  const qpos given = position;
  if (AttachReadAhead(ctx->g, rec) != kResultOk) {
    ctx->errCd = kResultNoMemory;
    return;
  }
  if (position == 0) position = rec->bomLength; // a UTF-8 byte-order mark is no record's
  rec->curPos = position;
  qshort seek = SetPositionInFile(rec);
  if (seek != kResultOk) {
    ctx->errCd = seek;
    return;
  }
  qshort code = readEntries<false>(ctx, &position, stripping, nullptr, nullptr);
  const qshort written = writePosition(ctx, given, position);
  ctx->errCd = written != kResultOk ? written : code;
}

namespace {
// The shared part of ReadUpTo and ReadBytes: position, seek, one read, store. Returns false
// when the command ended early (errCd set); *rawLength is the text length before conditioning.
bool readOnce(cmdContext* ctx, qpos position, const fieldSpec& oneShotField, bool stripping,
              qshort dataParam, qlong* rawLength) {
  importFileSpec* rec = ctx->fileSpecsP;
  const qpos given = position;
  if (AttachReadAhead(ctx->g, rec) != kResultOk) {
    ctx->errCd = kResultNoMemory;
    return false;
  }
  if (position == 0) position = rec->bomLength; // a UTF-8 byte-order mark is no text's
  rec->curPos = position;
  qshort seek = SetPositionInFile(rec);
  if (seek != kResultOk) {
    ctx->errCd = seek;
    return false;
  }
  qshort code = ReadToDelimOrMax(rec, &oneShotField, &position, ctx->g->buffer);
  *rawLength = static_cast<qlong>(std::strlen(ctx->g->buffer));
  storeIfRead(ctx, code, paramField(dataParam), stripping);
  const qshort written = writePosition(ctx, given, position);
  ctx->errCd = written != kResultOk ? written : code;
  return true;
}
} // namespace

namespace {
// The checks ReadUpTo and ReadBytes share, in their order: the parameter count (3), then the
// position (7: not below the size); then the strip flag. False when the command ends here.
bool oneShotPrologue(cmdContext* ctx, qshort minParams, qpos* position, bool* stripping) {
  if (ctx->paramCount < minParams) {
    ctx->errCd = kResultBadParameter;
    return false;
  }
  if (!readPosition(ctx, position) || *position >= ctx->fileSpecsP->fileSize) {
    ctx->errCd = kResultAtEnd;
    return false;
  }
  *stripping = FlagParam(ctx, 3);
  return true;
}
} // namespace

namespace {
// ReadUpTo's terminator as the bytes to look for: at most 3 characters as bytes, or in a
// UTF-8 source their UTF-8, which must fit 3 bytes; false when it does not.
bool readTerminator(cmdContext* ctx, char termChar[4]) {
#if QM_UNICODE
  if (ctx->fileSpecsP->encoding == kEncodingUtf8) {
    qlong length = 0;
    GetFldVal(paramField(4), fmtLength, 4, &length, ctx->cb);
    qchar chars[4] = {};
    if (length > 3) return false;
    if (length > 0) GetFldVal(paramField(4), fmtString, 3, chars, ctx->cb);
    chars[3] = 0;
    char utf8[16] = {};
    qlong n = CHRqcharToUtf8(chars, 3, utf8);
    if (n > 3) return false;
    std::memcpy(termChar, utf8, static_cast<size_t>(n));
    termChar[n] = 0;
    return true;
  }
#endif
  getAsciiStringParm(paramField(4), 3, termChar, ctx->cb);
  return true;
}
} // namespace

void doReadUpTo(cmdContext* ctx) {
  qpos position = 0;
  bool stripping = false;
  if (!oneShotPrologue(ctx, 6, &position, &stripping)) return;
  // Taken whole: a maximum beyond what one read holds is refused rather than cut, which
  // would report a cut text as complete.
  qlong maxLength = 0;
  if (!qrealInRange(GetFldReal(paramField(5), ctx->cb), 1, kMaxFieldBytes, &maxLength)) {
    ctx->errCd = kResultBadParameter;
    return;
  }
  char termChar[4];
  if (!readTerminator(ctx, termChar)) {
    ctx->errCd = kResultBadParameter;
    return;
  }
  fieldSpec oneShotField{};
  oneShotField.fldFlags = kFieldRaw; // bytes up to the terminator, whatever the quoting
  oneShotField.fldMax = static_cast<qshort>(maxLength);
  oneShotField.fldDelim[0] = static_cast<qbyte>(std::strlen(termChar));
  std::memcpy(oneShotField.fldDelim + 1, termChar, oneShotField.fldDelim[0]);
  qlong rawLength = 0;
  if (!readOnce(ctx, position, oneShotField, stripping, 6, &rawLength)) return;
  if (ctx->paramCount >= 7) // the length after conditioning
    SetFldLong(paramField(7), static_cast<qlong>(std::strlen(ctx->g->buffer)), ctx->cb);
}

void doReadBytes(cmdContext* ctx) {
  qpos position = 0;
  bool stripping = false;
  if (!oneShotPrologue(ctx, 5, &position, &stripping)) return;
  qlong count = 0;
  if (!qrealInRange(GetFldReal(paramField(4), ctx->cb), 1, kMaxFieldBytes, &count)) {
    ctx->errCd = kResultBadParameter;
    return;
  }
  fieldSpec oneShotField{};
  oneShotField.fldFlags = kFieldRaw;
  oneShotField.fldMax = static_cast<qshort>(count);
  qlong rawLength = 0;
  if (!readOnce(ctx, position, oneShotField, stripping, 5, &rawLength)) return;
  if (ctx->paramCount >= 6) SetFldLong(paramField(6), rawLength, ctx->cb); // before conditioning
}
