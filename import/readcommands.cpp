// ReadRecord (forwards and backwards), ReadUpTo and ReadBytes.
#include "commands.h"

#include "../glue/XPqUtil.h"
#include "../glue/callback.h"
#include "backward.h"
#include "readahead.h"
#include "records.h"

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
  // Decoded after conditioning, which works on bytes.
  const qshort encoding = ctx->fileSpecsP->encoding;
  if (IsUtf8Text(encoding)) { // a UTF-16 source's pieces reach the buffer as UTF-8
    setStringFieldUtf8(fldRef, text, length, ctx->cb, wideRoom(ctx, length));
    return;
  }
  if (const qshort page = CodePageOf(encoding); page != 0) {
    setStringFieldCodePage(fldRef, text, length, page, ctx->cb, wideRoom(ctx, length));
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

// The commands' store: each piece a record read delivers goes to its host field. kCodePage:
// the source is in a code page (page, its characters pageChars), whose clean pieces are
// decoded on their way; a store of its own, so that the usual source's pieces test nothing.
template <bool kCodePage> struct hostStore {
  cmdContext* ctx;
  conditionRule rule;
  bool stripping;
  qshort page;
  const qchar* pageChars;

  void clean(qshort fldRef, const char* text, qlong length, qlong readable) {
#if QM_UNICODE
    if constexpr (kCodePage) {
      setStringFieldPageN(fldRef, text, length, page, pageChars, ctx->cb,
                          length < kStoreOnStackChars ? nullptr : wideRoom(ctx, length), readable);
      return;
    }
#endif
    storeAsItStands(ctx, fldRef, text, length, readable);
  }
  void piece(qshort code, qshort fldRef, const char* text, qlong length) {
    storePiece(ctx, rule, code, fldRef, stripping, text, length);
  }
  void empty(qshort fldRef) {
    ctx->g->buffer[0] = 0;
    storePiece(ctx, rule, kResultOk, fldRef, false, ctx->g->buffer, 0);
  }
#if QM_UNICODE
  void units(qshort fldRef, const char* bytes, qlong count, bool big) {
    setStringFieldUnits(fldRef, bytes, count, big, ctx->cb, wideRoom(ctx, count));
  }
#endif
};

// Runs read(store) with the store the source's encoding needs.
template <class Read>
qshort withStore(cmdContext* ctx, const conditionRule& rule, bool stripping, Read read) {
#if QM_UNICODE
  if (const qshort page = CodePageOf(ctx->fileSpecsP->encoding); page != 0) {
    hostStore<true> store{ctx, rule, stripping, page, CodePageChars(page)};
    return read(store);
  }
#endif
  hostStore<false> store{ctx, rule, stripping, 0, nullptr};
  return read(store);
}

// Reads the format's entries from the length bytes at record (a record a backward read found
// in its window), as a source of its own: never past its end, and nothing reads the real
// source (so moves a disk file's window) meanwhile. plan, when given, is the trial read's that
// found the record, and trialBuffer its buffer.
qshort readRecordIn(cmdContext* ctx, const char* record, qlong length, bool stripping,
                    const recordPlan* plan, const char* trialBuffer) {
  recordReader reader{};
  StartPiecesOver(&reader.cursor, ctx->fileSpecsP, record, length);
  reader.rule = ConditionRuleFor(ctx->fileSpecsP, stripping);
  reader.buffer = ctx->g->buffer;
  reader.buffer[0] = 0;
  reader.plan = plan;
  reader.trialBuffer = trialBuffer;
  qpos at = 0;
  return withStore(ctx, reader.rule, stripping, [&](auto& store) {
    return plan ? ReadRecordPieces<true>(&reader, &at, store)
                : ReadRecordPieces<false>(&reader, &at, store);
  });
}

void readBackwards(cmdContext* ctx, qpos position, bool stripping) {
  importFileSpec* rec = ctx->fileSpecsP;
  if (position < 2) {
    ctx->errCd = kResultAtEnd;
    return;
  }
  qpos windowStart = 0;
  const qlong bytesToRead = BackwardWindow(rec, position, &windowStart);
  if (!IsInMemorySource(rec) && AttachReadAhead(ctx->g, rec) != kResultOk) {
    ctx->errCd = kResultNoMemory;
    return;
  }
  // The buffer of a CSV trial read: one block, made at the first backward read and kept until
  // unload, locked for the whole command.
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
  const char* window = LockWindow(rec, windowStart, bytesToRead, &w);
  if (!window) {
    UnlockXPHandle(tempDataH);
    // The system read failed: nothing is known of the record, the position stays.
    ctx->errCd = kResultIoError;
    return;
  }
  recordPlan plan;
  qlong start = FindRecordStart(rec, window, w, windowStart == 0, &plan, trialBuffer);
  if (start < 0 && windowStart > 0) {
    ReleaseWindow(rec);
    UnlockXPHandle(tempDataH);
    ctx->errCd = kResultTooLong; // no record start within reach; the position stays
    return;
  }
  if (start < 0) start = 0; // the record runs from the source's first byte
  // The byte-order mark of a UTF-8 source belongs to no record; the position still counts it.
  const qlong skip =
      windowStart + start == 0 && w >= rec->bomLength ? qlong{rec->bomLength} : qlong{0};

  ctx->errCd = readRecordIn(ctx, window + start + skip, w - start - skip, stripping,
                            plan.count > 0 ? &plan : nullptr, trialBuffer);
  ReleaseWindow(rec);
  UnlockXPHandle(tempDataH);

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
  if (position == 0) position = rec->bomLength; // a byte-order mark is no record's
  rec->curPos = position;
  qshort seek = SetPositionInFile(rec);
  if (seek != kResultOk) {
    ctx->errCd = seek;
    return;
  }
  HoldSourceText(rec);
  recordReader reader; // every member set here: no zeroing per record
  StartPieces(&reader.cursor, rec);
  reader.rule = ConditionRuleFor(rec, stripping);
  reader.buffer = ctx->g->buffer;
  reader.plan = nullptr;
  reader.trialBuffer = nullptr;
  const qshort code = withStore(ctx, reader.rule, stripping, [&](auto& store) {
    return ReadRecordPieces<false>(&reader, &position, store);
  });
  ReleaseSourceText(rec);
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
  if (position == 0) position = rec->bomLength; // a byte-order mark is no text's
  rec->curPos = position;
  qshort seek = SetPositionInFile(rec);
  if (seek != kResultOk) {
    ctx->errCd = seek;
    return false;
  }
  const qpos from = position;
  qshort code = ReadToDelimOrMax(rec, &oneShotField, &position, ctx->g->buffer);
  *rawLength = static_cast<qlong>(std::strlen(ctx->g->buffer));
#if QM_UNICODE
  // Counts are the source's bytes: a UTF-16 source's text is in the buffer as UTF-8.
  if (IsUtf16Encoding(rec->encoding)) *rawLength = static_cast<qlong>(position - from);
#else
  (void)from;
#endif
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
#if QM_UNICODE
// A terminator in a code page's source: each character as the page's byte for it; false for
// a character the page cannot write, which no byte of the source could match.
bool codePageTerminator(cmdContext* ctx, qshort page, char termChar[4]) {
  qlong length = 0;
  GetFldVal(paramField(4), fmtLength, 4, &length, ctx->cb);
  if (length > 3) return false;
  qchar chars[4] = {};
  if (length > 0) GetFldVal(paramField(4), fmtString, 3, chars, ctx->cb);
  const qlong n = CHRqcharsToCodePage(chars, 3, page, reinterpret_cast<qbyte*>(termChar));
  if (n < 0) return false;
  termChar[n] = 0;
  return true;
}
#endif

// ReadUpTo's terminator as the bytes to look for: at most 3 characters as bytes, or in a
// UTF-8 or UTF-16 source their UTF-8, which must fit 3 bytes; false when it does not.
bool readTerminator(cmdContext* ctx, char termChar[4]) {
#if QM_UNICODE
  if (IsUtf8Text(ctx->fileSpecsP->encoding)) {
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
  if (const qshort page = CodePageOf(ctx->fileSpecsP->encoding); page != 0)
    return codePageTerminator(ctx, page, termChar);
#endif
  getAsciiStringParm(paramField(4), 3, termChar, ctx->cb);
  return true;
}
} // namespace

namespace {
// The bytes the source writes a zero-terminated text of the buffer in: its length, or for a
// UTF-16 source (whose pieces the buffer holds as UTF-8) two for each character of UTF-8's
// one to three bytes and four for each of its four.
qlong sourceLength(const importFileSpec* rec, const char* text) {
  const auto length = static_cast<qlong>(std::strlen(text));
#if QM_UNICODE
  if (IsUtf16Encoding(rec->encoding)) {
    qlong bytes = 0;
    for (qlong i = 0; i < length; ++i) {
      const auto b = static_cast<qbyte>(text[i]);
      if ((b & 0xC0) != 0x80) bytes += b >= 0xF0 ? 4 : 2;
    }
    return bytes;
  }
#else
  (void)rec;
#endif
  return length;
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
  if (ctx->paramCount >= 7) // the length after conditioning, in the source's bytes
    SetFldLong(paramField(7), sourceLength(ctx->fileSpecsP, ctx->g->buffer), ctx->cb);
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
