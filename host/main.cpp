// quillomar-host: the stand-in host program.
#include "preview.h"
#include "scenario.h"

#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#define QHOST_GETPID _getpid
#else
#include <unistd.h>
#define QHOST_GETPID getpid
#endif

namespace {

constexpr const char* kUsage = R"(usage: quillomar-host run --library PATH [--verbose] FILE...
       quillomar-host preview --library PATH --field NAME:MAX:DELIMITER... [options] SOURCE
       quillomar-host --help

The stand-in host for the Quillomar external command library. It loads a library build
(this host is built for the %s flavour), plays the host's side of the interface,
and runs scenario scripts against it.

Commands:
  run       Run each scenario FILE against the library. Every file is read and
            checked before anything runs.

  preview   Import SOURCE (a file path, CLIPBOARD) through the library with the
            record format given by the --field options, in order, and print each
            record. DELIMITER is one of TAB COMMA SEMICO RETURN CRLF MAX or ASC
            followed by one to three characters.

Options:
  --library PATH   the library build to load (required)
  --verbose        run: print each step as it runs, and each command's return code
  --strip-quotes   preview: remove enclosing double quotes from fields
  --strip          preview: remove control characters (tabs become blanks)
  --backwards      preview: read the records from the last to the first
  --limit N        preview: at most N records (1000)
  --help           show this text

Exit status of run: 0 when every scenario passed (or was skipped for this flavour), 1 when
an expectation failed (file:line, expected and actual are printed), 2 when a scenario is
malformed, the library cannot be loaded or the command line is wrong. Of preview: 0 when
the source was read to its end, 1 when a command failed or a read ended early, 2 as above.

The scenario format is described in docs/scenarios.md.
)";

qhost::Flavour buildFlavour() {
#if defined(QHOST_FLAVOUR_MAC)
  return qhost::Flavour::Mac;
#elif defined(QHOST_FLAVOUR_WIN8)
  return qhost::Flavour::Win8;
#else
  return qhost::Flavour::WinUnicode;
#endif
}

int usage(const char* problem) {
  if (problem) std::cerr << "quillomar-host: " << problem << "\n";
  std::fprintf(problem ? stderr : stdout, kUsage, qhost::flavourName(buildFlavour()));
  return problem ? 2 : 0;
}

int run(const std::vector<std::string>& args) {
  std::string library;
  qhost::RunOptions opt;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--library") {
      if (i + 1 == args.size()) return usage("--library needs a path");
      library = args[++i];
    } else if (args[i] == "--verbose") {
      opt.verbose = true;
    } else if (args[i].rfind("--", 0) == 0) {
      return usage(("unknown option " + args[i]).c_str());
    } else {
      files.push_back(args[i]);
    }
  }
  if (library.empty()) return usage("run needs --library PATH");
  if (files.empty()) return usage("run needs at least one scenario file");

  std::vector<qhost::Scenario> scenarios;
  try {
    for (const auto& f : files)
      scenarios.push_back(qhost::parseScenario(f));
  } catch (const qhost::ScriptError& e) {
    std::cerr << e.what() << "\n";
    return 2;
  }

  std::string error;
  qhost::Flavour flavour = buildFlavour();
  // Resolve the path before the scenarios change the working folder.
  std::error_code ec;
  auto abs = std::filesystem::absolute(library, ec);
  std::unique_ptr<qhost::Library> lib =
      qhost::Library::open(ec ? library : abs.string(), flavour, &error);
  if (!lib) {
    std::cerr << "quillomar-host: " << error << "\n";
    return 2;
  }

  namespace fs = std::filesystem;
  // Each scenario runs in a folder of its own under the temporary folder; where the
  // environment names none that exists (TMPDIR), under the current folder.
  std::error_code tec;
  fs::path base = fs::temp_directory_path(tec);
  if (tec) base = fs::current_path(tec);
  fs::path root = base / ("quillomar-host-" + std::to_string(QHOST_GETPID()));
  if (tec || (fs::create_directories(root, tec), tec)) {
    std::cerr << "quillomar-host: no folder to run scenarios in (" << root.string()
              << "): " << tec.message() << "\n";
    return 2;
  }
  opt.workRoot = root.string();
  int passed = 0, failed = 0, skipped = 0;
  for (auto& sc : scenarios) {
    sc.path = fs::path(sc.path).lexically_normal().generic_string();
    switch (qhost::runScenario(sc, *lib, flavour, opt, std::cout, std::cerr)) {
    case qhost::Outcome::Passed:
      ++passed;
      break;
    case qhost::Outcome::Failed:
      ++failed;
      break;
    case qhost::Outcome::Skipped:
      ++skipped;
      break;
    }
  }
  fs::remove_all(root, ec);
  std::cout << "scenarios: " << passed << " passed, " << failed << " failed, " << skipped
            << " skipped\n";
  return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage("no command given");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") return usage(nullptr);
  if (args[0] == "run") return run(std::vector<std::string>(args.begin() + 1, args.end()));
  if (args[0] == "preview")
    return qhost::runPreview(buildFlavour(), std::vector<std::string>(args.begin() + 1, args.end()),
                             std::cout, std::cerr);
  return usage(("unknown command " + args[0]).c_str());
}
