// The library's return codes and the host's own copy of them agree, and the import tool names
// every code the method author's guide lists.
#include "../../host/protocol.h"
#include "../../import/results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

// Each pair written once here: a code renumbered on one side only fails to compile.
static_assert(kResultNotLoaded == qhost::kRcNotLoaded && kResultOk == qhost::kRcOk &&
              kResultNoFormat == qhost::kRcNoFormat && kResultCannotOpen == qhost::kRcCannotOpen &&
              kResultBadParameter == qhost::kRcBadParameter &&
              kResultNoMemory == qhost::kRcNoMemory && kResultIoError == qhost::kRcIoError &&
              kResultNoSuchFile == qhost::kRcNoSuchFile && kResultAtEnd == qhost::kRcAtEnd &&
              kResultShortFixed == qhost::kRcShortFixed &&
              kResultNoDelimiter == qhost::kRcNoDelimiter &&
              kResultPositionLost == qhost::kRcPositionLost &&
              kResultTooLong == qhost::kRcTooLong && kResultShortRecord == qhost::kRcShortRecord &&
              kResultLongRecord == qhost::kRcLongRecord &&
              kResultStrayQuote == qhost::kRcStrayQuote);

// The codes of the guide's result-code table, in its order.
std::vector<int> guideCodes() {
  std::ifstream in(std::string(QM_SOURCE_DIR) + "/docs/commands.md");
  std::vector<int> codes;
  std::string line;
  bool inTable = false;
  const std::regex row(R"(^\| *(-?[0-9]+) *\|)");
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) inTable = line == "## Result codes";
    std::smatch m;
    if (inTable && std::regex_search(line, m, row)) codes.push_back(std::stoi(m[1]));
  }
  return codes;
}

TEST(ResultCodes, TheToolNamesEveryCodeOfTheGuide) {
  const auto codes = guideCodes();
  ASSERT_GE(codes.size(), 16u) << "the guide's table was not found";
  std::set<std::string> texts;
  for (int code : codes) {
    const std::string text = qhost::resultText(code);
    EXPECT_NE(text, "unknown result") << "code " << code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), codes.size()) << "two codes share one text";
  EXPECT_EQ(std::string(qhost::resultText(kResultStrayQuote + 1)), "unknown result");
}

TEST(ResultCodes, TheGuideListsEveryCodeOfTheLibrary) {
  const auto codes = guideCodes();
  for (qshort code = kResultNotLoaded; code <= kResultStrayQuote; ++code)
    EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << "code " << code;
}

} // namespace
