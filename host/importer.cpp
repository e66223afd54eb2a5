// quillomar-host import: opens a source through the library, defines its format (and
// substitutions), reads every record and writes it out, with a progress bar on a terminal and
// a one-line summary.
#include "importer.h"

#include "host.h"

#include <algorithm>
#include <array>
#include <cmath>
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
    // A delimiter that holds a blank ("ASC " or "ASC, ") is written in double quotes.
    const bool read = static_cast<bool>(words >> max >> std::ws);
    if (read && words.peek() == '"') {
      words.get();
      std::getline(words, delimiter, '"');
    } else if (read) {
      words >> delimiter;
    }
    if (!read || delimiter.empty() || (words >> extra && extra[0] != '#')) {
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

namespace {

// What the read loop saw: the records written, each return code's count, the last code and
// where the position ended.
struct ReadTally {
  enum { kShort, kLong, kBlank, kStray, kKinds };
  long count[kKinds] = {};   // short, long, blank and stray-quote records
  double first[kKinds] = {}; // the position of the first of each
  long records = 0;
  std::map<int, long> codes;
  double last = kRcOk;
  double endPos = 0;
  double seconds = 0;
};

// One import through a loaded build, step by step: open the source, read the header, define
// the format and the substitutions, the read loop, the summary and the exit status.
class ImportRun {
public:
  ImportRun(Flavour flavour, const ImportOptions& opt, std::ostream& err)
      : opt_(opt), err_(err), host_(flavour) {}

  // Loads the library; false (with a message) when it cannot be.
  bool load(Flavour flavour) {
    std::string error;
    lib_ = Library::open(opt_.library, flavour, &error);
    if (!lib_) err_ << "quillomar-host: " << error << "\n";
    return lib_ != nullptr;
  }

  bool openSource() {
    host_.setVariable("fileRef", Value::num(0));
    host_.setVariable("fileSize", Value::num(0));
    host_.setVariable("position", Value::num(0));
    host_.send(*lib_, kLoad);
    std::vector<Param> open = {Param{{}, Value::str(fromUtf8(opt_.source))}, Param{"fileRef", {}},
                               Param{"fileSize", {}},
                               Param{{}, Value::num(opt_.stripQuotes ? 1 : 0)}};
    const std::string quoting = !opt_.quoting.empty() ? opt_.quoting : opt_.csv ? "CSV" : "";
    if (!opt_.encoding.empty() || !quoting.empty())
      open.push_back(Param{{}, Value::str(fromUtf8(opt_.encoding))});
    if (!quoting.empty()) open.push_back(Param{{}, Value::str(fromUtf8(quoting))});
    host_.execute(*lib_, kOpenFile, open);
    if (code() != kRcOk) return failed("OpenFile");
    ref_ = host_.variable("fileRef")->number;
    size_ = host_.variable("fileSize")->number;
    return true;
  }

  // The header is the first record: forwards the read starts after it, backwards it ends
  // there. It is read with the same delimiters and the widest maxima, into no field, so that
  // no header value is cut whatever the format's maxima.
  bool readHeader() {
    if (!opt_.header) return true;
    host_.declareList("headerFormat", {"fieldName", "maxSize", "delimiter"});
    for (const auto& f : opt_.fields)
      host_.addRow("headerFormat",
                   {Value::str(U""), Value::num(32000), Value::str(fromUtf8(f.delimiter))});
    if (!defineFormat("headerFormat")) return failed("DefineFormat");
    host_.setVariable("position", Value::num(opt_.tableStart));
    host_.execute(*lib_, kReadRecord, {Param{{}, Value::num(ref_)}, Param{"position", {}}});
    if (code() == kRcOk || code() == kRcNoDelimiter || code() >= kRcTooLong)
      headerEnd_ = host_.variable("position")->number;
    else if (code() != kRcAtEnd)
      return failed("ReadRecord (the header)");
    return true;
  }

  bool defineFormatAndSubs() {
    host_.declareList("format", {"fieldName", "maxSize", "delimiter"});
    for (const auto& f : opt_.fields) {
      host_.setVariable(f.name, Value::str(U""));
      host_.addRow("format", {Value::str(fromUtf8(f.name)), Value::num(f.max),
                              Value::str(fromUtf8(f.delimiter))});
    }
    if (!defineFormat("format")) return failed("DefineFormat");
    if (opt_.subs.empty()) return true;
    host_.declareList("subs", {"target", "replacement"});
    for (const auto& pair : opt_.subs) {
      std::u32string chars = fromUtf8(pair);
      host_.addRow("subs", {Value::str(chars.substr(0, 1)), Value::str(chars.substr(1, 1))});
    }
    host_.execute(*lib_, kDefineSubs,
                  {Param{{}, Value::num(ref_)}, Param{"subs", {}}, Param{{}, Value::str(U"target")},
                   Param{{}, Value::str(U"replacement")}});
    return code() == kRcOk || failed("DefineSubs");
  }

  // Where the read starts: --from, else the end backwards or the header's end forwards.
  double start() const {
    if (opt_.from >= 0) return opt_.from;
    if (opt_.backwards) return opt_.tableEnd >= 0 ? opt_.tableEnd : size_;
    return firstRecord();
  }
  // The table's first record: after the header, or where the table starts.
  double firstRecord() const { return headerEnd_ >= 0 ? headerEnd_ : opt_.tableStart; }
  double size() const { return size_; }

  // Reads record after record into the writer until the source, the limit or a failure ends it.
  ReadTally readAll(Writer& writer) {
    ReadTally t;
    host_.setVariable("position", Value::num(start()));
    Progress progress(!opt_.quiet && QHOST_ISATTY(QHOST_FILENO(stderr)), size_, opt_.backwards);
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<Param> read = {Param{{}, Value::num(ref_)}, Param{"position", {}},
                                     Param{{}, Value::num(opt_.strip ? 1 : 0)},
                                     Param{{}, Value::num(opt_.backwards ? 1 : 0)}};
    // The fields' texts arrive as UTF-8, straight into values; a field a read does not reach
    // keeps its last text, as its variable would.
    std::vector<std::string> values(opt_.fields.size());
    for (size_t i = 0; i < opt_.fields.size(); ++i)
      host_.bindText(opt_.fields[i].name, &values[i]);
    const Value* position = host_.variable("position");
    const double tableEnd = opt_.tableEnd >= 0 ? opt_.tableEnd : size_;
    while (opt_.limit == 0 || t.records < opt_.limit) {
      if (!opt_.backwards && opt_.from < 0 && position->number >= tableEnd) {
        t.last = kRcAtEnd; // a footnote follows the table
        break;
      }
      const double before = position->number;
      for (auto& v : values) // never a value of an earlier record
        v.clear();
      host_.execute(*lib_, kReadRecord, read);
      t.last = code();
      ++t.codes[static_cast<int>(t.last)];
      if (t.last == kRcAtEnd || t.last == kRcNotLoaded ||
          (t.last >= kRcNoFormat && t.last <= kRcNoSuchFile))
        break;
      if (opt_.backwards && opt_.from < 0 && position->number < firstRecord()) {
        t.last = kRcAtEnd; // the header or the preamble: the records before it are all read
        break;
      }
      if (!tally(&t, before, values)) {
        ++t.records;
        writer.record(values);
      }
      progress.update(position->number, t.records);
      // Forwards the last record ran into the end; backwards only the first record read can
      // end without its line end, and the records before it are still to come.
      if (!opt_.backwards && (t.last == kRcNoDelimiter || t.last == kRcShortFixed)) break;
    }
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    t.endPos = position->number;
    progress.update(t.endPos, t.records, true);
    progress.finish();
    host_.execute(*lib_, kCloseFile, {Param{"fileRef", {}}});
    host_.send(*lib_, kUnload);
    return t;
  }

  // The summary line on stderr and the exit status: 0 when the source was read to its end
  // (the end reached, the last record ran into it, or the limit), else 1.
  int finish(const ReadTally& t) const {
    const bool limited = opt_.limit != 0 && t.records >= opt_.limit;
    const bool atEnd =
        t.last == kRcAtEnd || ((t.last == kRcShortFixed || t.last == kRcNoDelimiter) &&
                               t.endPos == (opt_.backwards ? 0 : size_));
    if (!opt_.quiet) {
      const double bytes = opt_.backwards ? start() - t.endPos : t.endPos - start();
      std::ostringstream line;
      line << t.records << " record(s), " << static_cast<long long>(bytes) << " bytes in "
           << std::fixed << std::setprecision(2) << t.seconds << " s (" << std::setprecision(1)
           << (t.seconds > 0 ? bytes / t.seconds / 1e6 : 0) << " MB/s); results:";
      for (const auto& [c, n] : t.codes)
        line << " " << c << " x" << n << " (" << resultText(c) << ")";
      static const char* const kNames[] = {"short", "long", "blank", "stray-quote"};
      for (int k = 0; k < ReadTally::kKinds; ++k)
        if (t.count[k] > 0)
          line << "; " << t.count[k] << " " << kNames[k] << " (the first at position "
               << static_cast<long long>(t.first[k]) << ")";
      if (t.count[ReadTally::kBlank] > 0)
        line << (opt_.keepBlank ? "; blank lines kept as empty rows" : "; blank lines skipped");
      err_ << line.str() << "\n";
    }
    const bool damaged =
        t.count[ReadTally::kShort] + t.count[ReadTally::kLong] + t.count[ReadTally::kStray] > 0;
    if (opt_.strict && damaged) return 1;
    return (atEnd || limited) ? 0 : 1;
  }

private:
  // Counts a short, long, blank or stray-quote record, with the position of the first of each;
  // true for a blank line that is not kept (it is not written).
  bool tally(ReadTally* t, double before, const std::vector<std::string>& values) {
    const double at = std::min(before, host_.variable("position")->number);
    const bool empty =
        std::all_of(values.begin(), values.end(), [](const std::string& v) { return v.empty(); });
    const double consumed = std::abs(host_.variable("position")->number - before);
    int kind = -1;
    if ((t->last == kRcShortRecord || (values.size() == 1 && t->last == kRcOk)) && empty &&
        consumed <= 2)
      kind = ReadTally::kBlank;
    else if (t->last == kRcShortRecord)
      kind = ReadTally::kShort;
    else if (t->last == kRcLongRecord)
      kind = ReadTally::kLong;
    else if (t->last == kRcStrayQuote)
      kind = ReadTally::kStray;
    if (kind < 0) return false;
    if (t->count[kind]++ == 0) t->first[kind] = at;
    return kind == ReadTally::kBlank && !opt_.keepBlank;
  }

  double code() const { return host_.returnCode() ? host_.returnCode()->asNumber() : kRcNotLoaded; }

  bool failed(const char* step) {
    err_ << "quillomar-host: " << step << " answered " << code() << " ("
         << resultText(static_cast<int>(code())) << ")\n";
    host_.send(*lib_, kUnload);
    return false;
  }

  bool defineFormat(const char* list) {
    host_.execute(*lib_, kDefineFormat,
                  {Param{{}, Value::num(ref_)}, Param{list, {}},
                   Param{{}, Value::str(U"fieldName")}, Param{{}, Value::str(U"maxSize")},
                   Param{{}, Value::str(U"delimiter")}});
    return code() == kRcOk;
  }

  const ImportOptions& opt_;
  std::ostream& err_;
  std::unique_ptr<Library> lib_;
  Host host_;
  double ref_ = 0;
  double size_ = 0;
  double headerEnd_ = -1; // -1: no header read
};

} // namespace

int runImport(Flavour flavour, const ImportOptions& opt, std::ostream& out, std::ostream& err) {
  ImportRun run(flavour, opt, err);
  if (!run.load(flavour)) return 2;
  if (!run.openSource() || !run.readHeader() || !run.defineFormatAndSubs()) return 1;
  Writer writer(opt.output, out, opt.fields);
  writer.begin(opt.source, run.size());
  const ReadTally tally = run.readAll(writer);
  writer.end();
  return run.finish(tally);
}

} // namespace qhost
