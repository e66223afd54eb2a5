// OpenFile, CloseFile and About: import files come and go.
//
// A failed open leaves nothing behind: its record is dropped again, so no unreachable record
// builds up and no record without text hides a later source of the same kind. The one
// exception is a disk file that opened but whose size cannot be used (5): it stays
// registered, so that the method can close it.
#include "commands.h"

#include "../glue/XPqUtil.h"
#include "../glue/callback.h"
#include "quillomar_version.h"
#include "readahead.h"

#include <cstring>

namespace {

constexpr const char* kAboutText = "Quillomar " QM_VERSION_STRING;
constexpr qlong kMaxPath = 255;

// Re-finds the record just appended: a resize may have moved the table.
importFileSpec* lastRecord(cmdContext* ctx) {
  return ctx->table.firstP + (*ctx->table.fileSpecsBaseP - 1);
}

// Gives up an open: the record goes, parameter 2 says 0.
qshort abandon(cmdContext* ctx, qshort result) {
  SetFldLong(paramField(2), 0, ctx->cb);
  if (!ctx->table.fileSpecsBaseP) LockFileSpecTable(ctx->g->fileSpecsH, &ctx->table);
  importFileSpec* rec = lastRecord(ctx);
  DisposeXPHandle(rec->dataHandle); // whatever text it took, should the drop fail
  rec->dataHandle = nullptr;
  rec->fileSize = 0;
  qshort dropped = DropLastFileSpec(&ctx->g->fileSpecsH, &ctx->table);
  return dropped != kResultOk ? dropped : result;
}

qshort openClipboard(cmdContext* ctx, importFileSpec* rec) {
  if constexpr (!kPlatHasClipboard) {
    return kResultBadParameter;
  } else {
    // Where the text ends in its block of size bytes: at its first zero byte, or in Unicode
    // text its first zero unit; with the block when it has none.
    auto clipboardTextLength = [](const char* bytes, size_t size, bool wide) {
#if QM_UNICODE
      if (wide) {
        size_t at = 0;
        while (at + 1 < size && (bytes[at] != 0 || bytes[at + 1] != 0))
          at += 2;
        return at + 1 < size ? at : size;
      }
#else
      (void)wide; // the 8-bit build reads no Unicode text
#endif
      const void* zero = std::memchr(bytes, 0, size);
      return zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : size;
    };
    // A UTF-16 source is the clipboard's Unicode text, whose units are little-endian: its
    // bytes, as a file of them would hold them.
    const bool unicode = IsUtf16Encoding(rec->encoding);
#if QM_UNICODE
    if (rec->encoding == kEncodingUtf16Be) return kResultBadParameter;
#endif
    if (plat_clipboard_open(ctx->hwnd) != kPlatOk) return kResultNoMemory;
    qlong blockSize = 0;
    qshort result = kResultOk;
    const void* text = plat_clipboard_lock_text(unicode, &blockSize);
    if (!text) {
      result = kResultBadParameter;
    } else if (!(rec->dataHandle = NewXPHandle(blockSize > 0 ? blockSize : 1))) {
      result = kResultNoMemory;
    } else {
      std::memcpy(LockXPHandle(rec->dataHandle), text, static_cast<size_t>(blockSize));
      UnlockXPHandle(rec->dataHandle);
      // The text ends at its first zero byte (a Unicode text at its first zero unit), or with
      // the block if it has none.
      rec->fileSize = static_cast<qlong>(clipboardTextLength(
          static_cast<const char*>(text), static_cast<size_t>(blockSize), unicode));
      rec->fileRef = kClipboardRef;
    }
    if (text) plat_clipboard_unlock_text();
    plat_clipboard_close();
    return result;
  }
}

qshort openField(cmdContext* ctx, importFileSpec* rec, const qchar* name) {
  qshort ref = GetFldRef(name, ctx->cb); // the name in the host's own characters
  if (ref == 0) return kResultNoFormat;
  qlong length = 0;
  GetFldVal(ref, fmtLength, 4, &length, ctx->cb);
  if (length <= 0) return kResultBadParameter;
  rec->dataHandle = NewXPHandle(4);
  if (!rec->dataHandle) return kResultNoMemory;
  GetFldVal(ref, fmtHandle, 0, &rec->dataHandle, ctx->cb);
#if QM_UNICODE
  if (!convertQHStrToAsciiHStr(&rec->dataHandle)) {
    DisposeXPHandle(rec->dataHandle);
    rec->dataHandle = nullptr;
    return kResultNoMemory;
  }
#endif
  // The size is the bytes held: in the Unicode builds the UTF-8 of characters beyond ASCII
  // is longer than the host's count of characters, and reads stop at the size.
  qlong bytes = 0;
  std::memcpy(&bytes, LockXPHandle(rec->dataHandle), sizeof bytes);
  UnlockXPHandle(rec->dataHandle);
  rec->fileSize = bytes;
  rec->fileRef = kFieldRef;
  return kResultOk;
}

// Opens a disk file into the appended record; 0, or the result of a failed open (after
// which the record is gone). path holds n host characters.
qshort openDisk(cmdContext* ctx, const qchar* path, qlong n) {
  importFileSpec* rec = lastRecord(ctx);
  qfileref ref = 0;
#if QM_MAC
  // The File Manager takes a length-prefixed 8-bit name: a character beyond 8 bits cannot
  // be named there, and cutting it to its low byte would name another file.
  uint8_t name[1 + kMaxPath + 1] = {static_cast<uint8_t>(n)};
  for (qlong i = 0; i < n; ++i) {
    if (path[i] > 0xFF) return abandon(ctx, kResultCannotOpen);
    name[i + 1] = static_cast<uint8_t>(path[i]);
  }
  PlatResult opened = plat_file_open(name, &ref, &rec->fileBlock);
#elif QM_UNICODE
  // The host's own characters, converted in place to the UTF-16 of the wide open call.
  qchar wide[kMaxPath + 1] = {};
  std::memcpy(wide, path, static_cast<size_t>(n) * sizeof(qchar));
  CHRcharToOschar(wide, reinterpret_cast<oschar*>(wide));
  PlatResult opened = plat_file_open(reinterpret_cast<oschar*>(wide), &ref, &rec->fileBlock);
#else
  (void)n;
  PlatResult opened = plat_file_open(path, &ref, &rec->fileBlock);
#endif
  if (opened != kPlatOk) {
    bool other = QM_MAC && opened != kPlatNotFound && opened != kPlatNotAFile;
    return abandon(ctx, other ? kResultIoError : kResultCannotOpen);
  }
  qshort result = kResultOk;
  int64_t size = 0;
  rec->fileSize = 0;
  // A size that this build's positions cannot reach (from 2^53 bytes; on macOS from 2 GiB),
  // or none at all, reads nothing: the file stays open and registered, so that it can be
  // closed.
  if (plat_file_size(ref, &rec->fileBlock, &size) != kPlatOk || size > plat_file_size_limit() ||
      size < 0)
    result = kResultIoError;
  else
    rec->fileSize = size;
  rec->fileRef = ref;
  SetFldLong(paramField(2), ref, ctx->cb);
  if (ctx->paramCount > 2) SetFldReal(paramField(3), static_cast<qreal>(rec->fileSize), ctx->cb);
  return result;
}

// Whether the n host characters at text are the ASCII keyword's.
bool sameChars(const qchar* text, const char* keyword, qlong n) {
  for (qlong i = 0; i < n; ++i) {
    if (text[i] != static_cast<qchar>(static_cast<uint8_t>(keyword[i]))) return false;
  }
  return true;
}

#if QM_UNICODE
// The encodings OpenFile's fifth parameter names, matched without regard to case.
struct encodingName {
  const char* name;
  qshort encoding;
};
constexpr encodingName kEncodingNames[] = {
    {"utf-8", kEncodingUtf8},         {"windows-1252", kEncodingWindows1252},
    {"cp1252", kEncodingWindows1252}, {"iso-8859-1", kEncodingBytes},
    {"latin-1", kEncodingBytes},      {"latin1", kEncodingBytes},
    {"iso-8859-15", kEncodingLatin9}, {"latin-9", kEncodingLatin9},
    {"mac roman", kEncodingMacRoman}, {"macroman", kEncodingMacRoman},
    {"macintosh", kEncodingMacRoman}, {"utf-16le", kEncodingUtf16Le},
    {"utf-16be", kEncodingUtf16Be},   {"utf-16", kEncodingUtf16},
};

// Whether the n characters of text are keyword (lower case) in any case.
bool sameName(const qchar* text, const char* keyword, qlong n) {
  for (qlong i = 0; i < n; ++i) {
    qchar c = text[i];
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    if (c != static_cast<qchar>(static_cast<uint8_t>(keyword[i]))) return false;
  }
  return keyword[n] == 0;
}
#endif

// The fifth parameter: empty for bytes as they stand, else one of kEncodingNames, which the
// Unicode builds decode (the 8-bit host has no characters to decode into: it takes only the
// empty name). *named tells whether a name was given. False for anything else.
bool readEncoding(cmdContext* ctx, qshort* encoding, bool* named) {
  *encoding = kEncodingBytes;
  *named = false;
  qlong length = 0;
  GetFldVal(paramField(5), fmtLength, 4, &length, ctx->cb);
  if (length <= 0) return true;
#if QM_UNICODE
  constexpr qlong kLongestName = 12;
  if (length > kLongestName) return false;
  qchar text[kLongestName + 1] = {};
  GetFldVal(paramField(5), fmtString, length, text, ctx->cb);
  for (const encodingName& e : kEncodingNames) {
    if (sameName(text, e.name, length)) {
      *encoding = e.encoding;
      *named = true;
      return true;
    }
  }
#endif
  return false;
}

// The sixth parameter: empty for the plain quote rule, or CSV quoting (every build: it works
// on bytes), written "CSV" (or "csv") and then, in either order, an apostrophe for values
// quoted with apostrophes rather than double quotes and a backslash for a backslash that
// makes the next byte literal: "CSV", "CSV'", "CSV\\", "CSV'\\". False for anything else.
bool readQuoting(cmdContext* ctx, importFileSpec* rec) {
  rec->quoting = kQuotingPlain;
  rec->quoteChar = '"';
  rec->escapeChar = 0;
  qlong length = 0;
  GetFldVal(paramField(6), fmtLength, 4, &length, ctx->cb);
  if (length <= 0) return true;
  if (length < 3 || length > 5) return false;
  qchar text[6] = {};
  GetFldVal(paramField(6), fmtString, length, text, ctx->cb);
  if (!sameChars(text, "CSV", 3) && !sameChars(text, "csv", 3)) return false;
  for (qlong i = 3; i < length; ++i) {
    if (text[i] == '\'' && rec->quoteChar == '"')
      rec->quoteChar = '\'';
    else if (text[i] == '\\' && rec->escapeChar == 0)
      rec->escapeChar = '\\';
    else
      return false; // an unknown mark, or one given twice
  }
  rec->quoting = kQuotingCsv;
  return true;
}

// A source that starts with its encoding's byte-order mark (UTF-8: EF BB BF; UTF-16: FF FE
// little-endian, FE FF big-endian): reads skip it, positions still count it. "UTF-16" takes
// its byte order from the mark, little-endian without one. The 8-bit build opens no such
// source.
void noteByteOrderMark(cmdContext* ctx, importFileSpec* rec) {
  rec->bomLength = 0;
#if QM_UNICODE
  if (rec->encoding != kEncodingUtf8 && !IsUtf16Encoding(rec->encoding)) return;
  unsigned char head[3] = {0, 0, 0};
  qlong got = 0;
  if (IsInMemorySource(rec)) {
    const char* block = static_cast<const char*>(LockXPHandle(rec->dataHandle));
    const char* text = rec->fileRef == kFieldRef ? block + 4 : block;
    got = rec->fileSize < 3 ? static_cast<qlong>(rec->fileSize) : 3;
    std::memcpy(head, text, static_cast<size_t>(got));
    UnlockXPHandle(rec->dataHandle);
  } else if (AttachReadAhead(ctx->g, rec) == kResultOk) {
    // Through the file's read-ahead window, which the first read then finds filled.
    qlong run = 0;
    PlatResult why = kPlatOk;
    if (const char* at = ReadAheadBytes(rec, 0, &run, &why)) {
      got = run < 3 ? run : 3;
      std::memcpy(head, at, static_cast<size_t>(got));
    }
  }
  if (rec->encoding == kEncodingUtf8) {
    if (got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) rec->bomLength = 3;
    return;
  }
  const bool little = got >= 2 && head[0] == 0xFF && head[1] == 0xFE;
  const bool big = got >= 2 && head[0] == 0xFE && head[1] == 0xFF;
  if (rec->encoding == kEncodingUtf16) rec->encoding = big ? kEncodingUtf16Be : kEncodingUtf16Le;
  if ((rec->encoding == kEncodingUtf16Le && little) || (rec->encoding == kEncodingUtf16Be && big))
    rec->bomLength = 2;
#else
  (void)ctx;
  (void)rec;
#endif
}

} // namespace

void doAbout(cmdContext* ctx) {
#if QM_UNICODE
  qchar text[32];
  CHRcopyAsciiStringToQchar(kAboutText, text, 1);
  SetFldVal(kReturnCodeField, fmtString, text, ctx->cb);
#else
  SetFldVal(kReturnCodeField, fmtString, const_cast<char*>(kAboutText), ctx->cb);
#endif
}

void doOpenFile(cmdContext* ctx) {
  if (ctx->paramCount < 2) {
    ctx->errCd = kResultBadParameter;
    return;
  }
  SetFldLong(paramField(2), 0, ctx->cb);
  if (ctx->paramCount > 2) SetFldLong(paramField(3), 0, ctx->cb);
  qshort encoding = kEncodingBytes;
  bool named = false;
  if (ctx->paramCount > 4 && !readEncoding(ctx, &encoding, &named)) {
    ctx->errCd = kResultBadParameter; // an encoding this build does not know: nothing is opened
    return;
  }
  importFileSpec dialect{}; // the quoting's three fields, read before anything is opened
  dialect.quoteChar = '"';
  if (ctx->paramCount > 5 && !readQuoting(ctx, &dialect)) {
    ctx->errCd = kResultBadParameter; // a quoting this library does not know: nothing is opened
    return;
  }
  importFileSpec* rec = nullptr;
  if (AppendFileSpec(&ctx->g->fileSpecsH, &ctx->table, &rec) != kResultOk) {
    ctx->errCd = kResultNoMemory;
    return;
  }
  if (ctx->paramCount > 3) rec->stripEncQuotes = FlagParam(ctx, 4) ? 1 : 0;
  rec->encoding = encoding;
  rec->quoting = dialect.quoting;
  rec->quoteChar = dialect.quoteChar;
  rec->escapeChar = dialect.escapeChar;

  // The path in the host's own characters: keywords, emptiness and length are judged on
  // them, never on bytes narrowed from them.
  qlong length = 0;
  GetFldVal(paramField(1), fmtLength, 4, &length, ctx->cb);
  if (length > kMaxPath) {
    ctx->errCd =
        abandon(ctx, kResultCannotOpen); // rather than open the file its first 255 characters name
    return;
  }
  qchar path[kMaxPath + 1] = {};
  if (length > 0) GetFldVal(paramField(1), fmtString, kMaxPath, path, ctx->cb);
  path[kMaxPath] = 0;
  qlong n = 0;
  while (n < length && path[n])
    ++n;
  if (n == 0) {
    ctx->errCd = abandon(ctx, kResultBadParameter);
    return;
  }
  const bool clipboard = n == 9 && sameChars(path, "CLIPBOARD", 9);
  if (clipboard || (n >= 6 && sameChars(path, "FIELD:", 6))) {
    // A field's text is characters already: only UTF-8, the form the host hands it over in,
    // describes it; a code page named for it would decode it a second time.
    qshort result = kResultBadParameter;
    if (clipboard)
      result = openClipboard(ctx, rec);
    else if (!(QM_UNICODE && named && encoding != kEncodingUtf8))
      result = openField(ctx, rec, path + 6);
    if (result != kResultOk) {
      ctx->errCd = abandon(ctx, result);
      if (ctx->paramCount > 2) SetFldLong(paramField(3), 0, ctx->cb);
      return;
    }
    SetFldLong(paramField(2), rec->fileRef, ctx->cb);
    if (ctx->paramCount > 2) SetFldReal(paramField(3), static_cast<qreal>(rec->fileSize), ctx->cb);
    noteByteOrderMark(ctx, rec);
    return;
  }
  ctx->errCd = openDisk(ctx, path, n);
  if (ctx->errCd == kResultOk) noteByteOrderMark(ctx, lastRecord(ctx));
}

void doCloseFile(cmdContext* ctx) {
  importFileSpec* rec = ctx->fileSpecsP;
  if (CloseFileSpecSource(rec) != kResultOk) {
    ctx->errCd =
        kResultIoError; // still open and registered; the method's reference keeps its value
    return;
  }
  ReleaseReadAhead(ctx->g, rec);
  SetFldInt(paramField(1), 0, ctx->cb);
  FreeFileSpecDefinitions(rec);
  ctx->errCd = RemoveFileSpec(&ctx->g->fileSpecsH, &ctx->table, ctx->filePosition);
}
