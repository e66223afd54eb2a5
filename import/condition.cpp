// Conditioning of a read field, in place: substitutions and control-character stripping in
// one forward pass, then trimming and enclosing-quote removal.
#include "reader.h"

#include <cstring>

namespace {

constexpr char kBlank = ' ';
constexpr char kQuote = '"';

// Returns the new length of the text (length bytes before its terminating zero).
qlong substituteAndStrip(char* buffer, qlong length, const qbyte* table, bool stripping) {
  uint16_t pairs = 0;
  if (table) std::memcpy(&pairs, table, sizeof pairs);
  if (pairs == 0 && !stripping) return length;
  const qbyte* pair = table ? table + 2 : nullptr;
  const qbyte* pairsEnd = pair ? pair + 2 * size_t{pairs} : nullptr;
  char* write = buffer;
  for (const char* read = buffer; *read; ++read) {
    auto c = static_cast<qbyte>(*read);
    bool hit = false;
    for (const qbyte* p = pair; p < pairsEnd; p += 2) {
      if (p[0] == c) {
        c = p[1];
        hit = true;
        break; // the first pair wins; the replacement is not looked up again
      }
    }
    if (stripping && !hit && c < 0x20) {
      if (c == '\t')
        c = kBlank;
      else if (c != '\r')
        continue; // every other control character goes
    }
    if (hit && c == 0) continue; // a replacement of 0 deletes the target
    *write++ = static_cast<char>(c);
  }
  *write = 0;
  return static_cast<qlong>(write - buffer); // within the 32000-byte text
}

// The bounds [*start, *end) of the text's bytes 0..n-1 after trimming blanks and, when
// stripQuotes, one pair of enclosing quotes.
void trimBounds(const char* text, qlong n, bool stripQuotes, qlong* startOut, qlong* endOut) {
  qlong start = 0;
  while (start < n && text[start] == kBlank)
    ++start;
  qlong end = n;
  // Quotes come off only when the very last byte closes what the first non-blank opens.
  // (A last byte that is a quote is no blank: start stopped at it or before.)
  if (stripQuotes && n > 0 && text[n - 1] == kQuote && text[start] == kQuote) {
    end = n - 1;
    ++start;
    while (start < end && text[start] == kBlank)
      ++start;
  }
  if (start >= end) {
    start = end = 0;
  }
  while (end > start && text[end - 1] == kBlank)
    --end;
  *startOut = start;
  *endOut = end;
}

qlong trim(char* buffer, qlong n, bool stripQuotes) {
  qlong start = 0, end = 0;
  trimBounds(buffer, n, stripQuotes, &start, &end);
  if (start > 0) std::memmove(buffer, buffer + start, static_cast<size_t>(end - start));
  buffer[end - start] = 0;
  return end - start;
}

// Whether conditioning rewrites bytes (rather than only trimming them away).
bool rewrites(const importFileSpec* rec, bool stripping) {
  if (stripping) return true;
  uint16_t pairs = 0;
  if (rec->transTable) std::memcpy(&pairs, rec->transTable, sizeof pairs);
  return pairs != 0;
}

} // namespace

conditionRule ConditionRuleFor(const importFileSpec* fileSpecsP, bool stripping) {
  return {rewrites(fileSpecsP, stripping),
          fileSpecsP->quoting == kQuotingPlain && fileSpecsP->stripEncQuotes != 0};
}

qlong ConditionText(char* buffer, qlong length, const importFileSpec* fileSpecsP, bool stripping) {
  length = substituteAndStrip(buffer, length, fileSpecsP->transTable, stripping);
  if (fileSpecsP->quoting == kQuotingCsv) {
    // A quoted value is delivered exactly as its quotes enclose it; the rest is trimmed.
    return fileSpecsP->quotedPiece ? length : trim(buffer, length, false);
  }
  return trim(buffer, length, fileSpecsP->stripEncQuotes != 0);
}

void ConditionBuffer(char* buffer, const importFileSpec* fileSpecsP, bool stripping) {
  ConditionText(buffer, static_cast<qlong>(std::strlen(buffer)), fileSpecsP, stripping);
}

void ConditionPiece(const char** text, qlong* length, char* buffer,
                    const importFileSpec* fileSpecsP, bool stripping) {
  if (*text != buffer && rewrites(fileSpecsP, stripping)) {
    std::memcpy(buffer, *text, static_cast<size_t>(*length));
    buffer[*length] = 0;
    *text = buffer;
  }
  if (*text == buffer) {
    *length = ConditionText(buffer, *length, fileSpecsP, stripping);
    return;
  }
  // In the source: only trimming applies, and a piece read in place is never a quoted value.
  const bool stripQuotes = fileSpecsP->quoting == kQuotingPlain && fileSpecsP->stripEncQuotes != 0;
  const char* t = *text;
  const qlong n = *length;
  // The usual piece: no blank at either end, and no quote to close one: nothing to trim.
  if (n == 0 || (t[0] != kBlank && t[n - 1] != kBlank && !(stripQuotes && t[n - 1] == kQuote)))
    return;
  qlong start = 0, end = 0;
  trimBounds(t, n, stripQuotes, &start, &end);
  *text += start;
  *length = end - start;
}
