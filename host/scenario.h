// Scenario scripts: plain text, one step a line (the format is described in
// docs/scenarios.md). Parsing checks every file completely before anything runs.
#pragma once

#include "host.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qhost {

// A quoted string of a scenario: each unit is a code point, or a raw byte from a \xNN
// escape. Host text takes the units as characters; file and clipboard bytes take raw bytes
// as they are and encode the other characters as UTF-8.
struct ScriptString {
  struct Unit {
    char32_t value;
    bool rawByte;
  };
  std::vector<Unit> units;
  std::u32string chars() const;
  std::string bytes() const;
};

struct Token {
  enum Kind { Word, Number, String } kind = Word;
  std::string word; // Word: the word; Number: its spelling
  double number = 0;
  ScriptString str;
};

struct Step {
  std::string file;
  int line = 0;
  std::vector<std::string> tags; // flavour conditions, all of which must hold
  std::string verb;              // the first word ("expect" steps: "expect <what>")
  std::vector<Token> args;
  std::string text; // the line as written, for messages
};

struct Scenario {
  std::string path;
  std::vector<std::string> only; // flavours the scenario is limited to (any of them)
  std::vector<Step> steps;
};

// A malformed step, with where it stands.
class ScriptError : public std::runtime_error {
public:
  ScriptError(const std::string& file, int line, const std::string& what)
      : std::runtime_error(file + ":" + std::to_string(line) + ": " + what) {}
};

// Reads and checks one scenario file; throws ScriptError.
Scenario parseScenario(const std::string& path);
Scenario parseScenarioText(const std::string& path, const std::string& text);

// Command numbers by name ("OpenFile" or "Quillomar.OpenFile"); 0 when unknown.
int commandNumber(const std::string& name);

bool flavourMatches(Flavour f, const std::string& tag);

enum class Outcome { Passed, Failed, Skipped };

struct RunOptions {
  bool verbose = false;
  std::string workRoot; // a folder of its own is made below it for each scenario
  // Fault walks: injected faults change results, so expectations are skipped; afterCall, if
  // set, sees every executed command's number and return code instead.
  bool skipExpectations = false;
  std::function<void(const Step&, int16_t cmdNumber, const std::optional<Value>& rc)> afterCall;
};

// Runs one scenario against a loaded library; failures are written to err as
// file:line: expected ..., got ....
Outcome runScenario(const Scenario& s, const Library& lib, Flavour flavour, const RunOptions& opt,
                    std::ostream& out, std::ostream& err);

} // namespace qhost
