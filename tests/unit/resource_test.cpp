// Strings from the library's resources: the DLL's string table under Wine, the stand-ins'
// tables natively.
#include "entry/command.h"
#include "glue/extutils.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif
#if QM_MAC
#include "platform/standin/toolbox.h"
#endif

namespace {

#if QM_UNICODE
std::u32string text(const qchar* s) {
  return std::u32string(s, s + std::char_traits<qchar>::length(s));
}
#endif

#if !QM_MAC
// Where this program finds the command table: the test program carries the same resources
// as the DLL on Windows; natively the library registered them with the stand-in.
void* instance() {
#if defined(_WIN32)
  return GetModuleHandleW(nullptr);
#else
  return LibraryInstance();
#endif
}

TEST(Resources, CommandTextsByNumber) {
  oschar buf[128];
#if QM_UNICODE
  qchar chars[128];
  GetResourceStr(chars, 128, 1273, 0, 0, instance());
  EXPECT_EQ(text(chars), U"Quillomar.About():1273008");
  GetResourceStr(chars, 128, 1273, 8, 0, instance());
  EXPECT_EQ(text(chars), U"*Quillomar");
  // Too small a buffer cuts the text to maxlen - 1 characters.
  GetResourceStr(chars, 6, 1273, 0, 0, instance());
  EXPECT_EQ(text(chars), U"Quill");
#endif
  GetResourceOstr(buf, 128, 1273, 7, 0, instance());
  std::string opened(buf, buf + 30);
  EXPECT_EQ(opened, "Quillomar.OpenFile(path,fileRe");
  GetResourceOstr(buf, 10, 1273, 1, 0, instance());
  EXPECT_EQ(std::string(buf, buf + 10), std::string("Quillomar\0", 10));
}

TEST(Resources, MissingStringsAreEmpty) {
  oschar buf[16] = {7, 7, 7};
  GetResourceOstr(buf, 16, 1273, 100, 0, instance());
  EXPECT_EQ(buf[0], 0);
  buf[0] = 7;
  GetResourceOstr(buf, 1, 1273, 0, 0, instance()); // room for the terminator only
  EXPECT_EQ(buf[0], 0);
}
#else
TEST(Resources, StringListItemsInBothForms) {
  qchar buf[128];
  GetResourceStr(buf, 128, 1273, 1, 1, nullptr);
  ASSERT_EQ(buf[0], 25u);
  EXPECT_EQ(std::u32string(buf + 1, buf + 26), U"Quillomar.About():1273008");
  GetResourceStr(buf, 128, 1273, 8, 0, nullptr);
  EXPECT_EQ(
      text(buf),
      U"Quillomar.OpenFile(path,fileRefField [,fileSizeField [,stripEnclosingQuotes [,encoding "
      U"[,quoting CSV|CSV'|CSV\\]]]]):1273001");
  // Index 0 and an index past the last give the empty result in both forms.
  for (qshort index : {0, 10}) {
    buf[0] = 99;
    GetResourceStr(buf, 128, 1273, index, 1, nullptr);
    EXPECT_EQ(buf[0], 0u);
    GetResourceStr(buf, 128, 1273, index, 0, nullptr);
    EXPECT_EQ(buf[0], 0u);
  }
}

TEST(Resources, MacRomanBecomesUnicode) {
  const char* items[] = {"\xA9\xA5\xDB", "0123456789012345678901234567890123456789"};
  ToolboxRegisterStringList(4000, items, 2);
  qchar buf[64];
  GetResourceStr(buf, 64, 4000, 1, 0, nullptr);
  EXPECT_EQ(text(buf), U"\u00a9\u2022\u20ac");
  oschar units[64];
  GetResourceOstr(units, 64, 4000, 2, 1, nullptr);
  EXPECT_EQ(units[0], 40);
  EXPECT_EQ(units[40], '9');
  GetResourceOstr(units, 64, 4000, 2, 0, nullptr);
  EXPECT_EQ(units[39], '9');
  EXPECT_EQ(units[40], 0);
  // The output limit cuts the text to maxlen - 1 units.
  GetResourceOstr(units, 5, 4000, 2, 0, nullptr);
  EXPECT_EQ(std::u16string(units, units + 5), std::u16string(u"0123\0", 5));
}
#endif

// A resource text to read: on macOS a string list of its own holding macText (item 1); on
// Windows the command table's entry windowsItem.
struct TextAt {
  qshort list, item;
  void* inst;
};
TextAt someText(qshort macList, const char* macText, qshort windowsItem) {
#if QM_MAC
  const char* items[] = {macText};
  ToolboxRegisterStringList(macList, items, 1);
  (void)windowsItem;
  return {macList, 1, nullptr};
#else
  (void)macList;
  (void)macText;
  return {1273, windowsItem, instance()};
#endif
}

#if QM_UNICODE
// Sizes at the edges: nothing to write into, room for the terminator only, and a maxlen
// beyond 8191, whose work size would go negative in 16 bits.
TEST(Resources, MaximaAtTheirEdges) {
  const auto [list, item, inst] = someText(4001, "abc", 0);
  qchar one[2] = {'x', 'y'};
  GetResourceStr(one, 0, list, item, 0, inst);
  EXPECT_EQ(one[0], 'x'); // maxlen 0: nothing written
  GetResourceStr(one, 1, list, item, 0, inst);
  EXPECT_EQ(one[0], 0); // room for the terminator only
  std::vector<qchar> big(9000, 'z');
  GetResourceStr(big.data(), 9000, list, item, 0, inst);
  EXPECT_GT(text(big.data()).size(), 0u);
  oschar units[4] = {'x', 'x', 'x', 'x'};
  GetResourceOstr(units, 0, list, item, 0, inst);
  EXPECT_EQ(units[0], 'x');
  GetResourceOstr(units, 1, list, item, 0, inst);
  EXPECT_EQ(units[0], 0);
#if QM_MAC
  qchar counted[8] = {};
  GetResourceStr(counted, 8, list, item, 1, nullptr);
  EXPECT_EQ(counted[0], 3u); // the counted form: a count, then the characters
  EXPECT_EQ(counted[1], 'a');
  GetResourceStr(counted, 8, list, 9, 1, nullptr); // no such item: empty
  EXPECT_EQ(counted[0], 0u);
#endif
}
#endif

} // namespace

// A text the system fails to load or convert, at any of its calls, comes back empty: never
// half converted, never a stale buffer.
TEST(Resources, AFailedLoadOrConversionGivesAnEmptyText) {
  const auto [list, item, inst] = someText(4002, "caf\x8E", 1); // the Mac Roman e-acute
  oschar clean[64];
  GetResourceOstr(clean, 64, list, item, 0, inst);
  ASSERT_NE(clean[0], 0);
  int fired = 0;
  for (qlong n = 1; n < 8; ++n) {
    plat_fault_reset_counts();
    plat_fault_after(kFaultResourceText, n);
    oschar buf[64];
    std::fill(std::begin(buf), std::end(buf), oschar{'?'});
    GetResourceOstr(buf, 64, list, item, 0, inst);
    const bool hit = plat_fault_fired(kFaultResourceText) > 0;
    plat_fault_after(kFaultResourceText, 0);
    if (!hit) {
      EXPECT_EQ(std::basic_string<oschar>(buf), std::basic_string<oschar>(clean)) << n;
      break;
    }
    ++fired;
    EXPECT_EQ(buf[0], 0) << "call " << n;
  }
  EXPECT_GE(fired, 1);
}
