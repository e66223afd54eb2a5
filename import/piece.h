// The piece rule: where a delimited piece ends, and which pieces the fast paths may take.
// Every path that reads a piece (the buffer path in reader.cpp, the in-place path and the
// quick and block looks in reader.h, the trial reads of a backward CSV search) decides by the
// functions here, so a change to the rule is made here and in the fast paths' guards only.
//
// The rule, for a field with a delimiter of 1 to 3 bytes:
//  - The piece ends at the first whole occurrence of its delimiter within its maximum and
//    the delimiter's length (32000 at most). An EOL delimiter (a line feed) takes a carriage
//    return right before it too.
//  - Quotes: under CSV quoting (kQuotingCsv) a piece that opens with the quote byte is a
//    quoted value and runs to its closing quote (reader.cpp, readCsv); under the plain rule
//    with enclosing-quote stripping, a piece that opens with it ends only at a delimiter right
//    after a quote. A raw piece (kFieldRaw: ReadUpTo, ReadBytes) is never quoted under CSV.
//    LeadingQuoteMatters says whether the piece's first byte puts it under either rule.
//  - The buffer holds the piece up to its first zero byte.
//
// The fast paths take a piece only when none of the quote rules, the zero byte or a cut by the
// maximum applies, and give then exactly what the buffer path gives: the piece's bytes before
// its delimiter. Each states which further cases it leaves to the others.
#ifndef QUILLOMAR_PIECE_H
#define QUILLOMAR_PIECE_H

#include "globals.h"

// The byte that opens and closes a quoted value.
constexpr char kQuoteByte = '"';

// Which quotes matter to a record's pieces, by a field's kFieldRaw flag ([0]: an ordinary
// field, [1]: a raw one): CSV quotes matter to every piece but a raw one; the plain rule's
// enclosing quotes to every piece when the record strips them.
inline void QuoteStopsFor(const importFileSpec* rec, bool quoteStops[2]) {
  const bool csv = rec->quoting == kQuotingCsv;
  const bool plain = rec->quoting == kQuotingPlain && rec->stripEncQuotes != 0;
  quoteStops[0] = csv || plain;
  quoteStops[1] = plain;
}

// Whether a piece whose first byte is first falls under a quote rule: only the buffer path
// reads it.
inline bool LeadingQuoteMatters(const bool quoteStops[2], const fieldSpec* f, char first) {
  return first == kQuoteByte && quoteStops[(f->fldFlags & kFieldRaw) != 0];
}

// The bytes a delimiter occupies when its last byte has been found upTo bytes into the piece
// (counting that byte), prev being the byte before it: an EOL's carriage return joins it.
inline qlong DelimiterSpan(const fieldSpec* f, qlong len, qlong upTo, char prev) {
  return (f->fldFlags & kFieldEol) != 0 && upTo > 1 && prev == '\r' ? 2 : len;
}

// Whether a field's pieces end at one byte and nothing else (no line end, which may take a
// carriage return before it): the one-byte looks serve only such fields.
inline bool EndsAtOneByte(const fieldSpec* f) {
  return f->scanLen == 1 && (f->fldFlags & kFieldEol) == 0;
}

#endif
