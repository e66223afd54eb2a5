// quillomar-host sniff: reads the start of a file as CSV with each candidate dialect
// (delimiter, quote, escape), keeps the one whose rows agree most on their number of fields,
// a minority of bad rows tolerated, and finds from what it read the table's first and last
// rows (past a preamble and before a footnote), the header, the line ends, the encoding and
// the maxima.
#include "sniff.h"
#include "utf8.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <fstream>
#include <iostream>
#include <map>
#include <set>

namespace qhost {

namespace {

constexpr long long kSniffBytes = 1 << 20;
constexpr long long kMaxField = 32000;
constexpr size_t kChoiceBytes = size_t{64} * 1024; // the sample the dialect is chosen on

// A dialect: the delimiter (one or two bytes: ", "), the quote and the escape (0: none).
struct Dialect {
  std::string delim;
  char quote;
  char escape;
};

// The rows whose values a reading keeps: enough for any dialect's sample and for the header's
// vote; past them only the widths and the values' lengths (a row a value apiece in memory
// made most of a sniff's time).
constexpr size_t kKeptRows = 4096;

struct Parsed {
  std::vector<std::vector<std::string>> rows; // the first kKeptRows rows' values
  std::vector<uint32_t> widths;               // every row's count of values (blank lines left out)
  std::vector<uint32_t> lengths;              // every value's length, row after row
  std::vector<size_t> firstLength;            // where each row's lengths start in lengths
  std::vector<long long> starts;              // where each row's record starts
  std::vector<long long> ends;                // where each row's record ends
  std::vector<bool> rowQuoted;                // whether any value of the row was quoted
  int crlf = 0, lf = 0, cr = 0;               // line ends outside quotes
  int badCloses = 0;   // quoted values whose closing quote is followed by more text
  int quoteStarts = 0; // plain values that open with a quote byte (the other candidate's)
};

// The records of data from `from` on, read as the library reads them under the dialect's CSV
// quoting. A record cut by the end of a partial read is left out.
Parsed parse(const std::string& data, size_t from, const Dialect& d, bool whole) {
  Parsed p;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, inQuotes = false, anyQuoted = false, started = false;
  long long rowStart = static_cast<long long>(from);
  // Room for short rows, so that growing copies nothing: pages not written cost nothing.
  const size_t bytes = data.size() - std::min(from, data.size());
  p.lengths.reserve(bytes / 2 + 1);
  p.widths.reserve(bytes / 4 + 1);
  p.firstLength.reserve(bytes / 4 + 1);
  p.starts.reserve(bytes / 4 + 1);
  p.ends.reserve(bytes / 4 + 1);
  size_t values = 0; // of the row being read
  auto endField = [&] {
    ++values;
    if (!quoted && !field.empty() && (field[0] == '"' || field[0] == '\'')) ++p.quoteStarts;
    p.lengths.push_back(static_cast<uint32_t>(field.size()));
    if (p.rows.size() < kKeptRows) row.push_back(std::move(field));
    field.clear();
    quoted = false;
  };
  auto endRecord = [&](size_t end) {
    if (started || values > 0 || !field.empty()) {
      endField();
      p.firstLength.push_back(p.lengths.size() - values);
      p.widths.push_back(static_cast<uint32_t>(values));
      if (p.rows.size() < kKeptRows) p.rows.push_back(std::move(row));
      row.clear();
      p.starts.push_back(rowStart);
      p.ends.push_back(static_cast<long long>(end));
      p.rowQuoted.push_back(anyQuoted);
    }
    row.clear();
    values = 0;
    started = anyQuoted = false;
    rowStart = static_cast<long long>(end);
  };
  // The library's stray-quote rule: a quoted value that crosses a line end and does not close
  // well is read again from its quote, as plain text.
  size_t quoteAt = 0, literalAt = std::string::npos;
  bool crossed = false;
  auto stray = [&] {
    ++p.badCloses;
    inQuotes = quoted = false;
    field.clear();
    literalAt = quoteAt;
    return quoteAt;
  };
  // The delimiter compared byte by byte: a call per byte to compare strings was much of a
  // sniff's time.
  const char d0 = d.delim[0];
  const bool twoBytes = d.delim.size() == 2;
  const char d1 = twoBytes ? d.delim[1] : 0;
  auto delimAt = [&](size_t k) {
    return data[k] == d0 && (!twoBytes || (k + 1 < data.size() && data[k + 1] == d1));
  };
  size_t i = from;
  for (;;) {
    if (i >= data.size()) {
      if (!(inQuotes && crossed && whole)) break;
      i = stray(); // open at the data's end: a stray quote too
      continue;
    }
    const char c = data[i];
    if (d.escape && c == d.escape && i + 1 < data.size()) {
      field += data[i + 1];
      started = true;
      i += 2;
      continue;
    }
    if (inQuotes) {
      if (c == d.quote && i + 1 < data.size() && data[i + 1] == d.quote) {
        field += d.quote;
        i += 2;
        continue;
      }
      if (c == d.quote) {
        inQuotes = false;
        const size_t next = i + 1;
        if (next < data.size() && !delimAt(next) && data[next] != '\r' && data[next] != '\n') {
          if (crossed) {
            i = stray();
            continue;
          }
          ++p.badCloses;
        }
      } else {
        crossed = crossed || c == '\r' || c == '\n';
        field += c;
      }
      ++i;
      continue;
    }
    if (c == d.quote && field.empty() && !quoted && i != literalAt) {
      inQuotes = quoted = anyQuoted = started = true;
      quoteAt = i;
      crossed = false;
    } else if (delimAt(i)) {
      endField();
      started = true;
      i += d.delim.size();
      continue;
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

// The csv module's vote: a column whose later values are all numbers, or all of one
// length, speaks for a header when the first row's value breaks the pattern.
bool typed(const std::string& v);

// Over the table's rows from first to last (those whose values were kept).
bool looksLikeHeader(const Parsed& p, size_t from, size_t last) {
  if (from >= p.rows.size()) return false;
  const size_t end = std::min(last + 1, p.rows.size());
  const auto& first = p.rows[from];
  std::set<std::string> seen;
  for (const auto& v : first) {
    if (v.empty() || typed(v) || !seen.insert(v).second) return false;
  }
  if (last == from) return true; // a table of names alone: a header with no records
  // Each column votes by what most of its later values are, so that a bad row or a footnote
  // in the table sways nothing: a column of numbers or dates under a name votes twice; one
  // of a common length votes for the name when its length differs.
  int votes = 0;
  for (size_t c = 0; c < first.size(); ++c) {
    size_t total = 0, typedValues = 0;
    std::map<size_t, size_t> lengths;
    for (size_t r = from + 1; r < end; ++r) {
      if (p.rows[r].size() != first.size()) continue;
      const std::string& v = p.rows[r][c];
      ++total;
      typedValues += typed(v) && !v.empty() ? 1 : 0;
      ++lengths[v.size()];
    }
    if (total == 0) continue;
    // Four in five, or all but one of three or more: a short table's one bad row sways
    // nothing either.
    auto most = [total](size_t k) { return k * 5 >= total * 4 || (total >= 3 && k + 1 >= total); };
    if (most(typedValues)) {
      votes += 2;
      continue;
    }
    auto common =
        std::max_element(lengths.begin(), lengths.end(),
                         [](const auto& x, const auto& y) { return x.second < y.second; });
    if (most(common->second)) votes += first[c].size() != common->first ? 1 : -1;
  }
  return votes > 0;
}

// UTF-16 by its byte-order mark, or by zero bytes in every other position of text that is
// otherwise plain: "UTF-16LE" or "UTF-16BE", else null.
const char* utf16Kind(const std::string& s) {
  if (s.size() >= 2 && s.compare(0, 2, "\xFF\xFE") == 0) return "UTF-16LE";
  if (s.size() >= 2 && s.compare(0, 2, "\xFE\xFF") == 0) return "UTF-16BE";
  size_t zeros[2] = {0, 0};
  const size_t n = s.size() & ~size_t{1};
  for (size_t i = 0; i < n; ++i)
    zeros[i & 1] += s[i] == 0 ? 1 : 0;
  // Text in Latin letters puts a zero in nearly every high byte, and even CJK text has its
  // delimiters, digits and line ends there; a low byte is seldom zero (U+0100, U+2C00). Binary
  // data has zeros at both, or units that are no text.
  const size_t units = n / 2;
  for (int high = 0; high < 2; ++high) {
    // Text in Chinese may have few zeros, but all of them on one side.
    const bool oneSided = zeros[high] > 0 && zeros[1 - high] == 0;
    if (units < 2 || (zeros[high] * 10 < units && !oneSided) || zeros[1 - high] * 4 > zeros[high])
      continue;
    // Its units must read as text: few controls, and the units of its zero bytes (ASCII and
    // Latin-1 in that byte order) nearly all letters, digits, punctuation or white space.
    size_t controls = 0, narrow = 0, narrowText = 0;
    for (size_t i = 0; i < n; i += 2) {
      const auto hi = static_cast<unsigned char>(s[i + static_cast<size_t>(high)]);
      const auto lo = static_cast<unsigned char>(s[i + static_cast<size_t>(1 - high)]);
      const unsigned u = hi << 8 | lo;
      const bool space = u == '\t' || u == '\r' || u == '\n' || u == '\f';
      controls += u < 0x20 && !space ? 1 : 0;
      if (hi == 0) {
        ++narrow;
        narrowText += space || (u >= 0x20 && u < 0x7F) || u >= 0xA0 ? 1 : 0;
      }
    }
    if (narrowText * 10 < narrow * 9) continue;
    if (controls * 100 <= units) return high == 1 ? "UTF-16LE" : "UTF-16BE";
  }
  return nullptr;
}

// UTF-16 text from byte from on as UTF-8 (an unpaired surrogate and an odd last byte as
// U+FFFD; a unit the sample cuts is left out); *at gets each UTF-8 byte's offset in s, and
// one more entry, the offset after the last character.
std::string utf16ToUtf8(const std::string& s, size_t from, bool big, bool whole,
                        std::vector<long long>* at) {
  std::string out;
  at->clear();
  auto unit = [&](size_t i) {
    const auto a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(s[i + 1]);
    return big ? static_cast<char32_t>(a << 8 | b) : static_cast<char32_t>(b << 8 | a);
  };
  size_t i = from;
  while (i < s.size()) {
    char32_t c = U'\uFFFD';
    size_t size = 1;
    if (i + 1 < s.size()) {
      c = unit(i);
      size = 2;
      if (c >= 0xD800 && c < 0xDC00 && i + 3 < s.size() && unit(i + 2) >= 0xDC00 &&
          unit(i + 2) < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
        size = 4;
      } else if (c >= 0xD800 && c < 0xE000) {
        if (!whole && c < 0xDC00 && i + 3 >= s.size()) break; // a pair the sample cuts
        c = U'\uFFFD';
      }
    } else if (!whole) {
      break;
    }
    const size_t before = out.size();
    appendUtf8(out, std::u32string(1, c));
    at->insert(at->end(), out.size() - before, static_cast<long long>(i));
    i += size;
  }
  at->push_back(static_cast<long long>(i));
  return out;
}

// Whether text that is not UTF-8 uses the bytes 0x80 to 0x9F as Windows-1252 does (letters
// and punctuation there, where ISO-8859-1 has control characters nobody writes).
bool windows1252(const std::string& s) {
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 && b <= 0x9F && b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D)
      return true;
  }
  return false;
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

// The table within rows read with a width in mind: its first row is the first of the width
// that has another of it within the next three (title and comment lines before it are a
// preamble; a bad row or two right after a header leave the header the table's); its
// last, the last before a run of narrower rows (a footnote, or another table).
void tableBounds(const Parsed& p, size_t width, size_t* firstRow, size_t* lastRow) {
  const size_t n = p.widths.size();
  const auto& w = p.widths;
  auto followed = [&](size_t r) {
    if (r + 1 >= n) return true;
    for (size_t k = r + 1; k < n && k <= r + 3; ++k)
      if (w[k] == width) return true;
    return false;
  };
  size_t first = 0;
  while (first < n && !(w[first] == width && followed(first)))
    ++first;
  if (first == n) {
    first = 0;
    while (first < n && w[first] != width)
      ++first;
  }
  size_t last = n == 0 ? 0 : n - 1;
  while (last > first && w[last] < width && w[last] <= width / 2 + 1)
    --last;
  // A row of the width with bad rows after it is a header whose first records were damaged,
  // or a title line that happens to have the width: when the next row of the width reads as
  // the header of the rows below it, the table starts there.
  size_t next = first + 1;
  while (next <= last && w[next] != width)
    ++next;
  if (next > first + 1 && next <= last && looksLikeHeader(p, next, last)) first = next;
  *firstRow = first < n ? first : 0;
  *lastRow = last;
}

// A candidate dialect's reading of the sample: its rows, the width most of them share (two
// fields or more), how many rows have it, and the table's first and last rows.
struct Choice {
  Dialect dialect;
  std::string keyword; // the delimiter as a format names it
  Parsed parsed;
  size_t width = 1;
  size_t agreeing = 0; // rows of that width
  size_t first = 0, last = 0;
};

// The candidates, in the order a tie is settled: a comma and a space before a comma alone (a
// tie says every comma is followed by one), the usual delimiters first, a double quote before
// an apostrophe, no escape before a backslash.
std::vector<Dialect> candidates() {
  std::vector<Dialect> out;
  for (const char* d : {", ", ",", ";", "\t", "|", ":", " "})
    for (char q : {'"', '\''})
      for (char e : {'\0', '\\'})
        out.push_back({d, q, e});
  return out;
}

// Whether a value reads as a type: a number (a sign, digits, decimal points or commas), a
// date or time (digits and - / . : T), or nothing. It ends with a digit: a split in the
// wrong place leaves the delimiter's punctuation at the end.
bool typed(const std::string& v) {
  if (v.empty()) return true;
  if (v.back() < '0' || v.back() > '9') return false;
  size_t digits = 0, i = v[0] == '-' || v[0] == '+' ? 1 : 0;
  bool other = false;
  for (; i < v.size(); ++i) {
    const char c = v[i];
    if (c >= '0' && c <= '9')
      ++digits;
    else if (c != '.' && c != '-' && c != '/' && c != ':' && c != 'T' && c != ',')
      other = true;
  }
  return digits > 0 && !other;
}

// The share of the values of the rows of the given width that read as a type.
double typedShare(const Parsed& p, size_t width) {
  size_t all = 0, hits = 0;
  for (const auto& r : p.rows) {
    if (r.size() != width) continue;
    for (const auto& v : r) {
      ++all;
      hits += typed(v) ? 1 : 0;
    }
  }
  return all ? static_cast<double>(hits) / static_cast<double>(all) : 0.0;
}

std::string keywordOf(const std::string& d) {
  if (d == ",") return "COMMA";
  if (d == ";") return "SEMICO";
  if (d == "\t") return "TAB";
  return "ASC" + d;
}

// Reads the sample in every dialect and keeps the one whose rows agree best: the most rows of
// one width of two fields or more, a minority of other rows tolerated. A tie goes to the wider
// rows, then to the earlier candidate. False when no dialect gives two rows of two fields or
// more; *split then says whether one gave any row two fields.
bool chooseDialect(const std::string& data, size_t from, bool whole, Choice* best, bool* split) {
  bool found = false;
  *split = false;
  double bestScore = -1;
  for (const Dialect& d : candidates()) {
    // The quote and escape candidates matter only where their bytes appear.
    if (d.quote == '\'' && data.find('\'', from) == std::string::npos) continue;
    if (d.escape && data.find('\\', from) == std::string::npos) continue;
    if (data.find(d.delim, from) == std::string::npos) continue;
    Choice c;
    c.dialect = d;
    c.keyword = keywordOf(d.delim);
    c.parsed = parse(data, from, d, whole);
    std::map<size_t, size_t> widths;
    for (const uint32_t w : c.parsed.widths)
      ++widths[w];
    // The width whose rows hold the most fields between them (a count of rows weighed by
    // (w - 1) / w): a second, narrower table after the first does not take it over.
    double weight = 0;
    for (const auto& [w, n] : widths) {
      const double here =
          static_cast<double>(n) * static_cast<double>(w - 1) / static_cast<double>(w);
      if (w >= 2 && here > weight) {
        weight = here;
        c.width = w;
        c.agreeing = n;
      }
    }
    if (c.width < 2) continue;
    *split = true;
    // Agreement is judged within the table: a preamble, a footnote or a second table speak
    // for no dialect.
    tableBounds(c.parsed, c.width, &c.first, &c.last);
    size_t inTable = 0;
    for (size_t r = c.first; r <= c.last; ++r)
      inTable += c.parsed.widths[r] == c.width ? 1 : 0;
    c.agreeing = inTable;
    const double rows = static_cast<double>(c.last - c.first + 1);
    // The share of agreeing rows, weighed by the share of their values that read as a type
    // (a number, a date or time, nothing): a split in the wrong place leaves punctuation on
    // the values. Quoted values that close badly, and plain ones that open with a quote (the
    // other quote byte's values), count against it; a little for more fields settles a tie
    // towards the finer split.
    // The rows outside the table count a little against it: a table of one bad row is none.
    const double all = static_cast<double>(c.parsed.widths.size());
    const double pattern = static_cast<double>(c.agreeing) / rows - 0.5 * (1.0 - rows / all);
    if (c.agreeing < 2 && all > 1) continue;
    const double score =
        pattern * (0.6 + 0.4 * typedShare(c.parsed, c.width)) -
        0.5 * static_cast<double>(c.parsed.badCloses + c.parsed.quoteStarts) / rows +
        0.001 * static_cast<double>(c.width) / (1.0 + static_cast<double>(c.width));
    if (std::getenv("QM_SNIFF_DEBUG"))
      std::fprintf(stderr, "[%s] q%c e%d width %zu agree %zu/%zu typed %.2f bad %d score %.4f\n",
                   d.delim.c_str(), d.quote, d.escape, c.width, c.agreeing, c.parsed.widths.size(),
                   typedShare(c.parsed, c.width), c.parsed.badCloses, score);
    if (score > bestScore + 1e-9) {
      bestScore = score;
      *best = std::move(c);
      found = true;
    }
  }
  return found;
}

// The table within the rows: its first row is the first of the common width that is followed
// by another of it (title and comment lines before it are a preamble); its last, the last of
// the common width, the rows after it a footnote when they are narrower. Fills the header,
// the table's bounds and the first row.
void describeTable(Choice& c, SniffResult* out) {
  const Parsed& p = c.parsed;
  const size_t n = p.widths.size();
  const size_t first = c.first, last = c.last;
  out->header = looksLikeHeader(p, first, last);
  if (first < p.rows.size()) out->firstRow = p.rows[first];
  out->firstRow.resize(c.width);
  out->preambleRows = first;
  out->footnoteRows = n - 1 - last;
  out->tableStart = p.starts[first];
  out->headerBytes = out->header ? p.ends[first] : p.starts[first];
  out->tableEnd = out->whole || last + 1 < n ? p.ends[last] : -1;
  out->quoted = std::find(p.rowQuoted.begin(), p.rowQuoted.end(), true) != p.rowQuoted.end();
  out->rows = n;
  out->agreeing = c.agreeing;
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
    out->empty = true;
    return false;
  }
  // UTF-16 text is sniffed as the UTF-8 of its characters; positions and maxima are brought
  // back to the file's bytes at the end.
  std::vector<long long> wideAt; // for UTF-16: each UTF-8 byte's offset in the file
  if (const char* wide = utf16Kind(data)) {
    out->encoding = wide;
    const bool big = out->encoding == "UTF-16BE";
    out->wideMark = data.compare(0, 2, big ? "\xFE\xFF" : "\xFF\xFE") == 0;
    data = utf16ToUtf8(data, out->wideMark ? 2 : 0, big, out->whole, &wideAt);
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
  const bool wide = !wideAt.empty();
  out->bom = !wide && data.compare(0, 3, "\xEF\xBB\xBF") == 0;
  const size_t from = out->bom ? 3 : 0;
  bool beyond = false;
  out->utf8 = !wide && validUtf8(data.substr(from), out->whole, &beyond) && (beyond || out->bom);
  if (!wide)
    out->encoding = out->utf8           ? "UTF-8"
                    : !beyond           ? ""
                    : windows1252(data) ? "Windows-1252"
                                        : "ISO-8859-1";

  Choice best;
  bool split = false;
  // The dialect is chosen on the sample's first rows, the table found on all of it: the
  // candidates' reads are most of a sniff's time.
  const bool cut = data.size() > kChoiceBytes;
  const bool chosen = chooseDialect(cut ? data.substr(0, kChoiceBytes) : data, from,
                                    out->whole && !cut, &best, &split);
  if (chosen && cut) {
    best.parsed = parse(data, from, best.dialect, out->whole);
    best.agreeing = 0;
    tableBounds(best.parsed, best.width, &best.first, &best.last);
    for (size_t r = best.first; r <= best.last && r < best.parsed.widths.size(); ++r)
      best.agreeing += best.parsed.widths[r] == best.width ? 1 : 0;
  }
  if (!chosen && split) {
    *why = path + ": no delimiter gives two of its rows the same number of fields";
    return false;
  }
  if (!chosen) { // one column: each line a value
    best.dialect = {",", '"', '\0'};
    best.keyword = "COMMA";
    best.parsed = parse(data, from, best.dialect, out->whole);
    best.width = 1;
    tableBounds(best.parsed, 1, &best.first, &best.last);
    if (best.parsed.widths.empty()) {
      *why = path + " holds no record";
      out->empty = true;
      return false;
    }
  }
  describeTable(best, out);
  // The header's values as they will be shown: UTF-8, whatever the file's encoding.
  if (!out->utf8 && !wide)
    for (auto& v : out->firstRow)
      v = singleByteToUtf8(v, out->encoding == "Windows-1252");
  const Parsed& p = best.parsed;
  const int kinds = (p.crlf > 0) + (p.lf > 0) + (p.cr > 0);
  out->lineEnd = kinds != 1 ? "EOL" : p.crlf ? "CRLF" : p.lf ? "LF" : "RETURN";
  // Where a CR-only file's records end is a carriage return: EOL would not see them.
  if (kinds > 1 && p.cr > p.crlf + p.lf) out->lineEnd = "RETURN";
  out->delimiter = best.keyword;
  out->quoting = std::string("CSV") + (best.dialect.quote == '\'' ? "'" : "") +
                 (best.dialect.escape ? "\\" : "");
  const size_t width = best.width;
  std::set<std::string> used;
  for (size_t c = 0; c < width; ++c)
    out->firstNames.push_back(
        fieldName(c < out->firstRow.size() ? out->firstRow[c] : "", c, &used));
  for (size_t c = 0; c < width; ++c) {
    size_t longest = 0;
    for (size_t r = best.first; r <= best.last && r < p.widths.size(); ++r)
      if (c < p.widths[r]) longest = std::max<size_t>(longest, p.lengths[p.firstLength[r] + c]);
    FieldOption f;
    f.name = out->header ? out->firstNames[c] : "f" + std::to_string(c + 1);
    f.label = out->header ? out->firstRow[c] : f.name;
    // UTF-16 takes at most two bytes for each of UTF-8's.
    f.max = static_cast<double>(roomFor(wide ? 2 * longest : longest));
    f.delimiter = c + 1 == width ? out->lineEnd : out->delimiter;
    out->fields.push_back(f);
  }
  if (wide) { // the sample's offsets as the file's
    auto inFile = [&](long long at) {
      if (at < 0) return at;
      return at < static_cast<long long>(wideAt.size()) ? wideAt[static_cast<size_t>(at)]
                                                        : wideAt.back();
    };
    out->tableStart = inFile(out->tableStart);
    out->headerBytes = inFile(out->headerBytes);
    out->tableEnd = inFile(out->tableEnd);
  }
  return true;
}

void writeSniff(const SniffResult& r, const std::string& path, Flavour flavour, std::ostream& out) {
  for (const auto& f : r.fields) {
    // A delimiter that holds a blank is written in quotes, as the format file reads it.
    const bool blank = f.delimiter.find(' ') != std::string::npos;
    out << f.name << " " << static_cast<long long>(f.max) << " "
        << (blank ? "\"" + f.delimiter + "\"" : f.delimiter) << "\n";
  }
  const bool decodes = flavour != Flavour::Win8;
  out << "# sniffed from " << path << " ("
      << (r.whole ? "the whole file" : "its first " + std::to_string(r.bytesRead) + " bytes")
      << ")\n";
  out << "# encoding: "
      << (r.encoding.empty() ? "ASCII"
          : r.utf8 && r.bom  ? "UTF-8 with a byte-order mark"
                             : r.encoding)
      << (r.encoding.empty()                   ? ", read as bytes as they stand"
          : r.utf8                             ? " (well-formed UTF-8 beyond ASCII)"
          : r.encoding.rfind("UTF-16", 0) == 0 ? (r.wideMark ? " (its byte-order mark)"
                                                             : " (zero bytes in every other "
                                                               "position of plain text)")
          : r.encoding == "Windows-1252"
              ? " (bytes 0x80 to 0x9F used as Windows-1252's letters and punctuation)"
              : " (bytes beyond ASCII, not UTF-8)")
      << (r.encoding.empty() || decodes ? ""
          : r.encoding.rfind("UTF-16", 0) == 0
              ? "; the 8-bit host cannot read it: convert the file to a one-byte encoding first"
              : "; the 8-bit host takes bytes as they stand")
      << "\n";
  out << "# quoting: " << r.quoting
      << (r.quoted ? " (quoted values found)" : " (no quoted values seen)") << "\n";
  if (r.preambleRows > 0)
    out << "# preamble: " << r.preambleRows << " line(s) before the table, skipped\n";
  if (r.header)
    out << "# header: at position " << r.tableStart << "; the first record starts at position "
        << r.headerBytes << "\n";
  else
    out << "# header: none; the first record starts at position " << r.headerBytes << "\n";
  if (r.footnoteRows > 0)
    out << "# footnote: " << r.footnoteRows << " line(s) after the table, from position "
        << r.tableEnd << "\n";
  const std::string encoding = decodes ? r.encoding : "";
  std::string quoting;
  for (char c : r.quoting)
    quoting += c == '\\' ? "\\\\" : std::string(1, c);
  out << "# OpenFile: Quillomar.OpenFile(path,fileRef,fileSize,0,\"" << encoding << "\",\""
      << r.quoting << "\")\n";
  out << "# DefineFormat list lines (name, maximum, delimiter):\n";
  for (const auto& f : r.fields)
    out << "#   \"" << f.name << "\", " << static_cast<long long>(f.max) << ", \"" << f.delimiter
        << "\"\n";
}

std::string describeChoice(const SniffResult& r) {
  std::string d = r.delimiter == "ASC "    ? "a space"
                  : r.delimiter == "ASC, " ? "a comma and a space"
                                           : r.delimiter;
  std::string why = "chose " + std::to_string(r.fields.size()) + " field(s) split by " + d + ", " +
                    r.lineEnd + " line ends, " + r.quoting + " quoting";
  why += ": " + std::to_string(r.agreeing) + " of " + std::to_string(r.rows) +
         " rows have that many fields";
  if (r.preambleRows) why += "; " + std::to_string(r.preambleRows) + " preamble line(s)";
  if (r.footnoteRows) why += "; " + std::to_string(r.footnoteRows) + " footnote line(s)";
  why += r.header ? "; a header" : "; no header";
  return why;
}

int runSniff(Flavour flavour, const std::string& path, bool all, std::ostream& out,
             std::ostream& err) {
  SniffResult r;
  std::string why;
  if (!sniffFile(path, all, &r, &why)) {
    err << "quillomar-host: " << why << "\n";
    return r.empty ? 0 : 2; // an empty file is an empty table
  }
  err << "quillomar-host: " << describeChoice(r) << "\n";
  writeSniff(r, path, flavour, out);
  return 0;
}

} // namespace qhost
