// The macOS host's 80-bit extended numbers, converted on the bits of the double.
#include "extended80.h"

#include <cmath>
#include <cstring>

namespace qhost {

Extended80 toExtended(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  bool negative = bits >> 63;
  int e = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t f = bits & ((uint64_t{1} << 52) - 1);
  int exponent;
  uint64_t significand;
  if (e == 0x7FF) {
    exponent = 0x7FFF;
    significand = f ? (0xC000000000000000ULL | (f << 11)) : 0x8000000000000000ULL;
  } else if (e == 0 && f == 0) {
    exponent = 0;
    significand = 0;
  } else if (e == 0) { // a double denormal is a normal extended number
    int top = 63 - __builtin_clzll(f);
    significand = f << (63 - top);
    exponent = top - 1074 + 16383;
  } else {
    exponent = e - 1023 + 16383;
    significand = (uint64_t{1} << 63) | (f << 11);
  }
  Extended80 x{};
  x.bytes[0] = static_cast<uint8_t>((negative ? 0x80 : 0) | (exponent >> 8));
  x.bytes[1] = static_cast<uint8_t>(exponent & 0xFF);
  for (int i = 9; i >= 2; --i) {
    x.bytes[i] = static_cast<uint8_t>(significand);
    significand >>= 8;
  }
  return x;
}

double fromExtended(const Extended80& x) {
  bool negative = x.bytes[0] & 0x80;
  int exponent = ((x.bytes[0] & 0x7F) << 8) | x.bytes[1];
  uint64_t significand = 0;
  for (int i = 2; i < 10; ++i)
    significand = (significand << 8) | x.bytes[i];
  double v;
  if (exponent == 0x7FFF)
    v = (significand << 1) ? NAN : INFINITY;
  else
    v = std::ldexp(static_cast<double>(significand), (exponent ? exponent : 1) - 16383 - 63);
  return negative ? -v : v;
}

} // namespace qhost
