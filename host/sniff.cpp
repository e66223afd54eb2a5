// quillomar-host sniff: reads the start of a file as RFC 4180 would with each candidate
// delimiter, keeps the one that gives every record the same number of fields, and guesses
// the header, the line ends, the encoding and the maxima from what it read.
#include "sniff.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <set>

namespace qhost {

namespace {

constexpr long long kSniffBytes = 1 << 20;
constexpr long long kMaxField = 32000;

struct Parsed {
  std::vector<std::vector<std::string>> rows; // blank lines left out
  std::vector<long long> ends;                // where each row's record ends
  std::vector<bool> rowQuoted;                // whether any value of the row was quoted
  int crlf = 0, lf = 0, cr = 0;               // line ends outside quotes
};

// The records of data from `from` on, read as csv.reader reads them. A record cut by the end
// of a partial read is left out.
Parsed parse(const std::string& data, size_t from, char delim, bool whole) {
  Parsed p;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, inQuotes = false, anyQuoted = false, started = false;
  auto endField = [&] {
    row.push_back(field);
    field.clear();
    quoted = false;
  };
  auto endRecord = [&](size_t end) {
    if (started || !row.empty() || !field.empty()) {
      endField();
      p.rows.push_back(row);
      p.ends.push_back(static_cast<long long>(end));
      p.rowQuoted.push_back(anyQuoted);
    }
    row.clear();
    started = anyQuoted = false;
  };
  size_t i = from;
  while (i < data.size()) {
    const char c = data[i];
    if (inQuotes) {
      if (c == '"' && i + 1 < data.size() && data[i + 1] == '"') {
        field += '"';
        i += 2;
        continue;
      }
      if (c == '"')
        inQuotes = false;
      else
        field += c;
      ++i;
      continue;
    }
    if (c == '"' && field.empty() && !quoted) {
      inQuotes = quoted = anyQuoted = started = true;
    } else if (c == delim) {
      endField();
      started = true;
    } else if (c == '\r' || c == '\n') {
      const bool pair = c == '\r' && i + 1 < data.size() && data[i + 1] == '\n';
      (pair ? p.crlf : c == '\n' ? p.lf : p.cr)++;
      i += pair ? 2 : 1;
      endRecord(i);
      continue;
    } else {
      field += c;
      started = true;
    }
    ++i;
  }
  if (whole) endRecord(data.size()); // the last record may lack its line end
  return p;
}

bool isNumber(const std::string& s) {
  if (s.empty()) return false;
  size_t used = 0;
  try {
    (void)std::stod(s, &used);
  } catch (...) {
    return false;
  }
  return used == s.size();
}

// The csv module's vote: a column whose later values are all numbers, or all of one
// length, speaks for a header when the first row's value breaks the pattern.
bool looksLikeHeader(const Parsed& p) {
  if (p.rows.size() < 2) return false;
  const auto& first = p.rows[0];
  std::set<std::string> seen;
  for (const auto& v : first) {
    if (v.empty() || isNumber(v) || !seen.insert(v).second) return false;
  }
  int votes = 0;
  for (size_t c = 0; c < first.size(); ++c) {
    bool numeric = true;
    size_t length = std::string::npos;
    bool sameLength = true;
    for (size_t r = 1; r < p.rows.size(); ++r) {
      const std::string& v = p.rows[r][c];
      numeric = numeric && isNumber(v);
      if (length == std::string::npos) length = v.size();
      sameLength = sameLength && v.size() == length;
    }
    if (numeric)
      votes += 1; // the header's value is no number (checked above)
    else if (sameLength)
      votes += first[c].size() != length ? 1 : -1;
  }
  return votes > 0;
}

bool validUtf8(const std::string& s, bool whole, bool* beyondAscii) {
  *beyondAscii = false;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    *beyondAscii = true;
    const size_t n = b >= 0xC2 && b <= 0xDF   ? 2
                     : b >= 0xE0 && b <= 0xEF ? 3
                     : b >= 0xF0 && b <= 0xF4 ? 4
                                              : 0;
    if (n == 0) return false;
    if (i + n > s.size()) return !whole; // cut by the end of a partial read
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

// A name a host variable and a format file can carry: blanks and punctuation become _.
std::string fieldName(const std::string& text, size_t column, std::set<std::string>* used) {
  std::string n;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    n += (u >= 0x80 || std::isalnum(u)) ? c : '_';
  }
  if (n.empty())
    n = "f" + std::to_string(column + 1);
  else if (std::isdigit(static_cast<unsigned char>(n[0])))
    n.insert(n.begin(), 'f');
  std::string unique = n;
  for (int k = 2; !used->insert(unique).second; ++k)
    unique = n + "_" + std::to_string(k);
  return unique;
}

long long roomFor(size_t longest) {
  long long m = static_cast<long long>(longest) * 3 / 2 + 8;
  m = (m + 7) / 8 * 8;
  if (m < 16) m = 16;
  return m > kMaxField ? kMaxField : m;
}

} // namespace

bool sniffFile(const std::string& path, bool all, SniffResult* out, std::string* why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = "cannot read " + path;
    return false;
  }
  std::string data;
  if (all) {
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    out->whole = true;
  } else {
    data.resize(kSniffBytes + 1);
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<size_t>(in.gcount()));
    out->whole = data.size() <= static_cast<size_t>(kSniffBytes);
    if (!out->whole) data.resize(kSniffBytes);
  }
  out->bytesRead = static_cast<long long>(data.size());
  if (data.empty()) {
    *why = path + " is empty";
    return false;
  }
  size_t controls = 0;
  for (char c : data) {
    const auto u = static_cast<unsigned char>(c);
    if (u == 0) {
      *why = path + " holds binary data (a zero byte), not delimited text";
      return false;
    }
    if (u < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f') ++controls;
  }
  if (controls * 100 > data.size()) {
    *why = path + " holds binary data (control bytes), not delimited text";
    return false;
  }
  out->bom = data.compare(0, 3, "\xEF\xBB\xBF") == 0;
  const size_t from = out->bom ? 3 : 0;
  bool beyond = false;
  out->utf8 = validUtf8(data.substr(from), out->whole, &beyond) && (beyond || out->bom);

  // The delimiter that gives every record the same number of fields, the most fields first.
  struct Candidate {
    char c;
    const char* keyword;
  };
  const Candidate candidates[] = {{',', "COMMA"}, {'\t', "TAB"}, {';', "SEMICO"}};
  Parsed best;
  size_t bestFields = 0;
  std::string problem;
  for (const auto& cand : candidates) {
    Parsed p = parse(data, from, cand.c, out->whole);
    if (p.rows.empty()) continue;
    const size_t n = p.rows[0].size();
    auto odd = std::find_if(p.rows.begin(), p.rows.end(),
                            [n](const std::vector<std::string>& r) { return r.size() != n; });
    if (odd != p.rows.end()) {
      if (n > 1 && problem.empty())
        problem = std::string("with ") + cand.keyword + " the first record has " +
                  std::to_string(n) + " fields but record " +
                  std::to_string(odd - p.rows.begin() + 1) + " has " + std::to_string(odd->size());
      continue;
    }
    if (n > bestFields) {
      bestFields = n;
      best = std::move(p);
      out->delimiter = cand.keyword;
    }
  }
  if (bestFields == 0) {
    *why = path +
           ": no delimiter (comma, tab or semicolon) gives every record the same number "
           "of fields" +
           (problem.empty() ? std::string() : " (" + problem + ")");
    return false;
  }
  const int kinds = (best.crlf > 0) + (best.lf > 0) + (best.cr > 0);
  out->lineEnd = kinds != 1 ? "EOL" : best.crlf ? "CRLF" : best.lf ? "LF" : "RETURN";
  out->quoted =
      std::find(best.rowQuoted.begin(), best.rowQuoted.end(), true) != best.rowQuoted.end();
  out->header = looksLikeHeader(best);
  out->headerBytes = out->header ? best.ends[0] : static_cast<long long>(from);
  out->firstRow = best.rows[0];
  std::set<std::string> used;
  for (size_t c = 0; c < bestFields; ++c)
    out->firstNames.push_back(fieldName(best.rows[0][c], c, &used));
  for (size_t c = 0; c < bestFields; ++c) {
    size_t longest = 0;
    for (const auto& r : best.rows)
      longest = std::max(longest, r[c].size());
    FieldOption f;
    f.name = out->header ? out->firstNames[c] : "f" + std::to_string(c + 1);
    f.label = out->header ? best.rows[0][c] : f.name;
    f.max = static_cast<double>(roomFor(longest));
    f.delimiter = c + 1 == bestFields ? out->lineEnd : out->delimiter;
    out->fields.push_back(f);
  }
  return true;
}

void writeSniff(const SniffResult& r, const std::string& path, Flavour flavour, std::ostream& out) {
  for (const auto& f : r.fields)
    out << f.name << " " << static_cast<long long>(f.max) << " " << f.delimiter << "\n";
  const bool decodes = flavour != Flavour::Win8;
  out << "# sniffed from " << path << " ("
      << (r.whole ? "the whole file" : "its first " + std::to_string(r.bytesRead) + " bytes")
      << ")\n";
  out << "# encoding: "
      << (r.utf8 ? (r.bom ? "UTF-8 with a byte-order mark" : "UTF-8") : "bytes as they stand")
      << (r.utf8 && !decodes ? " (the 8-bit host takes bytes as they stand)" : "") << "\n";
  out << "# quoting: "
      << (r.quoted ? "CSV (quoted values found)" : "CSV (no quoted values seen; either reads it)")
      << "\n";
  if (r.header)
    out << "# header: " << r.headerBytes << " bytes; the first record starts at position "
        << r.headerBytes << "\n";
  else
    out << "# header: none; the first record starts at position " << r.headerBytes << "\n";
  const std::string encoding = r.utf8 && decodes ? "UTF-8" : "";
  out << "# OpenFile: Quillomar.OpenFile(path,fileRef,fileSize,0,\"" << encoding << "\",\"CSV\")\n";
  out << "# DefineFormat list lines (name, maximum, delimiter):\n";
  for (const auto& f : r.fields)
    out << "#   \"" << f.name << "\", " << static_cast<long long>(f.max) << ", \"" << f.delimiter
        << "\"\n";
}

int runSniff(Flavour flavour, const std::string& path, bool all, std::ostream& out,
             std::ostream& err) {
  SniffResult r;
  std::string why;
  if (!sniffFile(path, all, &r, &why)) {
    err << "quillomar-host: " << why << "\n";
    return 2;
  }
  writeSniff(r, path, flavour, out);
  return 0;
}

} // namespace qhost
