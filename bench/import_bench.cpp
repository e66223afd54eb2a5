// One measurement of an import, in a process of its own so that its peak memory is its own.
// Prints one line: name, bytes, records, seconds, peak resident KiB.
//
//   quillomar-import-bench library LIB FILE --source disk|field|clipboard
//                          --read forwards|backwards|upto|bytes [--minimal] [--tsv] [--csv]
//                          [--shape customers|narrow|wide]   (the record format of the file)
//                          [--encoding NAME]   (OpenFile's encoding, as a method names it)
//   quillomar-import-bench onebyte FILE     one system read per byte, counting line ends
//   quillomar-import-bench memchr FILE      1 MiB reads, memchr over every delimiter: the limit
//
// The library runs behind the stand-in host (every field stored as a host value), or with
// --minimal behind a callback that answers only what a read loop asks and stores nothing, so
// that the host's own cost can be told from the library's. The sources are opened and the
// format defined through the stand-in host in both cases.
#include "host/host.h"

#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>

#include <psapi.h> // after windows.h, whose types it uses
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

using qhost::Value;
using Clock = std::chrono::steady_clock;

long peakKiB() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS pmc{};
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  return static_cast<long>(pmc.PeakWorkingSetSize / 1024);
#else
  // VmHWM, not getrusage: Linux carries ru_maxrss over exec, so a child would report the
  // peak of the process that started it whenever that was larger.
  std::FILE* f = std::fopen("/proc/self/status", "r");
  long kib = -1;
  char line[256];
  while (f && std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  if (f) std::fclose(f);
  if (kib < 0) {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    kib = ru.ru_maxrss;
  }
  return kib;
#endif
}

void report(const std::string& name, long long bytes, long long records, double seconds) {
  std::printf("%s %lld %lld %.6f %ld\n", name.c_str(), bytes, records, seconds, peakKiB());
}

// ---- The minimal host ---------------------------------------------------------------------
// Parameters are numbers, but for ReadUpTo's terminator; stores are counted, their texts
// ignored, as the libcsv peer ignores its fields.
struct MinimalHost {
  std::vector<double> params; // params[0] is parameter 1
  std::u32string terminator;  // the text parameter, where there is one
  int textParam = 0;
  int16_t command = 0;
  double returnCode = 0;
  long long stores = 0;
};
MinimalHost* gMinimal = nullptr;

enum : int32_t { kGetFldNum = 29, kSetFldVal = 30, kSetFldNum = 31, kGetFldVal = 38, kGetId = 48 };

int16_t QHOST_CDECL minimalCallback(int32_t op, ...) {
  va_list ap;
  va_start(ap, op);
  MinimalHost& h = *gMinimal;
  switch (op) {
  case kGetFldNum: {
    auto ref = static_cast<int16_t>(va_arg(ap, int32_t));
    auto* d = va_arg(ap, double*);
    if (ref == qhost::kParamCount)
      *d = static_cast<double>(h.params.size());
    else if (ref > qhost::kParamCount &&
             ref - qhost::kParamCount <= static_cast<int>(h.params.size()))
      *d = h.params[static_cast<size_t>(ref - qhost::kFirstParam)];
    break;
  }
  case kSetFldVal: {
    (void)va_arg(ap, int32_t);
    (void)va_arg(ap, int32_t);
    (void)va_arg(ap, void*); // like the libcsv peer's callback, it looks at nothing
    ++h.stores;
    break;
  }
  case kSetFldNum: {
    auto ref = static_cast<int16_t>(va_arg(ap, int32_t));
    double v = *va_arg(ap, double*);
    if (ref == qhost::kReturnCode)
      h.returnCode = v;
    else if (ref > qhost::kParamCount)
      h.params[static_cast<size_t>(ref - qhost::kFirstParam)] = v;
    break;
  }
  case kGetFldVal: {
    auto ref = static_cast<int16_t>(va_arg(ap, int32_t));
    auto fmt = static_cast<int16_t>(va_arg(ap, int32_t));
    int32_t maxlen = va_arg(ap, int32_t);
    auto* out = static_cast<uint32_t*>(va_arg(ap, void*));
    const bool ours = ref == qhost::kFirstParam - 1 + h.textParam;
    if (fmt == qhost::kFmtLength) {
      *reinterpret_cast<int32_t*>(out) = ours ? static_cast<int32_t>(h.terminator.size()) : 0;
      break;
    }
    int32_t n = 0;
    if (ours)
      for (; n < maxlen && n < static_cast<int32_t>(h.terminator.size()); ++n)
        out[n] = h.terminator[static_cast<size_t>(n)];
    out[n] = 0;
    break;
  }
  case kGetId:
    *va_arg(ap, int32_t*) = h.command;
    break;
  default:
    break;
  }
  va_end(ap);
  return 0;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

enum Cmd : int16_t {
  kCloseFile = 2,
  kReadBytes = 3,
  kReadUpTo = 4,
  kReadRecord = 5,
  kDefineFormat = 7,
  kOpenFile = 8
};

struct Options {
  std::string library, file, source = "disk", read = "forwards";
  std::string shape = "customers"; // customers, narrow or wide: the record format
  bool minimal = false, tsv = false;
  bool csv = false;     // CSV quoting instead of the enclosing-quote rule
  std::string encoding; // OpenFile's encoding: empty for bytes as they stand
};

// The timed loop: one command per record until the end. A function of its own, so that a
// profile can count it alone (tools/profile.py: callgrind --toggle-collect=*readLoop*).
[[gnu::noinline]] long long readLoop(bool minimalHost, const qhost::Library& lib, qhost::Host& host,
                                     const MinimalHost& minimal, void* cb, int16_t command,
                                     const std::vector<qhost::Param>& full) {
  long long records = 0;
  while (true) {
    double rc = 0;
    if (minimalHost) {
      lib.call(qhost::kExecute, host.slotAddress(), cb);
      rc = minimal.returnCode;
    } else {
      host.execute(lib, command, full);
      rc = host.returnCode().value_or(Value::num(-1)).number;
    }
    if (rc == 7 || (rc != 0 && rc != 8 && rc != 9 && rc != 11)) break;
    ++records;
    if (rc == 9 || rc == 8) break; // the last record or chunk ran into the end
  }
  return records;
}

int runLibrary(const Options& o) {
  std::string error;
  auto lib = qhost::Library::open(o.library, qhost::Flavour::WinUnicode, &error);
  if (!lib) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  qhost::Host host(qhost::Flavour::WinUnicode);
  host.send(*lib, qhost::kLoad);
  std::string path = o.file;
  long long fileBytes = 0;
  if (o.source == "field" || o.source == "clipboard") {
    std::string bytes = readAll(o.file);
    fileBytes = static_cast<long long>(bytes.size());
    if (o.source == "clipboard") {
      host.setClipboard(bytes);
      path = "CLIPBOARD";
    } else {
      host.setVariable("text", Value::str(qhost::fromUtf8(bytes)));
      path = "FIELD:text";
    }
  }
  host.setVariable("ref", Value::num(0));
  host.setVariable("size", Value::num(0));
  host.execute(*lib, kOpenFile,
               {{{}, Value::str(qhost::fromUtf8(path))},
                {"ref", {}},
                {"size", {}},
                {{}, Value::num(o.csv ? 0 : 1)},
                {{}, Value::str(qhost::fromUtf8(o.encoding))},
                {{}, Value::str(o.csv ? U"CSV" : U"")}});
  if (host.returnCode() != Value::num(0)) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  const double ref = host.variable("ref")->number;
  const double size = host.variable("size")->number;
  if (fileBytes == 0) fileBytes = static_cast<long long>(size);

  // Each shape's format (tools/bench_data.py writes the files): names and maxima.
  std::vector<std::pair<std::string, int>> format;
  if (o.shape == "narrow") {
    for (int i = 1; i <= 20; ++i)
      format.emplace_back(std::string("n").append(std::to_string(i)), 8);
  } else if (o.shape == "wide") {
    format = {{"id", 10}, {"title", 100}, {"body", 4200}, {"date", 10}};
  } else {
    format = {{"id", 10},   {"first", 40}, {"last", 40},   {"email", 80},
              {"city", 40}, {"date", 10},  {"amount", 12}, {"note", 400}};
  }
  // UTF-16 takes two bytes for a character of the file's other encodings: maxima twice theirs.
  std::string name = o.encoding;
  for (char& c : name)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.rfind("utf-16", 0) == 0)
    for (auto& entry : format)
      entry.second *= 2;
  host.declareList("fmt", {"name", "size", "delim"});
  for (size_t i = 0; i < format.size(); ++i) {
    host.setVariable(format[i].first, Value::str(U""));
    const char32_t* delim = i + 1 == format.size() ? U"CRLF" : (o.tsv ? U"TAB" : U"COMMA");
    host.addRow("fmt", {Value::str(qhost::fromUtf8(format[i].first)), Value::num(format[i].second),
                        Value::str(delim)});
  }
  host.execute(*lib, kDefineFormat,
               {{{}, Value::num(ref)},
                {"fmt", {}},
                {{}, Value::str(U"name")},
                {{}, Value::str(U"size")},
                {{}, Value::str(U"delim")}});

  // One command of the loop: its parameters and the command number.
  const bool backwards = o.read == "backwards";
  double position = backwards ? size : 0;
  std::vector<double> params;
  int16_t command = kReadRecord;
  int textParam = 0;
  if (o.read == "forwards" || backwards) {
    params = {ref, position, 0, backwards ? 1.0 : 0.0};
  } else if (o.read == "upto") {
    command = kReadUpTo;
    params = {ref, position, 0, 0, 32000, 0, 0};
    textParam = 4;
  } else {
    command = kReadBytes;
    params = {ref, position, 0, 4096, 0, 0};
  }
  std::vector<qhost::Param> full;
  for (size_t i = 0; i < params.size(); ++i) {
    const std::string name = std::string("p").append(std::to_string(i + 1));
    host.setVariable(name, Value::num(params[i]));
    full.push_back({name, {}});
  }
  if (textParam) host.setVariable("p4", Value::str(U"\r\n"));

  MinimalHost minimal;
  minimal.params = params;
  minimal.command = command;
  minimal.textParam = textParam;
  minimal.terminator = U"\r\n";
  gMinimal = &minimal;
  auto* cb = reinterpret_cast<void*>(&minimalCallback);

  const auto t0 = Clock::now();
  const long long records = readLoop(o.minimal, *lib, host, minimal, cb, command, full);
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  host.execute(*lib, kCloseFile, {{"ref", {}}});
  host.send(*lib, qhost::kUnload);
  report(o.read + "/" + o.source + (o.minimal ? "/minimal" : "/host"), fileBytes, records, seconds);
  return 0;
}

// One system read per byte: what every delimited field of a disk file cost before.
int runOneByte(const std::string& file) {
  long long bytes = 0, lines = 0;
  const auto t0 = Clock::now();
#if defined(_WIN32)
  HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  char c = 0;
  DWORD got = 0;
  while (ReadFile(h, &c, 1, &got, nullptr) && got == 1) {
    ++bytes;
    if (c == '\n') ++lines;
  }
  CloseHandle(h);
#else
  int fd = ::open(file.c_str(), O_RDONLY);
  if (fd < 0) return 1;
  char c = 0;
  while (::read(fd, &c, 1) == 1) {
    ++bytes;
    if (c == '\n') ++lines;
  }
  ::close(fd);
#endif
  report("onebyte", bytes, lines, std::chrono::duration<double>(Clock::now() - t0).count());
  return 0;
}

// The physical limit of splitting: 1 MiB reads and a memchr count of every delimiter.
int runMemchr(const std::string& file, bool tsv) {
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return 1;
  std::vector<char> chunk(1 << 20);
  long long bytes = 0, lines = 0, fields = 0;
  const char sep = tsv ? '\t' : ',';
  const auto t0 = Clock::now();
  size_t n = 0;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
    bytes += static_cast<long long>(n);
    for (char d : {sep, '\n'}) {
      const char* p = chunk.data();
      const char* end = p + n;
      while ((p = static_cast<const char*>(std::memchr(p, d, static_cast<size_t>(end - p))))) {
        ++(d == '\n' ? lines : fields);
        ++p;
      }
    }
  }
  std::fclose(f);
  report("memchr", bytes, lines, std::chrono::duration<double>(Clock::now() - t0).count());
  return fields >= 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "onebyte") return runOneByte(args[1]);
  if (args.size() >= 2 && args[0] == "memchr")
    return runMemchr(args[1], args.size() > 2 && args[2] == "--tsv");
  if (args.size() >= 3 && args[0] == "library") {
    Options o;
    o.library = args[1];
    o.file = args[2];
    for (size_t i = 3; i < args.size(); ++i) {
      if (args[i] == "--minimal")
        o.minimal = true;
      else if (args[i] == "--tsv")
        o.tsv = true;
      else if (args[i] == "--csv")
        o.csv = true;
      else if (args[i] == "--source" && i + 1 < args.size())
        o.source = args[++i];
      else if (args[i] == "--read" && i + 1 < args.size())
        o.read = args[++i];
      else if (args[i] == "--shape" && i + 1 < args.size())
        o.shape = args[++i];
      else if (args[i] == "--encoding" && i + 1 < args.size())
        o.encoding = args[++i];
      else {
        std::fprintf(stderr, "unknown option %s\n", args[i].c_str());
        return 2;
      }
    }
    return runLibrary(o);
  }
  std::fprintf(stderr,
               "usage: quillomar-import-bench library LIB FILE [--source disk|field|clipboard]\n"
               "         [--read forwards|backwards|upto|bytes] [--minimal] [--tsv] [--csv]\n"
               "         [--shape customers|narrow|wide] [--encoding NAME]\n"
               "       quillomar-import-bench onebyte FILE | memchr FILE [--tsv]\n");
  return 2;
}
