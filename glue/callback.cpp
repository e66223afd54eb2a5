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
  qreal t = std::trunc(value);
  // Comparisons first: converting an out-of-range floating value is undefined behaviour.
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) return INT32_MIN;
  return static_cast<qlong>(t);
}

qshort qrealToShortSaturated(qreal value) {
  qreal t = std::trunc(value);
  if (!(t >= -32768.0 && t <= 32767.0)) return INT16_MIN;
  return static_cast<qshort>(t);
}
