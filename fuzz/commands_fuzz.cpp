// Fuzzes whole command sequences: the library linked in, driven through the stand-in host
// with random commands, parameter counts and values over the whole numeric range, lists,
// sources and flags, and system faults chosen by the input. Whatever happens, the library
// must not crash or read or write outside its memory (the sanitizers watch), must answer a
// known code, must keep the host protocol, and must give back every block and file at unload.
//
// Input: two file contents and a clipboard text first (each a length byte and its bytes),
// then steps of a few bytes each: the command, the parameter count and each parameter.
#include "entry/command.h"
#include "host/host.h"
#include "host/system.h"
#include "platform/platform.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

#if QM_MAC
qhost::Flavour flavour() { return qhost::Flavour::Mac; }
void entry(int16_t md, void** ref, void* rec) {
  QuillomarMessage(md, ref, nullptr, static_cast<qcallback>(rec));
}
#else
qhost::Flavour flavour() { return QM_UNICODE ? qhost::Flavour::WinUnicode : qhost::Flavour::Win8; }
void QHOST_STDCALL entry(int16_t md, void** ref, void*, void*, void*, qhost::WinCallback cb) {
  QuillomarMessage(md, ref, nullptr, reinterpret_cast<qcallback>(cb));
}
#endif

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "commands fuzz: %s\n", what);
  std::abort();
}

// Reads the input front to back; past its end every read gives 0.
struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t byte() { return at < size ? data[at++] : 0; }
  bool done() const { return at >= size; }
  std::string bytes(size_t n) {
    std::string s;
    while (n-- > 0 && !done())
      s += static_cast<char>(byte());
    return s;
  }
  double raw() {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
      bits = bits << 8 | byte();
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
};

double number(Input& in) {
  static const double kInteresting[] = {
      0,          1,          -1,    2,          3,          7,           8,
      9,          11,         0.5,   -0.5,       1.9,        255,         256,
      32000,      32001,      32767, 32768,      -32768,     -32769,      65535,
      65536,      65537,      65538, 2147483647, 2147483648, -2147483648, -2147483649.0,
      4294967296, 4294967306, 1e300, -1e300,     40000,      -40000};
  uint8_t b = in.byte();
  if (b < 200) return kInteresting[b % (sizeof kInteresting / sizeof kInteresting[0])];
  if (b < 220) return std::numeric_limits<double>::quiet_NaN();
  if (b < 230) return b & 1 ? INFINITY : -INFINITY;
  if (b < 245) return static_cast<double>(in.byte()); // small positions
  return in.raw();
}

std::u32string text(Input& in) {
  static const char32_t* const kTexts[] = {
      U"",           U"a.txt",   U"b.txt",      U"CLIPBOARD",    U"clipboard",
      U"CLIPBOARD ", U"FIELD:v", U"FIELD:",     U"FIELD:nope",   U"\u0146IELD:v",
      U"\u4E00.txt", U"COMMA",   U"CRLF",       U"TAB",          U"MAX",
      U"ASC|",       U"ASC",     U"ASC1234",    U"\r\n",         U",",
      U"\"",         U"x",       U".",          U"/dev/null",    U"name",
      U"size",       U"delim",   U"CSV",        U"csv",          U"UTF-8",
      U"LF",         U"EOL",     U"ASC\u20AC",  U"CSV'",         U"CSV\\",
      U"CSV'\\",     U"CSV\"",   U"RETURN",     U"ASC, ",        U"ASC ",
      U"SEMICO",     U"'",       U"\\",         U"Windows-1252", U"cp1252",
      U"Mac Roman",  U"latin-9", U"ISO-8859-1", U"ASC\u0152",    U"\u2013"};
  uint8_t b = in.byte();
  if (b < 200) return kTexts[b % (sizeof kTexts / sizeof kTexts[0])];
  std::u32string s;
  size_t n = in.byte() % 300; // long ones cross the 255-character limit of paths
  char32_t base = b & 1 ? U'a' : static_cast<char32_t>(in.byte()) << 8;
  for (size_t i = 0; i < n; ++i)
    s += base + (i % 26);
  return s;
}

// A list for the definition commands: three columns, 0 to a few lines.
void makeList(qhost::Host& host, Input& in) {
  qhost::List& l = host.declareList("L", {"name", "size", "delim"});
  (void)l;
  int lines = in.byte() % 6;
  for (int i = 0; i < lines; ++i) {
    std::u32string name = in.byte() % 3 ? U"v" : U"";
    host.addRow(
        "L", {qhost::Value::str(name), qhost::Value::num(number(in)), qhost::Value::str(text(in))});
  }
}

void armFault(Input& in) {
  uint8_t b = in.byte();
  if (b < 160) return; // most steps run without faults
  auto kind = static_cast<PlatFault>(b % kFaultKinds);
  qlong n = 1 + in.byte() % 4;
  if (b & 0x10)
    plat_fault_from(kind, n);
  else
    plat_fault_after(kind, n);
}

void disarm() {
  for (int k = 0; k < kFaultKinds; ++k)
    plat_fault_after(static_cast<PlatFault>(k), 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const std::string fileA = in.bytes(in.byte()), fileB = in.bytes(in.byte());
  const std::string clip = in.bytes(in.byte());
  // Most inputs are mutations of the steps, not of the files: a file is written only when
  // its bytes differ from the last input's (system calls were most of a run's time).
  static std::string lastA, lastB;
  static bool written = false;
  if (!written || fileA != lastA)
    std::ofstream("a.txt", std::ios::binary | std::ios::trunc) << fileA;
  if (!written || fileB != lastB)
    std::ofstream("b.txt", std::ios::binary | std::ios::trunc) << fileB;
  lastA = fileA;
  lastB = fileB;
  written = true;

  const long blocks = qhost::systemLiveBlocks();
  const long files = qhost::systemOpenFiles();
  {
    // One library and one host for the whole process: every input sets the variables and
    // the list again and ends with an unload, so nothing of one input reaches the next.
    static const auto lib = qhost::Library::fromEntry(reinterpret_cast<void*>(&entry), flavour());
    static qhost::Host host(flavour());
    host.clearProtocolErrors();
    host.setClipboard(clip);
    host.setVariable("v", qhost::Value::str(qhost::fromUtf8(fileA)));
    host.setVariable("r", qhost::Value::num(0));
    host.setVariable("p", qhost::Value::num(0));
    host.setVariable("n", qhost::Value::num(0));
    host.setVariable("d", qhost::Value::str(U""));
    makeList(host, in);
    host.send(*lib, kMsgLoad);
    for (int step = 0; step < 64 && !in.done(); ++step) {
      uint8_t op = in.byte();
      if (op >= 250) {
        host.send(*lib, op == 250 ? kMsgUnload : kMsgLoad);
        continue;
      }
      if (op >= 240) {
        makeList(host, in);
        continue;
      }
      auto cmd = static_cast<int16_t>(op % 10); // 0 and 9 are no commands
      size_t count = in.byte() % 9;
      std::vector<qhost::Param> params;
      for (size_t i = 0; i < count; ++i) {
        uint8_t how = in.byte() % 8;
        static const char* const kVars[] = {"r", "p", "n", "d", "L", "v"};
        if (how < 4)
          params.push_back(qhost::Param{kVars[in.byte() % 6], {}});
        else if (how < 7)
          params.push_back(qhost::Param{{}, qhost::Value::num(number(in))});
        else
          params.push_back(qhost::Param{{}, qhost::Value::str(text(in))});
      }
      armFault(in);
      host.execute(*lib, cmd, std::move(params));
      disarm();
      check(host.protocolErrors().empty(), "the library broke the host protocol");
      const auto& rc = host.returnCode();
      if (cmd >= 2 && cmd <= 8 && rc) {
        double c = rc->asNumber();
        check(c >= qhost::kRcNotLoaded && c <= qhost::kRcStrayQuote, "an unknown return code");
      }
    }
    host.send(*lib, kMsgUnload);
    host.clearClipboard();
  }
  check(blocks < 0 || qhost::systemLiveBlocks() == blocks, "memory kept after unload");
  check(files < 0 || qhost::systemOpenFiles() == files, "a file kept open after unload");
  return 0;
}
