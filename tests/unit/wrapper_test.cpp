// The typed text wrappers against the stand-in host.
#include "glue/XPqUtil.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using qtest::InProcess;
using qtest::lit;
using qtest::var;

namespace {

TEST(Wrappers, ParametersAsEightBitText) {
  InProcess p;
  p.host().setVariable("long", qhost::Value::str(std::u32string(300, U'q')));
  p.host().setVariable("empty", qhost::Value::str(U""));
  p.host().setVariable("num", qhost::Value::num(42));
  p.inside(9, {var("long"), var("empty"), var("num"), lit("h\u00e9")}, [](qcallback cb) {
    char value[256 + 8];
    std::memset(value, 0x5A, sizeof value);
    getAsciiStringParm(211, 255, value, cb);
    EXPECT_EQ(std::string(value), std::string(255, 'q'));
    getAsciiStringParm(212, 255, value, cb);
    EXPECT_EQ(std::string(value), "");
    getAsciiStringParm(213, 255, value, cb);
    EXPECT_EQ(std::string(value), "42");
    getAsciiStringParm(214, 255, value, cb);
    EXPECT_EQ(std::string(value), "h\xE9");
    // A field the host does not know reads as empty.
    getAsciiStringParm(4242, 255, value, cb);
    EXPECT_EQ(std::string(value), "");
  });
}

TEST(Wrappers, TheDestinationIsNeverOverrun) {
  InProcess p;
  p.host().setVariable("s", qhost::Value::str(U"abcdef"));
  p.inside(9, {var("s")}, [](qcallback cb) {
    char value[5] = {1, 1, 1, 1, 1};
    getAsciiStringParm(211, 3, value, cb);
    EXPECT_EQ(std::string(value), "abc");
    EXPECT_EQ(value[4], 1); // maxlen + 1 bytes are the caller's, not one more
  });
}

TEST(Wrappers, ListCellsAsEightBitText) {
  InProcess p;
  p.host().declareList("L", {"name", "delim"});
  p.host().addRow("L", {qhost::Value::str(U"first"), qhost::Value::str(U"COMMA")});
  p.host().addRow("L", {qhost::Value::str(U"second"), qhost::Value::str(U"ASC~~~~")});
  p.inside(9, {var("L")}, [](qcallback cb) {
    qshort col = getGlobalRef("delim", cb);
    ASSERT_NE(col, 0);
    char value[11];
    getAsciiListColumn(211, col, 1, 10, value, cb);
    EXPECT_EQ(std::string(value), "COMMA");
    getAsciiListColumn(211, col, 2, 5, value, cb);
    EXPECT_EQ(std::string(value), "ASC~~");
    getAsciiListColumn(211, col, 3, 10, value, cb); // no such line
    EXPECT_EQ(std::string(value), "");
  });
}

TEST(Wrappers, StoringTextAndLookingUpNames) {
  InProcess p;
  p.host().setVariable("out", qhost::Value::str(U"old"));
  p.inside(9, {}, [](qcallback cb) {
    qshort ref = getGlobalRef("out", cb);
    ASSERT_NE(ref, 0);
    EXPECT_EQ(getGlobalRef("nothing-here", cb), 0);
    setStringField(ref, "caf\xE9", cb);
  });
  // The byte 0xE9 reaches the host as the character U+00E9 in every flavour.
  EXPECT_EQ(*p.host().variable("out"), qhost::Value::str(U"caf\u00e9"));
  p.inside(9, {var("out")}, [](qcallback cb) { setStringField(211, "", cb); });
  EXPECT_EQ(*p.host().variable("out"), qhost::Value::str(U""));
}

} // namespace
