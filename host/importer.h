// quillomar-host import: one source imported through a library build, record by record, the
// way a host method would, and written out as a table, CSV, TSV or JSON.
#pragma once

#include "protocol.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace qhost {

struct FieldOption {
  std::string name;
  double max = 0;
  std::string delimiter; // TAB COMMA SEMICO RETURN CRLF LF EOL MAX or ASC and 1 to 3 characters
  std::string label;     // how the output names the field (a header's text); empty: name
};

enum class OutputForm { Table, Csv, Tsv, Json };

struct ImportOptions {
  std::string library;
  std::string source; // a file path, CLIPBOARD or FIELD:... is not offered: a path or CLIPBOARD
  std::vector<FieldOption> fields;
  std::vector<std::string> subs; // each: a target character and its replacement (none: deleted)
  bool strip = false;
  bool stripQuotes = false;
  bool backwards = false;
  double from = -1; // -1: the start (or the end, backwards)
  long limit = 0;   // 0: every record
  OutputForm output = OutputForm::Table;
  bool quiet = false;
  std::string encoding;   // empty: bytes as they stand
  bool csv = false;       // CSV quoting (the sixth OpenFile parameter)
  std::string quoting;    // the sixth OpenFile parameter when given (CSV, CSV', ...): wins over csv
  bool header = false;    // the first record names the fields: skipped
  double tableStart = 0;  // where the table (its header, or its first record) starts
  double tableEnd = -1;   // where a footnote starts (a sniff saw it); -1: the end of the source
  bool keepBlank = false; // blank lines are written as empty rows, not skipped
  bool strict = false;    // a short, long or stray-quote record makes the exit status 1
};

// "NAME:MAX:DELIMITER"; false (with *why) when malformed.
bool parseFieldOption(const std::string& text, FieldOption* out, std::string* why);
// A format file: one field a line, NAME MAX DELIMITER separated by blanks (a delimiter that
// holds a blank in double quotes: "ASC, "); blank lines and
// lines starting with # are skipped. False (with *why naming file:line) when malformed.
bool readFormatFile(const std::string& path, std::vector<FieldOption>* out, std::string* why);

// Runs the import; returns the exit status: 0 the source was read to its end (or the limit
// reached), 1 a command failed or a read ended early, 2 the library cannot be loaded.
int runImport(Flavour flavour, const ImportOptions& opt, std::ostream& out, std::ostream& err);

// A text quoted for CSV per RFC 4180 (also used for TSV with a tab as the separator).
std::string csvField(const std::string& text, char separator);
void appendCsvField(std::string& out, const std::string& text, char separator);
// A JSON string literal of UTF-8 text.
std::string jsonString(const std::string& text);
void appendJsonString(std::string& out, const std::string& text);
// The same written at d, which has room for 6 bytes a byte of text and 2 more; returns where
// the string ends.
char* writeJsonString(char* d, const std::string& text);

} // namespace qhost
