// The delimited reader: in-memory sources are scanned in place, disk files through their
// read-ahead window (readahead.h), with one algorithm over runs of bytes for both.
#include "reader.h"

#include "../glue/XPqUtil.h"
#include "bytesource.h"
#include "readahead.h"
#include "scan.h"

#include <cstring>

namespace {

// How many bytes a delimited read may look at: the field and its delimiter, within 32000.
qlong lookLimit(qshort len, qlong maxBytes) {
  return len + maxBytes > kMaxFieldBytes ? kMaxFieldBytes : len + maxBytes;
}

// Where an in-memory source's text starts in its locked block, and how many of its bytes
// may be read: never more than the block holds, whatever fileSize says.
const char* memoryText(const importFileSpec* rec, const void* block, qlong* available) {
  const char* bytes = static_cast<const char*>(block);
  if (rec->fileRef == kFieldRef) {
    qlong count = 0;
    std::memcpy(&count, bytes, sizeof count);
    *available = rec->fileSize < count ? static_cast<qlong>(rec->fileSize) : count;
    return bytes + 4;
  }
  *available = static_cast<qlong>(rec->fileSize); // an in-memory text: the host's 32-bit bounds
  return bytes;
}

struct delimitedState {
  const fieldSpec* field;
  const qbyte* delim; // the delimiter bytes
  qshort len;         // their count, 1 to 3
  bool eol;           // a carriage return right before the delimiter belongs to it
  bool stripQuotes;
  bool betweenQuotes; // the field opened with a quote: only a delimiter after a quote counts
};

qshort finishDelimited(char* buffer, qlong bytesRead, bool found, qshort result, qlong maxBytes,
                       qshort len, qpos* filePos) {
  if (found) {
    buffer[bytesRead - len] = 0; // the delimiter is consumed but not kept
    *filePos += bytesRead;
    return kResultOk;
  }
  if (result != kResultOk) {
    buffer[bytesRead] = 0;
    *filePos += bytesRead;
    return result;
  }
  // Over-long: keep the first maxBytes; the next read starts right after them.
  buffer[maxBytes] = 0;
  *filePos += maxBytes;
  return kResultTooLong;
}

// Exactly maxBytes bytes, or fewer at the end of the data (8) or on a failing read (5).
qshort readFixed(const byteSource& src, qlong maxBytes, qpos* filePos, char* buffer) {
  qlong bytesRead = 0;
  qshort result = kResultOk;
  while (bytesRead < maxBytes) {
    qlong run = 0;
    PlatResult why = kPlatOk;
    const char* at = bytesAt(src, *filePos + bytesRead, &run, &why);
    if (!at) {
      result = why == kPlatEnd ? kResultShortFixed : kResultIoError;
      break;
    }
    if (run > maxBytes - bytesRead) run = maxBytes - bytesRead;
    std::memcpy(buffer + bytesRead, at, static_cast<size_t>(run));
    bytesRead += run;
  }
  buffer[bytesRead] = 0;
  *filePos += bytesRead;
  return result;
}

// Whether the field's bytes 0..n-1 end with the delimiter, by the quote rule; the first
// inBuffer bytes are in the buffer, the rest at run.
bool delimiterEndsAt(const delimitedState& s, const char* buffer, qlong inBuffer, const char* run,
                     qlong n) {
  if (n < s.len) return false;
  auto byteAt = [&](qlong j) { return j < inBuffer ? buffer[j] : run[j - inBuffer]; };
  for (qshort k = 0; k < s.len; ++k) {
    if (static_cast<qbyte>(byteAt(n - s.len + k)) != s.delim[k]) return false;
  }
  const qlong len = s.eol ? DelimiterSpan(s.field, s.len, n, n > 1 ? byteAt(n - 2) : 0) : s.len;
  if (s.stripQuotes && s.betweenQuotes) return n > len && byteAt(n - len - 1) == kQuoteByte;
  return true;
}

// Up to the delimiter, looking at no more than the field and its delimiter. Only a byte
// equal to the delimiter's last byte can complete it, so candidates are found with memchr
// in the run of source bytes and each run is copied once; the result is what a byte-by-byte
// test gives.
qshort readDelimited(const byteSource& src, const fieldSpec* f, qlong maxBytes, qpos* filePos,
                     char* buffer) {
  const qshort len = DelimiterLength(f);
  const bool eol = (f->fldFlags & kFieldEol) != 0;
  const bool stripQuotes = src.rec->stripEncQuotes != 0 && src.rec->quoting == kQuotingPlain;
  delimitedState s{f, f->fldDelim + 1, len, eol, stripQuotes, false};
  // EOL's delimiter may take a carriage return too: one more byte may be looked at.
  const qlong maxToRead = lookLimit(static_cast<qshort>(eol ? len + 1 : len), maxBytes);
  const auto last = static_cast<char>(s.delim[len - 1]);
  qlong bytesRead = 0;
  qshort result = kResultOk;
  bool found = false;
  while (!found && bytesRead < maxToRead) {
    qlong run = 0;
    PlatResult why = kPlatOk;
    const char* at = bytesAt(src, *filePos + bytesRead, &run, &why);
    if (!at) {
      result = why == kPlatEnd ? kResultNoDelimiter : kResultIoError;
      break;
    }
    if (bytesRead == 0 && s.stripQuotes) s.betweenQuotes = at[0] == kQuoteByte;
    if (run > maxToRead - bytesRead) run = maxToRead - bytesRead;
    qlong take = run;
    // A one-byte delimiter outside quotes ends the field wherever memchr finds it.
    const bool anyHit = len == 1 && !(s.stripQuotes && s.betweenQuotes);
    for (const char* p = at; p < at + run; ++p) {
      p = findByte(p, at + run, last);
      if (!p) break;
      const auto upTo = static_cast<qlong>(p - at) + 1; // within one run of at most 64 KiB
      if (anyHit || delimiterEndsAt(s, buffer, bytesRead, at, bytesRead + upTo)) {
        take = upTo;
        found = true;
        break;
      }
    }
    std::memcpy(buffer + bytesRead, at, static_cast<size_t>(take));
    bytesRead += take;
  }
  qshort delimLength = len;
  if (found)
    delimLength = static_cast<qshort>(
        DelimiterSpan(f, len, bytesRead, bytesRead > 1 ? buffer[bytesRead - 2] : 0));
  if (found && bytesRead - delimLength > maxBytes) found = false; // a line end past the maximum
#if QM_UNICODE
  // A UTF-8 piece cut by its maximum ends on a whole character: the cut moves back to the
  // start of the character it would split, and the next read begins with that character.
  if (!found && result == kResultOk && src.rec->encoding == kEncodingUtf8)
    maxBytes = Utf8CutPoint(buffer, maxBytes, bytesRead);
#endif
  return finishDelimited(buffer, bytesRead, found, result, maxBytes, delimLength, filePos);
}

// CSV quoting: a piece is read as RFC 4180 reads it, with the record's quote byte (QuoteOf)
// and escape byte. A value that opens with the quote runs to its closing quote; inside it
// every delimiter and line end is text and two quotes are one. Bytes after the closing quote,
// up to the delimiter, are text too, as is a quote inside a value that did not open with one.
// An escape byte makes the byte after it text, in or out of quotes. The delimiter, and the
// field's stop (piece.h), count only where all of them lies outside the quotes and after the
// last escaped byte.
//
// A stray quote, under the record rule only: a quoted value that crosses a line end must
// close well, its closing quote followed by the delimiter, the stop or the end of the data.
// One that does not (text after its closing quote, or no closing quote before the end of the
// data or the look-ahead bound) is taken to open with a stray quote: the piece is read again
// from its start as plain text, and the record notes it (strayQuote).
//
// Bounds, decided here: the buffer receives at most maxBytes of the value's text plus
// kCutRoom bytes that let a UTF-8 cut see the character it would split; the source is looked
// at for at most kCsvLookAhead bytes from the piece's start (raw bytes: a quoted value of
// 32000 bytes, every one a doubled quote, takes 64002). An over-long value (11) is consumed
// whole, delimiter included, so the position handed back is where the next piece starts,
// never inside quotes; only when the look-ahead bound comes first does it stop there.
constexpr qlong kCutRoom = 4;

struct csvText {
  char* buffer;
  qlong keep;     // bytes of text the buffer takes
  qlong length;   // bytes of text so far, kept or not
  uint32_t tail;  // the last three bytes of text, the latest in the low byte
  qlong plainRun; // bytes of text since the quotes closed or the last escaped byte

  void append(const char* from, qlong n) {
    if (length < keep) {
      const qlong room = keep - length;
      std::memcpy(buffer + length, from, static_cast<size_t>(n < room ? n : room));
    }
    for (qlong k = n > 3 ? n - 3 : 0; k < n; ++k)
      tail = (tail << 8) | static_cast<qbyte>(from[k]);
    length += n;
    plainRun += n;
  }
  qbyte back(qshort k) const { return static_cast<qbyte>(tail >> (8 * k)); } // 0: the last
};

// A piece's delimiter, or its stop: the bytes that end it, outside quotes.
struct csvEnd {
  const fieldSpec* field;
  const qbyte* bytes;
  qshort len; // 0: none
  bool eol;   // a line feed that takes a carriage return before it
};

// The terminator's span when the text's last bytes, all outside quotes, complete it; else 0.
qlong csvEndSpan(const csvText& t, const csvEnd& e) {
  if (e.len == 0 || t.plainRun < e.len) return 0;
  for (qshort k = 0; k < e.len; ++k)
    if (t.back(k) != e.bytes[e.len - 1 - k]) return 0;
  // An EOL line end takes the carriage return before it, as DelimiterSpan has it.
  return e.eol && t.plainRun > 1 && t.back(1) == '\r' ? 2 : e.len;
}

// The first byte at or after p, before end, that is a, b or c; null when none is.
const char* findAnyOf(const char* p, const char* end, char a, char b, char c) {
  if (a == b && b == c) return findByte(p, end, a);
  for (; p < end; ++p)
    if (*p == a || *p == b || *p == c) return p;
  return nullptr;
}

// Whether the n bytes of the source from pos on hold a line end (the stray-quote rule's
// question, asked only of a quoted value that did not close well).
bool crossesLineEnd(const byteSource& src, qpos pos, qlong n) {
  while (n > 0) {
    qlong run = 0;
    PlatResult why = kPlatOk;
    const char* at = bytesAt(src, pos, &run, &why);
    if (!at) return false;
    if (run > n) run = n;
    if (std::memchr(at, '\n', static_cast<size_t>(run)) ||
        std::memchr(at, '\r', static_cast<size_t>(run)))
      return true;
    pos += run;
    n -= run;
  }
  return false;
}

enum csvState { kCsvStart, kCsvQuoted, kCsvQuotedEscape, kCsvQuoteSeen, kCsvPlain, kCsvEscape };

// One piece's scan: where it is, what it has gathered, and how it ended.
struct csvScan {
  const byteSource* src;
  const fieldSpec* f;
  qpos start; // the piece's first byte
  csvEnd delim;
  csvEnd stop;
  char quote;
  char escape; // 0: none
  csvState state;
  csvText text;
  qlong ended; // the terminator's span once found
  qshort code; // kResultOk at the delimiter, the field's stopCode at the stop
  bool stray;  // a quoted value that crossed a line end did not close well
};

// Scans the run bytes at at from i on; returns where it stopped (at the run's end, or past
// the piece's terminator).
qlong scanCsvRun(csvScan* s, const char* at, qlong i, qlong run, qpos runPos) {
  const char lastDelim = static_cast<char>(s->delim.bytes[s->delim.len - 1]);
  const char lastStop = s->stop.len ? static_cast<char>(s->stop.bytes[s->stop.len - 1]) : lastDelim;
  const char esc = s->escape ? s->escape : lastDelim; // no escape: nothing more to look for
  while (i < run && s->ended == 0 && !s->stray) {
    switch (s->state) {
    case kCsvQuoted: {
      const char* q =
          findAnyOf(at + i, at + run, s->quote, s->escape ? s->escape : s->quote, s->quote);
      const qlong upTo = q ? static_cast<qlong>(q - at) : run;
      s->text.append(at + i, upTo - i);
      i = q ? upTo + 1 : run;
      if (q) s->state = *q == s->quote ? kCsvQuoteSeen : kCsvQuotedEscape;
      break;
    }
    case kCsvQuotedEscape: // the byte after an escape is text
      s->text.append(at + i, 1);
      ++i;
      s->state = kCsvQuoted;
      break;
    case kCsvQuoteSeen:
      if (at[i] == s->quote) { // a doubled quote is one quote of text
        s->text.append(at + i, 1);
        ++i;
        s->state = kCsvQuoted;
        break;
      }
      if (s->stop.len != 0 && at[i] != static_cast<char>(s->delim.bytes[0]) &&
          at[i] != static_cast<char>(s->stop.bytes[0]) &&
          !((s->delim.eol || s->stop.eol) && at[i] == '\r') &&
          crossesLineEnd(*s->src, s->start, static_cast<qlong>(runPos + i - s->start))) {
        s->stray = true; // text after the closing quote of a value that crossed a line end
        break;
      }
      s->state = kCsvPlain; // the quotes closed; what follows is read as it stands
      s->text.plainRun = 0;
      break;
    case kCsvEscape:
      s->text.append(at + i, 1);
      ++i;
      s->text.plainRun = 0; // no terminator includes an escaped byte
      s->state = kCsvPlain;
      break;
    default: { // kCsvPlain
      const char* p = findAnyOf(at + i, at + run, lastDelim, lastStop, esc);
      const qlong upTo = p ? static_cast<qlong>(p - at) + 1 : run;
      if (p && s->escape && *p == esc) {
        s->text.append(at + i, upTo - 1 - i);
        i = upTo;
        s->state = kCsvEscape;
        break;
      }
      s->text.append(at + i, upTo - i);
      i = upTo;
      if (!p) break;
      if ((s->ended = csvEndSpan(s->text, s->delim)) != 0) {
        s->code = kResultOk;
      } else if ((s->ended = csvEndSpan(s->text, s->stop)) != 0) {
        s->code = s->f->stopCode;
      }
      break;
    }
    }
  }
  return i;
}

qshort readCsv(const byteSource& src, const fieldSpec* f, qlong maxBytes, qpos* filePos,
               char* buffer, bool plainOnly) {
  importFileSpec* rec = src.rec;
  const qshort stopLen = static_cast<qshort>(f->fldStop[0] > 3 ? 3 : f->fldStop[0]);
  csvScan s{&src,
            f,
            *filePos,
            {f, f->fldDelim + 1, DelimiterLength(f), (f->fldFlags & kFieldEol) != 0},
            {f, f->fldStop + 1, stopLen, (f->stopFlags & kFieldEol) != 0},
            QuoteOf(rec),
            rec->escapeChar,
            kCsvStart,
            {buffer, maxBytes + kCutRoom, 0, 0, 0},
            0,
            kResultOk,
            false};
  qlong looked = 0;
  qshort result = kResultOk;
  while (s.ended == 0 && !s.stray) {
    if (looked >= kCsvLookAhead) {
      result = kResultTooLong;
      break;
    }
    qlong run = 0;
    PlatResult why = kPlatOk;
    const char* at = bytesAt(src, *filePos + looked, &run, &why);
    if (!at) {
      result = why == kPlatEnd ? kResultNoDelimiter : kResultIoError;
      break;
    }
    if (run > kCsvLookAhead - looked) run = kCsvLookAhead - looked;
    qlong i = 0;
    if (s.state == kCsvStart) {
      const bool quoted = at[0] == s.quote && !plainOnly;
      s.state = quoted ? kCsvQuoted : kCsvPlain;
      rec->quotedPiece = quoted;
      i = quoted ? 1 : 0;
    }
    looked += scanCsvRun(&s, at, i, run, *filePos + looked);
  }
  // An escape byte that the data ends after stands for itself.
  if (result == kResultNoDelimiter && (s.state == kCsvEscape || s.state == kCsvQuotedEscape))
    s.text.append(&s.escape, 1);
  // A quoted value left open by the data's end or the bound, having crossed a line end.
  if (!s.stray && s.ended == 0 && result != kResultIoError && s.stop.len != 0 &&
      (s.state == kCsvQuoted || s.state == kCsvQuotedEscape))
    s.stray = crossesLineEnd(src, *filePos, looked);
  if (s.stray) {
    rec->strayQuote = true;
    rec->quotedPiece = false;
    return readCsv(src, f, maxBytes, filePos, buffer, true);
  }
  if (result == kResultIoError) { // nothing delivered: the piece is read again from its start
    buffer[0] = 0;
    return kResultIoError;
  }
  *filePos += looked;
  qlong length = s.text.length - s.ended;
  if (length > maxBytes) {
    qlong cut = maxBytes;
#if QM_UNICODE
    if (rec->encoding == kEncodingUtf8)
      cut = Utf8CutPoint(buffer, maxBytes, length < s.text.keep ? length : s.text.keep);
#endif
    buffer[cut] = 0;
    // Ended by its stop, the record's end matters more than the cut: the stop's code.
    return s.ended > 0 && s.code != kResultOk ? s.code : static_cast<qshort>(kResultTooLong);
  }
  buffer[length] = 0;
  return s.ended > 0 ? s.code : result;
}

qshort readField(const byteSource& src, const fieldSpec* f, qpos* filePos, char* buffer) {
  const qlong maxBytes = EffectiveMax(f->fldMax);
#if QM_UNICODE
  if (IsUtf16Encoding(src.rec->encoding)) return ReadField16(src, f, maxBytes, filePos, buffer);
#endif
  if (DelimiterLength(f) == 0) return readFixed(src, maxBytes, filePos, buffer);
  if (src.rec->quoting == kQuotingCsv && !(f->fldFlags & kFieldRaw))
    return readCsv(src, f, maxBytes, filePos, buffer, false);
  return readDelimited(src, f, maxBytes, filePos, buffer);
}

} // namespace

// ---- The in-place path -------------------------------------------------------------------
// Most pieces of an import are short and unquoted, and end at their delimiter inside the run
// of source bytes at hand. Such a piece needs no copy into the buffer: it is conditioned and
// stored where it lies (ReadPieceInPlace, in reader.h). Whatever that test does not take (a
// quote that matters, a zero byte, a delimiter past the run or the maximum, a fixed length)
// is read by readField, whose result for the pieces taken there is the same.

namespace {
void takeRun(pieceCursor* c) {
  importFileSpec* rec = c->rec;
  c->run = nullptr;
  c->runStart = 0;
  c->runCount = 0;
  if (IsInMemorySource(rec)) {
    if (!rec->lockedBlock) return; // the bytes must stay where they are for the whole record
    c->run = rec->heldText;
    c->runCount = rec->heldAvailable;
  } else if (rec->window && rec->window->count > 0) {
    c->run = rec->window->bytes;
    c->runStart = rec->window->start;
    c->runCount = rec->window->count;
  }
}
} // namespace

void StartPieces(pieceCursor* cursor, importFileSpec* fileSpecsP) {
  cursor->rec = fileSpecsP;
  cursor->quotes = QuotesFor(fileSpecsP);
  cursor->over = false;
  takeRun(cursor);
}

void StartPiecesOver(pieceCursor* cursor, importFileSpec* fileSpecsP, const char* text,
                     qlong size) {
  StartPieces(cursor, fileSpecsP);
  cursor->run = text;
  cursor->runStart = 0;
  cursor->runCount = size;
  cursor->over = true;
}

namespace {
// ReadToDelimOrMax over a cursor's own bytes (StartPiecesOver).
qshort readOver(const pieceCursor* c, const fieldSpec* f, qpos* filePos, char* buffer) {
  buffer[0] = 0;
  c->rec->quotedPiece = false;
  if (*filePos < 0 || *filePos > c->runCount) return kResultAtEnd;
  return readField(byteSource{c->rec, c->run, c->runCount}, f, filePos, buffer);
}
} // namespace

qshort ReadPieceSlow(pieceCursor* cursor, const fieldSpec* fldSpecP, qpos* filePos, char* buffer,
                     const char** text, qlong* length) {
  importFileSpec* rec = cursor->rec;
  *text = buffer;
  *length = 0;
  if (cursor->over) {
    const qshort code = readOver(cursor, fldSpecP, filePos, buffer);
    *length = static_cast<qlong>(std::strlen(buffer)); // within the 32000-byte buffer
    return code;
  }
  if (!IsInMemorySource(rec) && rec->window && fldSpecP->scanLen > 0) {
    const qpos offset = *filePos - cursor->runStart;
    if (cursor->run == nullptr || offset < 0 || offset >= cursor->runCount) {
      // Past the window: fill it at the piece, and try in place again.
      qlong run = 0;
      PlatResult why = kPlatOk;
      if (!ReadAheadBytes(rec, *filePos, &run, &why)) {
        buffer[0] = 0; // no bytes there: nothing read, the position stays
        rec->quotedPiece = false;
        takeRun(cursor);
        return why == kPlatEnd ? kResultNoDelimiter : kResultIoError;
      }
      takeRun(cursor);
      if (ReadPieceInPlace(cursor, fldSpecP, filePos, text, length)) return kResultOk;
    }
  }
  const qshort code = ReadToDelimOrMax(rec, fldSpecP, filePos, buffer);
  takeRun(cursor);                                   // a disk file's window may have moved
  *length = static_cast<qlong>(std::strlen(buffer)); // within the 32000-byte buffer
  return code;
}

qshort SkipRestOfRecord(pieceCursor* cursor, const fieldSpec* last, qpos* filePos, char* buffer) {
  // The line's further pieces: ended by the separator, stopped by the line end.
  fieldSpec rest{};
  std::memcpy(rest.fldDelim, last->fldStop, sizeof rest.fldDelim);
  std::memcpy(rest.fldStop, last->fldDelim, sizeof rest.fldStop);
  rest.stopFlags = last->fldFlags & kFieldEol;
  rest.stopCode = kResultShortRecord;
  rest.fldMax = static_cast<qshort>(kMaxFieldBytes); // not planned: read through the buffer
  qshort code = kResultOk;
  while (code == kResultOk || code == kResultTooLong) { // an over-long piece is passed whole
    const qpos before = *filePos;
    const char* text = nullptr;
    qlong length = 0;
    code = ReadPieceSlow(cursor, &rest, filePos, buffer, &text, &length);
    if (*filePos == before) break;
  }
  return code;
}

void PlanPiece(fieldSpec* fldSpecP) {
  fldSpecP->scanLen = 0;
  fldSpecP->scanMax = 0;
  fldSpecP->scanLimit = 0;
  fldSpecP->scanMask = 0;
  const qshort len = DelimiterLength(fldSpecP);
  // A fixed length, or a delimiter ending in a zero byte (the scan could not tell it from a
  // zero byte of text), is read through the buffer.
  if (len == 0 || fldSpecP->fldDelim[len] == 0) return;
  const qlong maxBytes = EffectiveMax(fldSpecP->fldMax);
  const qlong cr = (fldSpecP->fldFlags & kFieldEol) != 0 ? 1 : 0;
  fldSpecP->scanLen = static_cast<qbyte>(len);
  fldSpecP->scanMax = static_cast<qshort>(maxBytes);
  fldSpecP->scanLimit = static_cast<qshort>(maxBytes + len + cr); // at most 32004
  fldSpecP->scanMask =
      static_cast<uint16_t>(fldSpecP->scanLimit >= 16 ? 0xFFFFu : (1u << fldSpecP->scanLimit) - 1u);
}

qshort DelimiterLength(const fieldSpec* f) {
  auto len = static_cast<int8_t>(f->fldDelim[0]); // a signed byte
  if (len < 0) return 0;
  return len > 3 ? 3 : len;
}

qshort SetPositionInFile(importFileSpec* fileSpecsP) {
  if (IsInMemorySource(fileSpecsP)) return kResultOk;
  if (!fileSpecsP->window) return kResultNoMemory; // the read commands attach a window first
  return ReadAheadSeek(fileSpecsP, fileSpecsP->curPos);
}

qshort ReadToDelimOrMax(importFileSpec* fileSpecsP, const fieldSpec* fldSpecP, qpos* filePos,
                        char* buffer) {
  buffer[0] = 0;
  fileSpecsP->quotedPiece = false;
  if (!IsInMemorySource(fileSpecsP)) {
    if (!fileSpecsP->window) return kResultNoMemory;
    return readField(byteSource{fileSpecsP, nullptr, 0}, fldSpecP, filePos, buffer);
  }
  const bool held = fileSpecsP->lockedBlock != nullptr;
  const void* block = held ? fileSpecsP->lockedBlock : LockXPHandle(fileSpecsP->dataHandle);
  qlong available = 0;
  const char* text = memoryText(fileSpecsP, block, &available);
  qshort result = kResultAtEnd; // before the text or past its end: nothing there to read
  if (*filePos >= 0 && *filePos <= available)
    result = readField(byteSource{fileSpecsP, text, available}, fldSpecP, filePos, buffer);
  if (!held) UnlockXPHandle(fileSpecsP->dataHandle);
  return result;
}

void HoldSourceText(importFileSpec* fileSpecsP) {
  if (!IsInMemorySource(fileSpecsP) || fileSpecsP->lockedBlock) return;
  fileSpecsP->lockedBlock = LockXPHandle(fileSpecsP->dataHandle);
  if (fileSpecsP->lockedBlock)
    fileSpecsP->heldText =
        memoryText(fileSpecsP, fileSpecsP->lockedBlock, &fileSpecsP->heldAvailable);
}

void ReleaseSourceText(importFileSpec* fileSpecsP) {
  if (!fileSpecsP->lockedBlock) return;
  fileSpecsP->lockedBlock = nullptr;
  fileSpecsP->heldText = nullptr;
  fileSpecsP->heldAvailable = 0;
  UnlockXPHandle(fileSpecsP->dataHandle);
}

#if QM_QUICK_PIECES
namespace {
// RecordFits's usual pieces: from entry i on, each that the block serves and finds whole. Returns
// the first entry it did not take; *pos and plan (when given) as RecordFits keeps them, *code 0
// once it took one.
qshort blockPieces(const importFileSpec* rec, const pieceQuotes& quotes, const char* text,
                   qlong size, pieceBlock* block, qshort i, recordPlan* plan, qpos* pos,
                   qshort* code) {
  qpos at = *pos;
  pieceBlock b = *block; // a local, kept in registers
  const fieldSpec* const fields = rec->fields;
  const qshort count = rec->fldCount;
  for (; i < count; ++i) {
    const fieldSpec* f = fields + i;
    if (!BlockServes(b, f)) break;
    int n = BlockPieceLength(b, f, quotes, text + at);
    if (n == kBlockMisses && b.start != text + at) {
      LoadPieceBlock(&b, text + at, static_cast<qlong>(size - at));
      n = BlockPieceLength(b, f, quotes, text + at);
    }
    if (n < 0) break;
    if (plan) {
      plan->at[i] = static_cast<qlong>(at);
      plan->next[i] = static_cast<qlong>(at + n + 1);
      plan->length[i] = n;
    }
    at += n + 1;
    *code = kResultOk;
  }
  *block = b;
  *pos = at;
  return i;
}
} // namespace
#endif

bool RecordFits(importFileSpec* fileSpecsP, const char* text, qlong size, bool endsWithDelim,
                char* buffer, recordPlan* plan, bool* shortRecord) {
  const byteSource src{fileSpecsP, text, size};
  // A trial: only where each piece ends matters, so a piece the in-place path takes is not
  // copied; the rest are read from the text as the buffer path reads them.
  pieceCursor cursor{};
  StartPiecesOver(&cursor, fileSpecsP, text, size);
  if (plan) {
    plan->count = 0;
    plan->held = -1;
  }
  bool planning = plan && fileSpecsP->fldCount <= kPlannedPieces;
  const bool recordRule =
      fileSpecsP->fldCount > 0 && fileSpecsP->fields[fileSpecsP->fldCount - 1].fldStop[0] != 0;
  fileSpecsP->strayQuote = false;
  qpos pos = 0;
  qshort code = kResultOk;
#if QM_QUICK_PIECES
  const bool quickLooks = QuickLooksUsable();
  pieceBlock block{};
  if (fileSpecsP->fldCount > 0) {
    block.delim = static_cast<char>(fileSpecsP->fields[0].fldDelim[1]);
    block.stop = fileSpecsP->fields[0].scanStop;
  }
#endif
  for (qshort i = 0; i < fileSpecsP->fldCount; ++i) {
    // Judged before the block's pieces, which would answer 0 for the entries after a record
    // that ended early and read the next line into them.
    if (code != kResultOk && code != kResultTooLong) {
      if (!recordRule) return false; // an entry before the last ended early
      break; // the record ended early: at its line end, or at the data's end
    }
#if QM_QUICK_PIECES
    if (quickLooks) { // the usual pieces, in a loop of their own; it stops at any other
      i = blockPieces(fileSpecsP, cursor.quotes, text, size, &block, i, planning ? plan : nullptr,
                      &pos, &code);
      if (i == fileSpecsP->fldCount) break;
    }
#endif
    const fieldSpec* f = fileSpecsP->fields + i;
    const char* piece = nullptr;
    qlong length = -1;
    const qpos at = pos;
    int quick = -1;
#if QM_QUICK_PIECES
    if (quickLooks)
      quick = QuickPieceLength(f, cursor.quotes, text + pos, static_cast<qlong>(size - pos),
                               static_cast<qlong>(pos));
#endif
    if (quick >= 0) {
      piece = text + pos;
      length = quick;
      pos += quick + 1;
      code = kResultOk;
    } else if (ReadPieceInPlace(&cursor, f, &pos, &piece, &length)) {
      code = kResultOk;
    } else { // on a copy, so that pos stays in a register for the in-place pieces
      qpos slowPos = pos;
      buffer[0] = 0;
      fileSpecsP->quotedPiece = false;
      code = readField(src, f, &slowPos, buffer);
      pos = slowPos;
      if (planning) { // as ReadPieceSlow would deliver it
        plan->held = i;
        plan->heldCode = code;
        plan->heldLength = static_cast<qlong>(std::strlen(buffer)); // within kBufferSize
        plan->heldQuoted = fileSpecsP->quotedPiece;
      }
    }
    if (planning) { // within the record: offsets below 32000
      plan->at[i] = static_cast<qlong>(at);
      plan->next[i] = static_cast<qlong>(pos);
      plan->length[i] = piece ? length : -1;
    }
  }
  if (code == kResultLongRecord) { // the rest of the line, through the trial's buffer
    code = SkipRestOfRecord(&cursor, fileSpecsP->fields + (fileSpecsP->fldCount - 1), &pos, buffer);
    planning = false;
  }
  const bool fits = pos == size && (code == kResultTooLong ||
                                    code == (endsWithDelim ? kResultOk : kResultNoDelimiter) ||
                                    (code == kResultShortRecord && endsWithDelim));
  if (fits && planning) plan->count = fileSpecsP->fldCount;
  if (shortRecord) *shortRecord = code == kResultShortRecord;
  return fits;
}

namespace {
// Whether a field's delimiter is a line end: CRLF, LF, EOL or RETURN.
bool endsAtLineEnd(const fieldSpec* f) {
  const qshort len = DelimiterLength(f);
  if (len == 2) return f->fldDelim[1] == '\r' && f->fldDelim[2] == '\n';
  return len == 1 && (f->fldDelim[1] == '\n' || f->fldDelim[1] == '\r');
}

// The record rule's stops (piece.h): under CSV quoting, when the last entry ends at a line end,
// every other delimited entry stops at that line end too, and the last at the separator before
// it. A piece whose stop shares its delimiter's last byte, and every piece of a record with an
// escape byte, is left to the buffer path.
void planStops(importFileSpec* rec) {
  const qshort n = rec->fldCount;
  fieldSpec* const fields = rec->fields;
  for (qshort i = 0; i < n; ++i) {
    std::memset(fields[i].fldStop, 0, sizeof fields[i].fldStop);
    fields[i].stopFlags = 0;
    fields[i].stopCode = kResultOk;
    fields[i].scanStop = 0;
  }
  if (rec->quoting != kQuotingCsv || n < 1) return;
  if (rec->escapeChar != 0) // an escape may stand anywhere: no piece is read in place
    for (qshort i = 0; i < n; ++i) {
      fields[i].scanLen = 0;
      fields[i].scanMask = 0;
    }
  fieldSpec* last = fields + (n - 1);
  if ((last->fldFlags & kFieldRaw) != 0 || !endsAtLineEnd(last)) return;
  for (qshort i = 0; i + 1 < n; ++i) {
    if (DelimiterLength(fields + i) == 0) continue; // a fixed length reads its bytes whatever
    std::memcpy(fields[i].fldStop, last->fldDelim, sizeof last->fldDelim);
    fields[i].stopFlags = last->fldFlags & kFieldEol;
    fields[i].stopCode = kResultShortRecord;
  }
  const fieldSpec* separator = n >= 2 ? fields + (n - 2) : nullptr;
  if (separator && DelimiterLength(separator) > 0 && !endsAtLineEnd(separator)) {
    std::memcpy(last->fldStop, separator->fldDelim, sizeof separator->fldDelim);
    last->stopCode = kResultLongRecord;
  }
  for (qshort i = 0; i < n; ++i) {
    fieldSpec* f = fields + i;
    const qshort len = DelimiterLength(f);
    if (f->fldStop[0] != 0) f->scanStop = static_cast<char>(f->fldStop[f->fldStop[0]]);
    if (len > 0 && f->scanStop != 0 && f->fldDelim[len] == static_cast<qbyte>(f->scanStop)) {
      f->scanLen = 0; // the in-place looks could not tell the two apart
      f->scanMask = 0;
    }
  }
}
} // namespace

void PlanRecord(importFileSpec* fileSpecsP) {
  fileSpecsP->fitDelim = 0;
  if (!fileSpecsP->fields) return;
  planStops(fileSpecsP);
#if QM_UNICODE
  const bool utf16 = IsUtf16Encoding(fileSpecsP->encoding);
  if (utf16) { // read a character at a time: nothing in place
    for (qshort i = 0; i < fileSpecsP->fldCount; ++i) {
      fileSpecsP->fields[i].scanLen = 0;
      fileSpecsP->fields[i].scanMask = 0;
    }
  }
#endif
  const qshort n = fileSpecsP->fldCount;
  if (n < 2 || fileSpecsP->escapeChar != 0) return;
  const fieldSpec* last = fileSpecsP->fields + (n - 1);
  const qshort lastLen = DelimiterLength(last);
  if (lastLen == 0 || (last->fldFlags & kFieldRaw) != 0) return;
  // No quote in the last delimiter (an empty last piece would open with it), and its final
  // byte only at its end, so that it completes nowhere but at the text's end.
  const qbyte final = last->fldDelim[lastLen];
  const auto quote = static_cast<qbyte>(QuoteOf(fileSpecsP));
  for (qshort k = 1; k <= lastLen; ++k)
    if (last->fldDelim[k] == quote || (k < lastLen && last->fldDelim[k] == final)) return;
  const qbyte d = fileSpecsP->fields[0].fldDelim[1];
  if (final == 0 || d == 0 || d == quote || d == final) return;
#if QM_UNICODE
  // In UTF-16 each of those bytes is a character (a unit) only when it is ASCII.
  for (qshort k = 1; utf16 && k <= lastLen; ++k)
    if (last->fldDelim[k] >= 0x80) return;
  if (utf16 && d >= 0x80) return;
#endif
  for (qshort i = 0; i + 1 < n; ++i) {
    const fieldSpec* f = fileSpecsP->fields + i;
    if (DelimiterLength(f) != 1 || f->fldDelim[1] != d || (f->fldFlags & (kFieldRaw | kFieldEol)))
      return;
  }
  fileSpecsP->fitDelim = d;
}

bool QuickFits(const importFileSpec* fileSpecsP, const char* text, qlong size, bool endsWithDelim) {
  const qshort n = fileSpecsP->fldCount;
  if (fileSpecsP->fitDelim == 0) return false; // PlanRecord sets it for two pieces or more
#if QM_UNICODE
  if (IsUtf16Encoding(fileSpecsP->encoding))
    return QuickFits16(fileSpecsP, text, size, endsWithDelim);
#endif
  const fieldSpec* last = fileSpecsP->fields + (n - 1);
  const qshort lastLen = DelimiterLength(last);
  const qlong before = size - (endsWithDelim ? lastLen : 0); // the bytes before its delimiter
  if (before < 0) return false;
  const auto stop = static_cast<char>(last->fldDelim[lastLen]);
  const qlong splits = countByteUnless(text, before, static_cast<char>(fileSpecsP->fitDelim),
                                       QuoteOf(fileSpecsP), stop);
  return splits >= n - 1;
}
