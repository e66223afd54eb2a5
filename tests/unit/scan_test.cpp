// The SSE2 paths and their plain twins. The byte searches under the reader: the 16-byte
// search (where the build has it) and the plain word search must both find what a
// byte-by-byte look finds, at every alignment, for every limit and readable end, with zero
// bytes and the searched byte anywhere. Widening: every path (AVX2 too, where the processor
// has it) gives every byte as its own character, never sign-extended.
#include "base/avx2.h"
#include "glue/XPqUtil.h"
#include "import/scan.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

namespace {

const char* naiveFirst(const char* p, const char* end, char c) {
  for (; p < end; ++p)
    if (*p == c || *p == 0) return p;
  return nullptr;
}

const char* naiveLast(const char* p, qlong n, char c) {
  for (qlong i = n; i > 0; --i)
    if (p[i - 1] == c) return p + i - 1;
  return nullptr;
}

TEST(Scan, BothForwardSearchesAgreeWithAByteByByteLook) {
  std::mt19937 rng(20261209);
  // Bytes from a small alphabet, so that the searched byte and zero bytes come often; the
  // vector is exactly the bytes that may be read, so a read past it would show under ASan.
  for (int round = 0; round < 4000; ++round) {
    const auto size = static_cast<size_t>(1 + rng() % 80);
    std::vector<char> bytes(size);
    const char alphabet[] = {'a', ',', '\0', '\r', '\n', '"', static_cast<char>(0xAC)};
    const bool zeros = rng() % 3 != 0;
    for (char& b : bytes) {
      b = alphabet[rng() % 7];
      if (!zeros && b == 0) b = 'z';
    }
    const char c = alphabet[rng() % 2 == 0 ? 1 : 6];
    const char* base = bytes.data();
    const size_t from = rng() % size;
    const size_t to = from + rng() % (size - from + 1);
    const size_t readable = to + rng() % (size - to + 1);
    const char* want = naiveFirst(base + from, base + to, c);
    EXPECT_EQ(findByteOrZero(base + from, base + to, base + readable, c), want)
        << "round " << round << " from " << from << " to " << to << " readable " << readable;
    EXPECT_EQ(findByteOrZeroPlain(base + from, base + to, c), want) << "round " << round;
  }
}

// The search for one byte alone (zero bytes are text to it): the nearest bytes inline, the
// rest through memchr, over stretches short and long, with the byte dense or rare.
TEST(Scan, TheByteSearchAgreesWithAByteByByteLook) {
  std::mt19937 rng(20261210);
  for (int round = 0; round < 6000; ++round) {
    const auto size = static_cast<size_t>(rng() % 300);
    std::vector<char> bytes(size); // exactly the bytes that may be read
    const int density = 2 + static_cast<int>(rng() % 200);
    for (char& b : bytes)
      b = rng() % density == 0 ? ',' : "a\0\"z"[rng() % 3];
    const size_t from = size == 0 ? 0 : rng() % (size + 1);
    const size_t to = from + rng() % (size - from + 1);
    const char* p = bytes.data() + from;
    const char* end = bytes.data() + to;
    const char* want = std::find(p, end, ',');
    EXPECT_EQ(findByte(p, end, ','), want == end ? nullptr : want)
        << "round " << round << " from " << from << " to " << to;
  }
}

TEST(Scan, BothBackwardSearchesFindTheLastOccurrence) {
  std::mt19937 rng(7);
  for (int round = 0; round < 4000; ++round) {
    // Exactly the bytes that may be read, at any offset, so that a load before p or past
    // p + n shows under ASan.
    const auto size = static_cast<size_t>(rng() % 90);
    std::vector<char> bytes(size);
    const int density = 3 + static_cast<int>(rng() % 40); // sparse lines too: whole blocks pass
    for (size_t i = 0; i < size; ++i)
      bytes[i] = rng() % density == 0 ? '\n' : static_cast<char>('a' + rng() % 3);
    const size_t from = size == 0 ? 0 : rng() % (size + 1);
    const char* p = bytes.data() + from;
    const auto n = static_cast<qlong>(size - from);
    const char* want = naiveLast(p, n, '\n');
    EXPECT_EQ(findLastByte(p, n, '\n'), want) << "round " << round;
    EXPECT_EQ(findLastBytePlain(p, n, '\n'), want) << "round " << round;
  }
}

TEST(Scan, BothMaskPathsMarkEveryMatchingByte) {
  std::mt19937 rng(11);
  for (int round = 0; round < 4000; ++round) {
    const auto count = static_cast<qlong>(rng() % 17);
    std::vector<char> bytes(static_cast<size_t>(count)); // exactly the bytes that may be read
    for (auto& b : bytes)
      b = "\n\"x\0\xff"[rng() % 5];
    unsigned wantA = 0, wantB = 0;
    for (qlong i = 0; i < count; ++i) {
      if (bytes[static_cast<size_t>(i)] == '\n') wantA |= 1u << i;
      if (bytes[static_cast<size_t>(i)] == '"') wantB |= 1u << i;
    }
    unsigned a = ~0u, b = ~0u;
    matchMasks(bytes.data(), count, '\n', '"', &a, &b);
    EXPECT_EQ(a, wantA) << "round " << round;
    EXPECT_EQ(b, wantB) << "round " << round;
    matchMasksPlain(bytes.data(), count, '\n', '"', &a, &b);
    EXPECT_EQ(a, wantA) << "round " << round;
    EXPECT_EQ(b, wantB) << "round " << round;
  }
}

// The count of a byte that any of two others stops: lengths past 255 loads of 16, where the
// 16-byte path folds its byte lanes, and tails of every length, with the stops rare enough
// that long texts are counted to their end.
TEST(Scan, BothCountsAgreeWithAByteByByteCount) {
  std::mt19937 rng(14);
  int counted = 0;
  for (int round = 0; round < 3000; ++round) {
    const auto size = static_cast<size_t>(round % 10 == 0 ? rng() % 9000 : rng() % 70);
    std::vector<char> bytes(size); // exactly the bytes that may be read
    const unsigned stops = 1 + rng() % 3000;
    for (char& b : bytes) {
      b = rng() % 3 == 0 ? ',' : 'x';
      if (rng() % stops == 0) b = rng() % 2 == 0 ? '"' : '\n';
    }
    qlong want = 0;
    for (const char b : bytes) {
      if (b == '"' || b == '\n') {
        want = -1;
        break;
      }
      want += b == ',' ? 1 : 0;
    }
    if (want > 255) ++counted;
    const auto n = static_cast<qlong>(size);
    EXPECT_EQ(countByteUnless(bytes.data(), n, ',', '"', '\n'), want) << "round " << round;
    EXPECT_EQ(countByteUnlessPlain(bytes.data(), n, ',', '"', '\n'), want) << "round " << round;
  }
  EXPECT_GT(counted, 20); // long texts with over 255 matches were counted to their end
}

#if QM_AVX2
// The block pass of a backward CSV search gives, nearest first, exactly the line ends with an
// even number of quotes between them and the window's end, each with the count of line ends
// after it: windows dense and sparse in line ends and quotes, ends anywhere (the window's
// first bytes come from a block that overlaps those already passed), either parity after.
TEST(Scan, TheBlockPassGivesTheLineEndsAnEvenCountFollows) {
  if (!avx2::usable()) GTEST_SKIP() << "no AVX2 here";
  std::mt19937 rng(4180);
  int given = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<char> window(64 + rng() % 300);
    const unsigned rare = 1 + rng() % 12;
    for (char& b : window)
      b = rng() % rare != 0 ? 'a' : "\"\n\"\r"[rng() % 4];
    const auto size = static_cast<qlong>(window.size());
    const auto end = static_cast<qlong>(rng() % (window.size() + 1));
    const bool oddAfter = rng() % 2 != 0;
    std::vector<std::pair<qlong, qlong>> want; // offset, line ends after it
    bool odd = oddAfter;
    qlong after = 0;
    for (qlong x = end - 1; x >= 0; --x) {
      if (window[static_cast<size_t>(x)] == '\n') {
        if (!odd) want.emplace_back(x, after);
        ++after;
      }
      odd = odd != (window[static_cast<size_t>(x)] == '"');
    }
    std::vector<std::pair<qlong, qlong>> got;
    avx2::evenScan s{window.data(), end, 0, 0, 0, oddAfter, '\n', '"'};
    while (s.even != 0 || avx2::nextEvenBlock(&s)) {
      const int bit = 63 - std::countl_zero(s.even);
      s.even &= ~(uint64_t{1} << bit);
      got.emplace_back(s.blockStart + bit, s.passed + std::popcount(s.hits >> bit >> 1));
    }
    ASSERT_EQ(got, want) << "round " << round << ", size " << size << ", end " << end;
    given += static_cast<int>(got.size());
  }
  EXPECT_GT(given, 10000); // enough line ends given for the comparison to mean something
}
#endif

#if QM_UNICODE
TEST(Widen, EveryPathGivesEveryByteAsItsCharacter) {
  // Every byte value, at every offset of a run that ends exactly where the readable bytes do.
  std::vector<char> bytes(300);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>((i * 97 + 13) % 256);
  auto expectWidened = [&](const qchar* got, size_t from, size_t n, const char* what) {
    for (size_t i = 0; i < n; ++i)
      ASSERT_EQ(got[i], static_cast<qchar>(static_cast<qbyte>(bytes[from + i])))
          << what << " from " << from << ", character " << i;
  };
  for (size_t from = 0; from + 32 <= bytes.size(); ++from) {
    qchar got[32] = {};
    widenFixed<16>(got, bytes.data() + from);
    expectWidened(got, from, 16, "widenFixed<16>");
    widenFixed<32>(got, bytes.data() + from);
    expectWidened(got, from, 32, "widenFixed<32>");
#if QM_SSE2
    if (sse2::usable()) {
      std::fill(std::begin(got), std::end(got), qchar{0});
      sse2::widen<32>(got, bytes.data() + from);
      expectWidened(got, from, 32, "sse2::widen<32>");
    }
#endif
  }
#if QM_SSE2 // and so wherever AVX2 is built
  // The long paths, every byte value among the longest texts; nothing written past a text.
  auto expectLong = [&](qlong shortest, auto widenLong, const char* what) {
    for (qlong n = shortest; n <= 299; n += n < 100 ? 1 : 33) {
      std::vector<qchar> got(static_cast<size_t>(n) + 1, 0xDEAD);
      widenLong(got.data(), bytes.data() + 1, n);
      expectWidened(got.data(), 1, static_cast<size_t>(n), what);
      EXPECT_EQ(got[static_cast<size_t>(n)], qchar{0xDEAD}) << "wrote past the text, n " << n;
    }
  };
  if (sse2::usable()) expectLong(16, sse2::widenLong, "sse2::widenLong");
#endif
#if QM_AVX2
  if (avx2::usable()) expectLong(32, avx2::widen, "avx2::widen");
#endif
}
#endif

#if QM_UNICODE
// The UTF-16 unit searches against a unit-by-unit look, over units of either byte order:
// texts of every length around the 8-unit blocks, stops, surrogates, quotes and zero units
// anywhere, each text exactly the bytes that may be read. Where the build asks the
// processor for SSE2, the plain paths are run too.
void checkUnitSearches(std::mt19937& rng, int rounds) {
  const uint32_t alphabet[] = {'a', ',', 0, '\r', '\n', '"', 0x2C00, 0xD83D, 0xDC00, 0xE9, 0x0A2C};
  for (int round = 0; round < rounds; ++round) {
    const bool big = rng() % 2 != 0;
    const auto n = static_cast<qlong>(round % 10 == 0 ? rng() % 2000 : rng() % 40);
    const unsigned rare = 1 + rng() % 60;
    std::vector<uint32_t> units(static_cast<size_t>(n));
    for (uint32_t& u : units)
      u = rng() % rare == 0 ? alphabet[rng() % std::size(alphabet)] : 'x';
    std::vector<char> bytes(2 * units.size());
    for (size_t i = 0; i < units.size(); ++i) {
      bytes[2 * i + (big ? 0 : 1)] = static_cast<char>(units[i] >> 8);
      bytes[2 * i + (big ? 1 : 0)] = static_cast<char>(units[i] & 0xFF);
    }
    const qbyte specials[7] = {',', '"', '\r', '\n', 0, ',', 0};
    qlong stop = n;
    for (qlong i = 0; i < n && stop == n; ++i) {
      const uint32_t u = units[static_cast<size_t>(i)];
      if ((u >= 0xD800 && u < 0xE000) || u == ',' || u == '"' || u == '\r' || u == '\n' || u == 0)
        stop = i;
    }
    EXPECT_EQ(FindUnitStop(bytes.data(), n, big, specials), stop) << "round " << round;
    qlong commas = 0, last = -1;
    bool watched = false;
    for (qlong i = 0; i < n; ++i) {
      const uint32_t u = units[static_cast<size_t>(i)];
      commas += u == ',' ? 1 : 0;
      watched = watched || u == '"' || u == 0x2C00;
      if (u == '\n') last = i;
    }
    const uint16_t comma = RawUnitOf(',', big);
    EXPECT_EQ(CountUnits(bytes.data(), n, comma), commas) << "round " << round;
    EXPECT_EQ(CountUnits(bytes.data(), n, comma, true, RawUnitOf('"', big), RawUnitOf(0x2C00, big)),
              watched ? -1 : commas)
        << "round " << round;
    EXPECT_EQ(LastUnit(bytes.data(), n, RawUnitOf('\n', big)), last) << "round " << round;
  }
}

TEST(Scan, TheUnitSearchesAgreeWithAUnitByUnitLook) {
  std::mt19937 rng(16);
  checkUnitSearches(rng, 4000);
#if QM_SSE2 && QM_SSE2_CHECKED
  qtest::ScopedFlag plain(sse2::gUsable, false);
  checkUnitSearches(rng, 1000);
#endif
}

#if QM_SSE2
// Units widened 8 at a time, the last 8 overlapping: each unit its own character, in either
// byte order, nothing written past the text.
TEST(Widen, UnitsBecomeTheirCharactersInEitherByteOrder) {
  if (!sse2::usable()) GTEST_SKIP() << "no SSE2 here";
  for (const bool big : {false, true}) {
    for (qlong n = 8; n <= 70; ++n) {
      std::vector<char> bytes(2 * static_cast<size_t>(n));
      for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 89 + 7) % 256);
      std::vector<qchar> got(static_cast<size_t>(n) + 1, 0xDEAD);
      sse2::widenUnits(got.data(), bytes.data(), n, big);
      for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        const auto hi = static_cast<qbyte>(bytes[2 * i + (big ? 0 : 1)]);
        const auto lo = static_cast<qbyte>(bytes[2 * i + (big ? 1 : 0)]);
        ASSERT_EQ(got[i], static_cast<qchar>(hi << 8 | lo)) << "n " << n << ", unit " << i;
      }
      EXPECT_EQ(got[static_cast<size_t>(n)], qchar{0xDEAD}) << "wrote past the text, n " << n;
    }
  }
}
#endif
#endif

} // namespace
