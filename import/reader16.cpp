// The reader of a UTF-16 source: the byte reader's rules (reader.cpp, piece.h), applied to
// characters. A source's code units stand at even positions from its first byte, so a
// delimiter, a terminator or a quote is only ever found as whole characters: never at an odd
// offset, between the two bytes of a unit or inside a surrogate pair. Positions, maxima and
// the look-ahead bound count the source's bytes; a piece reaches the buffer as UTF-8, which
// conditioning and the UTF-8 store then take as they take a UTF-8 source's. (A record's usual
// piece that needs no conditioning skips the buffer: records.h stores it as its units.)
//
// Characters: a unit, or a surrogate pair; an unpaired surrogate, a lone byte at the data's
// end (or at an odd position a read starts from) and a pair or a unit that a fixed length cuts
// become U+FFFD. A maximum cuts before the character it would split, and the next read begins
// with that character.
#include "bytesource.h"
#include "reader.h"
#include "scan.h"

// The 8-bit host opens no UTF-16 source: its build has none of this.
#if QM_UNICODE

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kNoChar = 0xFFFFFFFF; // no character: matches no terminator

// The characters of a source from a position on, a byte at a time from its runs; the run in
// hand is taken again wherever a byte lies outside it (a disk file's window may move).
struct charReader {
  const byteSource* src;
  bool bigEndian;
  qpos pos; // the next character's first byte
  const char* run;
  qpos runPos; // run's first byte
  qlong runLength;
  PlatResult why; // why the last byte asked for was not there

  int byteAt(qpos p) {
    if (run == nullptr || p < runPos || p >= runPos + runLength) {
      qlong n = 0;
      const char* at = bytesAt(*src, p, &n, &why);
      if (at == nullptr) {
        run = nullptr;
        return -1;
      }
      run = at;
      runPos = p;
      runLength = n;
    }
    return static_cast<qbyte>(run[p - runPos]);
  }

  // The unit at p, or -1 when its two bytes are not both there.
  int32_t unitAt(qpos p) {
    const int a = byteAt(p);
    if (a < 0) return -1;
    const int b = byteAt(p + 1);
    if (b < 0) return -1;
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  }

  // The next character, taking at most room bytes (room >= 1): its byte count, or 0 at the
  // end of the data or when the system fails (why tells which).
  qlong next(uint32_t* cp, qlong room) {
    const qpos p = pos;
    if (byteAt(p) < 0) return 0;
    *cp = kReplacement;
    const int32_t u = (p & 1) != 0 || room < 2 ? -1 : unitAt(p);
    if (u < 0) { // half a unit
      if (why == kPlatIoError && (p & 1) == 0 && room >= 2) return 0;
      pos = p + 1;
      return 1;
    }
    pos = p + 2;
    if (u < 0xD800 || u > 0xDFFF) {
      *cp = static_cast<uint32_t>(u);
      return 2;
    }
    if (u >= 0xDC00 || room < 4) return 2; // a low surrogate alone, or a pair cut by the room
    const int32_t low = unitAt(p + 2);
    if (low < 0 && why == kPlatIoError) return 0;
    if (low < 0xDC00 || low > 0xDFFF) return 2;
    *cp = 0x10000 + ((static_cast<uint32_t>(u) - 0xD800) << 10) +
          (static_cast<uint32_t>(low) - 0xDC00);
    pos = p + 4;
    return 4;
  }
};

// A character's UTF-8 at out: 1 to 4 bytes.
qlong putUtf8(uint32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// A delimiter or stop (its length in [0], its UTF-8 after) as the characters it holds: how
// many, up to 3. A byte that starts no well-formed sequence stands for itself. Three bytes
// of UTF-8 hold no character beyond U+FFFF: each is one code unit.
qshort terminatorChars(const qbyte* delim, uint32_t* cps) {
  const qshort len = static_cast<qshort>(delim[0] > 3 ? 3 : delim[0]);
  const qbyte* b = delim + 1;
  qshort n = 0;
  for (qshort i = 0; i < len;) {
    const qbyte lead = b[i];
    const qshort extra = lead >= 0xF0 ? 0 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    bool whole = extra > 0 && i + extra < len;
    for (qshort k = 1; whole && k <= extra; ++k)
      whole = (b[i + k] & 0xC0) == 0x80;
    uint32_t cp = lead;
    if (whole) {
      cp = lead & (0x3Fu >> extra);
      for (qshort k = 1; k <= extra; ++k)
        cp = (cp << 6) | (b[i + k] & 0x3Fu);
    }
    cps[n++] = cp;
    i = static_cast<qshort>(i + (whole ? 1 + extra : 1));
  }
  return n;
}

// A piece's characters as they are gathered: their UTF-8 in the buffer (as long as they may
// be needed), their bytes in the source, where a cut by the maximum falls, and the last four
// with their sizes, for the terminators.
struct text16 {
  text16(char* to, qlong max) : buffer(to), maxBytes(max) {}

  char* buffer;
  qlong maxBytes;
  qlong utf8 = 0;     // UTF-8 bytes written
  qlong bytes = 0;    // source bytes of the text
  qlong cutUtf8 = 0;  // the UTF-8 of the whole characters within the maximum
  qlong cutBytes = 0; // and their source bytes
  qlong plainRun = 0; // characters since the quotes closed or the last escaped one (CSV)
  // The last four characters, their source bytes and their UTF-8 (read only within plainRun).
  uint32_t last[4] = {kNoChar, kNoChar, kNoChar, kNoChar};
  qlong lastBytes[4] = {};
  qlong lastUtf8[4] = {};

  void append(uint32_t cp, qlong size) {
    qlong written = 0;
    // The text beyond the maximum and the longest terminator (3 characters of 4 bytes and a
    // carriage return) is never stored: only its length matters.
    if (bytes <= maxBytes + 14) written = putUtf8(cp, buffer + utf8);
    utf8 += written;
    bytes += size;
    if (bytes <= maxBytes) {
      cutUtf8 = utf8;
      cutBytes = bytes;
    }
    for (int k = 3; k > 0; --k) {
      last[k] = last[k - 1];
      lastBytes[k] = lastBytes[k - 1];
      lastUtf8[k] = lastUtf8[k - 1];
    }
    last[0] = cp;
    lastBytes[0] = size;
    lastUtf8[0] = written;
    ++plainRun;
  }
};

// A delimiter or stop as characters.
struct terminator16 {
  uint32_t chars[3];
  qshort len; // 0: none
  bool eol;   // a line feed that takes a carriage return before it
};

// When the text's last characters (within its last run characters) complete the terminator:
// the characters it spans (a carriage return joins an EOL's line feed); else 0.
qshort endSpan(const text16& t, const terminator16& e, qlong run) {
  if (e.len == 0 || run < e.len) return 0;
  for (qshort k = 0; k < e.len; ++k)
    if (t.last[k] != e.chars[e.len - 1 - k]) return 0;
  return e.eol && run > 1 && t.last[1] == '\r' ? 2 : e.len;
}

// The source and UTF-8 bytes of the text's last n characters.
void spanSizes(const text16& t, qshort n, qlong* bytes, qlong* utf8) {
  *bytes = 0;
  *utf8 = 0;
  for (qshort k = 0; k < n; ++k) {
    *bytes += t.lastBytes[k];
    *utf8 += t.lastUtf8[k];
  }
}

// Filled in place: a copy of it read back whole, right after its parts were written, would
// wait for them on every piece.
inline void terminatorOf(terminator16* e, const qbyte* delim, bool eol) {
  e->eol = eol;
  const qshort len = static_cast<qshort>(delim[0] > 3 ? 3 : delim[0]);
  if ((len < 1 || delim[1] < 0x80) && (len < 2 || delim[2] < 0x80) &&
      (len < 3 || delim[3] < 0x80)) {
    for (qshort k = 0; k < 3; ++k) // ASCII, as the keywords are: a byte a character
      e->chars[k] = k < len ? delim[1 + k] : 0;
    e->len = len;
    return;
  }
  e->chars[1] = e->chars[2] = 0;
  e->len = terminatorChars(delim, e->chars);
}

// The characters that make a piece's scan stop and look: its terminators', and the quote,
// escape and line-end characters its rule watches. ASCII ones in a bitmap; any other makes
// every character beyond ASCII one.
struct specialChars {
  uint64_t ascii[2];
  bool wide;
  // The ASCII ones, count of them, some perhaps twice: at most 12 are added (a delimiter and
  // a stop of 3 with their carriage returns, the quote, both line ends and the escape).
  char list[12];
  int count;

  void add(uint32_t c) {
    if (c >= 0x80) {
      wide = true;
      return;
    }
    list[count++] = static_cast<char>(c);
    ascii[c >> 6] |= uint64_t{1} << (c & 63);
  }
  void add(const terminator16& e) {
    for (qshort k = 0; k < e.len; ++k)
      add(e.chars[k]);
    if (e.eol) add('\r');
  }
};

// Most of a piece is characters no rule looks at: those at the reader's position, within the
// run in hand and room bytes, are taken here in one loop, the buffer receiving their UTF-8, up
// to the first special character or surrogate (which the character-at-a-time path takes).
// Returns the bytes taken. None of them can be part of a terminator, so the last characters
// the terminators are matched against are forgotten once any is taken. room keeps the text
// within its maximum, so every character taken is within the cut.
qlong takePlain(charReader* r, text16* t, const specialChars& sp, qlong room) {
  const qpos pos = r->pos;
  if ((pos & 1) != 0 || r->run == nullptr || pos < r->runPos) return 0;
  qlong avail = static_cast<qlong>(r->runPos + r->runLength - pos);
  if (avail > room) avail = room;
  const auto* p = reinterpret_cast<const qbyte*>(r->run + (pos - r->runPos));
  const qbyte* const end = p + (avail & ~qlong{1});
  const qbyte* const from = p;
  char* out = t->buffer + t->utf8;
  // ASCII first, many units at a time where the processor allows.
  const qlong ascii =
      NarrowAsciiUnits(reinterpret_cast<const char*>(p), static_cast<qlong>(end - p) / 2,
                       r->bigEndian, sp.list, sp.count, out);
  p += 2 * static_cast<ptrdiff_t>(ascii);
  out += ascii;
  const int hi = r->bigEndian ? 0 : 1;
  while (p < end) {
    const uint32_t u = static_cast<uint32_t>(p[hi]) << 8 | p[1 - hi];
    if (u < 0x80) {
      if ((sp.ascii[u >> 6] >> (u & 63) & 1) != 0) break;
      *out++ = static_cast<char>(u);
    } else if (sp.wide || (u >= 0xD800 && u < 0xE000)) {
      break;
    } else {
      out += putUtf8(u, out);
    }
    p += 2;
  }
  const auto taken = static_cast<qlong>(p - from);
  if (taken == 0) return 0;
  t->utf8 = static_cast<qlong>(out - t->buffer);
  t->bytes += taken;
  t->cutUtf8 = t->utf8;
  t->cutBytes = t->bytes;
  t->plainRun += taken / 2;
  for (uint32_t& c : t->last)
    c = kNoChar;
  r->pos = pos + taken;
  return taken;
}

// The bytes of the terminator that the units at the reader's position spell, within the run
// in hand (an EOL's line feed with the carriage return before it); 0 when they do not. Asked
// only where no character read before can be part of it: right after takePlain took some,
// or at the piece's start.
qlong terminatorHere(const charReader& r, const terminator16& e) {
  if (e.len == 0 || (r.pos & 1) != 0 || r.run == nullptr || r.pos < r.runPos) return 0;
  const auto avail = static_cast<qlong>(r.runPos + r.runLength - r.pos);
  const auto* p = reinterpret_cast<const qbyte*>(r.run + (r.pos - r.runPos));
  const int hi = r.bigEndian ? 0 : 1;
  auto unit = [&](qlong k) { return static_cast<uint32_t>(p[k + hi]) << 8 | p[k + 1 - hi]; };
  qlong k = 0;
  // CR LF is one EOL line end (an EOL is a line feed alone; the slow path joins a CR to the
  // last character of any terminator EOL flags, which no format writes for a longer one).
  if (e.eol && e.len == 1 && e.chars[0] != '\r' && avail >= 4 && unit(0) == '\r') k = 2;
  if (avail - k < 2 * e.len) return 0;
  for (qshort i = 0; i < e.len; ++i)
    if (unit(k + 2 * i) != e.chars[i]) return 0;
  return k + 2 * e.len;
}

// A fixed length: exactly maxBytes bytes, or fewer at the end of the data (8) or on a failing
// read (5).
qshort readFixed16(charReader* r, qlong maxBytes, qpos* filePos, char* buffer) {
  text16 t(buffer, maxBytes);
  qshort result = kResultOk;
  while (t.bytes < maxBytes) {
    uint32_t cp = 0;
    const qlong size = r->next(&cp, maxBytes - t.bytes);
    if (size == 0) {
      result = r->why == kPlatIoError ? kResultIoError : kResultShortFixed;
      break;
    }
    t.append(cp, size);
  }
  buffer[t.utf8] = 0;
  *filePos += t.bytes;
  return result;
}

// Up to the delimiter, as readDelimited reads bytes: within the maximum and the delimiter's
// own bytes, 32000 in all; under the plain rule with stripping, a piece that opens with a
// double quote ends only at a delimiter right after a quote.
qshort readDelimited16(charReader* r, const fieldSpec* f, qlong maxBytes, bool stripQuotes,
                       qpos* filePos, char* buffer) {
  terminator16 d; // NOLINT(cppcoreguidelines-pro-type-member-init): terminatorOf fills it
  terminatorOf(&d, f->fldDelim, (f->fldFlags & kFieldEol) != 0);
  const qlong delimBytes = 2 * d.len + (d.eol ? 2 : 0); // a unit a character, an EOL's CR
  const qlong limit =
      delimBytes + maxBytes > kMaxFieldBytes ? kMaxFieldBytes : delimBytes + maxBytes;
  text16 t(buffer, maxBytes);
  qshort result = kResultOk;
  bool betweenQuotes = false;
  qshort span = 0;
  specialChars sp{{0, 0}, false, {}, 0};
  sp.add(d);
  r->byteAt(r->pos); // the run in hand, so that plain characters are taken from the first
  // With stripping, the first character decides the enclosing-quote rule: it is read as a
  // special one, and between quotes the quote is special too.
  bool decided = !stripQuotes;
  while (span == 0 && t.bytes < limit) {
    if (decided) {
      const qlong room = (limit < maxBytes ? limit : maxBytes) - t.bytes;
      const bool fresh = (room >= 2 && takePlain(r, &t, sp, room) > 0) || t.bytes == 0;
      if (const qlong here = fresh && !betweenQuotes ? terminatorHere(*r, d) : 0;
          here > 0 && t.bytes + here <= limit) {
        buffer[t.utf8] = 0; // the usual piece: its delimiter right after its text
        *filePos += t.bytes + here;
        r->pos += here;
        return kResultOk;
      }
      if (fresh && t.bytes > 0) continue;
    }
    uint32_t cp = 0;
    const qlong size = r->next(&cp, kCsvLookAhead);
    if (size == 0) {
      result = r->why == kPlatIoError ? kResultIoError : kResultNoDelimiter;
      break;
    }
    if (!decided) {
      betweenQuotes = cp == static_cast<uint32_t>(kQuoteByte);
      if (betweenQuotes) sp.add(cp);
      decided = true;
    }
    t.append(cp, size);
    span = endSpan(t, d, t.plainRun);
    if (span != 0 && betweenQuotes && !(t.plainRun > span && t.last[span] == '"')) span = 0;
  }
  qlong spanBytes = 0, spanUtf8 = 0;
  spanSizes(t, span, &spanBytes, &spanUtf8);
  if (span != 0 && t.bytes - spanBytes <= maxBytes) {
    buffer[t.utf8 - spanUtf8] = 0; // the delimiter is consumed but not kept
    *filePos += t.bytes;
    return kResultOk;
  }
  if (span == 0 && result != kResultOk) {
    buffer[t.utf8] = 0;
    *filePos += t.bytes;
    return result;
  }
  // Over-long: the whole characters within the maximum; the next read starts after them.
  buffer[t.cutUtf8] = 0;
  *filePos += t.cutBytes;
  return kResultTooLong;
}

enum csvState16 { kStart, kQuoted, kQuotedEscape, kQuoteSeen, kPlain, kEscape };

// CSV quoting, as readCsv reads bytes (its comment in reader.cpp states the rules and the
// bounds), with characters for bytes.
qshort readCsv16(charReader* reader, const fieldSpec* f, qlong maxBytes, qpos* filePos,
                 char* buffer, bool plainOnly) {
  charReader& r = *reader;
  importFileSpec* rec = r.src->rec;
  terminator16 delim; // NOLINT(cppcoreguidelines-pro-type-member-init): filled below
  terminator16 stop;  // NOLINT(cppcoreguidelines-pro-type-member-init)
  terminatorOf(&delim, f->fldDelim, (f->fldFlags & kFieldEol) != 0);
  terminatorOf(&stop, f->fldStop, (f->stopFlags & kFieldEol) != 0);
  const auto quote = static_cast<uint32_t>(static_cast<qbyte>(QuoteOf(rec)));
  const auto escape = static_cast<uint32_t>(static_cast<qbyte>(rec->escapeChar)); // 0: none
  text16 t(buffer, maxBytes);
  csvState16 state = kStart;
  qlong looked = 0;
  qshort result = kResultOk;
  qshort ended = 0; // the terminator's span in characters, once found
  qshort code = kResultOk;
  bool stray = false;
  bool crossed = false; // a line end among the characters looked at
  specialChars sp{{0, 0}, false, {}, 0};
  sp.add(delim);
  sp.add(stop);
  sp.add(quote);
  sp.add('\r');
  sp.add('\n');
  if (escape != 0) sp.add(escape);
  // An escape makes the character after it text: a terminator that holds the escape is left
  // to the character-at-a-time path, which sees the escape first.
  bool escapeInEnds = false;
  for (qshort k = 0; escape != 0 && k < 3; ++k)
    escapeInEnds = escapeInEnds || (k < delim.len && delim.chars[k] == escape) ||
                   (k < stop.len && stop.chars[k] == escape);
  rec->quotedPiece = false;
  while (ended == 0 && !stray) {
    if (looked >= kCsvLookAhead) {
      result = kResultTooLong;
      break;
    }
    if (state == kQuoted || state == kPlain) {
      qlong room = maxBytes - t.bytes;
      if (room > kCsvLookAhead - looked) room = kCsvLookAhead - looked;
      const qlong taken = room >= 2 ? takePlain(&r, &t, sp, room) : 0;
      looked += taken;
      // Plain text right after characters no terminator holds: the usual piece's delimiter,
      // or its stop, is read here. The one that ends first counts,
      // the delimiter when both end together.
      // (takePlain keeps the text within its maximum.)
      if (state == kPlain && taken > 0 && !escapeInEnds) {
        const qlong atDelim = terminatorHere(r, delim), atStop = terminatorHere(r, stop);
        if (atDelim > 0 || atStop > 0) {
          const bool isDelim = atDelim > 0 && (atStop == 0 || atDelim <= atStop);
          *filePos += looked + (isDelim ? atDelim : atStop);
          buffer[t.utf8] = 0;
          return isDelim ? static_cast<qshort>(kResultOk) : f->stopCode;
        }
      }
      if (taken > 0) continue;
    }
    uint32_t cp = 0;
    const qlong size = r.next(&cp, kCsvLookAhead);
    if (size == 0) {
      result = r.why == kPlatIoError ? kResultIoError : kResultNoDelimiter;
      break;
    }
    looked += size;
    const bool crossedBefore = crossed;
    if (cp == '\n' || cp == '\r') crossed = true;
    if (state == kStart) {
      if (cp == quote && !plainOnly) {
        state = kQuoted;
        rec->quotedPiece = true;
        continue;
      }
      state = kPlain;
    }
    switch (state) {
    case kQuoted:
      if (escape != 0 && cp == escape)
        state = kQuotedEscape;
      else if (cp == quote)
        state = kQuoteSeen;
      else
        t.append(cp, size);
      continue;
    case kQuotedEscape:
      t.append(cp, size);
      state = kQuoted;
      continue;
    case kQuoteSeen:
      if (cp == quote) { // a doubled quote is one quote of text
        t.append(cp, size);
        state = kQuoted;
        continue;
      }
      if (stop.len != 0 && cp != delim.chars[0] && cp != stop.chars[0] &&
          !((delim.eol || stop.eol) && cp == '\r') && crossedBefore) {
        stray = true; // text after the closing quote of a value that crossed a line end
        continue;
      }
      state = kPlain; // the quotes closed; what follows is read as it stands
      t.plainRun = 0;
      break;
    case kEscape:
      t.append(cp, size);
      t.plainRun = 0; // no terminator includes an escaped character
      state = kPlain;
      continue;
    default:
      break;
    }
    // kPlain
    if (escape != 0 && cp == escape) {
      state = kEscape;
      continue;
    }
    t.append(cp, size);
    if ((ended = endSpan(t, delim, t.plainRun)) != 0) {
      code = kResultOk;
    } else if ((ended = endSpan(t, stop, t.plainRun)) != 0) {
      code = f->stopCode;
    }
  }
  // An escape that the data ends after stands for itself.
  if (result == kResultNoDelimiter && (state == kEscape || state == kQuotedEscape))
    t.append(escape, 2);
  // A quoted value left open by the data's end or the bound, having crossed a line end.
  if (!stray && ended == 0 && result != kResultIoError && stop.len != 0 &&
      (state == kQuoted || state == kQuotedEscape))
    stray = crossed;
  if (stray) {
    rec->strayQuote = true;
    rec->quotedPiece = false;
    r.pos = *filePos; // from the piece's start again
    r.run = nullptr;
    return readCsv16(reader, f, maxBytes, filePos, buffer, true);
  }
  if (result == kResultIoError) { // nothing delivered: the piece is read again from its start
    buffer[0] = 0;
    return kResultIoError;
  }
  *filePos += looked;
  qlong spanBytes = 0, spanUtf8 = 0;
  spanSizes(t, ended, &spanBytes, &spanUtf8);
  if (t.bytes - spanBytes > maxBytes) {
    buffer[t.cutUtf8] = 0;
    // Ended by its stop, the record's end matters more than the cut: the stop's code.
    return ended > 0 && code != kResultOk ? code : static_cast<qshort>(kResultTooLong);
  }
  buffer[t.utf8 - spanUtf8] = 0;
  return ended > 0 ? code : result;
}

// The usual piece in one pass, without the character reader: the buffer receives
// UsualPiece16's text as UTF-8 and *filePos moves past its delimiter: kResultOk, as the
// character reader gives it. Anything else answers -1 and the character reader reads the
// piece (the buffer's bytes it wrote it writes again).
qshort quickPiece16(const byteSource& src, const fieldSpec* f, qlong maxBytes, qpos* filePos,
                    char* buffer) {
  if ((*filePos & 1) != 0) return -1;
  qlong run = 0;
  PlatResult why = kPlatOk;
  const char* at = bytesAt(src, *filePos, &run, &why);
  if (at == nullptr) return -1;
  qlong ends = 0;
  const qlong text = UsualPiece16(src.rec, f, at, run, maxBytes, &ends);
  if (text < 0) return -1;
  const bool big = src.rec->encoding == kEncodingUtf16Be;
  const auto* p = reinterpret_cast<const qbyte*>(at);
  const int hi = big ? 0 : 1;
  // Its leading ASCII eight units at a time where it can, the rest a unit at a time.
  const qlong ascii = NarrowAsciiUnits(at, text / 2, big, nullptr, 0, buffer);
  char* out = buffer + ascii;
  for (qlong i = 2 * ascii; i < text; i += 2)
    out += putUtf8(static_cast<uint32_t>(p[i + hi]) << 8 | p[i + 1 - hi], out);
  *out = 0;
  *filePos += text + ends;
  return kResultOk;
}

// The units the usual piece's scan stops at, one a slot: the delimiter's first, the quote,
// the line ends, the zero unit, the stop's first character and the escape (a slot not needed
// holds the zero unit again); false when the field's delimiter or stop is not the usual kind.
bool usualSpecials(const importFileSpec* rec, const fieldSpec* f, qbyte* specials) {
  const qshort len = DelimiterLength(f);
  if (len == 0 || len > 2) return false;
  const qbyte d0 = f->fldDelim[1];
  const qbyte d1 = len == 2 ? f->fldDelim[2] : 0;
  const auto quote = static_cast<qbyte>(QuoteOf(rec));
  const auto escape = static_cast<qbyte>(rec->escapeChar);
  const qbyte s0 = f->fldStop[0] != 0 ? f->fldStop[1] : 0;
  // The scan stops at ASCII characters only; a second unit is compared as the character
  // reader takes it (a byte that starts no character stands for itself).
  if (d0 == 0 || d0 >= 0x80 || d0 == quote || s0 >= 0x80 || (s0 != 0 && s0 == d0) ||
      (escape != 0 && (d0 == escape || d1 == escape)))
    return false;
  specials[0] = d0;
  specials[1] = quote;
  specials[2] = '\r';
  specials[3] = '\n';
  specials[4] = 0;
  specials[5] = s0;
  specials[6] = escape;
  return true;
}
} // namespace

qlong UsualPiece16(const importFileSpec* rec, const fieldSpec* f, const char* at, qlong run,
                   qlong maxBytes, qlong* ends) {
  qbyte specials[7];
  if (!usualSpecials(rec, f, specials)) return -1;
  const qshort len = DelimiterLength(f);
  const qbyte d0 = f->fldDelim[1];
  const bool eol = (f->fldFlags & kFieldEol) != 0;
  // The text's units within the maximum, and the delimiter's (a carriage return and a unit).
  const qlong room = maxBytes + 4 < run ? maxBytes + 4 : run;
  const bool big = rec->encoding == kEncodingUtf16Be;
  const qlong i = 2 * FindUnitStop(at, room / 2, big, specials);
  if (i + 2 > room) return -1;
  const auto* p = reinterpret_cast<const qbyte*>(at);
  const int hi = big ? 0 : 1;
  auto unit = [&](qlong k) { return static_cast<uint32_t>(p[k + hi]) << 8 | p[k + 1 - hi]; };
  // At a character some rule watches (or a surrogate: the character reader's): the piece is
  // taken here only when it is the delimiter.
  const uint32_t u = unit(i);
  const bool pair = i + 4 <= room; // a second unit after it
  *ends = 0;
  if (u == d0)
    *ends = len == 1 ? 2 : pair && unit(i + 2) == f->fldDelim[2] ? 4 : 0;
  else if (eol && len == 1 && u == '\r') // a carriage return joins an EOL's line end
    *ends = pair && unit(i + 2) == d0 ? 4 : 0;
  if (*ends == 0 || i > maxBytes || i + *ends > kMaxFieldBytes) return -1;
  return i;
}

qshort ReadField16(const byteSource& src, const fieldSpec* f, qlong maxBytes, qpos* filePos,
                   char* buffer) {
  if (const qshort quick = quickPiece16(src, f, maxBytes, filePos, buffer); quick >= 0)
    return quick;
  charReader reader{&src, src.rec->encoding == kEncodingUtf16Be, *filePos, nullptr, 0, 0, kPlatOk};
  if (DelimiterLength(f) == 0) return readFixed16(&reader, maxBytes, filePos, buffer);
  if (src.rec->quoting == kQuotingCsv && (f->fldFlags & kFieldRaw) == 0)
    return readCsv16(&reader, f, maxBytes, filePos, buffer, false);
  const bool stripQuotes = src.rec->stripEncQuotes != 0 && src.rec->quoting == kQuotingPlain;
  return readDelimited16(&reader, f, maxBytes, stripQuotes, filePos, buffer);
}

bool QuickFits16(const importFileSpec* fileSpecsP, const char* text, qlong size,
                 bool endsWithDelim) {
  const fieldSpec* last = fileSpecsP->fields + (fileSpecsP->fldCount - 1);
  // PlanRecord set fitDelim only where the delimiters are ASCII: a unit a byte of them.
  const qlong before = size - (endsWithDelim ? 2 * DelimiterLength(last) : 0);
  if (before < 0 || (before & 1) != 0) return false;
  const uint32_t delim = fileSpecsP->fitDelim;
  const uint32_t stop = last->fldDelim[DelimiterLength(last)];
  const auto quote = static_cast<uint32_t>(static_cast<qbyte>(QuoteOf(fileSpecsP)));
  const bool big = fileSpecsP->encoding == kEncodingUtf16Be;
  const qlong splits = CountUnits(text, before / 2, RawUnitOf(delim, big), true,
                                  RawUnitOf(quote, big), RawUnitOf(stop, big));
  return splits >= 0 && splits >= fileSpecsP->fldCount - 1;
}

qlong Utf16Delimiter(const qbyte* delim, bool bigEndian, char* out) {
  uint32_t cps[3] = {};
  const qshort n = terminatorChars(delim, cps);
  qlong bytes = 0;
  auto put = [&](uint32_t unit) {
    out[bytes + (bigEndian ? 1 : 0)] = static_cast<char>(unit & 0xFF);
    out[bytes + (bigEndian ? 0 : 1)] = static_cast<char>(unit >> 8);
    bytes += 2;
  };
  for (qshort k = 0; k < n; ++k) // each a unit (terminatorChars)
    put(cps[k]);
  return bytes;
}

#endif
