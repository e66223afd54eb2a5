// The scenario language: what it accepts, what it refuses, and where it says so.
#include "host/scenario.h"

#include <gtest/gtest.h>

namespace {

std::string errorOf(const std::string& text) {
  try {
    qhost::parseScenarioText("t.qs", text);
  } catch (const qhost::ScriptError& e) {
    return e.what();
  }
  return "";
}

TEST(ScenarioScript, MalformedStepsAreReportedWithTheirLine) {
  EXPECT_EQ(errorOf("load\n\nfrobnicate\n"), "t.qs:3: unknown step \"frobnicate\"");
  EXPECT_EQ(errorOf("call Nope\n"), "t.qs:1: unknown command Nope");
  EXPECT_EQ(errorOf("call About x\n"), "t.qs:1: unknown variable x (declare it first)");
  EXPECT_EQ(errorOf("char s \"open\n"), "t.qs:1: a string is not closed");
  EXPECT_EQ(errorOf("file f \"\\q\"\n"), "t.qs:1: unknown escape \\q");
  EXPECT_EQ(errorOf("file f \"\\x4\"\n"), "t.qs:1: \\x takes two hexadecimal digits");
  EXPECT_EQ(errorOf("@linux load\n"), "t.qs:1: unknown flavour tag @linux");
  EXPECT_EQ(errorOf("load\nonly mac\n"), "t.qs:2: \"only\" goes before the first step");
  EXPECT_EQ(errorOf("list L a b\nrow L 1\n"), "t.qs:2: list L has 2 columns");
  EXPECT_EQ(errorOf("expect x = 1\n"), "t.qs:1: unknown variable x");
  EXPECT_EQ(errorOf("number n \"text\"\n"), "t.qs:1: a number variable takes a number");
}

TEST(ScenarioScript, WellFormedStepsParse) {
  qhost::Scenario s = qhost::parseScenarioText("t.qs", R"qs(only windows mac
# a comment
number n 2.9   # trailing comment
char s "a\tb"
list L name size
row L "f" 10
call #9 n s L 3 "lit"
call Quillomar.OpenFile s n
@!8bit expect n = 2
design ReadRecord 5
expect label "Parms: ()" 9
)qs");
  EXPECT_EQ(s.only, (std::vector<std::string>{"windows", "mac"}));
  ASSERT_EQ(s.steps.size(), 9u);
  EXPECT_EQ(s.steps[4].verb, "call");
  EXPECT_EQ(s.steps[4].args[0].word, "#9");
  EXPECT_EQ(s.steps[6].tags, (std::vector<std::string>{"!8bit"}));
  EXPECT_EQ(s.steps[6].line, 9);
}

TEST(ScenarioScript, StringsGiveCharactersAndBytes) {
  qhost::Scenario s =
      qhost::parseScenarioText("t.qs", "file f \"a\\r\\n\\0\\xFF\\u{20AC}\\\"\\\\\u00e9\"\n");
  const qhost::ScriptString& str = s.steps[0].args[1].str;
  EXPECT_EQ(str.bytes(), std::string("a\r\n\0\xFF\xE2\x82\xAC\"\\\xC3\xA9", 12));
  EXPECT_EQ(str.chars(), (std::u32string{U'a', U'\r', U'\n', 0, 0xFF, 0x20AC, U'"', U'\\', 0xE9}));
}

TEST(ScenarioScript, FlavourTags) {
  using qhost::Flavour;
  EXPECT_TRUE(qhost::flavourMatches(Flavour::Win8, "windows"));
  EXPECT_FALSE(qhost::flavourMatches(Flavour::Win8, "unicode"));
  EXPECT_TRUE(qhost::flavourMatches(Flavour::Mac, "unicode"));
  EXPECT_TRUE(qhost::flavourMatches(Flavour::Mac, "!windows"));
  EXPECT_FALSE(qhost::flavourMatches(Flavour::WinUnicode, "8bit"));
  EXPECT_EQ(qhost::commandNumber("Quillomar.ReadUpTo"), 4);
  EXPECT_EQ(qhost::commandNumber("readupto"), 0);
}

} // namespace
