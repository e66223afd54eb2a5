// quillomar-host import: opens a source through the library, defines its format (and
// substitutions), reads every record and writes it out, with a progress bar on a terminal and
// a one-line summary.
#include "importer.h"

#include "host.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

#if defined(_WIN32)
#include <io.h>
#define QHOST_ISATTY _isatty
#define QHOST_FILENO _fileno
#else
#include <unistd.h>
#define QHOST_ISATTY isatty
#define QHOST_FILENO fileno
#endif

namespace qhost {

namespace {

constexpr int16_t kOpenFile = 8, kDefineFormat = 7, kDefineSubs = 6, kReadRecord = 5,
                  kCloseFile = 2;

std::string resultText(double rc) {
  switch (static_cast<int>(rc)) {
  case -1:
    return "the library is not loaded";
  case 0:
    return "complete";
  case 1:
    return "no record format";
  case 2:
    return "the file cannot be opened";
  case 3:
    return "a parameter is missing or out of range";
  case 4:
    return "out of memory, or the clipboard cannot be opened";
  case 5:
    return "input/output error";
  case 6:
    return "no such import file";
  case 7:
    return "end of the source";
  case 8:
    return "the source ended within a fixed-length field";
  case 9:
    return "the source ended before the delimiter";
  case 11:
    return "a field longer than its maximum";
  default:
    return "unknown result";
  }
}

bool isDelimiterKeyword(const std::string& d) {
  if (d == "TAB" || d == "COMMA" || d == "SEMICO" || d == "RETURN" || d == "CRLF" || d == "LF" ||
      d == "EOL" || d == "MAX")
    return true;
  return d.size() >= 4 && d.size() <= 6 && d.compare(0, 3, "ASC") == 0;
}

bool checkField(const FieldOption& f, std::string* why) {
  if (f.name.empty()) {
    *why = "a field needs a name";
    return false;
  }
  if (!(f.max >= 0 && f.max <= 32000) || f.max != static_cast<long>(f.max)) {
    *why = "field " + f.name + ": the maximum must be a whole number from 0 to 32000";
    return false;
  }
  if (!isDelimiterKeyword(f.delimiter)) {
    *why = "field " + f.name + ": unknown delimiter \"" + f.delimiter +
           "\" (TAB COMMA SEMICO RETURN CRLF LF EOL MAX, or ASC and 1 to 3 characters)";
    return false;
  }
  return true;
}

bool parseMax(const std::string& text, double* out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *out = std::stod(text);
  return true;
}

// The progress bar: position against size, records/s and time left, redrawn at most ten
// times a second, on stderr only when it is a terminal.
class Progress {
public:
  Progress(bool enabled, double size, bool backwards)
      : enabled_(enabled), size_(size), backwards_(backwards), start_(Clock::now()), last_(start_) {
  }
  void update(double position, long records, bool force = false) {
    if (!enabled_) return;
    auto now = Clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    double done = backwards_ ? size_ - position : position;
    double fraction = size_ > 0 ? done / size_ : 1;
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double rate = seconds > 0 ? records / seconds : 0;
    double left = fraction > 0 ? seconds * (1 - fraction) / fraction : 0;
    constexpr int kWidth = 30;
    int filled = static_cast<int>(fraction * kWidth);
    std::fprintf(stderr, "\r[%s%s] %5.1f%%  %ld records  %.0f/s  %.0fs left   ",
                 std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), 100 * fraction,
                 records, rate, left);
    std::fflush(stderr);
  }
  void finish() {
    if (enabled_) std::fprintf(stderr, "\r%80s\r", "");
  }

private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  double size_;
  bool backwards_;
  Clock::time_point start_, last_;
};

// Writes the records into a buffer of its own, handed to the stream in large pieces: a
// stream insertion per value took more time than the library's whole read.
class Writer {
public:
  Writer(OutputForm form, std::ostream& out, const std::vector<FieldOption>& fields)
      : form_(form), out_(out), fields_(fields) {
    for (const auto& f : fields_) { // each JSON key, as it is written before its value
      std::string key;
      appendJsonString(key, label(f));
      keys_.push_back(key + ": ");
    }
    buf_.reserve(kFlushAt + 4096);
  }
  ~Writer() { flush(); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void begin(const std::string& source, double size) {
    switch (form_) {
    case OutputForm::Table:
      buf_.append(source).append(": ").append(std::to_string(static_cast<long long>(size)));
      buf_ += " bytes\n";
      row(names());
      break;
    case OutputForm::Csv:
    case OutputForm::Tsv:
      row(names());
      break;
    case OutputForm::Json:
      buf_ += "[";
      break;
    }
  }
  void record(const std::vector<std::string>& values) {
    if (form_ != OutputForm::Json) {
      row(values);
    } else {
      jsonRecord(values);
    }
    if (buf_.size() >= kFlushAt) flush();
  }
  void end() {
    if (form_ == OutputForm::Json) buf_ += first_ ? "]\n" : "\n]\n";
    flush();
  }

private:
  static constexpr size_t kFlushAt = 1 << 16;
  // One JSON object: room for its longest form is made once, and the keys, values and
  // escapes are written through a pointer into it, then the buffer is cut to what was
  // written (an append per piece, each checking its room, took most of the object's time).
  void jsonRecord(const std::vector<std::string>& values) {
    size_t most = 4;
    for (size_t i = 0; i < values.size(); ++i)
      most += 2 + keys_[i].size() + 2 + 6 * values[i].size();
    const size_t at = buf_.size();
    buf_.resize(at + most);
    char* d = buf_.data() + at;
    auto put = [&d](const std::string& t) {
      std::memcpy(d, t.data(), t.size());
      d += t.size();
    };
    if (!first_) *d++ = ',';
    *d++ = '\n';
    *d++ = '{';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) {
        *d++ = ',';
        *d++ = ' ';
      }
      put(keys_[i]);
      d = writeJsonString(d, values[i]);
    }
    *d++ = '}';
    buf_.resize(static_cast<size_t>(d - buf_.data()));
    first_ = false;
  }
  void flush() {
    out_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
    buf_.clear();
  }
  static const std::string& label(const FieldOption& f) {
    return f.label.empty() ? f.name : f.label;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> n;
    for (const auto& f : fields_)
      n.push_back(label(f));
    return n;
  }
  // A table row stays one line: line ends inside a value are shown as signs.
  void appendVisible(const std::string& v) {
    for (size_t i = 0; i < v.size(); ++i) {
      if (v[i] == '\r' && i + 1 < v.size() && v[i + 1] == '\n') {
        buf_ += "\u21B5";
        ++i;
      } else if (v[i] == '\n') {
        buf_ += "\u21B5";
      } else if (v[i] == '\r') {
        buf_ += "\u240D";
      } else {
        buf_ += v[i];
      }
    }
  }
  void row(const std::vector<std::string>& values) {
    for (size_t i = 0; i < values.size(); ++i) {
      switch (form_) {
      case OutputForm::Table:
        if (i) buf_ += " | ";
        appendVisible(values[i]);
        break;
      case OutputForm::Csv:
        if (i) buf_ += ',';
        appendCsvField(buf_, values[i], ',');
        break;
      case OutputForm::Tsv:
        if (i) buf_ += '\t';
        appendCsvField(buf_, values[i], '\t');
        break;
      case OutputForm::Json:
        break;
      }
    }
    buf_ += form_ == OutputForm::Table ? "\n" : "\r\n"; // RFC 4180 ends records with CRLF
  }
  OutputForm form_;
  std::ostream& out_;
  const std::vector<FieldOption>& fields_;
  std::vector<std::string> keys_;
  std::string buf_;
  bool first_ = true;
};

} // namespace

bool parseFieldOption(const std::string& text, FieldOption* out, std::string* why) {
  size_t a = text.find(':');
  size_t b = a == std::string::npos ? a : text.find(':', a + 1);
  if (b == std::string::npos) {
    *why = "--field takes NAME:MAX:DELIMITER, as id:10:COMMA, not \"" + text + "\"";
    return false;
  }
  out->name = text.substr(0, a);
  out->delimiter = text.substr(b + 1);
  if (!parseMax(text.substr(a + 1, b - a - 1), &out->max)) {
    *why = "--field " + text + ": the maximum must be a whole number from 0 to 32000";
    return false;
  }
  return checkField(*out, why);
}

bool readFormatFile(const std::string& path, std::vector<FieldOption>* out, std::string* why) {
  std::ifstream in(path);
  if (!in) {
    *why = "cannot read the format file " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string name, max, delimiter, extra;
    if (!(words >> name) || name[0] == '#') continue;
    FieldOption f;
    f.name = name;
    std::string problem;
    if (!(words >> max >> delimiter) || (words >> extra && extra[0] != '#')) {
      problem = "a field line is NAME MAX DELIMITER";
    } else if (!parseMax(max, &f.max)) {
      problem = "the maximum must be a whole number from 0 to 32000";
    } else {
      f.delimiter = delimiter;
      checkField(f, &problem);
    }
    if (!problem.empty()) {
      *why = path + ":" + std::to_string(number) + ": " + problem;
      return false;
    }
    out->push_back(f);
  }
  if (out->empty()) {
    *why = path + ": no fields";
    return false;
  }
  return true;
}

void appendCsvField(std::string& out, const std::string& text, char separator) {
  // Most values hold none of the four bytes that call for quotes: one pass tells.
  static constexpr auto kQuoted = [] {
    std::array<bool, 256> t{};
    t['"'] = t['\r'] = t['\n'] = true;
    return t;
  }();
  bool quote = false;
  for (char c : text)
    quote |= kQuoted[static_cast<unsigned char>(c)] | (c == separator);
  if (!quote) {
    out += text;
    return;
  }
  out += '"';
  size_t from = 0;
  for (size_t q; (q = text.find('"', from)) != std::string::npos; from = q + 1)
    out.append(text, from, q + 1 - from) += '"'; // a quote is doubled
  out.append(text, from, std::string::npos);
  out += '"';
}

std::string csvField(const std::string& text, char separator) {
  std::string out;
  appendCsvField(out, text, separator);
  return out;
}

namespace {
// The bytes a JSON string takes as they stand: all but controls, the quote and the backslash.
struct JsonPlain {
  bool plain[256];
  constexpr JsonPlain() : plain() {
    for (int u = 0; u < 256; ++u)
      plain[u] = u >= 0x20 && u != '"' && u != '\\';
  }
};
constexpr JsonPlain kJsonPlain;
} // namespace

char* writeJsonString(char* d, const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  *d++ = '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (kJsonPlain.plain[u]) { // UTF-8 as it stands
      *d++ = c;
    } else if (u == '"' || u == '\\') {
      *d++ = '\\';
      *d++ = c;
    } else { // a control character
      std::memcpy(d, "\\u00", 4);
      d[4] = kHex[u >> 4];
      d[5] = kHex[u & 0xF];
      d += 6;
    }
  }
  *d++ = '"';
  return d;
}

void appendJsonString(std::string& out, const std::string& text) {
  const size_t at = out.size();
  out.resize(at + 6 * text.size() + 2); // the longest form: every byte a \u escape
  char* end = writeJsonString(out.data() + at, text);
  out.resize(static_cast<size_t>(end - out.data()));
}

std::string jsonString(const std::string& text) {
  std::string out;
  appendJsonString(out, text);
  return out;
}

int runImport(Flavour flavour, const ImportOptions& opt, std::ostream& out, std::ostream& err) {
  std::string error;
  auto lib = Library::open(opt.library, flavour, &error);
  if (!lib) {
    err << "quillomar-host: " << error << "\n";
    return 2;
  }
  Host host(flavour);
  host.setVariable("fileRef", Value::num(0));
  host.setVariable("fileSize", Value::num(0));
  host.setVariable("position", Value::num(0));
  host.declareList("format", {"fieldName", "maxSize", "delimiter"});
  for (const auto& f : opt.fields) {
    host.setVariable(f.name, Value::str(U""));
    host.addRow("format", {Value::str(fromUtf8(f.name)), Value::num(f.max),
                           Value::str(fromUtf8(f.delimiter))});
  }
  auto code = [&host] { return host.returnCode() ? host.returnCode()->asNumber() : -1; };
  auto failed = [&](const char* step) {
    err << "quillomar-host: " << step << " answered " << code() << " (" << resultText(code())
        << ")\n";
    host.send(*lib, kUnload);
    return 1;
  };

  host.send(*lib, kLoad);
  std::vector<Param> open = {Param{{}, Value::str(fromUtf8(opt.source))}, Param{"fileRef", {}},
                             Param{"fileSize", {}}, Param{{}, Value::num(opt.stripQuotes ? 1 : 0)}};
  if (!opt.encoding.empty() || opt.csv)
    open.push_back(Param{{}, Value::str(fromUtf8(opt.encoding))});
  if (opt.csv) open.push_back(Param{{}, Value::str(U"CSV")});
  host.execute(*lib, kOpenFile, open);
  if (code() != 0) return failed("OpenFile");
  const double ref = host.variable("fileRef")->number;
  const double size = host.variable("fileSize")->number;
  auto defineFormat = [&](const char* list) {
    host.execute(*lib, kDefineFormat,
                 {Param{{}, Value::num(ref)}, Param{list, {}}, Param{{}, Value::str(U"fieldName")},
                  Param{{}, Value::str(U"maxSize")}, Param{{}, Value::str(U"delimiter")}});
    return code() == 0;
  };
  // The header is the first record: forwards the read starts after it, backwards it ends
  // there. It is read with the same delimiters and the widest maxima, into no field, so that
  // no header value is cut whatever the format's maxima.
  double headerEnd = 0;
  if (opt.header) {
    host.declareList("headerFormat", {"fieldName", "maxSize", "delimiter"});
    for (const auto& f : opt.fields)
      host.addRow("headerFormat",
                  {Value::str(U""), Value::num(32000), Value::str(fromUtf8(f.delimiter))});
    if (!defineFormat("headerFormat")) return failed("DefineFormat");
    host.setVariable("position", Value::num(0));
    host.execute(*lib, kReadRecord, {Param{{}, Value::num(ref)}, Param{"position", {}}});
    if (code() == 0 || code() == 9 || code() == 11)
      headerEnd = host.variable("position")->number;
    else if (code() != 7)
      return failed("ReadRecord (the header)");
  }
  if (!defineFormat("format")) return failed("DefineFormat");
  if (!opt.subs.empty()) {
    host.declareList("subs", {"target", "replacement"});
    for (const auto& pair : opt.subs) {
      std::u32string chars = fromUtf8(pair);
      host.addRow("subs", {Value::str(chars.substr(0, 1)), Value::str(chars.substr(1, 1))});
    }
    host.execute(*lib, kDefineSubs,
                 {Param{{}, Value::num(ref)}, Param{"subs", {}}, Param{{}, Value::str(U"target")},
                  Param{{}, Value::str(U"replacement")}});
    if (code() != 0) return failed("DefineSubs");
  }

  Writer writer(opt.output, out, opt.fields);
  writer.begin(opt.source, size);
  const double start = opt.from >= 0 ? opt.from : (opt.backwards ? size : headerEnd);
  host.setVariable("position", Value::num(start));
  Progress progress(!opt.quiet && QHOST_ISATTY(QHOST_FILENO(stderr)), size, opt.backwards);
  std::map<int, long> codes;
  long records = 0;
  double last = 0;
  const auto t0 = std::chrono::steady_clock::now();
  const std::vector<Param> read = {Param{{}, Value::num(ref)}, Param{"position", {}},
                                   Param{{}, Value::num(opt.strip ? 1 : 0)},
                                   Param{{}, Value::num(opt.backwards ? 1 : 0)}};
  // The fields' texts arrive as UTF-8, straight into values; a field a read does not reach
  // keeps its last text, as its variable would.
  std::vector<std::string> values(opt.fields.size());
  for (size_t i = 0; i < opt.fields.size(); ++i)
    host.bindText(opt.fields[i].name, &values[i]);
  const Value* position = host.variable("position");
  while (opt.limit == 0 || records < opt.limit) {
    host.execute(*lib, kReadRecord, read);
    last = code();
    ++codes[static_cast<int>(last)];
    if (last == 7 || last == -1 || (last >= 1 && last <= 6)) break;
    if (opt.header && opt.backwards && position->number < headerEnd) {
      last = 7; // the header itself: the records before it are all read
      break;
    }
    ++records;
    writer.record(values);
    progress.update(position->number, records);
    if (last == 9 || last == 8) break; // the last record ran into the end of the source
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  progress.update(host.variable("position")->number, records, true);
  progress.finish();
  writer.end();
  const double endPos = host.variable("position")->number;
  host.execute(*lib, kCloseFile, {Param{"fileRef", {}}});
  host.send(*lib, kUnload);

  // Read to its end: the end was reached, or the last record ran into it, or the limit.
  const bool limited = opt.limit != 0 && records >= opt.limit;
  const bool atEnd =
      last == 7 || ((last == 8 || last == 9) && endPos == (opt.backwards ? 0 : size));
  if (!opt.quiet) {
    const double bytes = opt.backwards ? start - endPos : endPos - start;
    std::ostringstream line;
    line << records << " record(s), " << static_cast<long long>(bytes) << " bytes in " << std::fixed
         << std::setprecision(2) << seconds << " s (" << std::setprecision(1)
         << (seconds > 0 ? bytes / seconds / 1e6 : 0) << " MB/s); results:";
    for (const auto& [c, n] : codes)
      line << " " << c << " x" << n << " (" << resultText(c) << ")";
    err << line.str() << "\n";
  }
  return (atEnd || limited) ? 0 : 1;
}

} // namespace qhost
