// DefineFormat and DefineSubs: a record format and a substitution table from host lists.
#include "commands.h"

#include "../glue/XPqUtil.h"
#include "../glue/callback.h"
#include "reader.h"

#include <cstring>

namespace {

constexpr qlong kMaxName = 255;
constexpr qshort kListParam = 2;
constexpr qlong kMaxListLines = 32767;

// The list's line count: line 0 in the "#LN" column, taken whole; 0 when it is below 1 or
// above the 32767 lines a definition can hold (a count must never wrap to a small one).
qshort lineCount(cmdContext* ctx) {
  qreal lines = 0;
  qshort lnRef = getGlobalRef("#LN", ctx->cb);
  GetLstVal(paramField(kListParam), 0, lnRef, fmtNumber, 10, &lines, ctx->cb);
  qlong n = 0;
  return qrealInRange(lines, 1, kMaxListLines, &n) ? static_cast<qshort>(n) : 0;
}

// The field reference of the name held in parameter n; 0 for an empty or unknown name.
qshort columnRef(cmdContext* ctx, qshort n) {
  qchar name[kMaxName + 1] = {};
  GetFldVal(paramField(n), fmtString, kMaxName, name, ctx->cb);
  name[kMaxName] = 0;
  return name[0] ? GetFldRef(name, ctx->cb) : 0;
}

// Sets the entry's delimiter from a cell's text; false when the text names no delimiter.
bool parseDelimiter(const char* cell, fieldSpec* f) {
  struct Keyword {
    const char* text;
    qbyte len;
    qbyte bytes[3];
    qbyte flags;
  };
  static const Keyword kKeywords[] = {
      {"MAX", 0, {0, 0, 0}, 0},     {"TAB", 1, {9, 0, 0}, 0},          {"COMMA", 1, {44, 0, 0}, 0},
      {"SEMICO", 1, {59, 0, 0}, 0}, {"RETURN", 1, {13, 0, 0}, 0},      {"CRLF", 2, {13, 10, 0}, 0},
      {"LF", 1, {10, 0, 0}, 0},     {"EOL", 1, {10, 0, 0}, kFieldEol},
  };
  std::memset(f->fldDelim, 0, 4);
  f->fldFlags = 0;
  for (const Keyword& k : kKeywords) {
    if (std::strcmp(cell, k.text) == 0) {
      f->fldDelim[0] = k.len;
      std::memcpy(f->fldDelim + 1, k.bytes, 3);
      f->fldFlags = k.flags;
      return true;
    }
  }
  size_t n = std::strlen(cell);
  if (n >= 4 && n <= 6 && std::strncmp(cell, "ASC", 3) == 0) {
    f->fldDelim[0] = static_cast<qbyte>(n - 3); // the characters after "ASC", as bytes
    std::memcpy(f->fldDelim + 1, cell + 3, n - 3);
    return true;
  }
  return false;
}

#if QM_UNICODE
// In a UTF-8 source an ASC delimiter is looked for as the UTF-8 of its characters, as
// ReadUpTo's terminator is (in a UTF-16 source as the characters that UTF-8 holds); false
// when that takes more than 3 bytes.
bool utf8AscDelimiter(cmdContext* ctx, qshort list, qshort line, qshort column, fieldSpec* f) {
  qchar cell[11] = {};
  GetLstVal(list, line, column, fmtString, 10, cell, ctx->cb);
  cell[10] = 0;
  char utf8[16] = {};
  const qlong n = CHRqcharToUtf8(cell + 3, 3, utf8);
  if (n < 1 || n > 3) return false;
  f->fldDelim[0] = static_cast<qbyte>(n);
  std::memcpy(f->fldDelim + 1, utf8, static_cast<size_t>(n));
  return true;
}

// In a code page's source an ASC delimiter is looked for as the page's bytes for its
// characters; false for a character the page cannot write.
bool codePageAscDelimiter(cmdContext* ctx, qshort page, qshort list, qshort line, qshort column,
                          fieldSpec* f) {
  qchar cell[11] = {};
  GetLstVal(list, line, column, fmtString, 10, cell, ctx->cb);
  cell[10] = 0;
  const qlong n = CHRqcharsToCodePage(cell + 3, 3, page, f->fldDelim + 1);
  if (n < 1) return false;
  f->fldDelim[0] = static_cast<qbyte>(n);
  return true;
}

// A substitution cell's character as the byte it stands for in a UTF-8 or a code page's
// source: -1 for one no single byte of the source holds.
int substitutionByte(cmdContext* ctx, qshort list, qshort line, qshort column, qshort encoding) {
  qchar cell[3] = {};
  GetLstVal(list, line, column, fmtString, 2, cell, ctx->cb);
  if (const qshort page = CodePageOf(encoding); page != 0) return CHRqcharToCodePage(cell[0], page);
  return cell[0] > 0x7F ? -1 : static_cast<int>(cell[0]); // UTF-8: several bytes beyond ASCII
}
#endif

} // namespace

namespace {
// Half the most source bytes a piece of the field can take: its maximum, a quote each side,
// and its delimiter (an EOL's carriage return too). A backward read looks twice the total of
// them back, which holds a record whose every character is a doubled quote and the line end
// before it.
qlong pieceReach(const importFileSpec* rec, const fieldSpec* f) {
  const qlong delim = DelimiterLength(f) + ((f->fldFlags & kFieldEol) != 0 ? 1 : 0);
  const qlong unit = IsUtf16Encoding(rec->encoding) ? 2 : 1; // a quote's or delimiter's bytes
  return f->fldMax + unit * (2 + delim);
}
} // namespace

void doDefineFormat(cmdContext* ctx) {
  ctx->errCd = kResultBadParameter;
  if (ctx->paramCount < 5) return;
  qshort n = lineCount(ctx);
  if (n < 1) return;
  qshort nameRef = columnRef(ctx, 3), maxRef = columnRef(ctx, 4), delimRef = columnRef(ctx, 5);
  if (!nameRef || !maxRef || !delimRef) return;

  importFileSpec* rec = ctx->fileSpecsP;
  if (rec->fields) {
    DisposeXPPointer(rec->fields);
    rec->fields = nullptr;
    rec->fldCount = 0;
    rec->fitDelim = 0;
  }
  auto* fields = static_cast<fieldSpec*>(
      NewXPPointer(static_cast<qlong>(static_cast<size_t>(n) * sizeof(fieldSpec))));
  if (!fields) {
    ctx->errCd = kResultNoMemory; // the old format is gone already
    return;
  }
  qshort result = kResultOk;
  qlong maxTotal = 0;
  const qshort list = paramField(kListParam);
  for (qshort line = 1; line <= n; ++line) {
    fieldSpec* f = fields + (line - 1);
    *f = fieldSpec{};
    qchar name[kMaxName + 1] = {};
    GetLstVal(list, line, nameRef, fmtString, kMaxName, name, ctx->cb);
    name[kMaxName] = 0;
    if (name[0]) f->fldRefNum = GetFldRef(name, ctx->cb);
    qlong fldMax = 0;
    if (!qrealInRange(GetLstReal(list, line, maxRef, ctx->cb), 0, kMaxFieldBytes, &fldMax)) {
      result = kResultBadParameter; // a maximum no read can hold: refused, never cut
      break;
    }
    f->fldMax = static_cast<qshort>(fldMax);
    char cell[11];
    getAsciiListColumn(list, delimRef, line, 10, cell, ctx->cb);
    bool known = parseDelimiter(cell, f);
#if QM_UNICODE
    // ASC's characters as the source writes them (parseDelimiter took their UTF-8, which
    // in a code page may be too long for a delimiter the page writes in 3 bytes).
    const bool asc = std::strncmp(cell, "ASC", 3) == 0;
    if (known && asc && IsUtf8Text(rec->encoding))
      known = utf8AscDelimiter(ctx, list, line, delimRef, f);
    else if (const qshort page = CodePageOf(rec->encoding); asc && page != 0)
      known = codePageAscDelimiter(ctx, page, list, line, delimRef, f);
#endif
    if (!known) {
      result = kResultBadParameter;
      break;
    }
    PlanPiece(f);
    maxTotal += pieceReach(rec, f);
  }
  rec->maxTotal = maxTotal;
  if (result != kResultOk) {
    DisposeXPPointer(fields); // a failed definition leaves no format at all
  } else {
    rec->fields = fields;
    rec->fldCount = n;
  }
  PlanRecord(rec);
  ctx->errCd = result;
}

void doDefineSubs(cmdContext* ctx) {
  ctx->errCd = kResultBadParameter;
  if (ctx->paramCount < 4) return;
  qshort n = lineCount(ctx);
  if (n < 1) return;
  qshort targetRef = columnRef(ctx, 3), replacementRef = columnRef(ctx, 4);
  if (!targetRef || !replacementRef) return;

  importFileSpec* rec = ctx->fileSpecsP;
  const qshort list = paramField(kListParam);
#if QM_UNICODE
  // Pairs act on bytes: in a UTF-8 source a character beyond 7-bit ASCII is several bytes
  // and could never match, nor could a character a code page cannot write. Checked before
  // the old table goes.
  const bool decoded = rec->encoding != kEncodingBytes;
  for (qshort line = 1; decoded && line <= n; ++line) {
    if (substitutionByte(ctx, list, line, targetRef, rec->encoding) < 0 ||
        substitutionByte(ctx, list, line, replacementRef, rec->encoding) < 0)
      return;
  }
#endif
  if (rec->transTable) {
    DisposeXPPointer(rec->transTable);
    rec->transTable = nullptr;
  }
  auto* table = static_cast<qbyte*>(NewXPPointer(2 * qlong{n} + 2));
  if (!table) {
    ctx->errCd = kResultNoMemory;
    return;
  }
  auto count = static_cast<uint16_t>(n);
  std::memcpy(table, &count, sizeof count);
  for (qshort line = 1; line <= n; ++line) {
    char target[3], replacement[3];
    getAsciiListColumn(list, targetRef, line, 2, target, ctx->cb);
    getAsciiListColumn(list, replacementRef, line, 2, replacement, ctx->cb);
    qbyte* pair = table + 2 * static_cast<size_t>(line);
    pair[0] = static_cast<qbyte>(target[0]); // an empty cell gives 0
    pair[1] = static_cast<qbyte>(replacement[0]);
#if QM_UNICODE
    if (CodePageOf(rec->encoding) != 0) { // the page's bytes (checked above)
      pair[0] = static_cast<qbyte>(substitutionByte(ctx, list, line, targetRef, rec->encoding));
      pair[1] =
          static_cast<qbyte>(substitutionByte(ctx, list, line, replacementRef, rec->encoding));
    }
#endif
  }
  rec->transTable = table;
  ctx->errCd = kResultOk;
}
