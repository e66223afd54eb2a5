// Fuzzes the reader and conditioning over in-memory sources with arbitrary field
// definitions, positions and substitution tables, checking what every read must keep:
// a known result code, a position within the text, the text a true copy of the source's
// bytes, at most 32000 of them, and conditioning that never lengthens the text.
//
// Under CSV quoting a piece is checked against a reference reading, byte by byte, kept here;
// and the record reads' in-place path (ReadPiece) against the buffer path.
//
// Input: flags (1 strip quotes, 2 strip, 4 field source, 8 UTF-8, 16 CSV quoting, 32 EOL,
// 64 raw, 128 apostrophe quotes), delimiter length and bytes, 16-bit maximum, 16-bit
// position, pair count (bits 0 to 2), a backslash escape (bit 3) and record entries (bits 6
// and 7), pairs, then the source's bytes.
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
  if (code != 7 && rec.quoting == kQuotingCsv && dlen > 0 && !(flags & 64)) {
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
    const qshort lastLen = DelimiterLength(&last);
    const bool endsWithDelim =
        count >= lastLen &&
        std::memcmp(bytes + count - lastLen, last.fldDelim + 1, static_cast<size_t>(lastLen)) == 0;
    if (QuickFits(&record, bytes, count, endsWithDelim))
      check(RecordFits(&record, bytes, count, endsWithDelim, scratch.get(), nullptr));
  }
  ReleaseSourceText(&rec);
  DisposeXPHandle(rec.dataHandle);
  return 0;
}
