// The callback adapter against the stand-in host's real callback (function or record).
#include "glue/callback.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <string>

using qtest::InProcess;
using qtest::lit;
using qtest::var;

namespace {

std::basic_string<qchar> q(const char* s) {
  return std::basic_string<qchar>(s, s + std::char_traits<char>::length(s));
}

TEST(Adapter, NumbersTruncateTowardZero) {
  InProcess p;
  p.host().setVariable("n", qhost::Value::num(2.9));
  p.host().setVariable("m", qhost::Value::num(-2.9));
  p.inside(9, {var("n"), var("m")}, [](qcallback cb) {
    EXPECT_EQ(GetFldInt(211, cb), 2);
    EXPECT_EQ(GetFldLong(211, cb), 2);
    EXPECT_EQ(GetFldInt(212, cb), -2);
    EXPECT_EQ(GetFldLong(212, cb), -2);
    EXPECT_EQ(GetFldInt(kParamCountField, cb), 2);
  });
}

TEST(Adapter, OutOfRangeNumbers) {
  InProcess p;
  p.inside(9, {lit(40000), lit(-40000), lit(3e9), lit(-3e9), lit(2147483647)}, [](qcallback cb) {
#if QM_MAC
    EXPECT_EQ(GetFldInt(211, cb), -32768);
    EXPECT_EQ(GetFldInt(212, cb), -32768);
#else
    EXPECT_EQ(GetFldInt(211, cb), -25536); // the low 16 bits of the 32-bit value
    EXPECT_EQ(GetFldInt(212, cb), 25536);
#endif
    EXPECT_EQ(GetFldLong(213, cb), INT32_MIN);
    EXPECT_EQ(GetFldLong(214, cb), INT32_MIN);
    EXPECT_EQ(GetFldLong(215, cb), 2147483647);
  });
}

TEST(Adapter, ListNumbersTruncateLikeFields) {
  InProcess p;
  p.host().declareList("L", {"size"});
  p.host().addRow("L", {qhost::Value::num(2.9)});
  p.host().addRow("L", {qhost::Value::num(-2.9)});
  p.host().addRow("L", {qhost::Value::num(40000)});
  const int16_t col = p.host().fieldRef("size");
  p.inside(9, {var("L")}, [col](qcallback cb) {
    EXPECT_EQ(GetLstInt(211, 1, col, cb), 2);
    EXPECT_EQ(GetLstInt(211, 2, col, cb), -2);
    EXPECT_EQ(GetLstInt(211, 3, col, cb), QM_MAC ? -32768 : -25536);
    qreal lines = 0;
    GetLstVal(211, 0, GetFldRef(q("#LN").c_str(), cb), fmtNumber, 10, &lines, cb);
    EXPECT_EQ(lines, 3);
  });
}

TEST(Adapter, WritesReachTheBoundVariable) {
  InProcess p;
  p.host().setVariable("ref", qhost::Value::num(5));
  p.inside(9, {var("ref"), lit(1)}, [](qcallback cb) {
    SetFldInt(kReturnCodeField, -1, cb);
    SetFldLong(211, 123456789, cb);
    SetFldLong(212, -7, cb); // a literal parameter: written to a temporary only
  });
  ASSERT_TRUE(p.host().returnCode());
  EXPECT_EQ(*p.host().returnCode(), qhost::Value::num(-1));
  EXPECT_EQ(*p.host().variable("ref"), qhost::Value::num(123456789));
  EXPECT_EQ(p.host().last().writes, 3);
}

TEST(Adapter, NumbersSurviveTheTripThroughTheHostForm) {
  InProcess p;
  p.host().setVariable("x", qhost::Value::num(0));
  for (double v : {0.0, 1.0, -1.0, 0.1, 1e300, -3.25e-310, 65535.5, 2147483647.0}) {
    p.inside(9, {var("x")}, [v](qcallback cb) {
      qreal in = v;
      SetFldVal(211, fmtNumber, &in, cb);
      qreal out = -99;
      GetFldVal(211, fmtNumber, 10, &out, cb);
      EXPECT_EQ(static_cast<double>(out), v);
    });
    EXPECT_EQ(*p.host().variable("x"), qhost::Value::num(v));
  }
}

TEST(Adapter, FieldReferencesByName) {
  InProcess p;
  p.host().setVariable("Known", qhost::Value::num(1));
  const int16_t known = p.host().fieldRef("Known");
  ASSERT_NE(known, 0);
  p.inside(9, {}, [known](qcallback cb) {
    EXPECT_EQ(GetFldRef(q("Known").c_str(), cb), known);
    EXPECT_EQ(GetFldRef(q("unknown").c_str(), cb), 0);
    EXPECT_EQ(GetFldRef(q("").c_str(), cb), 0);
  });
}

TEST(Adapter, LongNamesAreCutAt255) {
  InProcess p;
  const std::string longName(255, 'v');
  p.host().setVariable(longName, qhost::Value::num(1));
  const int16_t ref = p.host().fieldRef(longName);
  p.inside(9, {}, [ref, longName](qcallback cb) {
    // 300 characters reach the host as their first 255, which name the variable.
    std::basic_string<qchar> name(300, 'v');
    name[260] = 'x';
    EXPECT_EQ(GetFldRef(name.c_str(), cb), ref);
  });
}

TEST(Adapter, SthandleCountsAndCuts) {
  str255 s{};
  std::basic_string<qchar> text(300, 'a');
  text[254] = 'z';
  text[255] = 'y';
  sthandle(text.c_str(), &s);
  EXPECT_EQ(s.len, 255u);
  EXPECT_EQ(s.content[254], static_cast<qchar>('z'));
  qchar empty[1] = {0};
  sthandle(empty, &s);
  EXPECT_EQ(s.len, 0u);
}

TEST(Adapter, StringsAndLengths) {
  InProcess p;
  p.host().setVariable("s", qhost::Value::str(U"hello"));
  p.inside(9, {var("s")}, [](qcallback cb) {
    qlong len = -1;
    GetFldVal(211, fmtLength, 4, &len, cb);
    EXPECT_EQ(len, 5);
    qchar buf[8] = {};
    GetFldVal(211, fmtString, 3, buf, cb);
    EXPECT_EQ(std::basic_string<qchar>(buf), q("hel"));
    SetFldVal(211, fmtString, const_cast<qchar*>(q("bye").c_str()), cb);
  });
  EXPECT_EQ(*p.host().variable("s"), qhost::Value::str(U"bye"));
}

TEST(Adapter, CommandNumberAndDesignPointer) {
  InProcess p;
  p.inside(7, {}, [](qcallback cb) {
    EXPECT_EQ(GetPackageId(cb), 7);
    EXPECT_EQ(GetDesignPtr(cb), nullptr); // no design record during an execute message
  });
}

} // namespace

#include "glue/XPqUtil.h"
#include "platform/platform.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

TEST(Adapter, HandleReadsResizeTheLibrarysBlock) {
  InProcess p;
  p.host().setVariable("t", qhost::Value::str(U"A\u00e9z"));
  p.host().setVariable("empty", qhost::Value::str(U""));
  p.inside(9, {var("t"), var("empty")}, [](qcallback cb) {
    XPHandle h = NewXPHandle(4);
    GetFldVal(211, fmtHandle, 0, &h, cb);
    ASSERT_NE(h, nullptr);
    auto* block = static_cast<unsigned char*>(LockXPHandle(h));
    qlong count;
    std::memcpy(&count, block, 4);
    EXPECT_EQ(count, 3);
    qchar chars[3];
    std::memcpy(chars, block + 4, sizeof chars);
    EXPECT_EQ(chars[0], static_cast<qchar>('A'));
    EXPECT_EQ(chars[1], static_cast<qchar>(0xE9));
    EXPECT_EQ(chars[2], static_cast<qchar>('z'));
    UnlockXPHandle(h);
    DisposeXPHandle(h);

    XPHandle e = NewXPHandle(4);
    GetFldVal(212, fmtHandle, 0, &e, cb);
    std::memcpy(&count, LockXPHandle(e), 4);
    EXPECT_EQ(count, 0);
    UnlockXPHandle(e);
    DisposeXPHandle(e);
  });
}

#if QM_MAC
std::string hex(const qx80& x) {
  std::string out;
  char buf[4];
  for (uint8_t b : x.bytes) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += buf;
  }
  return out;
}

TEST(ExtendedNumbers, KnownBitPatterns) {
  struct Case {
    long double value;
    const char* bytes;
  } cases[] = {
      {0.0L, "00000000000000000000"},           {1.0L, "3FFF8000000000000000"},
      {-2.0L, "C0008000000000000000"},          {0.5L, "3FFE8000000000000000"},
      {3.0L, "4000C000000000000000"},           {40000.0L, "400E9C40000000000000"},
      {-2147483648.0L, "C01E8000000000000000"},
  };
  for (const auto& c : cases) {
    qx80 x{};
    plat_real_to_x80(c.value, &x);
    EXPECT_EQ(hex(x), c.bytes) << static_cast<double>(c.value);
    EXPECT_EQ(plat_x80_to_real(&x), c.value);
  }
}

TEST(ExtendedNumbers, LibraryAndHostAgreeOnEveryDouble) {
  // Two independent conversions: the library's through the value, the host's through the
  // bits of the double. They must give the same bytes and the same values back.
  for (double v : {1e-310, -4.9e-324, 0.1, 123456.789, 1e308, -1e-5, 2.9, -2.9, 65535.0}) {
    qx80 lib{};
    plat_real_to_x80(v, &lib);
    qhost::Extended80 host = qhost::toExtended(v);
    EXPECT_EQ(std::memcmp(lib.bytes, host.bytes, 10), 0) << v;
    EXPECT_EQ(static_cast<double>(plat_x80_to_real(&lib)), v);
    EXPECT_EQ(qhost::fromExtended(host), v);
  }
  qx80 inf{};
  plat_real_to_x80(HUGE_VALL, &inf);
  EXPECT_EQ(hex(inf), "7FFF8000000000000000");
  qx80 nan{};
  plat_real_to_x80(NAN, &nan);
  EXPECT_TRUE(std::isnan(plat_x80_to_real(&nan)));
}
#endif

} // namespace
