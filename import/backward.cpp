// The backward search: where a record that ends at a window's end begins.
#include "backward.h"

#include "../glue/XPqUtil.h"
#include "readahead.h"
#include "scan.h"

#include <bit>
#include <cstring>

qlong BackwardWindow(const importFileSpec* rec, qpos end, qpos* start) {
  // In 64 bits: twice the largest format's total would not fit 32.
  qpos span = 2 * qpos{rec->maxTotal};
  if (span > rec->fileSize) span = rec->fileSize;
  *start = end - span;
  if (*start < 0) {
    *start = 0;
    span = end;
  }
  if (span > kMaxFieldBytes) {
    *start = end - kMaxFieldBytes;
    span = kMaxFieldBytes;
  }
#if QM_UNICODE
  // A UTF-16 source's window starts on a code unit, so that its even offsets are the units'.
  if (IsUtf16Encoding(rec->encoding) && (*start & 1) != 0) {
    ++*start;
    --span;
  }
#endif
  return static_cast<qlong>(span);
}

// The count bytes of the source that end at start + count, in place: from an in-memory
// text (its block stays locked until ReleaseWindow) or from a disk file's read-ahead window.
// *got is count, or fewer when the source has fewer; null when the system read failed.
const char* LockWindow(importFileSpec* rec, qpos start, qlong count, qlong* got) {
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

void ReleaseWindow(importFileSpec* rec) {
  if (IsInMemorySource(rec)) UnlockXPHandle(rec->dataHandle);
}

namespace {

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
bool oddQuotes(const char* p, qlong n, char quote) {
  unsigned char odd = 0;
  for (qlong i = 0; i < n; ++i)
    odd ^= p[i] == quote ? 1 : 0;
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
  char quote;
  qlong blockStart; // the block in hand is [blockStart, blockStart + 16) or shorter
  unsigned hits;    // its occurrences not yet given, bit i for byte blockStart + i
  unsigned quotes;  // its quotes
  unsigned passed;  // the quotes of the blocks passed, folded by exclusive or: only their
                    // parity is wanted, and folding keeps it
  bool oddAfter;    // whether the bytes after the first block hold an odd number of quotes
};

// Starts before end; after is how many bytes follow end in the window (their quotes count).
backwardHits startBackwardHits(const char* window, qlong end, qlong after, char target,
                               char quote) {
  return {window, target, quote, end, 0, 0, 0, oddQuotes(window + end, after, quote)};
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
      matchMasks(h->window + start, 16, h->target, h->quote, &hits, &quotes);
    }
    if (hits == 0 && start > 0) { // the window's first bytes, fewer than a block
      passed ^= quotes;
      matchMasks(h->window, start, h->target, h->quote, &hits, &quotes);
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

#if QM_EVEN_BLOCKS
// The next occurrence with an even count (evenScan), nearest first: *at its offset,
// *after how many occurrences, whatever their count, lie between it and the end. False at the
// window's start.
bool nextEvenHit(evenScan* s, qlong* at, qlong* after) {
  if (s->even == 0 && !NextEvenBlock(s)) return false;
  const int bit = 63 - std::countl_zero(s->even);
  s->even &= ~(uint64_t{1} << bit);
  *at = s->blockStart + bit;
  *after = s->passed + std::popcount(s->hits >> bit >> 1);
  return true;
}
#endif

// Whether the whole window holds an odd number of quotes.
bool windowQuotesOdd(const backwardHits& h) {
  return oddQuotes(h.window, h.blockStart, h.quote) != (oddAbove(h) != oddBits(h.quotes));
}

// Under CSV quoting the last entry's delimiter may stand inside a quoted value, so the
// record start is chosen among the delimiter's occurrences in the window, nearest first,
// and the source's first byte when the window starts there:
//   1. the nearest with an even number of double quotes after it from which the record reads
//      to exactly its end (QuickFits, else RecordFits);
//   2. failing that, the nearest from which it reads so;
//   3. (a start from which it reads short because a stray quote cut it is kept until the
//      others are tried: such a line end may lie inside a quoted value an earlier start reads
//      through, as forward reads do) failing those, the one kept;
//   4. failing that, the nearest occurrence, as under plain quoting.
// In well-formed CSV the text after a line end inside a quoted value holds an odd number of
// quotes (the rest of the value's doubled quotes and its closing one), so rule 1 finds the
// true start; only a quote outside the rules of RFC 4180 can mislead it. Only the nearest
// kRecordTrials candidates are read, so a window full of line ends stays cheap. Returns the
// start's offset in the window, or -1 (no occurrence: as under plain quoting). The start a
// trial read confirmed is the one it read last, so plan then holds that record's pieces;
// otherwise its count is 0. The trials read through scratch, so that the plan's held piece
// outlives the stores of the pieces before it.
constexpr int kRecordTrials = 64;

// With an escape byte, the quotes an escape makes text do not count: the parity of the
// others in the n bytes at p, read forwards.
bool oddUnescapedQuotes(const char* p, qlong n, char quote, char escape) {
  bool odd = false;
  for (qlong i = 0; i < n; ++i) {
    if (p[i] == escape)
      ++i;
    else if (p[i] == quote)
      odd = !odd;
  }
  return odd;
}

// What the rules choose from: the delimiter's occurrences, nearest first, each as the start
// after it with whether an odd number of quotes stands between it and the window's end. A
// source of them may settle the start itself (kSettled), as the byte source's block look does.
enum candidateKind { kNoCandidate, kCandidate, kSettled };

// The rules above, over any source of candidates; fits(start) is the trial of a start. The
// candidate source's next(fits, &start, &odd) gives the next one, and wholeOdd() the parity
// of the whole window.
template <class Candidates>
qlong chooseCsvStart(importFileSpec* rec, const char* window, qlong w, bool fromSourceStart,
                     bool endsWithDelim, recordPlan* plan, char* scratch, Candidates& candidates) {
  const qlong bom = rec->bomLength;
  // Rule 3's start, kept in reserve.
  qlong shortStart = -1;
  auto fits = [&](qlong start) {
    const qlong skip = fromSourceStart && start == 0 && w >= bom ? bom : 0;
    const char* text = window + start + skip;
    const qlong size = w - start - skip;
    // A count settles the usual record, whose text holds no quote; plan then stays empty.
    if (QuickFits(rec, text, size, endsWithDelim)) return true;
    bool isShort = false;
    if (!RecordFits(rec, text, size, endsWithDelim, scratch, plan, &isShort)) return false;
    // Kept in reserve only when a stray quote cut it short: a start that reads the record
    // short as it stands is the short record's own.
    if (!isShort || !rec->strayQuote) return true;
    if (shortStart < 0) shortStart = start;
    return false;
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
  qlong start = 0;
  bool odd = false;
  while (trials < kRecordTrials) {
    const candidateKind kind = candidates.next(fits, &start, &odd);
    if (kind == kNoCandidate) break;
    if (kind == kSettled) return start;
    if (nearest < 0) nearest = start;
    if (consider(start, odd)) return start;
  }
  if (fromSourceStart && consider(0, candidates.wholeOdd())) return 0;
  for (int i = 0; i < odds; ++i)
    if (fits(oddStarts[i])) return oddStarts[i];
  if (shortStart >= 0) {
    plan->count = 0; // later trials read other starts: the record is read unplanned
    return shortStart;
  }
  return nearest;
}

// The candidates of a source of bytes: the occurrences found by their last byte as
// recordStart finds them, with the quotes counted in the same pass.
struct byteCandidates {
  const importFileSpec* rec;
  const char* window;
  qlong w;
  const qbyte* delim;
  qlong len;
  qlong searchStart;
  backwardHits hits;
  bool blocksTried;

  template <class Fits> candidateKind next(Fits& fits, qlong* start, bool* odd) {
    qlong at = 0; // the occurrence's last byte
    while (nextBackwardHit(&hits, &at, odd)) {
      if (at + 1 < len || !delimiterBytesAt(window + at + 1 - len, delim, len - 1)) continue;
      *start = at + 1;
      if (rec->escapeChar != 0) // the block parity counted escaped quotes too
        *odd = oddUnescapedQuotes(window + *start, w - *start, hits.quote, rec->escapeChar);
#if QM_EVEN_BLOCKS
      // The first line end inside a quoted value: most likely a long record's, with more such
      // line ends before its start. A short record without them never pays for the blocks.
      if (*odd && !blocksTried) {
        blocksTried = true;
        if (const qlong found = evenStart(fits); found >= 0) {
          *start = found;
          return kSettled;
        }
      }
#else
      (void)fits;
#endif
      return kCandidate;
    }
    return kNoCandidate;
  }

#if QM_EVEN_BLOCKS
  // Rule 1 alone, with the occurrences of an odd count (a quoted value's line ends) passed a
  // block at a time (NextEvenBlock) instead of one by one. While fewer than
  // kRecordTrials occurrences follow a candidate, the rules would try it too, in this
  // order and after the same trials, so a start found here is the one they would find.
  template <class Fits> qlong evenStart(Fits& fits) {
    const auto last = static_cast<char>(delim[len - 1]);
    evenScan evens{window, searchStart + 1, 0, 0, 0, hits.oddAfter, last, hits.quote};
    for (qlong at = 0, after = 0; nextEvenHit(&evens, &at, &after) && after < kRecordTrials;)
      if (at + 1 >= len && delimiterBytesAt(window + at + 1 - len, delim, len - 1) && fits(at + 1))
        return at + 1;
    return -1;
  }
#endif

  bool wholeOdd() const {
    return rec->escapeChar != 0 ? oddUnescapedQuotes(window, w, hits.quote, rec->escapeChar)
                                : windowQuotesOdd(hits);
  }
};

qlong csvRecordStart(importFileSpec* rec, const char* window, qlong w, qlong searchStart, qlong len,
                     bool fromSourceStart, bool endsWithDelim, recordPlan* plan, char* scratch) {
  const qbyte* delim = rec->fields[rec->fldCount - 1].fldDelim + 1;
  const auto last = static_cast<char>(delim[len - 1]);
  byteCandidates candidates{
      rec,
      window,
      w,
      delim,
      len,
      searchStart,
      startBackwardHits(window, searchStart + 1, w - searchStart - 1, last, QuoteOf(rec)),
      true};
#if QM_EVEN_BLOCKS
  candidates.blocksTried = !EvenBlocksUsable() || w < 64 || rec->escapeChar != 0;
#endif
  return chooseCsvStart(rec, window, w, fromSourceStart, endsWithDelim, plan, scratch, candidates);
}

#if QM_UNICODE
// ---- UTF-16 sources ------------------------------------------------------------------------
// The window starts on a code unit (BackwardWindow): its units are at even offsets, and a
// delimiter or a quote counts only there.

// The unit at p.
inline uint32_t unitAt(const char* p, bool bigEndian) {
  const auto a = static_cast<uint32_t>(static_cast<qbyte>(p[0]));
  const auto b = static_cast<uint32_t>(static_cast<qbyte>(p[1]));
  return bigEndian ? (a << 8 | b) : (b << 8 | a);
}

// Whether the units of the n bytes at p hold an odd number of quotes, an escape making the
// unit after it text.
bool oddQuoteUnits(const char* p, qlong n, bool bigEndian, uint32_t quote, uint32_t escape) {
  if (escape == 0) return (CountUnits(p, n / 2, RawUnitOf(quote, bigEndian)) & 1) != 0;
  bool odd = false;
  for (qlong i = 0; i + 1 < n; i += 2) {
    const uint32_t u = unitAt(p + i, bigEndian);
    if (escape != 0 && u == escape)
      i += 2;
    else if (u == quote)
      odd = !odd;
  }
  return odd;
}

// The delimiter's occurrences at even offsets, nearest first, the bytes after each looked
// at once for their quotes (all of them again for each, when an escape may hide one).
struct unitCandidates {
  const char* window;
  qlong w;
  const char* delim; // as the source writes it
  qlong len;
  qlong at; // the next offset to try; below 0: none left
  bool bigEndian;
  uint32_t quote;
  uint32_t escape;
  qlong counted; // the units from here to the window's end have been counted
  bool oddAfter; // and their quotes' parity

  template <class Fits> candidateKind next(Fits& /*fits*/, qlong* start, bool* odd) {
    const uint16_t lastUnit = RawUnit(delim + len - 2); // its last unit, looked for first
    while (at >= 0) {
      const qlong k = LastUnit(window, (at + len) / 2, lastUnit); // the units up to at's last
      at = k < 0 ? -1 : 2 * k - (len - 2);
      if (at < 0) break;
      if (len > 2 && std::memcmp(window + at, delim, static_cast<size_t>(len - 2)) != 0) {
        at -= 2;
        continue;
      }
      *start = at + len;
      at -= 2;
      if (escape != 0) {
        *odd = oddQuoteUnits(window + *start, w - *start, bigEndian, quote, escape);
      } else {
        oddAfter =
            oddAfter != oddQuoteUnits(window + *start, counted - *start, bigEndian, quote, 0);
        counted = *start;
        *odd = oddAfter;
      }
      return kCandidate;
    }
    return kNoCandidate;
  }

  bool wholeOdd() const { return oddQuoteUnits(window, w, bigEndian, quote, escape); }
};

// FindRecordStart for a UTF-16 source.
qlong recordStart16(importFileSpec* rec, const char* window, qlong w, bool fromSourceStart,
                    recordPlan* plan, char* scratch) {
  const fieldSpec* last = rec->fields + (rec->fldCount - 1);
  if (DelimiterLength(last) == 0) return -1; // a fixed-length last entry marks no boundary
  const bool bigEndian = rec->encoding == kEncodingUtf16Be;
  char delim[12];
  const qlong len = Utf16Delimiter(last->fldDelim, bigEndian, delim);
  const bool endsWithDelim = w >= len && ((w - len) & 1) == 0 &&
                             std::memcmp(window + w - len, delim, static_cast<size_t>(len)) == 0;
  // An occurrence counts only when all of it lies before the window's own delimiter.
  qlong at = w - (endsWithDelim ? len : 0) - len;
  if (at & 1) --at;
  unitCandidates candidates{window,
                            w,
                            delim,
                            len,
                            at,
                            bigEndian,
                            static_cast<qbyte>(QuoteOf(rec)),
                            static_cast<qbyte>(rec->escapeChar),
                            w & ~qlong{1},
                            false};
  if (rec->quoting != kQuotingCsv) {
    qlong start = -1;
    bool odd = false;
    auto none = [](qlong) { return false; };
    return candidates.next(none, &start, &odd) == kCandidate ? start : -1;
  }
  return chooseCsvStart(rec, window, w, fromSourceStart, endsWithDelim, plan, scratch, candidates);
}

#endif

} // namespace

qlong FindRecordStart(importFileSpec* rec, const char* window, qlong w, bool fromSourceStart,
                      recordPlan* plan, char* scratch) {
  plan->count = 0;
#if QM_UNICODE
  if (IsUtf16Encoding(rec->encoding))
    return recordStart16(rec, window, w, fromSourceStart, plan, scratch);
#endif
  const fieldSpec* last = rec->fields + (rec->fldCount - 1);
  const qlong len = DelimiterLength(last);
  if (rec->quoting != kQuotingCsv || len == 0)
    return recordStart(window, w, last->fldDelim + 1, len);
  const bool endsWithDelim =
      w >= len && delimiterBytesAt(window + w - len, last->fldDelim + 1, len);
  return csvRecordStart(rec, window, w, w - 1 - (endsWithDelim ? len : 0), len, fromSourceStart,
                        endsWithDelim, plan, scratch);
}
