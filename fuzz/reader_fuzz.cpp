// Fuzzes the reader and conditioning over in-memory sources with arbitrary field
// definitions, positions and substitution tables, checking what every read must keep:
// a known result code, a position within the text, the text a true copy of the source's
// bytes, at most 32000 of them, and conditioning that never lengthens the text.
//
// Under CSV quoting a piece is checked against a reference reading, byte by byte, kept here;
// and the record reads' in-place path (ReadPiece) against the buffer path.
//
// A UTF-16 source's piece is checked against a reference of its own: the source decoded into
// characters first, then read a character at a time.
//
// Input: flags (1 strip quotes, 2 strip, 4 field source, 8 UTF-8 (with UTF-16: big-endian),
// 16 CSV quoting, 32 EOL, 64 raw, 128 apostrophe quotes), delimiter length and bytes, 16-bit
// maximum, 16-bit position, pair count (bits 0 to 2), a backslash escape (bit 3), a code page
// (bit 4), UTF-16 (bit 5) and record entries (bits 6 and 7), pairs, then the source's bytes.
#include "glue/XPqUtil.h"
#include "import/reader.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {
void check(bool ok) {
  if (!ok) std::abort();
}

struct Piece {
  qshort code;
  std::string value; // the whole value, however long
  qlong end;         // the position after the piece
};

// One CSV piece read a byte at a time: quoted values, doubled quotes, text after the closing
// quote, an escape's next byte as text, the delimiter only outside the quotes and after the
// last escaped byte, EOL's carriage return.
Piece csvReference(const uint8_t* text, qlong size, qlong start, const qbyte* delim, int len,
                   bool eol, qlong max, char quote, char escape) {
  std::string v;
  qlong i = start, plain = 0;
  bool quoted = i < size && text[i] == static_cast<qbyte>(quote), inQuotes = quoted;
  if (quoted) ++i;
  for (; i < size; ++i) {
    const char c = static_cast<char>(text[i]);
    if (escape && c == escape) { // the next byte is text, in or out of quotes
      // At the data's end the escape stands for itself, and ends no delimiter.
      v += static_cast<char>(i + 1 < size ? text[++i] : text[i]);
      plain = 0;
      continue;
    }
    if (inQuotes) {
      if (c != quote)
        v += c;
      else if (i + 1 < size && text[i + 1] == static_cast<qbyte>(quote))
        v += static_cast<char>(text[++i]);
      else
        inQuotes = false, plain = 0;
      continue;
    }
    v += c;
    ++plain;
    if (plain >= len && std::memcmp(v.data() + v.size() - len, delim, len) == 0) {
      size_t dl = len;
      if (eol && plain > 1 && v[v.size() - 2] == '\r') dl = 2;
      v.resize(v.size() - dl);
      if (static_cast<qlong>(v.size()) > max) return {11, v, i + 1};
      return {0, v, i + 1};
    }
  }
  return {static_cast<qshort>(static_cast<qlong>(v.size()) > max ? 11 : 9), v, size};
}

// ---- UTF-16 ----------------------------------------------------------------------------
struct Char16 {
  uint32_t cp;
  qlong size; // its bytes in the source
};

// The characters of text[start, end): a unit at an even position, a surrogate pair, or
// U+FFFD for a lone byte (at an odd position or the end) and an unpaired surrogate.
std::vector<Char16> decode16(const uint8_t* text, qlong end, qlong start, bool big) {
  std::vector<Char16> out;
  auto unit = [&](qlong p) {
    return big ? static_cast<uint32_t>(text[p] << 8 | text[p + 1])
               : static_cast<uint32_t>(text[p + 1] << 8 | text[p]);
  };
  for (qlong p = start; p < end;) {
    if ((p & 1) != 0 || p + 1 >= end) {
      out.push_back({0xFFFD, 1});
      ++p;
      continue;
    }
    const uint32_t u = unit(p);
    if (u >= 0xD800 && u < 0xDC00 && p + 3 < end && unit(p + 2) >= 0xDC00 && unit(p + 2) < 0xE000) {
      out.push_back({0x10000 + ((u - 0xD800) << 10) + (unit(p + 2) - 0xDC00), 4});
      p += 4;
      continue;
    }
    out.push_back({u >= 0xD800 && u < 0xE000 ? 0xFFFD : u, 2});
    p += 2;
  }
  return out;
}

// The UTF-8 of characters up to the first U+0000 (where the buffer's text ends).
std::string utf8Of(const std::vector<Char16>& chars, size_t n) {
  std::string out;
  for (size_t i = 0; i < n && chars[i].cp != 0; ++i) {
    const uint32_t c = chars[i].cp;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// How many of the first chars fit max bytes, whole.
size_t within(const std::vector<Char16>& chars, size_t n, qlong max, qlong* bytes) {
  size_t k = 0;
  *bytes = 0;
  while (k < n && *bytes + chars[k].size <= max)
    *bytes += chars[k++].size;
  return k;
}

struct Piece16 {
  qshort code;
  std::string value;
  qlong end;
};

// One piece of a UTF-16 source (the delimiter's bytes taken as characters, one each), by the
// rules of the byte reader with characters for bytes: a fixed length, a delimiter within the
// look limit (the plain rule's enclosing quotes with strip), or a CSV value.
Piece16 reference16(const uint8_t* text, qlong size, qlong start, const fieldSpec& f, qlong max,
                    const importFileSpec& rec, bool big) {
  const int len = f.fldDelim[0];
  if (len == 0) { // a fixed length: the bytes up to it, decoded as far as they form characters
    const qlong end = start + max < size ? start + max : size;
    const auto chars = decode16(text, end, start, big);
    return {static_cast<qshort>(end - start < max ? 8 : 0), utf8Of(chars, chars.size()), end};
  }
  const auto chars = decode16(text, size, start, big);
  const bool eol = (f.fldFlags & kFieldEol) != 0;
  auto endsAt = [&](const std::vector<uint32_t>& run, size_t* span) {
    if (run.size() < static_cast<size_t>(len)) return false;
    for (int k = 0; k < len; ++k)
      if (run[run.size() - len + k] != f.fldDelim[1 + k]) return false;
    *span = eol && run.size() > 1 && run[run.size() - 2] == '\r' ? 2 : len;
    return true;
  };
  std::vector<uint32_t> run; // the characters a delimiter may end with
  if (rec.quoting != kQuotingCsv || (f.fldFlags & kFieldRaw)) {
    const qlong limit =
        2 * len + (eol ? 2 : 0) + max > 32000 ? 32000 : 2 * len + (eol ? 2 : 0) + max;
    const bool quotes =
        rec.stripEncQuotes && rec.quoting == kQuotingPlain && !chars.empty() && chars[0].cp == '"';
    qlong bytes = 0;
    size_t i = 0;
    for (; i < chars.size() && bytes < limit; ++i) {
      bytes += chars[i].size;
      run.push_back(chars[i].cp);
      size_t span = 0;
      if (!endsAt(run, &span) ||
          (quotes && !(run.size() > span && run[run.size() - 1 - span] == '"')))
        continue;
      qlong piece = 0;
      for (size_t k = 0; k + span <= i; ++k)
        piece += chars[k].size;
      if (piece <= max) return {0, utf8Of(chars, i + 1 - span), start + bytes};
      break;
    }
    if (i == chars.size() && bytes < limit) return {9, utf8Of(chars, chars.size()), size};
    qlong cut = 0;
    const size_t k = within(chars, chars.size(), max, &cut);
    return {11, utf8Of(chars, k), start + cut};
  }
  // CSV
  const auto quote = static_cast<uint32_t>(static_cast<qbyte>(rec.quoteChar));
  const auto escape = static_cast<uint32_t>(static_cast<qbyte>(rec.escapeChar));
  std::vector<Char16> value;
  size_t i = 0;
  const bool quoted = !chars.empty() && chars[0].cp == quote;
  bool inQuotes = quoted;
  qlong consumed = quoted ? 2 : 0;
  if (quoted) i = 1;
  for (; i < chars.size(); ++i) {
    const Char16 c = chars[i];
    consumed += c.size;
    if (escape && c.cp == escape) {
      if (i + 1 < chars.size()) {
        value.push_back(chars[++i]);
        consumed += chars[i].size;
      } else {
        value.push_back(c); // at the data's end the escape stands for itself
      }
      run.clear();
      continue;
    }
    if (inQuotes) {
      if (c.cp != quote) {
        value.push_back(c);
      } else if (i + 1 < chars.size() && chars[i + 1].cp == quote) {
        value.push_back(chars[++i]);
        consumed += chars[i].size;
      } else {
        inQuotes = false;
        run.clear();
      }
      continue;
    }
    value.push_back(c);
    run.push_back(c.cp);
    size_t span = 0;
    if (!endsAt(run, &span)) continue;
    value.resize(value.size() - span);
    qlong bytes = 0;
    for (const Char16& v : value)
      bytes += v.size;
    if (bytes <= max) return {0, utf8Of(value, value.size()), start + consumed};
    qlong cut = 0;
    return {11, utf8Of(value, within(value, value.size(), max, &cut)), start + consumed};
  }
  qlong bytes = 0;
  for (const Char16& v : value)
    bytes += v.size;
  qlong cut = 0;
  const size_t k = bytes > max ? within(value, value.size(), max, &cut) : value.size();
  return {static_cast<qshort>(bytes > max ? 11 : 9), utf8Of(value, k), size};
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) return 0;
  const uint8_t flags = data[0];
  fieldSpec f{};
  f.fldDelim[0] = data[1] % 4;
  std::memcpy(f.fldDelim + 1, data + 2, 3);
  std::memcpy(&f.fldMax, data + 5, 2);
  int16_t start = 0;
  std::memcpy(&start, data + 7, 2);
  size_t pairs = data[9] % 8;
  size_t at = 10 + 2 * pairs;
  if (size < at) return 0;
  std::vector<qbyte> table(2 + 2 * pairs);
  auto n = static_cast<uint16_t>(pairs);
  std::memcpy(table.data(), &n, 2);
  std::memcpy(table.data() + 2, data + 10, 2 * pairs);
  const uint8_t* text = data + at;
  auto textSize = static_cast<qlong>(size - at);

  if (flags & 32) f.fldFlags |= kFieldEol;
  if (flags & 64) f.fldFlags |= kFieldRaw;
  importFileSpec rec{};
  rec.stripEncQuotes = flags & 1;
  rec.quoting = (flags & 16) ? kQuotingCsv : kQuotingPlain;
  rec.quoteChar = (flags & 128) ? '\'' : '"';
  rec.escapeChar = (data[9] & 8) ? '\\' : 0;
#if QM_UNICODE
  // UTF-8 cuts keep whole characters; a code page's text is read as bytes are.
  rec.encoding = (flags & 8)           ? kEncodingUtf8
                 : (data[9] & 16) != 0 ? kEncodingWindows1252 + data[9] % 3
                                       : kEncodingBytes;
  // UTF-16 in either order; its delimiters are characters, ASCII ones here (a format's are
  // the UTF-8 of its characters, which reference16 does not decode).
  const bool utf16 = (data[9] & 32) != 0;
  if (utf16) {
    rec.encoding = (flags & 8) ? kEncodingUtf16Be : kEncodingUtf16Le;
    for (int k = 1; k <= 3; ++k)
      f.fldDelim[k] &= 0x7F;
  }
#else
  const bool utf16 = false;
#endif
  rec.transTable = pairs ? table.data() : nullptr;
  bool field = flags & 4;
  rec.fileRef = field ? kFieldRef : kClipboardRef;
  rec.fileSize = textSize;
  qlong offset = field ? 4 : 0;
  rec.dataHandle = NewXPHandle(offset + textSize);
  auto* block = static_cast<char*>(LockXPHandle(rec.dataHandle));
  if (field) std::memcpy(block, &textSize, 4);
  if (textSize) std::memcpy(block + offset, text, static_cast<size_t>(textSize));
  UnlockXPHandle(rec.dataHandle);

  auto buffer = std::make_unique<char[]>(kBufferSize);
  qpos pos = start;
  qshort code = ReadToDelimOrMax(&rec, &f, &pos, buffer.get());
  check(code == 0 || code == 7 || code == 8 || code == 9 || code == 11);
  size_t len = std::strlen(buffer.get());
  const std::string read(buffer.get(), len);
  const bool quotedPiece = rec.quotedPiece;
  const int dlen = f.fldDelim[0];
  if (code != 7 && utf16) {
    const qlong max = f.fldMax < 0 ? 0 : f.fldMax > kMaxFieldBytes ? kMaxFieldBytes : f.fldMax;
    const Piece16 want = reference16(text, textSize, start, f, max, rec, flags & 8);
    check(code == want.code && pos == want.end && read == want.value);
  } else if (code != 7 && rec.quoting == kQuotingCsv && dlen > 0 && !(flags & 64)) {
    const qlong max = f.fldMax < 0 ? 0 : f.fldMax > kMaxFieldBytes ? kMaxFieldBytes : f.fldMax;
    Piece want = csvReference(text, textSize, start, f.fldDelim + 1, dlen, flags & 32, max,
                              rec.quoteChar, rec.escapeChar);
    check(code == want.code && pos == want.end);
    check(rec.quotedPiece ==
          (start < textSize && text[start] == static_cast<qbyte>(rec.quoteChar)));
    // The text kept is the value, or its first max bytes (fewer for a UTF-8 cut).
    const size_t kept =
        code == 11 ? std::min<size_t>(want.value.size(), size_t(max)) : want.value.size();
    const size_t got = want.value.find('\0') < kept ? want.value.find('\0') : kept;
    if (!(flags & 8) || code != 11) check(len == got);
    check(len <= got && std::memcmp(buffer.get(), want.value.data(), len) == 0);
    ConditionBuffer(buffer.get(), &rec, flags & 2);
    check(std::strlen(buffer.get()) <= len);
  } else if (code == 7) {
    check(pos == start && len == 0 && (start < 0 || start > textSize));
  } else {
    check(start >= 0 && pos >= start && pos <= textSize);
    check(len <= static_cast<size_t>(kMaxFieldBytes));
    check(std::memcmp(buffer.get(), text + start, len) == 0);
    check(static_cast<qlong>(len) <= pos - start || code == 11);
    // An over-long piece moves the read on by what it keeps, never by nothing unless its
    // maximum is 0.
    if (code == 11) check(pos > start || f.fldMax <= 0);
    ConditionBuffer(buffer.get(), &rec, flags & 2);
    check(std::strlen(buffer.get()) <= len);
  }
  // A record read takes its pieces through a cursor (NextPiece), which reads the usual piece in
  // place: it must give what the buffer path gave, and conditioning the same text.
  std::string conditioned = read;
  rec.quotedPiece = quotedPiece;
  conditioned.resize(static_cast<size_t>(
      ConditionText(conditioned.data(), static_cast<qlong>(conditioned.size()), &rec, flags & 2)));
  HoldSourceText(&rec);
  auto scratch = std::make_unique<char[]>(kBufferSize);
  qpos piecePos = start;
  const char* piece = nullptr;
  qlong pieceLength = -1;
  fieldSpec plannedPiece = f; // planned as DefineFormat plans a one-entry format
  PlanPiece(&plannedPiece);
  importFileSpec oneEntry = rec;
  oneEntry.fields = &plannedPiece;
  oneEntry.fldCount = 1;
  PlanRecord(&oneEntry);
  pieceCursor pieces{};
  StartPieces(&pieces, &rec);
  const qshort pieceCode =
      NextPiece(&pieces, &plannedPiece, &piecePos, scratch.get(), &piece, &pieceLength);
  check(pieceCode == code && piecePos == pos && rec.quotedPiece == quotedPiece);
  check(pieceLength == static_cast<qlong>(read.size()) &&
        std::memcmp(piece, read.data(), read.size()) == 0);
  ConditionPiece(&piece, &pieceLength, scratch.get(), &rec, flags & 2);
  check(std::string(piece, static_cast<size_t>(pieceLength)) == conditioned);
#if QM_QUICK_PIECES
  // The quick step's look, wherever it answers, finds the piece the buffer path read whole.
  const fieldSpec planned = plannedPiece; // as DefineFormat planned it
  pieceCursor cursor{};
  StartPieces(&cursor, &rec);
  const qpos inRun = start - cursor.runStart;
  if (cursor.run && inRun >= 0 && inRun < cursor.runCount) {
    const int n =
        QuickPieceLength(&planned, cursor.quotes, cursor.run + inRun,
                         static_cast<qlong>(cursor.runCount - inRun), static_cast<qlong>(inRun));
    if (n >= 0) check(code == 0 && pos == start + n + 1 && read.size() == static_cast<size_t>(n));
    // So does a block's, loaded up to 15 bytes before the piece (as a record's trial has it).
    pieceBlock look{};
    look.delim = static_cast<char>(planned.fldDelim[1]);
    const qpos before = data[9] / 16 % 16; // the bits the pairs and the escape leave
    const qpos back = inRun < before ? inRun : before;
    LoadPieceBlock(&look, cursor.run + inRun - back,
                   static_cast<qlong>(cursor.runCount - inRun + back));
    if (BlockServes(look, &planned)) {
      const int b = BlockPieceLength(look, &planned, cursor.quotes, cursor.run + inRun);
      if (b >= 0) check(code == 0 && pos == start + b + 1 && read.size() == static_cast<size_t>(b));
    }
  }
#endif
#if QM_UNICODE
  // The usual UTF-16 piece, wherever UsualPiece16 takes it, is the piece the buffer path read
  // whole: its units, none a surrogate, are that text's characters, and it ends there too.
  if (utf16 && start >= 0 && (start & 1) == 0) {
    pieceCursor units{};
    StartPieces(&units, &rec);
    const qpos at = start - units.runStart;
    qlong ends = 0;
    const qlong n =
        units.run && at >= 0 && at < units.runCount
            ? UsualPiece16(&rec, &plannedPiece, units.run + at,
                           static_cast<qlong>(units.runCount - at), EffectiveMax(f.fldMax), &ends)
            : -1;
    if (n >= 0) {
      for (qlong i = start; i < start + n; i += 2)
        check((text[i + ((flags & 8) ? 0 : 1)] & 0xF8) != 0xD8);
      const std::vector<Char16> chars = decode16(text, start + n, start, flags & 8);
      check(code == 0 && pos == start + n + ends && utf8Of(chars, chars.size()) == read);
    }
  }
#endif
  // A backward CSV read's count (QuickFits) may say a record fits only where the trial read
  // (RecordFits) does: over the text from the start on, for a record of the fuzzed field
  // taken one to four times, then a line end (EOL when the flags ask for it, else CRLF).
  if (rec.quoting == kQuotingCsv && start >= 0 && start <= textSize) {
    std::vector<fieldSpec> fields(static_cast<size_t>(2 + data[9] / 64), f);
    fieldSpec& last = fields.back();
    last = fieldSpec{};
    last.fldMax = f.fldMax;
    last.fldDelim[0] = (flags & 32) ? 1 : 2;
    last.fldDelim[1] = (flags & 32) ? '\n' : '\r';
    last.fldDelim[2] = '\n';
    last.fldFlags = (flags & 32) ? kFieldEol : 0;
    for (fieldSpec& entry : fields)
      PlanPiece(&entry);
    importFileSpec record = rec;
    record.fields = fields.data();
    record.fldCount = static_cast<qshort>(fields.size());
    PlanRecord(&record);
    const auto* bytes = reinterpret_cast<const char*>(text) + start;
    const auto count = static_cast<qlong>(textSize - start);
    // The last delimiter as the source writes it: its bytes, or in UTF-16 its code units.
    char written[12] = {};
    qlong lastLen = DelimiterLength(&last);
    std::memcpy(written, last.fldDelim + 1, 3);
#if QM_UNICODE
    if (utf16) lastLen = Utf16Delimiter(last.fldDelim, flags & 8, written);
#endif
    const bool endsWithDelim =
        count >= lastLen && (!utf16 || (count - lastLen) % 2 == 0) &&
        std::memcmp(bytes + count - lastLen, written, static_cast<size_t>(lastLen)) == 0;
    if (QuickFits(&record, bytes, count, endsWithDelim))
      check(RecordFits(&record, bytes, count, endsWithDelim, scratch.get(), nullptr));
  }
  ReleaseSourceText(&rec);
  DisposeXPHandle(rec.dataHandle);
  return 0;
}
