// quillomar-host: the stand-in host program. Subcommands: run (scenario scripts), import
// (an import of one source through a library build) and describe (what the host's method
// editor learns from a build).
#include "describe.h"
#include "importer.h"
#include "scenario.h"
#include "sniff.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "quillomar_version.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#define QHOST_GETPID _getpid
#else
#include <unistd.h>
#define QHOST_GETPID getpid
#endif

namespace {

qhost::Flavour buildFlavour() {
#if defined(QHOST_FLAVOUR_MAC)
  return qhost::Flavour::Mac;
#elif defined(QHOST_FLAVOUR_WIN8)
  return qhost::Flavour::Win8;
#else
  return qhost::Flavour::WinUnicode;
#endif
}

int runScenarios(const std::string& library, const std::vector<std::string>& files,
                 qhost::RunOptions opt) {
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

// An import with no format: the source's own, sniffed from its start, with its dialect of CSV
// quoting, its encoding, its table's bounds and, when it has one, the header's names (the
// header is then skipped). Says on stderr what it chose. *empty: the source holds nothing.
bool sniffForImport(qhost::ImportOptions* imp, bool* empty) {
  qhost::SniffResult r;
  std::string why;
  *empty = false;
  if (imp->source == "CLIPBOARD" || !qhost::sniffFile(imp->source, false, &r, &why)) {
    if (r.empty) {
      *empty = true;
      if (!imp->quiet) std::cerr << "quillomar-host: " << why << ": an empty table\n";
      return true;
    }
    std::cerr << "quillomar-host: "
              << (why.empty() ? "the clipboard cannot be sniffed: give --field or --format" : why)
              << "\n";
    return false;
  }
  if (buildFlavour() == qhost::Flavour::Win8 && r.encoding.rfind("UTF-16", 0) == 0) {
    std::cerr << "quillomar-host: " << imp->source << " holds " << r.encoding
              << " text, which the 8-bit host cannot read: convert it to a one-byte encoding "
                 "first (for example iconv -f UTF-16 -t WINDOWS-1252)\n";
    return false;
  }
  imp->fields = r.fields;
  const bool named = r.header || imp->header;
  for (size_t i = 0; i < imp->fields.size(); ++i) {
    imp->fields[i].name = named ? r.firstNames[i] : "f" + std::to_string(i + 1);
    imp->fields[i].label = named ? r.firstRow[i] : imp->fields[i].name;
  }
  imp->header = named;
  if (imp->quoting.empty()) imp->quoting = r.quoting;
  imp->tableStart = static_cast<double>(r.tableStart);
  imp->tableEnd = static_cast<double>(r.tableEnd);
  if (imp->encoding.empty() && buildFlavour() != qhost::Flavour::Win8) imp->encoding = r.encoding;
  if (!imp->quiet) {
    std::cerr << "quillomar-host: sniffed: " << qhost::describeChoice(r)
              << (imp->encoding.empty() ? "" : ", " + imp->encoding)
              << (named ? "; the header is skipped" : "") << "\n";
  }
  return true;
}

// The checks of --from and --limit: an empty text when the value is good.
std::string positionCheck(const std::string& v) {
  // Positions are exact below 2^53; the digits are judged before any conversion.
  const bool digits =
      !v.empty() && v.size() <= 16 && v.find_first_not_of("0123456789") == std::string::npos;
  return digits && std::stoll(v) <= 9007199254740991LL
             ? std::string()
             : "takes a byte position from 0 to 9007199254740991, not \"" + v + "\"";
}

std::string countCheck(const std::string& v) {
  return v.find_first_not_of("0123456789") == std::string::npos && !v.empty()
             ? std::string()
             : "takes a number of records, 0 or more (0: all), not \"" + v + "\"";
}

// The import subcommand's options as the command line gives them.
struct ImportCommand {
  qhost::ImportOptions imp;
  std::vector<std::string> fieldTexts;
  std::string formatFile;
  std::string output = "table";
};

CLI::App* addImportCommand(CLI::App& app, ImportCommand& c) {
  qhost::ImportOptions& imp = c.imp;
  auto* import = app.add_subcommand("import", "Import SOURCE record by record and write it out");
  import->alias("preview");
  import->add_option("SOURCE", imp.source, "a file path, or CLIPBOARD")->required();
  import->add_option("--library", imp.library, "the library build to load")->required();
  import->add_option("--field", c.fieldTexts,
                     "a field of the record format, in order: NAME:MAX:DELIMITER (DELIMITER: TAB "
                     "COMMA SEMICO RETURN CRLF LF EOL MAX, or ASC and 1 to 3 characters); with "
                     "neither --field nor --format the format is sniffed from the source");
  import->add_option("--format", c.formatFile,
                     "a format file: one field a line, NAME MAX DELIMITER; # starts a comment");
  import->add_option("--subs", imp.subs,
                     "a substitution: a character and its replacement (one character alone: it "
                     "is deleted); repeat for more");
  import->add_flag("--strip", imp.strip, "remove control characters (tabs become blanks)");
  import->add_flag("--strip-quotes", imp.stripQuotes, "remove a pair of enclosing double quotes");
  import->add_flag("--backwards", imp.backwards, "read from the last record to the first");
  import
      ->add_option("--from", imp.from,
                   "the byte position to start at (default: the start, or the end backwards)")
      ->check(CLI::Validator(positionCheck, "POSITION"));
  import
      ->add_option("--table-start", imp.tableStart,
                   "where the table starts, past a preamble: its header under --header, else "
                   "its first record (a sniff says where)")
      ->check(CLI::Validator(positionCheck, "POSITION"));
  import->add_option("--limit", imp.limit, "at most this many records (0: all)")
      ->check(CLI::Validator(countCheck, "N"));
  import->add_option("--output", c.output, "table, csv (RFC 4180), tsv or json")
      ->check(CLI::IsMember({"table", "csv", "tsv", "json"}));
  import
      ->add_option("--encoding", imp.encoding,
                   "the source's encoding (the Unicode builds decode it; any case): "
                   "UTF-8, Windows-1252 or CP1252, ISO-8859-1 or Latin-1, ISO-8859-15 or "
                   "Latin-9, Mac Roman or macintosh, UTF-16LE, UTF-16BE or UTF-16 (the "
                   "byte-order mark decides); empty for bytes as they stand")
      ->check(CLI::IsMember({"", "utf-8", "windows-1252", "cp1252", "iso-8859-1", "latin-1",
                             "latin1", "iso-8859-15", "latin-9", "mac roman", "macroman",
                             "macintosh", "utf-16le", "utf-16be", "utf-16"},
                            CLI::ignore_case));
  import->add_flag("--quiet", imp.quiet, "no progress bar and no summary");
  import->add_flag("--csv", imp.csv,
                   "CSV quoting (RFC 4180): quoted values hold delimiters, line ends and doubled "
                   "quotes");
  import
      ->add_option("--quoting", imp.quoting,
                   "the quoting: CSV (RFC 4180), CSV' (values quoted with apostrophes), CSV\\ (a "
                   "backslash makes the next character literal) or CSV'\\; implies --csv")
      ->check(CLI::IsMember({"CSV", "CSV'", "CSV\\", "CSV'\\", "csv", "csv'", "csv\\", "csv'\\"}));
  import->add_flag("--keep-blank", imp.keepBlank,
                   "write blank lines as empty rows (under CSV quoting they are skipped)");
  import->add_flag("--strict", imp.strict,
                   "exit 1 when any record is short, long or holds a stray quote (CSV quoting)");
  import->add_flag("--header", imp.header,
                   "the first record is a header: skip it (and name the fields after it when the "
                   "format is sniffed)");
  return import;
}

// The format (given, read from a file or sniffed), the substitutions and the output form
// checked, then the import itself.
int runImportCommand(ImportCommand& c) {
  qhost::ImportOptions& imp = c.imp;
  std::string why;
  for (const auto& text : c.fieldTexts) {
    qhost::FieldOption f;
    if (!qhost::parseFieldOption(text, &f, &why)) {
      std::cerr << "quillomar-host: " << why << "\n";
      return 2;
    }
    imp.fields.push_back(f);
  }
  if (!c.formatFile.empty() && !qhost::readFormatFile(c.formatFile, &imp.fields, &why)) {
    std::cerr << "quillomar-host: " << why << "\n";
    return 2;
  }
  if (imp.fields.empty()) {
    bool empty = false;
    if (!sniffForImport(&imp, &empty)) return 2;
    if (empty) return 0; // an empty table: nothing to write
  }
  for (const auto& pair : imp.subs) {
    if (qhost::fromUtf8(pair).empty() || qhost::fromUtf8(pair).size() > 2) {
      std::cerr << "quillomar-host: --subs takes one or two characters, not \"" << pair << "\"\n";
      return 2;
    }
  }
  imp.output = c.output == "csv"    ? qhost::OutputForm::Csv
               : c.output == "tsv"  ? qhost::OutputForm::Tsv
               : c.output == "json" ? qhost::OutputForm::Json
                                    : qhost::OutputForm::Table;
  return qhost::runImport(buildFlavour(), imp, std::cout, std::cerr);
}

} // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // The output's bytes as written: CSV's CRLF must not become CR CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  CLI::App app{std::string("The stand-in host of the Quillomar external command library (") +
                   qhost::flavourName(buildFlavour()) +
                   " flavour): imports sources through a "
                   "library build, describes a build, and runs scenario scripts against it.",
               "quillomar-host"};
  app.set_version_flag("--version", std::string("quillomar-host ") + QM_VERSION_STRING + " (" +
                                        qhost::flavourName(buildFlavour()) + ")");
  app.require_subcommand(1);
  app.allow_windows_style_options(false); // "/path" is a path, also on Windows
  app.footer("Exit status: 0 success, 1 a command failed or a read ended early (import) or an "
             "expectation failed (run), 2 a bad command line, a missing library or a malformed "
             "format file or scenario.");

  ImportCommand importCommand;
  auto* import = addImportCommand(app, importCommand);

  std::string sniffPath;
  bool sniffAll = false;
  auto* sniff = app.add_subcommand(
      "sniff", "Guess the record format of a delimited text file and print it as a format file");
  sniff->add_option("FILE", sniffPath, "the file to look at")->required();
  sniff->add_flag("--all", sniffAll, "read the whole file, not only its first MiB");

  std::string describeLibrary;
  auto* describe = app.add_subcommand(
      "describe", "Show the command table and the design labels a build gives the host");
  describe->add_option("--library", describeLibrary, "the library build to load")->required();

  std::string runLibrary;
  std::vector<std::string> files;
  qhost::RunOptions opt;
  auto* run = app.add_subcommand("run", "Run scenario scripts (docs/scenarios.md) against a build");
  run->add_option("FILE", files, "scenario scripts; all are read and checked first")->required();
  run->add_option("--library", runLibrary, "the library build to load")->required();
  run->add_flag("--verbose", opt.verbose, "print each step and each command's return code");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2; // --help and --version exit 0, mistakes 2
  }
  if (*import) return runImportCommand(importCommand);
  if (*sniff) return qhost::runSniff(buildFlavour(), sniffPath, sniffAll, std::cout, std::cerr);
  if (*describe) return qhost::runDescribe(buildFlavour(), describeLibrary, std::cout, std::cerr);
  return runScenarios(runLibrary, files, opt);
}
