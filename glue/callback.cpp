// callback module, the parts every build shares.
#include "callback.h"

#include <cmath>

void sthandle(const qchar* m, str255* str) {
  qlong n = 0;
  while (n < 255 && m[n] != 0) {
    str->content[n] = m[n];
    ++n;
  }
  str->len = static_cast<decltype(str->len)>(n);
}

qlong qrealToLong(qreal value) {
  // Comparisons first: converting an out-of-range floating value is undefined behaviour. The
  // bounds are those of the truncated value (the conversion truncates towards zero).
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<qlong>(value);
}

bool qrealInRange(qreal value, qlong lo, qlong hi, qlong* out) {
  qreal t = std::trunc(value);
  if (!(t >= static_cast<qreal>(lo) && t <= static_cast<qreal>(hi))) return false;
  *out = static_cast<qlong>(t);
  return true;
}

// ---- Host-character strings and conversions ----------------------------------------------
namespace {
// Copies units up to and including the terminator.
void sCopyString(qchar* pDest, const qchar* pSource) {
  while ((*pDest++ = *pSource++) != 0) {
  }
}

template <typename Unit> void widen(const char* src, Unit* dest, qbyte copyTerminator) {
  qlong i = 0;
  for (; src[i]; ++i)
    dest[i] = static_cast<uint8_t>(src[i]); // never sign-extended
  if (copyTerminator) dest[i] = 0;
}

template <typename Unit> void narrow(const Unit* src, char* dest, qbyte copyTerminator) {
  qlong i = 0;
  for (; src[i]; ++i)
    dest[i] = static_cast<char>(src[i] & 0xFF);
  if (copyTerminator) dest[i] = 0;
}
} // namespace

void CHRcopyAsciiStringToQchar(const char* pSource, qchar* pDest, qbyte pCopyNullTerminator) {
  widen(pSource, pDest, pCopyNullTerminator);
}

qlong OMstrlen(const qchar* pString) {
  if (!pString) return 0;
  qlong n = 0;
  while (pString[n])
    ++n;
  return n;
}

qchar* OMstrcat(qchar* pDest, const qchar* pSource) {
  if (!pDest || !pSource) return pDest;
  sCopyString(pDest + OMstrlen(pDest), pSource);
  return pDest;
}

#if QM_UNICODE
void CHRcopyQcharStringToAscii(const qchar* pSource, char* pDest, qbyte pCopyNullTerminator) {
  narrow(pSource, pDest, pCopyNullTerminator);
}

qlong CHRcharToOschar(const qchar* pInBuf, oschar* pOutBuf) {
  qlong out = 0;
  for (qlong i = 0;; ++i) {
    qchar c = pInBuf[i]; // read before writing: the output may overlay the input
    if (c == 0) break;
    if (c <= 0xFFFF) {
      pOutBuf[out++] = static_cast<oschar>(c);
    } else if (c <= 0x10FFFF) {
      pOutBuf[out++] = static_cast<oschar>(0xD800 + ((c - 0x10000) >> 10));
      pOutBuf[out++] = static_cast<oschar>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      pOutBuf[out++] = 0x0001;
    }
  }
  pOutBuf[out] = 0;
  return out;
}

qlong CHRoscharToChar(const oschar* pInBuf, qchar* pOutBuf) {
  qlong out = 0;
  for (qlong i = 0; pInBuf[i];) {
    oschar u = pInBuf[i];
    if (u < 0xD800 || u > 0xDFFF) {
      pOutBuf[out++] = u;
      ++i;
    } else if (pInBuf[i + 1] == 0) {
      pOutBuf[out++] = 0x0001;
      break;
    } else {
      oschar v = pInBuf[i + 1];
      bool pair = u <= 0xDBFF && v >= 0xDC00 && v <= 0xDFFF;
      pOutBuf[out++] = pair ? 0x10000 + ((qchar{u} & 0x3FF) << 10) + (v & 0x3FF) : 0x0002;
      i += 2;
    }
  }
  pOutBuf[out] = 0;
  return out;
}

qchar* OMstrcpy(qchar* pDest, const qchar* pSource) {
  if (!pDest || !pSource) return pDest;
  sCopyString(pDest, pSource);
  return pDest;
}
#endif

#if QM_MAC
void CHRcopyAsciiDataToQchar(const char* pSource, qlong count, qchar* pDest) {
  for (qlong i = 0; i < count; ++i)
    pDest[i] = static_cast<uint8_t>(pSource[i]);
}

void CHRcopyAsciiDataToQoschar(const char* pSource, qlong count, oschar* pDest) {
  for (qlong i = 0; i < count; ++i)
    pDest[i] = static_cast<uint8_t>(pSource[i]);
}

void CHRcopyAsciiStringToQoschar(const char* pSource, oschar* pDest, qbyte pCopyNullTerminator) {
  widen(pSource, pDest, pCopyNullTerminator);
}

void CHRcopyQoscharStringToAscii(const oschar* pSource, char* pDest, qbyte pCopyNullTerminator) {
  narrow(pSource, pDest, pCopyNullTerminator);
}
#endif
