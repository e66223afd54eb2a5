// The delimited reader: in-memory sources are scanned in place, disk files read through the
// system (delimited fields one byte per call, so the system position never passes the
// delimiter and the next field of a record needs no seek).
#include "reader.h"

#include "../glue/XPqUtil.h"

#include <cstring>

namespace {

constexpr char kQuote = '"';

// The field's maximum as the buffer can hold it.
// How many bytes a delimited read may look at: the field and its delimiter, within 32000.
qlong lookLimit(qshort len, qlong maxBytes) {
  return len + maxBytes > kMaxFieldBytes ? kMaxFieldBytes : len + maxBytes;
}

qlong effectiveMax(qshort fldMax) {
  if (fldMax < 0) return 0;
  return fldMax > kMaxFieldBytes ? kMaxFieldBytes : fldMax;
}

// Where an in-memory source's text starts in its locked block, and how many of its bytes
// may be read: never more than the block holds, whatever fileSize says.
const char* memoryText(const importFileSpec* rec, const void* block, qlong* available) {
  const char* bytes = static_cast<const char*>(block);
  if (rec->fileRef == kFieldRef) {
    qlong count = 0;
    std::memcpy(&count, bytes, sizeof count);
    *available = rec->fileSize < count ? rec->fileSize : count;
    return bytes + 4;
  }
  *available = rec->fileSize;
  return bytes;
}

struct delimitedState {
  const qbyte* delim; // the delimiter bytes
  qshort len;         // their count, 1 to 3
  bool stripQuotes;
  bool betweenQuotes; // the field opened with a quote: only a delimiter after a quote counts
};

// Whether the last len bytes read are the delimiter, by the quote rule.
bool delimiterEnds(const delimitedState& s, const char* buffer, qlong bytesRead) {
  if (bytesRead < s.len) return false;
  const char* tail = buffer + bytesRead - s.len;
  for (qshort k = 0; k < s.len; ++k) {
    if (static_cast<qbyte>(tail[k]) != s.delim[k]) return false;
  }
  if (s.stripQuotes && s.betweenQuotes) return bytesRead > s.len && tail[-1] == kQuote;
  return true;
}

qshort finishDelimited(char* buffer, qlong bytesRead, bool found, qshort result, qlong maxBytes,
                       qshort len, qlong* filePos) {
  if (found) {
    buffer[bytesRead - len] = 0; // the delimiter is consumed but not kept
    *filePos += bytesRead;
    return 0;
  }
  if (result != 0) {
    buffer[bytesRead] = 0;
    *filePos += bytesRead;
    return result;
  }
  // Over-long: keep the first maxBytes; the next read starts right after them.
  buffer[maxBytes] = 0;
  *filePos += maxBytes;
  return 11;
}

qshort readMemory(importFileSpec* rec, const fieldSpec* f, qlong* filePos, char* buffer) {
  void* block = LockXPHandle(rec->dataHandle);
  qlong available = 0;
  const char* text = memoryText(rec, block, &available);
  qlong pos = *filePos;
  if (pos < 0 || pos > available) {
    UnlockXPHandle(rec->dataHandle);
    return 7; // before the text or past its end: nothing there to read
  }
  const char* at = text + pos;
  qlong bytesLeft = available - pos;
  qlong maxBytes = effectiveMax(f->fldMax);
  qshort len = DelimiterLength(f);
  qshort result = 0;

  if (len == 0) {
    qlong n = maxBytes;
    if (maxBytes > bytesLeft) {
      n = bytesLeft;
      result = 8;
    }
    std::memcpy(buffer, at, static_cast<size_t>(n));
    buffer[n] = 0;
    *filePos += n;
    UnlockXPHandle(rec->dataHandle);
    return result;
  }

  delimitedState s{f->fldDelim + 1, len, rec->stripEncQuotes != 0, false};
  // A field that starts at the very end has no first byte to look at.
  if (s.stripQuotes && bytesLeft > 0) s.betweenQuotes = at[0] == kQuote;
  const qlong maxToRead = lookLimit(len, maxBytes);
  qlong bytesRead = 0;
  bool found = false;
  while (!found && bytesRead < maxToRead) {
    if (bytesRead == bytesLeft) {
      result = 9;
      break;
    }
    buffer[bytesRead] = at[bytesRead];
    ++bytesRead;
    found = delimiterEnds(s, buffer, bytesRead);
  }
  UnlockXPHandle(rec->dataHandle);
  return finishDelimited(buffer, bytesRead, found, result, maxBytes, len, filePos);
}

qshort readDisk(importFileSpec* rec, const fieldSpec* f, qlong* filePos, char* buffer) {
  qlong maxBytes = effectiveMax(f->fldMax);
  qshort len = DelimiterLength(f);
  qshort result = 0;

  if (len == 0) {
    qlong got = 0;
    PlatResult r = plat_file_read(rec->fileRef, &rec->fileBlock, buffer, maxBytes, &got);
    if (got < 0 || got > maxBytes) got = 0; // trust the system no further than we asked
    if (r == kPlatEnd)
      result = 8;
    else if (r != kPlatOk)
      result = 5;
    buffer[got] = 0;
    if (result == 0 && got != maxBytes) result = 8;
    *filePos += got;
    return result;
  }

  delimitedState s{f->fldDelim + 1, len, rec->stripEncQuotes != 0, false};
  const qlong maxToRead = lookLimit(len, maxBytes);
  qlong bytesRead = 0;
  bool found = false;
  while (!found && bytesRead < maxToRead) {
    qlong got = 0;
    PlatResult r = plat_file_read(rec->fileRef, &rec->fileBlock, buffer + bytesRead, 1, &got);
    if (r != kPlatOk) {
      result = r == kPlatEnd ? 9 : 5;
      break;
    }
    if (got != 1) {
      result = 9; // a successful read of nothing: the end of the file
      break;
    }
    if (bytesRead == 0 && s.stripQuotes) s.betweenQuotes = buffer[0] == kQuote;
    ++bytesRead;
    found = delimiterEnds(s, buffer, bytesRead);
  }
  return finishDelimited(buffer, bytesRead, found, result, maxBytes, len, filePos);
}

} // namespace

qshort DelimiterLength(const fieldSpec* f) {
  auto len = static_cast<int8_t>(f->fldDelim[0]); // a signed byte
  if (len < 0) return 0;
  return len > 3 ? 3 : len;
}

qshort SetPositionInFile(importFileSpec* fileSpecsP) {
  if (IsInMemorySource(fileSpecsP)) return 0;
  return plat_file_seek(fileSpecsP->fileRef, &fileSpecsP->fileBlock, fileSpecsP->curPos) == kPlatOk
             ? 0
             : 7;
}

qshort ReadToDelimOrMax(importFileSpec* fileSpecsP, const fieldSpec* fldSpecP, qlong* filePos,
                        char* buffer) {
  buffer[0] = 0;
  if (IsInMemorySource(fileSpecsP)) return readMemory(fileSpecsP, fldSpecP, filePos, buffer);
  return readDisk(fileSpecsP, fldSpecP, filePos, buffer);
}
