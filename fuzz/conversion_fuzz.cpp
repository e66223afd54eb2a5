// Fuzzes the character conversions against reference coders written here from the
// encodings' definitions: the input's bytes decoded as a UTF-8 source's text; then, taken as
// 4-byte characters of any value, host characters (UTF-32) to the UTF-8 of a field source and
// to the UTF-16 of a path, and UTF-16 back.
#include "glue/XPqUtil.h"
#include "glue/callback.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

#if QM_UNICODE
void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "conversion fuzz: %s\n", what);
  std::abort();
}

// Reference UTF-8 decoder of the one- to six-byte forms (the host's characters are 31-bit
// values); false on anything malformed.
bool decodeUtf8(const unsigned char* s, size_t n, std::vector<uint32_t>* out) {
  for (size_t i = 0; i < n;) {
    unsigned char b = s[i];
    size_t len = b < 0x80   ? 1
                 : b < 0xC0 ? 0
                 : b < 0xE0 ? 2
                 : b < 0xF0 ? 3
                 : b < 0xF8 ? 4
                 : b < 0xFC ? 5
                 : b < 0xFE ? 6
                            : 0;
    if (len == 0 || i + len > n) return false;
    uint32_t c = len == 1 ? b : b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      c = c << 6 | (s[i + k] & 0x3F);
    }
    out->push_back(c);
    i += len;
  }
  return true;
}

// Reference decoder of well-formed UTF-8 (one to four bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF): U+FFFD for each maximal subpart of an ill-formed
// sequence, as the Unicode standard recommends.
std::vector<uint32_t> decodeStrict(const unsigned char* s, size_t n) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < n;) {
    unsigned char b = s[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    size_t len = b >= 0xC2 && b <= 0xDF   ? 2
                 : b >= 0xE0 && b <= 0xEF ? 3
                 : b >= 0xF0 && b <= 0xF4 ? 4
                                          : 0;
    unsigned char lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (len == 0) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    uint32_t c = b & (0xFFu >> (len + 1));
    size_t k = 1;
    for (; k < len && i + k < n; ++k) {
      if (s[i + k] < lo || s[i + k] > hi) break;
      c = c << 6 | (s[i + k] & 0x3Fu);
      lo = 0x80;
      hi = 0xBF;
    }
    out.push_back(k == len ? c : 0xFFFD);
    i += k;
  }
  return out;
}

// Reference UTF-16 encoder with the library's substitute for what UTF-16 cannot hold.
std::vector<uint16_t> encodeUtf16(const std::vector<uint32_t>& chars) {
  std::vector<uint16_t> out;
  for (uint32_t c : chars) {
    if (c <= 0xFFFF) {
      out.push_back(static_cast<uint16_t>(c));
    } else if (c <= 0x10FFFF) {
      out.push_back(static_cast<uint16_t>(0xD800 | ((c - 0x10000) >> 10)));
      out.push_back(static_cast<uint16_t>(0xDC00 | ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(1);
    }
  }
  return out;
}
#endif

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if QM_UNICODE
  // The input's bytes as a UTF-8 source's text: decoded as the reference decodes them.
  {
    const size_t n = size < 8192 ? size : 8192;
    std::vector<qchar> got(n + 1);
    qlong count =
        CHRutf8ToQchar(reinterpret_cast<const char*>(data), static_cast<qlong>(n), got.data());
    std::vector<uint32_t> want = decodeStrict(data, n);
    check(count == static_cast<qlong>(want.size()),
          "UTF-8 decodes to another number of characters");
    check(want.empty() || std::memcmp(got.data(), want.data(), want.size() * 4) == 0,
          "UTF-8 decodes to other characters than the reference's");
  }
  // The input's bytes in each code page: every byte the page defines is the page's only byte
  // for its character, and a character that no byte stands for is refused.
  for (qshort page = kCodePageWindows1252; page <= kCodePageMacRoman; ++page) {
    const qchar* table = CodePageChars(page);
    for (size_t i = 0; i < size && i < 64; ++i) {
      const qchar c = table[data[i]];
      check(c == 0xFFFD ? CHRqcharToCodePage(c, page) == -1
                        : CHRqcharToCodePage(c, page) == static_cast<int>(data[i]),
            "a code page's byte does not come back from its character");
    }
    if (size >= 4) {
      uint32_t c = 0;
      std::memcpy(&c, data, 4);
      const int b = CHRqcharToCodePage(c & 0x7FFFFFFF, page);
      check(b == -1 || table[b] == (c & 0x7FFFFFFF), "a character written as another's byte");
    }
  }
  std::vector<uint32_t> chars;
  for (size_t i = 0; i + 4 <= size && chars.size() < 4096; i += 4) {
    uint32_t c = 0;
    std::memcpy(&c, data + i, 4);
    c &= 0x7FFFFFFF;   // host characters are 31-bit values
    if (c == 0) break; // a 0 ends the text
    chars.push_back(c);
  }

  // UTF-32 to UTF-8, as a field source's text is converted.
  auto count = static_cast<qlong>(chars.size());
  XPHandle h = NewXPHandle(4 + 4 * count + 4);
  check(h != nullptr, "no memory");
  auto* block = static_cast<char*>(LockXPHandle(h));
  std::memcpy(block, &count, 4);
  if (!chars.empty()) std::memcpy(block + 4, chars.data(), chars.size() * 4);
  UnlockXPHandle(h);
  check(convertQHStrToAsciiHStr(&h) != 0, "the UTF-8 conversion failed");
  block = static_cast<char*>(LockXPHandle(h));
  qlong bytes = 0;
  std::memcpy(&bytes, block, 4);
  std::vector<uint32_t> back;
  check(decodeUtf8(reinterpret_cast<unsigned char*>(block + 4), static_cast<size_t>(bytes), &back),
        "malformed UTF-8");
  check(back == chars, "UTF-8 does not decode to the characters it came from");
  UnlockXPHandle(h);
  DisposeXPHandle(h);

  // UTF-32 to UTF-16 in place (the path of the wide open call), then back.
  std::vector<qchar> inPlace(chars.begin(), chars.end());
  inPlace.push_back(0);
  std::vector<qchar> buffer(2 * chars.size() + 1);
  std::memcpy(buffer.data(), inPlace.data(), inPlace.size() * sizeof(qchar));
  qlong units = CHRcharToOschar(buffer.data(), reinterpret_cast<oschar*>(buffer.data()));
  const auto* utf16 = reinterpret_cast<const oschar*>(buffer.data());
  std::vector<uint16_t> want = encodeUtf16(chars);
  check(units == static_cast<qlong>(want.size()), "UTF-16 length differs from the reference");
  check(want.empty() || std::memcmp(utf16, want.data(), want.size() * 2) == 0,
        "UTF-16 differs from the reference");
  std::vector<qchar> decoded(want.size() + 1);
  qlong n = CHRoscharToChar(utf16, decoded.data());
  // Characters that UTF-16 holds come back as they were; unpaired surrogates may pair up.
  bool plain = true;
  for (uint32_t c : chars)
    plain = plain && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
  if (plain) {
    check(n == count, "UTF-16 does not decode to as many characters");
    check(chars.empty() || std::memcmp(decoded.data(), chars.data(), chars.size() * 4) == 0,
          "UTF-16 does not decode to the characters it came from");
  }
#else
  (void)data;
  (void)size;
#endif
  return 0;
}
