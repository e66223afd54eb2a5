// XPqUtil: portable memory blocks over the platform seam.
#include "XPqUtil.h"

#include "../base/avx2.h"
#include "../platform/platform.h"
#include "callback.h"

#include <cstdlib>
#include <cstring>

void* NewXPPointer(qlong pointerSize) { return plat_ptr_new(pointerSize); }

void DisposeXPPointer(void* thePointer) { plat_ptr_dispose(thePointer); }

XPHandle NewXPHandle(qlong handleSize) {
  // Clearing big blocks costs time for nothing: their callers write before they read.
  return plat_handle_new(handleSize, handleSize <= kXPZeroFillLimit);
}

qshort ResizeXPHandle(XPHandle* theHandle, qlong newSize) {
  return plat_handle_resize(theHandle, newSize);
}

void* LockXPHandle(XPHandle theHandle) { return plat_handle_lock(theHandle); }

void UnlockXPHandle(XPHandle theHandle) { plat_handle_unlock(theHandle); }

void DisposeXPHandle(XPHandle theHandle) { plat_handle_dispose(theHandle); }

#if QM_MAC
void ClearMemBlock(void* address, qlong byteCount) {
  if (byteCount <= 0) return;
  auto* bytes = static_cast<unsigned char*>(address);
  qlong words = byteCount / 4;
  for (qlong i = 0; i < words; ++i) {
    for (int k = 0; k < 4; ++k)
      bytes[4 * i + k] = 0;
  }
  for (qlong i = words * 4; i < byteCount; ++i)
    bytes[i] = 0;
}
#endif

// ---- Conversions of whole texts ----------------------------------------------------------
qchar* convertLiteral(const char* message) {
  size_t n = std::strlen(message);
  auto* copy = static_cast<qchar*>(std::malloc((n + 1) * sizeof(qchar)));
  if (copy) CHRcopyAsciiStringToQchar(message, copy, 1);
  return copy;
}

#if QM_UNICODE
namespace {
qlong utf8Length(qchar c) {
  if (c <= 0x7F) return 1;
  if (c <= 0x7FF) return 2;
  if (c <= 0xFFFF) return 3;
  if (c <= 0x1FFFFF) return 4;
  if (c <= 0x3FFFFFF) return 5;
  return 6;
}

// Encodes up to count characters, stopping at a 0 character; returns the bytes written.
qlong encodeUtf8(const qchar* src, qlong count, char* dest) {
  static const qbyte kLead[7] = {0, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
  static const qchar kLeadMask[7] = {0, 0x7F, 0x1F, 0x0F, 0x07, 0x07, 0x03};
  qlong out = 0;
  for (qlong i = 0; i < count && src[i]; ++i) {
    qchar c = src[i];
    qlong b = utf8Length(c);
    dest[out] = static_cast<char>(kLead[b] | ((c >> (6 * (b - 1))) & kLeadMask[b]));
    for (qlong k = 1; k < b; ++k)
      dest[out + k] = static_cast<char>(0x80 | ((c >> (6 * (b - 1 - k))) & 0x3F));
    out += b;
  }
  return out;
}
} // namespace

void myCHRcopyQcharStringToAscii(const qchar* pSource, char* pDest, qbyte pCopyNullTerminator) {
  qlong n = encodeUtf8(pSource, INT32_MAX, pDest);
  if (pCopyNullTerminator) pDest[n] = 0;
}

qbool convertQHStrToAsciiHStr(XPHandle* hStrHandle) {
  if (!hStrHandle || !*hStrHandle) return 0;
  auto* source = static_cast<char*>(LockXPHandle(*hStrHandle));
  qlong count = 0;
  std::memcpy(&count, source, sizeof count);
  const auto* chars = reinterpret_cast<const qchar*>(source + 4);
  // Measure first, so that a large field needs its encoded size and not six bytes a
  // character; a 0 character ends the text.
  int64_t bytes = 0;
  for (qlong i = 0; i < count && chars[i]; ++i)
    bytes += utf8Length(chars[i]);
  XPHandle result =
      bytes <= INT32_MAX - 8 ? NewXPHandle(static_cast<qlong>(4 + bytes + 1)) : nullptr;
  if (!result) {
    UnlockXPHandle(*hStrHandle);
    return 0;
  }
  auto* dest = static_cast<char*>(LockXPHandle(result));
  qlong written = encodeUtf8(chars, count, dest + 4);
  dest[4 + written] = 0;
  std::memcpy(dest, &written, sizeof written);
  UnlockXPHandle(result);
  ResizeXPHandle(&result, 4 + written); // drops the terminator; a failure only wastes a byte
  UnlockXPHandle(*hStrHandle);
  DisposeXPHandle(*hStrHandle);
  *hStrHandle = result;
  return 1;
}
#endif

#if QM_MAC
qbool convertAsciiHStrToQHStr(XPHandle* hStrHandle) {
  if (!hStrHandle || !*hStrHandle) return 0;
  auto* source = static_cast<char*>(LockXPHandle(*hStrHandle));
  qlong count = 0;
  std::memcpy(&count, source, sizeof count);
  XPHandle result = NewXPHandle(4 * count + 8);
  if (!result) {
    UnlockXPHandle(*hStrHandle);
    return 0;
  }
  auto* dest = static_cast<char*>(LockXPHandle(result));
  std::memcpy(dest, &count, sizeof count);
  // Every counted byte becomes a character, a 0 byte included: the count is the truth.
  auto* chars = reinterpret_cast<qchar*>(dest + 4);
  CHRcopyAsciiDataToQchar(source + 4, count, chars);
  chars[count] = 0;
  UnlockXPHandle(result);
  UnlockXPHandle(*hStrHandle);
  DisposeXPHandle(*hStrHandle);
  *hStrHandle = result;
  return 1;
}
#endif

// ---- Typed text wrappers -----------------------------------------------------------------
qshort getGlobalRef(const char* fieldName, qcallback cb) {
  qchar* name = convertLiteral(fieldName);
  if (!name) return 0;
  qshort ref = GetFldRef(name, cb);
  std::free(name);
  return ref;
}

#if QM_UNICODE
namespace {
// Reads a text through read(fmt, maxlen, dest) as at most maxlen characters into value.
template <typename Read> void readAscii(qlong maxlen, char* value, Read read) {
  value[0] = 0;
  qlong size = 0;
  read(fmtLength, 4, &size);
  if (size > maxlen) size = maxlen;
  if (size < 0) size = 0;
  auto* buf = static_cast<qchar*>(std::calloc(static_cast<size_t>(size) + 2, sizeof(qchar)));
  if (!buf) return;
  read(fmtString, size + 1, buf);
  buf[size] = 0; // a host that fills all maxlen characters must not overrun value
  CHRcopyQcharStringToAscii(buf, value, 1);
  std::free(buf);
}
} // namespace

void getAsciiStringParm(qshort fldRef, qlong maxlen, char* value, qcallback cb) {
  readAscii(maxlen, value,
            [&](qshort fmt, qlong len, void* dest) { GetFldVal(fldRef, fmt, len, dest, cb); });
}

void getAsciiListColumn(qshort listRef, qshort colRef, qlong lineNum, qlong maxlen, char* value,
                        qcallback cb) {
  readAscii(maxlen, value, [&](qshort fmt, qlong len, void* dest) {
    GetLstVal(listRef, lineNum, colRef, fmt, len, dest, cb);
  });
}

void setStringField(qshort fldRef, const char* value, qcallback cb) {
  setStringFieldN(fldRef, value, static_cast<qlong>(std::strlen(value)), cb);
}

namespace {
// Stores at most length host characters that fill(buffer) writes, returning how many, into a
// field. Most fields are short: they are built on the stack, without an allocation per field.
template <typename Fill>
void storeChars(qshort fldRef, qlong length, Fill fill, qcallback cb, qchar* room) {
  qchar onStack[kStoreOnStackChars];
  qchar* buf = onStack;
  if (length >= kStoreOnStackChars && room) {
    buf = room;
  } else if (length >= kStoreOnStackChars) {
    buf = static_cast<qchar*>(std::malloc((static_cast<size_t>(length) + 1) * sizeof(qchar)));
    if (!buf) {
      qchar empty = 0; // no memory: the field is emptied rather than left stale
      SetFldVal(fldRef, fmtString, &empty, cb);
      return;
    }
  }
  buf[fill(buf)] = 0;
  SetFldVal(fldRef, fmtString, buf, cb);
  if (buf != onStack && buf != room) std::free(buf);
}
} // namespace

namespace {
// Widens 8-bit text to host characters, never sign-extended: 32 bytes at a time where the
// processor has AVX2, else 16 where SSE2 is usable, the last run ending with the text; else
// a byte at a time (the two never overlap: saying so lets the compiler vectorise that loop).
void widenBytes(qchar* __restrict out, const char* __restrict in, qlong n) {
#if QM_AVX2
  if (n >= 32 && avx2::usable()) {
    avx2::widen(out, in, n);
    return;
  }
#endif
#if QM_SSE2
  if (n >= 16 && sse2::usable()) {
    sse2::widenLong(out, in, n);
    return;
  }
#endif
  for (qlong i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>(in[i]);
}
} // namespace

void setStringFieldLong(qshort fldRef, const char* value, qlong length, qcallback cb, qchar* room) {
  storeChars(
      fldRef, length,
      [&](qchar* buf) {
        widenBytes(buf, value, length);
        return length;
      },
      cb, room);
}

namespace {
// The second byte's range for a lead byte of a well-formed sequence, and its length; 0 for a
// byte that starts none.
qlong utf8Expect(qbyte lead, qbyte* lo, qbyte* hi) {
  *lo = 0x80;
  *hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (lead == 0xE0) *lo = 0xA0; // no overlong forms
    if (lead == 0xED) *hi = 0x9F; // no surrogates
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0) *lo = 0x90;
    if (lead == 0xF4) *hi = 0x8F; // nothing above U+10FFFF
    return 4;
  }
  return 0;
}
} // namespace

qlong CHRutf8ToQchar(const char* src, qlong length, qchar* dest) {
  constexpr qchar kReplacement = 0xFFFD;
  qlong out = 0;
  for (qlong i = 0; i < length;) {
    const auto lead = static_cast<qbyte>(src[i]);
    if (lead < 0x80) {
      dest[out++] = lead;
      ++i;
      continue;
    }
    qbyte lo = 0, hi = 0;
    const qlong need = utf8Expect(lead, &lo, &hi);
    qchar c = need == 2 ? (lead & 0x1Fu) : need == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
    qlong k = 1;
    for (; need > 0 && k < need && i + k < length; ++k) {
      const auto b = static_cast<qbyte>(src[i + k]);
      if (b < lo || b > hi) break; // the maximal subpart ends before this byte
      c = c << 6 | (b & 0x3Fu);
      lo = 0x80;
      hi = 0xBF;
    }
    dest[out++] = need > 0 && k == need ? c : kReplacement;
    i += k;
  }
  return out;
}

qlong CHRqcharToUtf8(const qchar* src, qlong count, char* dest) {
  return encodeUtf8(src, count, dest);
}

void setStringFieldUtf8(qshort fldRef, const char* value, qlong length, qcallback cb, qchar* room) {
  // UTF-8 never yields more characters than bytes.
  storeChars(
      fldRef, length, [&](qchar* buf) { return CHRutf8ToQchar(value, length, buf); }, cb, room);
}

void setStringFieldUnits(qshort fldRef, const char* units, qlong count, bool big, qcallback cb,
                         qchar* room) {
  storeChars(
      fldRef, count,
      [&](qchar* buf) {
        qlong i = 0;
#if QM_SSE2
        if (count >= 8 && sse2::usable()) {
          sse2::widenUnits(buf, units, count, big);
          i = count;
        }
#endif
        const auto* b = reinterpret_cast<const qbyte*>(units);
        const int hi = big ? 0 : 1;
        for (; i < count; ++i)
          buf[i] = static_cast<qchar>(b[2 * i + hi]) << 8 | b[2 * i + 1 - hi];
        return count;
      },
      cb, room);
}

// A code page never yields more characters than bytes either; one table load a byte.
void setStringFieldCodePage(qshort fldRef, const char* value, qlong length, qshort page,
                            qcallback cb, qchar* room) {
  const qchar* chars = CodePageChars(page);
  storeChars(
      fldRef, length,
      [&](qchar* buf) {
        // Widened as bytes as they stand, then the bytes beyond ASCII looked up: most text
        // is ASCII, which every page keeps.
        widenBytes(buf, value, length);
        qlong i = 0;
#if QM_SSE2
        if (sse2::usable())
          for (; i + 16 <= length; i += 16)
            for (unsigned high = sse2::highBitMask(value + i); high != 0; high &= high - 1) {
              const qlong k = i + std::countr_zero(high);
              buf[k] = chars[buf[k]];
            }
#endif
        for (; i < length; ++i)
          if (buf[i] >= 0x80) buf[i] = chars[buf[i]];
        return length;
      },
      cb, room);
}

qlong Utf8CutPoint(const char* text, qlong length, qlong available) {
  if (length >= available) return length; // nothing follows: no character is split
  // The lead byte of the character the cut falls into: the bytes from it up to and including
  // the first one past the cut must begin a well-formed sequence that is longer than the
  // bytes kept of it.
  for (qlong start = length - 1; start >= 0 && start >= length - 3; --start) {
    const auto lead = static_cast<qbyte>(text[start]);
    if ((lead & 0xC0) == 0x80) continue; // a continuation byte: the lead is further back
    qbyte lo = 0, hi = 0;
    const qlong need = utf8Expect(lead, &lo, &hi);
    if (need <= length - start) return length; // that character ends before the cut
    for (qlong k = start + 1; k <= length; ++k) {
      const auto b = static_cast<qbyte>(text[k]);
      if (b < lo || b > hi) return length; // not a character the cut would split
      lo = 0x80;
      hi = 0xBF;
    }
    return start > 0 ? start : length; // a piece must keep something to move the read on
  }
  return length;
}

#else
void getAsciiStringParm(qshort fldRef, qlong maxlen, char* value, qcallback cb) {
  value[0] = 0;
  if (maxlen < 0) return;
  GetFldVal(fldRef, fmtString, maxlen, value, cb);
  value[maxlen] = 0; // whatever the host counts, the text ends within the caller's room
}

void getAsciiListColumn(qshort listRef, qshort colRef, qlong lineNum, qlong maxlen, char* value,
                        qcallback cb) {
  value[0] = 0;
  if (maxlen < 0) return;
  GetLstVal(listRef, lineNum, colRef, fmtString, maxlen, value, cb);
  value[maxlen] = 0;
}

void setStringField(qshort fldRef, const char* value, qcallback cb) {
  SetFldVal(fldRef, fmtString, const_cast<char*>(value), cb);
}

void setStringFieldN(qshort fldRef, const char* value, qlong, qcallback cb, qchar*) {
  SetFldVal(fldRef, fmtString, const_cast<char*>(value), cb); // 8-bit text goes as it is
}
#endif
