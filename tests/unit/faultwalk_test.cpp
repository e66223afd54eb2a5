// The fault walk: every scenario of the suite, run again and again with the N-th call of one
// kind failing (N = 1, 2, ... until a run reaches no N-th call), once and from then on. No run
// may crash, break the host protocol or keep a block or file after unload; a command during
// which a fault struck answers what it answers without faults or the code for that failure.
// Short reads change nothing at all.
#include "harness.h"
#include "host/scenario.h"
#include "base/avx2.h"
#include "base/sse2.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Kind {
  PlatFault fault;
  const char* name;
  std::set<double> codes; // what a command struck by this fault may answer
};

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> k = {
      {kFaultPtrNew, "pointer allocation", {4}},  {kFaultHandleNew, "handle allocation", {4}},
      {kFaultHandleResize, "handle resize", {4}}, {kFaultFileOpen, "file open", {2, 5}},
      {kFaultFileSize, "file size", {5}},         {kFaultFileSeek, "file seek", {5, 7}},
      {kFaultFileRead, "file read", {5}},         {kFaultFileShortRead, "short read", {}},
      {kFaultFileClose, "file close", {5}},       {kFaultClipboard, "clipboard", {3, 4}},
      {kFaultResourceText, "resource text", {}}, // a label goes; no command's code changes
  };
  return k;
}

std::vector<qhost::Scenario> suite() {
  std::vector<qhost::Scenario> out;
  for (const char* dir : {"tests/scenarios", "examples"}) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(QM_SOURCE_DIR) / dir))
      if (e.path().extension() == ".qs") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files)
      out.push_back(qhost::parseScenario(f.string()));
  }
  return out;
}

// One run of a scenario; the return code of every command, in order.
struct ScenarioRun {
  qhost::Outcome outcome;
  std::vector<double> codes;
  std::vector<bool> struck; // whether a fault struck during that command
  std::string log;
};

ScenarioRun runOnce(const qhost::Scenario& sc, const qhost::Library& lib, PlatFault fault) {
  ScenarioRun run;
  qhost::RunOptions opt;
  opt.skipExpectations = true;
  opt.workRoot = (fs::temp_directory_path() / "quillomar-faultwalk").string();
  qlong firedBefore = plat_fault_fired(fault);
  opt.afterCall = [&](const qhost::Step&, int16_t, const std::optional<qhost::Value>& rc) {
    run.codes.push_back(rc ? rc->asNumber() : -99);
    run.struck.push_back(plat_fault_fired(fault) != firedBefore);
    firedBefore = plat_fault_fired(fault);
  };
  std::ostringstream out, err;
  run.outcome = qhost::runScenario(sc, lib, qtest::buildFlavour(), opt, out, err);
  run.log = err.str();
  return run;
}

void disarmAll() {
  for (const Kind& k : kinds())
    plat_fault_after(k.fault, 0);
}

TEST(FaultWalk, EveryReachedCallFailsSoundly) {
  auto lib = qtest::linkedLibrary();
  const std::vector<qhost::Scenario> scenarios = suite();
  std::map<std::string, std::pair<long, long>> sites; // kind: failed, reached
  for (const qhost::Scenario& sc : scenarios) {
    disarmAll();
    plat_fault_reset_counts();
    const ScenarioRun clean = runOnce(sc, *lib, kFaultPtrNew);
    if (clean.outcome == qhost::Outcome::Skipped) continue;
    ASSERT_EQ(clean.outcome, qhost::Outcome::Passed) << sc.path << "\n" << clean.log;
    for (const Kind& kind : kinds()) {
      for (bool persistent : {false, true}) {
        for (qlong n = 1;; ++n) {
          disarmAll();
          plat_fault_reset_counts();
          if (persistent)
            plat_fault_from(kind.fault, n);
          else
            plat_fault_after(kind.fault, n);
          const ScenarioRun run = runOnce(sc, *lib, kind.fault);
          const bool fired = plat_fault_fired(kind.fault) > 0;
          disarmAll();
          const std::string where = sc.path + ", " + kind.name + (persistent ? " from" : " at") +
                                    " call " + std::to_string(n);
          // No crash got us here; nothing may leak or break the protocol. Only a close that
          // the system refuses for good can keep a file open beyond unload.
          const bool refusedClose =
              persistent && kind.fault == kFaultFileClose &&
              run.log.find("file(s) still open after unload") != std::string::npos &&
              run.log.find("memory block") == std::string::npos;
          ASSERT_TRUE(run.outcome == qhost::Outcome::Passed || refusedClose) << where << "\n"
                                                                             << run.log;
          if (!fired) break;
          if (!persistent) {
            sites[kind.name].first += 1;
          }
          ASSERT_EQ(run.codes.size(), clean.codes.size()) << where;
          for (size_t i = 0; i < run.codes.size(); ++i) {
            if (kind.fault == kFaultFileShortRead) {
              ASSERT_EQ(run.codes[i], clean.codes[i]) << where << ", command " << i + 1;
              continue;
            }
            if (!run.struck[i] || run.codes[i] == clean.codes[i]) continue;
            // A load that failed leaves the library unloaded: later commands answer -1.
            ASSERT_TRUE(kind.codes.count(run.codes[i]) || run.codes[i] == -1)
                << where << ", command " << i + 1 << " answered " << run.codes[i]
                << " (without the fault " << clean.codes[i] << ")";
          }
        }
      }
      plat_fault_reset_counts();
      runOnce(sc, *lib, kind.fault);
      sites[kind.name].second += plat_fault_calls(kind.fault);
    }
  }
  disarmAll();
  std::printf("fault walk: sites failed / sites reached\n");
  for (const Kind& kind : kinds()) {
    auto [failed, reached] = sites[kind.name];
    std::printf("  %-20s %6ld / %ld\n", kind.name, failed, reached);
    EXPECT_EQ(failed, reached) << kind.name;
  }
}

#if QM_SSE2 && QM_SSE2_CHECKED
// A build that asks the processor for SSE2 runs its plain paths on one without it: every
// scenario, expectations and all, must pass on them too (searches, widening, the UTF-16
// narrowing and the backward masks each have a plain twin).
TEST(FaultWalk, ScenariosPassOnThePlainPaths) {
  qtest::ScopedFlag noSse2(sse2::gUsable, false);
#if QM_AVX2
  qtest::ScopedFlag noAvx2(avx2::gUsable, false);
#endif
  auto lib = qtest::linkedLibrary();
  int passed = 0;
  for (const qhost::Scenario& sc : suite()) {
    qhost::RunOptions opt;
    opt.workRoot = (fs::temp_directory_path() / "quillomar-plain").string();
    std::ostringstream out, err;
    const qhost::Outcome o = qhost::runScenario(sc, *lib, qtest::buildFlavour(), opt, out, err);
    EXPECT_NE(o, qhost::Outcome::Failed) << sc.path << "\n" << err.str();
    passed += o == qhost::Outcome::Passed ? 1 : 0;
  }
  EXPECT_GT(passed, 10);
}
#endif

} // namespace
