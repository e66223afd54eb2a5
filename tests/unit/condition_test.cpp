// Conditioning of read fields: substitutions, stripping, trimming and enclosing quotes.
#include "import/reader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// The record's substitution table: a 16-bit pair count, then (target, replacement) bytes.
std::vector<qbyte> table(const std::vector<std::pair<char, char>>& pairs) {
  std::vector<qbyte> t(2 + 2 * pairs.size());
  auto n = static_cast<uint16_t>(pairs.size());
  std::memcpy(t.data(), &n, 2);
  for (size_t i = 0; i < pairs.size(); ++i) {
    t[2 + 2 * i] = static_cast<qbyte>(pairs[i].first);
    t[3 + 2 * i] = static_cast<qbyte>(pairs[i].second);
  }
  return t;
}

std::string condition(const std::string& text, bool stripping, bool quotes,
                      std::vector<qbyte> subs = {}) {
  char buffer[128] = {};
  text.copy(buffer, text.size());
  importFileSpec rec{};
  rec.stripEncQuotes = quotes ? 1 : 0;
  rec.transTable = subs.empty() ? nullptr : subs.data();
  ConditionBuffer(buffer, &rec, stripping);
  return buffer;
}

TEST(Condition, BlanksAreTrimmedAlways) {
  EXPECT_EQ(condition("  abc  ", false, false), "abc");
  EXPECT_EQ(condition("    ", false, false), "");
  EXPECT_EQ(condition("", true, true), "");
  EXPECT_EQ(condition("a b", false, false), "a b");
  // Tabs are blanks only once stripping has made them so.
  EXPECT_EQ(condition("\tab\t", false, false), "\tab\t");
  EXPECT_EQ(condition("\tab\t", true, false), "ab");
}

TEST(Condition, StrippingRemovesControlCharactersButCarriageReturns) {
  EXPECT_EQ(condition("\ta\nb\r", true, false), "ab\r");
  EXPECT_EQ(condition("x\x01y\x1Fz", true, false), "xyz");
  EXPECT_EQ(condition("x\x01y", false, false), "x\x01y");
}

TEST(Condition, Substitutions) {
  EXPECT_EQ(condition("a;b", false, false, table({{';', ','}})), "a,b");
  EXPECT_EQ(condition("1-2-3", false, false, table({{'-', 0}})), "123");
  EXPECT_EQ(condition("aaa", false, false, table({{'a', 'b'}, {'a', 'c'}})), "bbb");
  EXPECT_EQ(condition("a\xE9z", false, false, table({{'\xE9', 'e'}})), "aez");
  // The replacement is not looked up again, and a substituted tab survives stripping.
  EXPECT_EQ(condition("ab", false, false, table({{'a', 'b'}, {'b', 'c'}})), "bc");
  EXPECT_EQ(condition("axb", true, false, table({{'x', '\t'}})), "a\tb");
  // A target of 0 never matches; substitutions can make blanks that are then trimmed.
  EXPECT_EQ(condition("abc", false, false, table({{0, 'x'}})), "abc");
  EXPECT_EQ(condition("_a_", false, false, table({{'_', ' '}})), "a");
}

TEST(Condition, EnclosingQuotes) {
  EXPECT_EQ(condition("  \"  abc  \"", false, true), "abc");
  EXPECT_EQ(condition("\"abc\"  ", false, true), "\"abc\""); // blanks after the closing quote
  EXPECT_EQ(condition("\"a\"\"b\"", false, true), "a\"\"b"); // doubled quotes stay
  EXPECT_EQ(condition("\"", false, true), "");
  EXPECT_EQ(condition("\"\"", false, true), "");
  EXPECT_EQ(condition("\"abc\"", false, false), "\"abc\"");
  EXPECT_EQ(condition("abc\"", false, true), "abc\"");
  EXPECT_EQ(condition("\"abc", false, true), "\"abc");
  // Substitution comes first: it can make the quotes.
  EXPECT_EQ(condition("'x'", false, true, table({{'\'', '"'}})), "x");
}

TEST(Condition, QuotesAtTheEdgesOfWhatIsLeft) {
  EXPECT_EQ(condition("", false, true), "");
  EXPECT_EQ(condition("\"abc  \"", false, true), "abc"); // blanks before the closing quote
  EXPECT_EQ(condition("ab\"", false, true), "ab\"");     // a closing quote alone stays
  EXPECT_EQ(condition("abc", false, true), "abc");
}

} // namespace
