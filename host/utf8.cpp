// UTF-8 to and from host characters, for scenarios, messages and the import tool's output.
#include "utf8.h"

namespace qhost {

std::u32string fromUtf8(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    char32_t c = extra ? (b & (0x3F >> extra)) : b;
    for (int k = 1; k <= extra && i + k < s.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += c;
    i += 1 + extra;
  }
  return out;
}

namespace {
template <typename Char> void encodeUtf8(std::string& out, const Char* s, size_t n) {
  // Written through a pointer into room for the longest form, then cut to what was written.
  const size_t at = out.size();
  out.resize(at + 4 * n);
  char* d = out.data() + at;
  for (size_t i = 0; i < n; ++i) {
    // Runs of ASCII, the usual text, eight characters at a time.
    while (i + 8 <= n) {
      char32_t any = 0;
      for (size_t k = 0; k < 8; ++k)
        any |= static_cast<char32_t>(s[i + k]);
      if (any >= 0x80) break;
      for (size_t k = 0; k < 8; ++k)
        d[k] = static_cast<char>(s[i + k]);
      d += 8;
      i += 8;
    }
    if (i == n) break;
    const auto c = static_cast<char32_t>(s[i]);
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *d++ = static_cast<char>(0xC0 | (c >> 6));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *d++ = static_cast<char>(0xE0 | (c >> 12));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *d++ = static_cast<char>(0xF0 | ((c >> 18) & 0x07));
      *d++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(d - out.data()));
}
} // namespace

void appendUtf8(std::string& out, const std::u32string& s) { encodeUtf8(out, s.data(), s.size()); }

void appendUtf8(std::string& out, const uint32_t* units, size_t n) { encodeUtf8(out, units, n); }

void appendUtf8(std::string& out, const uint8_t* units, size_t n) { encodeUtf8(out, units, n); }

std::string toUtf8(const std::u32string& s) {
  std::string out;
  appendUtf8(out, s);
  return out;
}

std::string singleByteToUtf8(const std::string& bytes, bool windows1252) {
  static constexpr char32_t kWindows1252[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  std::u32string chars;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    chars += windows1252 && b >= 0x80 && b < 0xA0 ? kWindows1252[b - 0x80] : char32_t{b};
  }
  return toUtf8(chars);
}

} // namespace qhost
