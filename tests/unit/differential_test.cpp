// The windowed reader against a one-byte reference: random files, formats, substitution
// tables, flags and command sequences (forwards, backwards, jumps, two files interleaved),
// run through the library's entry point and through a reference that reads the same file
// one system read per byte, as the reader once did. Codes, stored texts and positions must
// agree result by result.
//
// QM_DIFF_SEED picks the first seed and QM_DIFF_RUNS the number of runs (default 60); a
// failure prints the seed that reproduces it.
#include "base/avx2.h"
#include "harness.h"
#include "import/reader.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

using qtest::InProcess;
using qtest::lit;
using qtest::var;

namespace {

struct RefField {
  std::string name; // host variable receiving it
  int max = 0;
  std::string delim; // empty: fixed length
};

struct RefFile {
  std::string path;
  std::string bytes;
  bool stripQuotes = false;
  bool utf8 = false; // opened with the encoding "UTF-8"
  qlong bom = 0;     // 3 when such a file starts with a byte-order mark
  qpos base = 0;     // zero bytes (a sparse prefix) before the bytes: positions start here
  std::vector<RefField> format;
  std::vector<qbyte> subs; // count word and pairs, as the library lays them out
  double ref = 0;
  qpos lastPos = 0;
  qpos size() const { return base + static_cast<qpos>(bytes.size()); }
  // The bytes [start, start + n) as the file holds them, the prefix's zeros included.
  std::string slice(qpos start, qlong n) const {
    std::string out;
    for (qpos at = start; at < start + n; ++at)
      out += at < base ? '\0' : bytes[static_cast<size_t>(at - base)];
    return out;
  }
  qfileref sysRef = 0; // the reference's own handle on the file
  PlatFileBlock sysBlock{};
};

// What one command did: its code, the texts it stored (by variable) and what it wrote back.
struct Outcome {
  int code = 0;
  std::vector<std::pair<std::string, std::string>> stored;
  std::optional<qpos> pos;
  std::optional<qlong> count; // bytesReadField of ReadUpTo and ReadBytes
};

// The reference reader: one field, byte by byte, from a source that hands out one byte at a
// time (nullopt at the end).
// UTF-8 as the Unicode standard defines it: the second byte's range after each lead byte,
// and the sequence's length; 0 for a byte that starts no sequence.
int refUtf8Lead(unsigned char b, unsigned char* lo, unsigned char* hi) {
  *lo = 0x80;
  *hi = 0xBF;
  if (b < 0xC2 || b > 0xF4) return 0;
  if (b <= 0xDF) return 2;
  if (b <= 0xEF) {
    *lo = b == 0xE0 ? 0xA0 : 0x80;
    *hi = b == 0xED ? 0x9F : 0xBF;
    return 3;
  }
  *lo = b == 0xF0 ? 0x90 : 0x80;
  *hi = b == 0xF4 ? 0x8F : 0xBF;
  return 4;
}

// The reference decoder: a well-formed sequence becomes its character, each maximal subpart
// of an ill-formed one U+FFFD.
std::u32string refDecodeUtf8(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out += b;
      ++i;
      continue;
    }
    unsigned char lo = 0, hi = 0;
    const int len = refUtf8Lead(b, &lo, &hi);
    if (len == 0) {
      out += U'\uFFFD';
      ++i;
      continue;
    }
    char32_t c = b & (0xFF >> (len + 1));
    int k = 1;
    while (k < len && i + static_cast<size_t>(k) < s.size()) {
      const auto t = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      if (t < lo || t > hi) break;
      c = c << 6 | (t & 0x3F);
      lo = 0x80;
      hi = 0xBF;
      ++k;
    }
    out += k == len ? c : U'\uFFFD';
    i += static_cast<size_t>(k);
  }
  return out;
}

// Where a UTF-8 piece cut after maxBytes of buf ends: at the start of the character the cut
// would split (one whose first bytes, up to and including the first byte past the cut, are
// well-formed so far), unless that would keep nothing.
qlong refUtf8Cut(const std::string& buf, qlong maxBytes) {
  if (maxBytes >= static_cast<qlong>(buf.size())) return maxBytes;
  for (qlong s = maxBytes - 1; s >= 0 && s >= maxBytes - 3; --s) {
    const auto b = static_cast<unsigned char>(buf[static_cast<size_t>(s)]);
    if ((b & 0xC0) == 0x80) continue;
    unsigned char lo = 0, hi = 0;
    const int len = refUtf8Lead(b, &lo, &hi);
    if (len <= maxBytes - s) return maxBytes;
    for (qlong k = s + 1; k <= maxBytes; ++k) {
      const auto t = static_cast<unsigned char>(buf[static_cast<size_t>(k)]);
      if (t < lo || t > hi) return maxBytes;
      lo = 0x80;
      hi = 0xBF;
    }
    return s > 0 ? s : maxBytes;
  }
  return maxBytes;
}

template <typename NextByte>
int refReadField(NextByte next, const RefField& f, bool stripQuotes, std::string* text,
                 qlong* consumed, bool utf8 = false) {
  const qlong maxBytes = f.max < 0 ? 0 : (f.max > 32000 ? 32000 : f.max);
  const qlong len = static_cast<qlong>(f.delim.size());
  std::string buf;
  if (len == 0) {
    while (static_cast<qlong>(buf.size()) < maxBytes) {
      std::optional<char> b = next();
      if (!b) break;
      buf += *b;
    }
    *text = buf;
    *consumed = static_cast<qlong>(buf.size());
    return static_cast<qlong>(buf.size()) == maxBytes ? 0 : 8;
  }
  const qlong maxToRead = len + maxBytes > 32000 ? 32000 : len + maxBytes;
  bool quoted = false;
  while (static_cast<qlong>(buf.size()) < maxToRead) {
    std::optional<char> b = next();
    if (!b) {
      *text = buf;
      *consumed = static_cast<qlong>(buf.size());
      return 9;
    }
    buf += *b;
    const auto n = static_cast<qlong>(buf.size());
    if (n == 1 && stripQuotes) quoted = *b == '"';
    if (n >= len &&
        buf.compare(static_cast<size_t>(n - len), static_cast<size_t>(len), f.delim) == 0 &&
        (!(stripQuotes && quoted) || (n > len && buf[static_cast<size_t>(n - len - 1)] == '"'))) {
      *text = buf.substr(0, static_cast<size_t>(n - len));
      *consumed = n;
      return 0;
    }
  }
  const qlong cut = utf8 ? refUtf8Cut(buf, maxBytes) : maxBytes;
  *text = buf.substr(0, static_cast<size_t>(cut));
  *consumed = cut;
  return 11;
}

// Conditions raw field bytes as a stored field is conditioned (the library's own function:
// conditioning is not what this test compares).
std::string condition(const RefFile& file, const std::string& raw, bool stripping) {
  std::vector<char> buffer(kBufferSize, 0);
  std::memcpy(buffer.data(), raw.c_str(), std::strlen(raw.c_str())); // text ends at a zero byte
  importFileSpec rec{};
  rec.stripEncQuotes = file.stripQuotes ? 1 : 0;
  std::vector<qbyte> subs = file.subs;
  rec.transTable = subs.empty() ? nullptr : subs.data();
  ConditionBuffer(buffer.data(), &rec, stripping);
  return buffer.data();
}

bool storedCode(int code) { return code == 0 || code >= 8; }

class Reference {
public:
  // Reads the file one system read per byte from pos, as the reader once did.
  static std::optional<char> diskByte(RefFile& f) {
    char b = 0;
    qlong got = 0;
    PlatResult r = plat_file_read(f.sysRef, &f.sysBlock, &b, 1, &got);
    if (r != kPlatOk || got != 1) return std::nullopt;
    return b;
  }

  static Outcome readRecord(RefFile& f, qpos pos, bool strip, bool backwards) {
    Outcome o;
    const qpos size = f.size();
    if (pos > size || (pos == size && !backwards)) return {7, {}, {}, {}};
    if (backwards) return readBackwards(f, pos, strip);
    if (pos == 0) pos = f.bom; // the byte-order mark is no field's
    if (pos < 0 || plat_file_seek(f.sysRef, &f.sysBlock, pos) != kPlatOk) return {7, {}, {}, {}};
    for (const RefField& field : f.format) {
      std::string text;
      qlong consumed = 0;
      o.code =
          refReadField([&] { return diskByte(f); }, field, f.stripQuotes, &text, &consumed, f.utf8);
      pos += consumed;
      if (storedCode(o.code)) o.stored.emplace_back(field.name, condition(f, text, strip));
      if (o.code != 0) break;
    }
    o.pos = pos;
    return o;
  }

  static Outcome readBackwards(RefFile& f, qpos oldPos, bool strip) {
    Outcome o;
    if (oldPos < 2) return {7, {}, {}, {}};
    qpos maxTotal = 0; // each piece's maximum, a quote each side and its delimiter
    for (const RefField& field : f.format)
      maxTotal += field.max + 2 + static_cast<qpos>(field.delim.size());
    const qpos size = f.size();
    qpos bytesToRead = 2 * maxTotal;
    if (bytesToRead > size) bytesToRead = size;
    qpos start = oldPos - bytesToRead;
    if (start < 0) {
      start = 0;
      bytesToRead = oldPos;
    }
    if (bytesToRead > 32000) {
      bytesToRead = 32000;
      start = oldPos - 32000;
    }
    const std::string window = f.slice(start, static_cast<qlong>(bytesToRead));
    const std::string& delim = f.format.back().delim;
    const auto w = static_cast<qlong>(window.size());
    const auto len = static_cast<qlong>(delim.size());
    qlong recStart = -1;
    if (len > 0) {
      bool ends = w >= len && window.compare(static_cast<size_t>(w - len), static_cast<size_t>(len),
                                             delim) == 0;
      qlong from = w - 1 - (ends ? len : 0);
      for (qlong k = from; k >= 0 && recStart < 0; --k) {
        if (k + len - 1 <= from &&
            window.compare(static_cast<size_t>(k), static_cast<size_t>(len), delim) == 0)
          recStart = k + len;
      }
    }
    if (recStart < 0 && start > 0) return {11, {}, {}, {}};
    if (recStart < 0) recStart = 0;
    const qlong skip = start + recStart == 0 && w >= f.bom ? f.bom : 0;
    const std::string record = window.substr(static_cast<size_t>(recStart + skip));
    size_t at = 0;
    for (const RefField& field : f.format) {
      std::string text;
      qlong consumed = 0;
      auto next = [&]() -> std::optional<char> {
        if (at >= record.size()) return std::nullopt;
        return record[at++];
      };
      const size_t before = at;
      o.code = refReadField(next, field, f.stripQuotes, &text, &consumed, f.utf8);
      at = before + static_cast<size_t>(consumed); // an over-long field looked further
      if (storedCode(o.code)) o.stored.emplace_back(field.name, condition(f, text, strip));
      if (o.code != 0) break;
    }
    o.pos = start + recStart;
    return o;
  }

  // ReadUpTo (delim may be empty) and ReadBytes (upTo false).
  static Outcome readOne(RefFile& f, qpos pos, bool strip, const RefField& oneShot, bool upTo) {
    const qpos size = f.size();
    if (pos >= size) return {7, {}, {}, {}};
    if (pos == 0) pos = f.bom;
    if (pos < 0 || plat_file_seek(f.sysRef, &f.sysBlock, pos) != kPlatOk) return {7, {}, {}, {}};
    Outcome o;
    std::string text;
    qlong consumed = 0;
    o.code =
        refReadField([&] { return diskByte(f); }, oneShot, f.stripQuotes, &text, &consumed, f.utf8);
    const std::string raw = text.substr(0, text.find('\0')); // stored text ends at a zero byte
    std::string kept = raw;
    if (storedCode(o.code)) {
      kept = condition(f, text, strip);
      o.stored.emplace_back("data", kept);
    }
    o.pos = pos + consumed;
    o.count = static_cast<qlong>(upTo ? kept.size() : raw.size());
    return o;
  }
};

std::u32string widen(const std::string& bytes) {
  std::u32string out;
  for (char c : bytes)
    out += static_cast<char32_t>(static_cast<unsigned char>(c));
  return out;
}

const char32_t kUnset[] = U"\x01unset";

class Differential {
public:
  Differential(uint32_t seed, bool faults, qpos base = 0)
      : rng_(seed), faults_(faults), base_(base) {}

  // Records of many short pieces of plain bytes with short delimiters, small maxima, and
  // blanks, quotes and zero bytes next to the delimiters; seldom a table or stripping: the
  // pieces the readers' shortest paths take, and those just beside them.
  Differential& shortPieces() {
    shortPieces_ = true;
    return *this;
  }

  // One run: two files, formats and tables, a sequence of commands. Returns "" or what differed.
  std::string run() {
    p_.send(kMsgLoad);
    for (int i = 0; i < 2; ++i) {
      files_[i].path = "diff-" + std::to_string(i) + ".txt";
      files_[i].bytes = randomBytes();
      files_[i].base = base_;
      files_[i].lastPos = base_;
      write(files_[i]);
      files_[i].stripQuotes = pick(2) == 0;
#if QM_UNICODE
      // One run in three reads its files as UTF-8: characters of every length, ill-formed
      // bytes among them, and now and then a byte-order mark.
      files_[i].utf8 = !shortPieces_ && pick(3) == 0;
      if (files_[i].utf8) {
        files_[i].bytes = utf8Sprinkled(files_[i].bytes);
        write(files_[i]);
        // A mark is skipped only at position 0.
        files_[i].bom = base_ == 0 && files_[i].bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
      }
#endif
      std::string err = open(files_[i], i);
      if (!err.empty()) return err;
    }
    const int steps = 10 + pick(30);
    for (int s = 0; s < steps; ++s) {
      RefFile& f = files_[pick(2)];
      std::string err = step(f);
      if (!err.empty()) return err;
    }
    for (RefFile& f : files_) {
      p_.execute(kCmdCloseFile, {lit(f.ref)});
      plat_file_close(f.sysRef, &f.sysBlock);
      std::remove(f.path.c_str());
    }
    p_.send(kMsgUnload);
    return "";
  }

private:
  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

  char randomByte() {
    static const char kCommon[] = ",;\t\r\n\" |~a";
    if (shortPieces_) {
      static const char kShort[] = ",,,;\t\r\n\"  ab";
      return pick(60) == 0 ? '\0' : kShort[pick(static_cast<int>(sizeof kShort) - 1)];
    }
    switch (pick(6)) {
    case 0:
    case 1:
      return kCommon[pick(static_cast<int>(sizeof kCommon) - 1)];
    case 2:
      return static_cast<char>(0x80 + pick(128)); // high bytes
    case 3:
      return pick(40) == 0 ? '\0' : 'b';
    default:
      return static_cast<char>('c' + pick(20));
    }
  }

  std::string utf8Sprinkled(const std::string& bytes) {
    static const char* const kChars[] = {"\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xCE\xBB",
                                         "\xE2\x82\xAC"};
    std::string out = pick(2) == 0 ? "\xEF\xBB\xBF" : "";
    for (char c : bytes) {
      if (pick(4) == 0) out += kChars[pick(5)];
      out += c;
    }
    return out;
  }

  std::string randomBytes() {
    qlong size = 0;
    switch (pick(5)) {
    case 0:
      size = pick(8);
      break;
    case 1:
      size = kReadAheadBytes - 20 + pick(60); // a record across the window's edge
      break;
    case 2:
      size = 2 * kReadAheadBytes + pick(5000);
      break;
    default:
      size = pick(3000);
    }
    std::string out;
    out.reserve(static_cast<size_t>(size));
    while (static_cast<qlong>(out.size()) < size) {
      // Runs of one byte now and then: long fields, CR/LF runs, quote runs.
      char c = randomByte();
      int run = pick(10) == 0 ? 1 + pick(300) : (pick(20000) == 0 ? 1 + pick(40000) : 1);
      if (shortPieces_) run = pick(8) == 0 ? 1 + pick(20) : 1;
      out.append(static_cast<size_t>(run), c);
    }
    out.resize(static_cast<size_t>(size));
    return out;
  }

  int randomMax() {
    static const int kSmall[] = {0, 1, 2, 3, 5, 10, 40, 255};
    static const int kNearABlock[] = {1, 2, 5, 13, 14, 15, 16, 17, 31, 40};
    if (shortPieces_) return kNearABlock[pick(10)];
    switch (pick(6)) {
    case 0:
      return pick(32001);
    case 1:
      return 32000;
    default:
      return kSmall[pick(8)];
    }
  }

  // A delimiter cell and the bytes it stands for.
  std::pair<std::string, std::string> randomDelim() {
    static const char kAsc[] = ",;\"|~a \r\n";
    if (shortPieces_ && pick(6) != 0) {
      if (pick(4) == 0) return {"CRLF", "\r\n"};
      if (pick(3) != 0) return {"COMMA", ","};
      const std::string one(1, kAsc[pick(static_cast<int>(sizeof kAsc) - 1)]);
      return {"ASC" + one, one};
    }
    switch (pick(8)) {
    case 0:
      return {"MAX", ""};
    case 1:
      return {"TAB", "\t"};
    case 2:
      return {"COMMA", ","};
    case 3:
      return {"SEMICO", ";"};
    case 4:
      return {"RETURN", "\r"};
    case 5:
      return {"CRLF", "\r\n"};
    default: {
      std::string bytes;
      int n = 1 + pick(3);
      for (int i = 0; i < n; ++i)
        bytes += kAsc[pick(static_cast<int>(sizeof kAsc) - 1)];
      return {"ASC" + bytes, bytes};
    }
    }
  }

  std::string open(RefFile& f, int index) {
    const std::string refVar = "ref" + std::to_string(index);
    p_.host().setVariable(refVar, qhost::Value::num(0));
    std::vector<qhost::Param> open = {lit(f.path.c_str()), var(refVar.c_str()), lit(0.0),
                                      lit(f.stripQuotes ? 1.0 : 0.0)};
    if (f.utf8) open.push_back(lit("UTF-8"));
    p_.execute(kCmdOpenFile, open);
    if (p_.host().returnCode() != qhost::Value::num(0)) return "open failed";
    f.ref = p_.host().variable(refVar)->number;
    // The reference's own handle, read one byte per call.
    std::u32string name = qhost::fromUtf8(f.path);
#if QM_MAC
    uint8_t pstr[256] = {static_cast<uint8_t>(name.size())};
    for (size_t i = 0; i < name.size(); ++i)
      pstr[i + 1] = static_cast<uint8_t>(name[i]);
    if (plat_file_open(pstr, &f.sysRef, &f.sysBlock) != kPlatOk) return "reference open failed";
#else
    std::vector<oschar> path(name.begin(), name.end());
    path.push_back(0);
    if (plat_file_open(path.data(), &f.sysRef, &f.sysBlock) != kPlatOk)
      return "reference open failed";
#endif
    defineFormat(f, index);
    defineSubs(f, index);
    return "";
  }

  void defineFormat(RefFile& f, int index) {
    const std::string list = "fmt" + std::to_string(index);
    p_.host().declareList(list, {"name", "size", "delim"});
    f.format.clear();
    const int n = 1 + pick(5);
    for (int i = 0; i < n; ++i) {
      RefField field;
      field.name = "f" + std::to_string(index) + "_" + std::to_string(i);
      field.max = randomMax();
      auto [cell, bytes] = randomDelim();
      field.delim = bytes;
      p_.host().setVariable(field.name, qhost::Value::str(U""));
      p_.host().addRow(list,
                       {qhost::Value::str(qhost::fromUtf8(field.name)),
                        qhost::Value::num(field.max), qhost::Value::str(qhost::fromUtf8(cell))});
      f.format.push_back(field);
    }
    p_.execute(kCmdDefineFormat,
               {lit(f.ref), var(list.c_str()), lit("name"), lit("size"), lit("delim")});
  }

  void defineSubs(RefFile& f, int index) {
    f.subs.clear();
    const int n = shortPieces_ && pick(4) != 0 ? 0 : pick(4);
    if (n == 0) return;
    const std::string list = "subs" + std::to_string(index);
    p_.host().declareList(list, {"target", "repl"});
    static const char kChars[] = ",;\"ab \t";
    f.subs = {static_cast<qbyte>(n), 0};
    for (int i = 0; i < n; ++i) {
      std::string target(1, kChars[pick(static_cast<int>(sizeof kChars) - 1)]);
      std::string repl =
          pick(4) == 0 ? "" : std::string(1, kChars[pick(static_cast<int>(sizeof kChars) - 1)]);
      p_.host().addRow(list, {qhost::Value::str(qhost::fromUtf8(target)),
                              qhost::Value::str(qhost::fromUtf8(repl))});
      f.subs.push_back(static_cast<qbyte>(target[0]));
      f.subs.push_back(static_cast<qbyte>(repl.empty() ? 0 : repl[0]));
    }
    p_.execute(kCmdDefineSubs, {lit(f.ref), var(list.c_str()), lit("target"), lit("repl")});
  }

  // A file's bytes after its prefix, sparse where the system allows.
  static void write(const RefFile& f) {
    {
      std::ofstream out(f.path, std::ios::binary | std::ios::trunc);
      if (f.base > 0) out.seekp(static_cast<std::streamoff>(f.base));
      out << f.bytes;
    }
    std::error_code ec; // the prefix stands even when no byte follows it
    std::filesystem::resize_file(f.path, static_cast<uintmax_t>(f.size()), ec);
  }

  qpos randomPosition(const RefFile& f) {
    const auto size = static_cast<qlong>(f.bytes.size());
    switch (pick(6)) {
    case 0:
      return f.base + (size == 0 ? 0 : pick(static_cast<int>(size) + 1));
    case 1:
      return f.base + size;
    case 2: { // around the window's edges
      qlong edge = kReadAheadBytes * (1 + pick(2)) - 4 + pick(8);
      return f.base + (edge <= size ? edge : size);
    }
    default:
      return f.lastPos; // where the last command left off
    }
  }

  std::string step(RefFile& f) {
    const qpos pos = randomPosition(f);
    const bool strip = shortPieces_ ? pick(4) == 0 : pick(2) == 0;
    p_.host().setVariable("pos", qhost::Value::num(pos));
    for (const RefField& field : f.format)
      p_.host().setVariable(field.name, qhost::Value::str(kUnset));
    p_.host().setVariable("data", qhost::Value::str(kUnset));
    p_.host().setVariable("count", qhost::Value::num(-99));

    Outcome want;
    std::vector<std::string> watched;
    std::string what;
    bool hasCount = false;
    bool backwardsCmd = false;
    const int kind = pick(10);
    if (kind < 6 || kind == 9) {
      const bool backwards = kind == 9 || (kind == 5 && pick(2) == 0);
      backwardsCmd = backwards;
      want = Reference::readRecord(f, pos, strip, backwards);
      armFault();
      p_.execute(kCmdReadRecord,
                 {lit(f.ref), var("pos"), lit(strip ? 1.0 : 0.0), lit(backwards ? 1.0 : 0.0)});
      for (const RefField& field : f.format)
        watched.push_back(field.name);
      what = std::string("ReadRecord ") + (backwards ? "backwards" : "forwards");
    } else {
      RefField oneShot;
      oneShot.name = "data";
      const bool upTo = kind == 7;
      if (upTo) {
        oneShot.max = pick(3) == 0 ? 1 + pick(32000) : 1 + pick(300);
        oneShot.delim = randomDelim().second;
      } else {
        oneShot.max = pick(3) == 0 ? 1 + pick(32000) : 1 + pick(5000);
      }
      want = Reference::readOne(f, pos, strip, oneShot, upTo);
      armFault();
      if (upTo) {
        p_.execute(kCmdReadUpTo,
                   {lit(f.ref), var("pos"), lit(strip ? 1.0 : 0.0), lit(oneShot.delim.c_str()),
                    lit(oneShot.max), var("data"), var("count")});
      } else {
        p_.execute(kCmdReadBytes, {lit(f.ref), var("pos"), lit(strip ? 1.0 : 0.0), lit(oneShot.max),
                                   var("data"), var("count")});
      }
      watched.push_back("data");
      hasCount = want.code != 7;
      what = upTo ? "ReadUpTo" : "ReadBytes";
    }
    disarmFaults();
    what += " at " + std::to_string(pos) + " of " + std::to_string(f.bytes.size()) + " bytes" +
            faultName_;

    const qhost::Value code = p_.host().returnCode().value_or(qhost::Value::str(U"none"));
    // A failing seek or read may end the command early: 7 before anything is read, 5 with
    // the fields before the failure stored and the position after them. Short reads, and
    // faults that hit no system call, change nothing.
    const bool cut = failing_ && want.code != 7 &&
                     (code == qhost::Value::num(5) || code == qhost::Value::num(7));
    if (!cut && code != qhost::Value::num(want.code))
      return what + ": code " + code.describe() + ", reference " + std::to_string(want.code);
    const qpos expectPos = want.pos.value_or(pos);
    const double gotPos = p_.host().variable("pos")->number;
    // Cut short, a backward read leaves the position; a forward one moves it no further.
    const double lowest = static_cast<double>(pos);
    // An over-long field looks up to a delimiter's length past its maximum: a read that
    // fails there has consumed those bytes.
    const double highest =
        backwardsCmd ? lowest : static_cast<double>(expectPos + (want.code == 11 ? 3 : 0));
    if (cut ? (gotPos < lowest || gotPos > highest) : gotPos != static_cast<double>(expectPos))
      return what + ": position " + p_.host().variable("pos")->describe() + ", reference " +
             std::to_string(expectPos);
    for (const std::string& name : watched) {
      std::u32string expect = kUnset;
      for (const auto& [storedName, text] : want.stored)
        if (storedName == name) expect = f.utf8 ? refDecodeUtf8(text) : widen(text);
      const std::u32string& got = p_.host().variable(name)->text;
      if (got != expect && !(cut && got == kUnset)) {
        std::string msg = what;
        msg += ": " + name + " = " + p_.host().variable(name)->describe();
        msg += ", reference " + qhost::Value::str(expect).describe();
        return msg;
      }
    }
    if (!cut && hasCount &&
        p_.host().variable("count")->number != static_cast<double>(want.count.value_or(-99)))
      return what + ": count " + p_.host().variable("count")->describe() + ", reference " +
             std::to_string(want.count.value_or(-99));
    f.lastPos = static_cast<qpos>(gotPos);
    return "";
  }

  // With faults on, one command in three meets a failing or short system read or a failing
  // seek, once or from the n-th call on.
  void armFault() {
    faultName_.clear();
    failing_ = false;
    if (!faults_ || pick(3) != 0) return;
    static const PlatFault kKinds[] = {kFaultFileShortRead, kFaultFileRead, kFaultFileSeek};
    static const char* const kNames[] = {"short read", "failed read", "failed seek"};
    const int k = pick(3);
    const int n = 1 + pick(3);
    const bool persistent = pick(2) == 0;
    if (persistent)
      plat_fault_from(kKinds[k], n);
    else
      plat_fault_after(kKinds[k], n);
    failing_ = k != 0;
    faultName_ = std::string(" with a ") + kNames[k] + (persistent ? " from call " : " at call ") +
                 std::to_string(n);
  }

  static void disarmFaults() {
    for (PlatFault k : {kFaultFileShortRead, kFaultFileRead, kFaultFileSeek})
      plat_fault_after(k, 0);
  }

  std::mt19937 rng_;
  bool faults_;
  bool shortPieces_ = false;
  qpos base_; // where the files' bytes start
  bool failing_ = false;
  std::string faultName_;
  InProcess p_;
  RefFile files_[2];
};

uint32_t envNumber(const char* name, uint32_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<uint32_t>(std::strtoul(v, nullptr, 10)) : fallback;
}

TEST(Differential, WindowedReaderAgreesWithOneByteReads) {
  const uint32_t first = envNumber("QM_DIFF_SEED", 20261208);
  const uint32_t runs = envNumber("QM_DIFF_RUNS", 60);
  for (uint32_t seed = first; seed < first + runs; ++seed) {
    std::string err = Differential(seed, false).run();
    ASSERT_EQ(err, "") << "reproduce with QM_DIFF_SEED=" << seed << " QM_DIFF_RUNS=1";
  }
}

#if QM_SSE2 && QM_SSE2_CHECKED
// A build that asks the processor for SSE2 takes its plain paths on one without it: the same
// differentials again with them. (The 64-bit builds never take them; linux-clang builds them
// alone.)
TEST(Differential, PlainPathsAgreeToo) {
  qtest::ScopedFlag noSse2(sse2::gUsable, false);
#if QM_AVX2
  qtest::ScopedFlag noAvx2(avx2::gUsable, false); // a processor without SSE2 has no AVX2 either
#endif
  const uint32_t first = envNumber("QM_DIFF_SEED", 20261208);
  const uint32_t runs = envNumber("QM_DIFF_RUNS", 60);
  for (uint32_t seed = first; seed < first + runs; ++seed) {
    for (bool faults : {false, true}) {
      std::string err = Differential(seed, faults).run();
      ASSERT_EQ(err, "") << "reproduce with QM_DIFF_SEED=" << seed << " QM_DIFF_RUNS=1"
                         << (faults ? " (faults)" : "");
    }
    std::string err = Differential(seed, false).shortPieces().run();
    ASSERT_EQ(err, "") << "reproduce with QM_DIFF_SEED=" << seed << " QM_DIFF_RUNS=1 (short)";
  }
}
#endif

#if QM_AVX2
// Where the processor has AVX2 the long texts are widened with it: the same differential
// again with the paths behind it.
TEST(Differential, PathsBehindAvx2AgreeToo) {
  if (!avx2::usable()) GTEST_SKIP() << "no AVX2 here: the differentials took the other paths";
  qtest::ScopedFlag noAvx2(avx2::gUsable, false);
  const uint32_t first = envNumber("QM_DIFF_SEED", 20261208);
  const uint32_t runs = envNumber("QM_DIFF_RUNS", 60);
  for (uint32_t seed = first; seed < first + runs; ++seed) {
    std::string err = Differential(seed, false).run();
    ASSERT_EQ(err, "") << "reproduce with QM_DIFF_SEED=" << seed << " QM_DIFF_RUNS=1";
  }
}
#endif

TEST(Differential, ShortPiecesAgreeToo) {
  const uint32_t first = envNumber("QM_DIFF_SEED", 20261208);
  const uint32_t runs = envNumber("QM_DIFF_RUNS", 60);
  for (uint32_t seed = first; seed < first + runs; ++seed) {
    std::string err = Differential(seed, false).shortPieces().run();
    ASSERT_EQ(err, "") << "reproduce with QM_DIFF_SEED=" << seed << " QM_DIFF_RUNS=1";
  }
}

// The same under injected faults: short reads change nothing; a failing read or seek ends
// the command with 5 or 7, keeping what came before, and every later command agrees again.
TEST(Differential, FaultsCutCommandsShortAndNothingElse) {
  const uint32_t first = envNumber("QM_DIFF_SEED", 20261208);
  const uint32_t runs = envNumber("QM_DIFF_RUNS", 60);
  for (uint32_t seed = first; seed < first + runs; ++seed) {
    std::string err = Differential(seed, true).run();
    ASSERT_EQ(err, "") << "reproduce with QM_DIFF_SEED=" << seed << " QM_DIFF_RUNS=1";
  }
}

// The same over files whose bytes start just before 2^32, after a sparse prefix: every
// position and size beyond 32 bits, the window's edges and 2^32 itself among the reads.
TEST(Differential, PositionsNear4GiB) {
#if QM_MAC
  GTEST_SKIP() << "the File Manager's positions are 32-bit";
#endif
  const qpos base = (qpos{1} << 32) - kReadAheadBytes - 1000;
  const uint32_t first = envNumber("QM_DIFF_SEED", 20261209);
  const uint32_t runs = envNumber("QM_DIFF_RUNS", 20);
  for (uint32_t seed = first; seed < first + runs; ++seed) {
    for (bool faults : {false, true}) {
      std::string err = Differential(seed, faults, base).run();
      ASSERT_EQ(err, "") << "reproduce with QM_DIFF_SEED=" << seed << " QM_DIFF_RUNS=1"
                         << (faults ? " (faults)" : "");
    }
  }
}

} // namespace
