// The byte searches under the reader: the 16-byte search (where the build has it) and the
// plain word search must both find what a byte-by-byte look finds, at every alignment, for
// every limit and readable end, with zero bytes and the searched byte anywhere.
#include "import/scan.h"

#include <gtest/gtest.h>

#include <random>
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

} // namespace
