// quillomar-host sniff: a record format guessed from the start of a delimited text file,
// written as a format file that `import --format` reads.
#pragma once

#include "importer.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace qhost {

struct SniffResult {
  std::vector<FieldOption> fields;   // named after the header when there is one, else f1...fN
  std::string delimiter;             // COMMA, TAB, SEMICO or ASC... (the fields but the last)
  std::string lineEnd;               // CRLF, LF, EOL (mixed) or RETURN
  std::string quoting = "CSV";       // the OpenFile quoting: CSV, CSV', or either with a backslash
  bool utf8 = false;                 // valid UTF-8 beyond ASCII
  std::string encoding;              // the OpenFile name for it: UTF-8, Windows-1252, ISO-8859-1,
                                     // UTF-16LE or UTF-16BE; empty for ASCII
  bool bom = false;                  // starts with a UTF-8 byte-order mark
  bool wideMark = false;             // starts with a UTF-16 byte-order mark
  bool quoted = false;               // some value is quoted: read it with CSV quoting
  bool header = false;               // the first record names the fields
  long long headerBytes = 0;         // where the first record after the header starts
  long long tableStart = 0;          // where the table (its header or first record) starts
  long long tableEnd = -1;           // where a footnote starts; -1: the table runs on
  size_t preambleRows = 0;           // title and comment lines before the table
  size_t footnoteRows = 0;           // lines after it
  size_t rows = 0, agreeing = 0;     // rows read, and those of the chosen width
  bool empty = false;                // the file holds no record: an empty table
  std::vector<std::string> firstRow; // the first record's values as they stand
  std::vector<std::string> firstNames; // the same as field names (blanks and punctuation: _)
  long long bytesRead = 0;             // how much of the file was looked at
  bool whole = false;                  // the whole file was looked at
};

// Looks at the first MiB of path (all of it when all is set). False, with *why, for a file
// that cannot be read, is empty (out->empty) or is no text (binary data).
bool sniffFile(const std::string& path, bool all, SniffResult* out, std::string* why);

// The format file of a sniff: field lines, then comments telling the encoding, the quoting,
// the header's length and what a method passes to OpenFile and DefineFormat.
void writeSniff(const SniffResult& r, const std::string& path, Flavour flavour, std::ostream& out);

// What the sniff chose and why, in a line for stderr.
std::string describeChoice(const SniffResult& r);

// `quillomar-host sniff`: 0 (an empty file too), or 2 (with a message on err) for a file it cannot
// make sense of.
int runSniff(Flavour flavour, const std::string& path, bool all, std::ostream& out,
             std::ostream& err);

} // namespace qhost
