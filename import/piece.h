// The piece rule: where a delimited piece ends, and which pieces the fast paths may take.
// Every path that reads a piece (the buffer path in reader.cpp, the in-place path and the
// quick and block looks in reader.h, the trial reads of a backward CSV search) decides by the
// functions here, so a change to the rule is made here and in the fast paths' guards only.
//
// The rule, for a field with a delimiter of 1 to 3 bytes:
//  - The piece ends at the first whole occurrence of its delimiter within its maximum and
//    the delimiter's length (32000 at most). An EOL delimiter (a line feed) takes a carriage
//    return right before it too.
//  - Its stop: under CSV quoting, when the format's last entry ends at a line end (CRLF, LF,
//    EOL, RETURN), every other entry also ends at that line end, and the last one also at the
//    entry before it's delimiter (the separator). A piece that ends at its stop answers the
//    field's stopCode: kResultShortRecord (the record ended early) or kResultLongRecord (the
//    line holds more pieces). PlanRecord decides the stops; readCsv honours them; the fast
//    paths leave any piece holding the stop's last byte to it.
//  - Quotes: under CSV quoting a piece that opens with the record's quote byte (QuoteOf) is a
//    quoted value and runs to its closing quote (reader.cpp, readCsv); with an escape byte,
//    the byte after it is literal, in or out of quotes, so the fast paths leave every piece
//    of such a record to readCsv. Under the plain rule with enclosing-quote stripping, a piece
//    that opens with a double quote ends only at a delimiter right after a quote. A raw piece
//    (kFieldRaw: ReadUpTo, ReadBytes) is never quoted under CSV. LeadingQuoteMatters says
//    whether the piece's first byte puts it under either rule.
//  - The buffer holds the piece up to its first zero byte.
//
// The fast paths take a piece only when none of the quote rules, the stop, the zero byte or a
// cut by the maximum applies, and give then exactly what the buffer path gives: the piece's
// bytes before its delimiter. Each states which further cases it leaves to the others.
#ifndef QUILLOMAR_PIECE_H
#define QUILLOMAR_PIECE_H

#include "globals.h"

// The byte that opens and closes a quoted value under the plain rule, and CSV's default.
constexpr char kQuoteByte = '"';

// The byte that opens and closes a quoted value of a record's pieces.
inline char QuoteOf(const importFileSpec* rec) {
  return rec->quoting == kQuotingCsv && rec->quoteChar != 0 ? rec->quoteChar : kQuoteByte;
}

// Which quotes matter to a record's pieces: the quote byte, and by a field's kFieldRaw flag
// ([0]: an ordinary field, [1]: a raw one) whether a piece opening with it needs the buffer
// path: CSV quotes matter to every piece but a raw one; the plain rule's enclosing quotes to
// every piece when the record strips them.
struct pieceQuotes {
  bool stops[2];
  char quote;
};

inline pieceQuotes QuotesFor(const importFileSpec* rec) {
  const bool csv = rec->quoting == kQuotingCsv;
  const bool plain = rec->quoting == kQuotingPlain && rec->stripEncQuotes != 0;
  return {{csv || plain, plain}, QuoteOf(rec)};
}

// Whether a piece whose first byte is first falls under a quote rule: only the buffer path
// reads it. (A record with an escape byte has every piece planned for the buffer path:
// PlanRecord.)
inline bool LeadingQuoteMatters(const pieceQuotes& q, const fieldSpec* f, char first) {
  return first == q.quote && q.stops[(f->fldFlags & kFieldRaw) != 0];
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
