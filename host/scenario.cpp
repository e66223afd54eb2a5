// Parsing and running scenario scripts.
#include "scenario.h"

#include "system.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace qhost {

// ---- Strings -----------------------------------------------------------------------------
std::u32string ScriptString::chars() const {
  std::u32string out;
  for (const auto& u : units)
    out += u.value;
  return out;
}

std::string ScriptString::bytes() const {
  std::string out;
  for (const auto& u : units) {
    if (u.rawByte)
      out += static_cast<char>(u.value);
    else
      out += toUtf8(std::u32string(1, u.value));
  }
  return out;
}

// ---- Parsing -----------------------------------------------------------------------------
namespace {

const std::map<std::string, int> kCommands = {
    {"About", 1},      {"CloseFile", 2},  {"ReadBytes", 3},    {"ReadUpTo", 4},
    {"ReadRecord", 5}, {"DefineSubs", 6}, {"DefineFormat", 7}, {"OpenFile", 8},
};

const std::set<std::string> kFlavourTags = {"windows", "mac", "unicode", "8bit"};

struct Parser {
  std::string file;
  int line = 0;
  std::map<std::string, size_t> lists; // name -> column count
  std::set<std::string> vars;

  [[noreturn]] void fail(const std::string& what) const { throw ScriptError(file, line, what); }

  std::vector<Token> tokenize(const std::string& text) const {
    std::vector<Token> out;
    size_t i = 0;
    while (i < text.size()) {
      char c = text[i];
      if (c == ' ' || c == '\t' || c == '\r') {
        ++i;
        continue;
      }
      // A comment runs from a "#" that starts the line or stands alone before a blank;
      // "#9" and "#LN" are words.
      bool lineStart = text.find_first_not_of(" \t") == i;
      if (c == '#' &&
          (lineStart || i + 1 == text.size() || text[i + 1] == ' ' || text[i + 1] == '\t'))
        break;
      Token t;
      if (c == '"') {
        t.kind = Token::String;
        ++i;
        bool closed = false;
        while (i < text.size()) {
          auto ch = static_cast<unsigned char>(text[i]);
          if (ch == '"') {
            closed = true;
            ++i;
            break;
          }
          if (ch == '\\') {
            if (i + 1 >= text.size()) fail("a backslash ends the line");
            char e = text[i + 1];
            i += 2;
            switch (e) {
            case 'r':
              t.str.units.push_back({'\r', false});
              break;
            case 'n':
              t.str.units.push_back({'\n', false});
              break;
            case 't':
              t.str.units.push_back({'\t', false});
              break;
            case '0':
              t.str.units.push_back({0, true});
              break;
            case '"':
              t.str.units.push_back({'"', false});
              break;
            case '\\':
              t.str.units.push_back({'\\', false});
              break;
            case 'x': {
              if (i + 2 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
                  !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
                fail("\\x takes two hexadecimal digits");
              t.str.units.push_back(
                  {static_cast<char32_t>(std::stoul(text.substr(i, 2), nullptr, 16)), true});
              i += 2;
              break;
            }
            case 'u': {
              size_t close = text.find('}', i);
              if (i >= text.size() || text[i] != '{' || close == std::string::npos ||
                  close == i + 1 || close - i > 9)
                fail("\\u takes a code point in braces, as \\u{20AC}");
              std::string hex = text.substr(i + 1, close - i - 1);
              for (char h : hex)
                if (!std::isxdigit(static_cast<unsigned char>(h))) fail("bad digit in \\u{...}");
              t.str.units.push_back({static_cast<char32_t>(std::stoul(hex, nullptr, 16)), false});
              i = close + 1;
              break;
            }
            default:
              fail(std::string("unknown escape \\") + e);
            }
            continue;
          }
          // Plain text is UTF-8: one unit per character.
          int extra = ch >= 0xF0 ? 3 : ch >= 0xE0 ? 2 : ch >= 0xC0 ? 1 : 0;
          std::u32string c32 = fromUtf8(text.substr(i, 1 + extra));
          t.str.units.push_back({c32.empty() ? U'?' : c32[0], false});
          i += 1 + extra;
        }
        if (!closed) fail("a string is not closed");
        out.push_back(std::move(t));
        continue;
      }
      size_t end = i;
      while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '"' &&
             text[end] != '\r')
        ++end;
      t.word = text.substr(i, end - i);
      i = end;
      char* stop = nullptr;
      double v = std::strtod(t.word.c_str(), &stop);
      bool numeric = !t.word.empty() && *stop == 0 &&
                     (std::isdigit(static_cast<unsigned char>(t.word[0])) || t.word[0] == '-' ||
                      t.word[0] == '+' || t.word[0] == '.');
      if (numeric) {
        t.kind = Token::Number;
        t.number = v;
      }
      out.push_back(std::move(t));
    }
    return out;
  }

  void need(const Step& s, size_t min, size_t max, const char* usage) const {
    if (s.args.size() < min || s.args.size() > max) fail(std::string("usage: ") + usage);
  }

  std::string name(const Token& t, const char* what) const {
    if (t.kind != Token::Word || t.word.empty() ||
        !(std::isalpha(static_cast<unsigned char>(t.word[0])) || t.word[0] == '_' ||
          t.word[0] == '#'))
      fail(std::string("expected ") + what + ", found " +
           (t.kind == Token::String ? "a string" : t.word));
    return t.word;
  }

  void value(const Token& t) const {
    if (t.kind == Token::Word) fail("expected a number or a string, found " + t.word);
  }

  void argument(const Token& t) const {
    if (t.kind == Token::Word && !vars.count(t.word) && !lists.count(t.word))
      fail("unknown variable " + t.word + " (declare it first)");
  }

  void command(const Token& t) const {
    if (t.kind == Token::Number) {
      if (t.number != static_cast<int16_t>(t.number)) fail("command number out of range");
      return;
    }
    if (t.kind == Token::Word && !t.word.empty() && t.word[0] == '#') {
      char* stop = nullptr;
      long n = std::strtol(t.word.c_str() + 1, &stop, 10);
      if (*stop || t.word.size() < 2 || n < INT16_MIN || n > INT16_MAX)
        fail("bad command number " + t.word);
      return;
    }
    if (t.kind != Token::Word || commandNumber(t.word) == 0)
      fail("unknown command " + (t.kind == Token::String ? std::string("(a string)") : t.word));
  }

  void integer(const Token& t, const char* what) const {
    if (t.kind != Token::Number || t.number != static_cast<long long>(t.number))
      fail(std::string("expected ") + what + " as a whole number");
  }

  void check(Step& s) {
    const std::string& v = s.verb;
    if (v == "number" || v == "char" || v == "integer") {
      need(s, 1, 2, "number|integer|char NAME [VALUE]");
      std::string n = name(s.args[0], "a variable name");
      if (n[0] == '#') fail("names starting with # belong to the host");
      if (s.args.size() == 2) {
        value(s.args[1]);
        if (v != "char" && s.args[1].kind != Token::Number)
          fail("a number variable takes a number");
        if (v == "char" && s.args[1].kind != Token::String)
          fail("a character variable takes a string");
      }
      vars.insert(n);
    } else if (v == "list") {
      need(s, 2, 64, "list NAME COLUMN...");
      std::string n = name(s.args[0], "a list name");
      for (size_t i = 1; i < s.args.size(); ++i)
        name(s.args[i], "a column name");
      lists[n] = s.args.size() - 1;
    } else if (v == "row") {
      need(s, 1, 65, "row LIST VALUE...");
      std::string n = name(s.args[0], "a list name");
      if (!lists.count(n)) fail("unknown list " + n);
      if (s.args.size() - 1 != lists[n])
        fail("list " + n + " has " + std::to_string(lists[n]) + " columns");
      for (size_t i = 1; i < s.args.size(); ++i)
        value(s.args[i]);
    } else if (v == "file") {
      need(s, 2, 4, "file NAME \"BYTES\" [at POSITION]");
      if (s.args[0].kind == Token::Number) fail("a file name is a word or a string");
      if (s.args[1].kind != Token::String) fail("file contents are a string");
      if (s.args.size() > 2 && (s.args.size() != 4 || s.args[2].word != "at"))
        fail("usage: file NAME \"BYTES\" [at POSITION]");
      if (s.args.size() == 4) integer(s.args[3], "a file position");
    } else if (v == "clipboard") {
      need(s, 1, 2, "clipboard \"TEXT\" | clipboard wide \"BYTES\" | clipboard none");
      const bool wide =
          s.args.size() == 2 && s.args[0].word == "wide" && s.args[1].kind == Token::String;
      if (!wide &&
          (s.args.size() != 1 || (s.args[0].kind != Token::String && s.args[0].word != "none")))
        fail("usage: clipboard \"TEXT\" | clipboard wide \"BYTES\" | clipboard none");
    } else if (v == "load" || v == "unload" || v == "setup") {
      need(s, 0, 0, v.c_str());
    } else if (v == "message") {
      need(s, 1, 1, "message CODE");
      integer(s.args[0], "a message code");
    } else if (v == "call") {
      need(s, 1, 40, "call COMMAND [ARGUMENT...]");
      command(s.args[0]);
      for (size_t i = 1; i < s.args.size(); ++i)
        argument(s.args[i]);
    } else if (v == "design") {
      need(s, 2, 2, "design COMMAND ITEM");
      command(s.args[0]);
      integer(s.args[1], "a design item");
    } else if (v == "expect") {
      checkExpect(s);
    } else {
      fail("unknown step \"" + v + "\"");
    }
  }

  void checkExpect(Step& s) {
    if (s.args.empty()) fail("expect what?");
    const Token& what = s.args[0];
    if (what.kind != Token::Word) fail("expect what?");
    const std::string& w = what.word;
    if (w == "rc") {
      need(s, 2, 2, "expect rc VALUE");
      value(s.args[1]);
    } else if (w == "label") {
      need(s, 3, 3, "expect label \"TEXT\" LENGTH");
      if (s.args[1].kind != Token::String) fail("usage: expect label \"TEXT\" LENGTH");
      integer(s.args[2], "a length");
    } else if (w == "usedefault" || w == "calls" || w == "writes" || w == "setup") {
      need(s, 2, 2, "expect usedefault|calls|writes|setup NUMBER");
      integer(s.args[1], "a count");
    } else if (w == "design") {
      need(s, 2, 2, "expect design untouched");
      if (s.args[1].word != "untouched") fail("usage: expect design untouched");
    } else if (w == "loaded" || w == "unloaded") {
      need(s, 1, 1, "expect loaded|unloaded");
    } else if (w == "slot") {
      need(s, 2, 2, "expect slot unchanged");
      if (s.args[1].word != "unchanged") fail("usage: expect slot unchanged");
    } else {
      need(s, 3, 3, "expect NAME = VALUE");
      if (s.args[1].word != "=") fail("usage: expect NAME = VALUE");
      if (!vars.count(w)) fail("unknown variable " + w);
      value(s.args[2]);
    }
  }
};

} // namespace

int commandNumber(const std::string& name) {
  std::string n = name.rfind("Quillomar.", 0) == 0 ? name.substr(10) : name;
  auto it = kCommands.find(n);
  return it == kCommands.end() ? 0 : it->second;
}

bool flavourMatches(Flavour f, const std::string& tag) {
  if (!tag.empty() && tag[0] == '!') return !flavourMatches(f, tag.substr(1));
  if (tag == "windows") return isWindows(f);
  if (tag == "mac") return f == Flavour::Mac;
  if (tag == "unicode") return isUnicode(f);
  if (tag == "8bit") return f == Flavour::Win8;
  return false;
}

Scenario parseScenarioText(const std::string& path, const std::string& text) {
  Scenario sc;
  sc.path = path;
  Parser p;
  p.file = path;
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    ++p.line;
    std::vector<Token> toks = p.tokenize(raw);
    if (toks.empty()) continue;
    Step s;
    s.file = path;
    s.line = p.line;
    s.text = raw;
    size_t i = 0;
    for (; i < toks.size() && toks[i].kind == Token::Word && !toks[i].word.empty() &&
           toks[i].word[0] == '@';
         ++i) {
      std::string tag = toks[i].word.substr(1);
      std::string bare = !tag.empty() && tag[0] == '!' ? tag.substr(1) : tag;
      if (!kFlavourTags.count(bare)) p.fail("unknown flavour tag @" + tag);
      s.tags.push_back(tag);
    }
    if (i == toks.size()) p.fail("a tag needs a step after it");
    if (toks[i].kind != Token::Word) p.fail("a step starts with a word");
    s.verb = toks[i].word;
    s.args.assign(toks.begin() + static_cast<long>(i) + 1, toks.end());
    if (s.verb == "only") {
      if (!s.tags.empty() || !sc.steps.empty()) p.fail("\"only\" goes before the first step");
      if (s.args.empty()) p.fail("usage: only FLAVOUR...");
      for (const auto& t : s.args) {
        if (!kFlavourTags.count(t.word)) p.fail("unknown flavour " + t.word);
        sc.only.push_back(t.word);
      }
      continue;
    }
    p.check(s);
    sc.steps.push_back(std::move(s));
  }
  return sc;
}

Scenario parseScenario(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw ScriptError(path, 0, "cannot read the file");
  std::ostringstream all;
  all << f.rdbuf();
  return parseScenarioText(path, all.str());
}

// ---- Running -----------------------------------------------------------------------------
namespace {

Value literal(const Token& t) {
  return t.kind == Token::Number ? Value::num(t.number) : Value::str(t.str.chars());
}

int16_t commandOf(const Token& t) {
  if (t.kind == Token::Number) return static_cast<int16_t>(t.number);
  if (t.word[0] == '#') return static_cast<int16_t>(std::strtol(t.word.c_str() + 1, nullptr, 10));
  return static_cast<int16_t>(commandNumber(t.word));
}

// Restores the working folder when a scenario ends, however it ends.
struct WorkDir {
  fs::path previous;
  fs::path dir;
  explicit WorkDir(const fs::path& d) : previous(fs::current_path()), dir(d) {
    fs::create_directories(dir);
    fs::current_path(dir);
  }
  ~WorkDir() {
    std::error_code ec;
    fs::current_path(previous, ec);
    fs::remove_all(dir, ec);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
};

class Runner {
public:
  Runner(const Scenario& s, const Library& lib, Flavour f, const RunOptions& o, std::ostream& out,
         std::ostream& err)
      : sc_(s), lib_(lib), host_(f), opt_(o), out_(out), err_(err) {}

  Outcome run() {
    bool selected = sc_.only.empty();
    for (const auto& only : sc_.only)
      selected = selected || flavourMatches(host_.flavour(), only);
    if (!selected) {
      out_ << "SKIP " << sc_.path << " (not for " << flavourName(host_.flavour()) << ")\n";
      return Outcome::Skipped;
    }
    host_.clearClipboard();
    long blocks = systemLiveBlocks();
    long files = systemOpenFiles();
    bool ok = true;
    size_t ran = 0;
    for (const Step& s : sc_.steps) {
      bool applies = true;
      for (const auto& t : s.tags)
        applies = applies && flavourMatches(host_.flavour(), t);
      if (!applies) continue;
      if (opt_.verbose) out_ << "  " << s.file << ":" << s.line << ": " << trim(s.text) << "\n";
      ++ran;
      if (!step(s)) {
        ok = false;
        break;
      }
      if (!host_.protocolErrors().empty()) {
        for (const auto& e : host_.protocolErrors())
          err_ << s.file << ":" << s.line << ": the library broke the host protocol: " << e << "\n";
        ok = false;
        break;
      }
    }
    // Leave nothing behind: unload what the scenario left loaded, and check that the
    // library released every block and file it took from the system.
    if (host_.slot()) host_.send(lib_, kUnload);
    host_.clearClipboard();
    if (ok && blocks >= 0 && systemLiveBlocks() != blocks) {
      err_ << sc_.path << ": " << systemLiveBlocks() - blocks
           << " memory block(s) still allocated after unload\n";
      ok = false;
    }
    if (ok && files >= 0 && systemOpenFiles() != files) {
      err_ << sc_.path << ": " << systemOpenFiles() - files << " file(s) still open after unload\n";
      ok = false;
    }
    out_ << (ok ? "PASS " : "FAIL ") << sc_.path << " (" << ran << " steps, "
         << flavourName(host_.flavour()) << ")\n";
    return ok ? Outcome::Passed : Outcome::Failed;
  }

private:
  static std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
  }

  bool failed(const Step& s, const std::string& expected, const std::string& actual) {
    err_ << s.file << ":" << s.line << ": " << trim(s.text) << "\n  expected: " << expected
         << "\n  actual:   " << actual << "\n";
    return false;
  }

  bool step(const Step& s) {
    const std::string& v = s.verb;
    if (v == "number") {
      host_.setVariable(s.args[0].word, Value::num(s.args.size() > 1 ? s.args[1].number : 0));
    } else if (v == "integer") {
      host_.setVariable(s.args[0].word, Value::integer(s.args.size() > 1 ? s.args[1].number : 0));
    } else if (v == "char") {
      host_.setVariable(s.args[0].word,
                        Value::str(s.args.size() > 1 ? s.args[1].str.chars() : U""));
    } else if (v == "list") {
      std::vector<std::string> cols;
      for (size_t i = 1; i < s.args.size(); ++i)
        cols.push_back(s.args[i].word);
      host_.declareList(s.args[0].word, cols);
    } else if (v == "row") {
      std::vector<Value> row;
      for (size_t i = 1; i < s.args.size(); ++i)
        row.push_back(literal(s.args[i]));
      host_.addRow(s.args[0].word, std::move(row));
    } else if (v == "file") {
      std::string name = s.args[0].kind == Token::String ? s.args[0].str.bytes() : s.args[0].word;
      // The name is UTF-8: as a u8 path it reaches Windows as the same characters, where a
      // narrow string would go through the ANSI code page.
      std::ofstream f(fs::path(std::u8string(name.begin(), name.end())),
                      std::ios::binary | std::ios::trunc);
      std::string bytes = s.args[1].str.bytes();
      // "at POSITION": zero bytes before, a hole in the file where the system allows.
      if (s.args.size() == 4) f.seekp(static_cast<std::streamoff>(s.args[3].number));
      f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!f) return failed(s, "the data file written", "it could not be written");
    } else if (v == "clipboard") {
      bool set = s.args.size() == 2                ? host_.setClipboard(s.args[1].str.bytes(), true)
                 : s.args[0].kind == Token::String ? host_.setClipboard(s.args[0].str.bytes())
                                                   : host_.clearClipboard();
      if (!set && host_.flavour() != Flavour::Mac)
        return failed(s, "the clipboard set", "the system refused it");
    } else if (v == "load") {
      host_.send(lib_, kLoad);
    } else if (v == "unload") {
      host_.send(lib_, kUnload);
    } else if (v == "message") {
      host_.send(lib_, static_cast<int16_t>(s.args[0].number));
    } else if (v == "setup") {
      host_.setupInfo(lib_);
    } else if (v == "call") {
      std::vector<Param> params;
      for (size_t i = 1; i < s.args.size(); ++i) {
        const Token& t = s.args[i];
        params.push_back(t.kind == Token::Word ? Param{t.word, {}} : Param{{}, literal(t)});
      }
      host_.execute(lib_, commandOf(s.args[0]), std::move(params));
      if (opt_.afterCall) opt_.afterCall(s, commandOf(s.args[0]), host_.returnCode());
      if (opt_.verbose) {
        out_ << "    -> return code "
             << (host_.returnCode() ? host_.returnCode()->describe() : std::string("(not written)"))
             << "\n";
      }
    } else if (v == "design") {
      host_.designInfo(lib_, commandOf(s.args[0]), static_cast<int16_t>(s.args[1].number));
    } else if (v == "expect") {
      return opt_.skipExpectations || expect(s);
    }
    return true;
  }

  bool expectCount(const Step& s, const char* what, long expected, long actual) {
    if (expected == actual) return true;
    return failed(s, std::string(what) + " " + std::to_string(expected),
                  std::string(what) + " " + std::to_string(actual));
  }

  bool expect(const Step& s) {
    const std::string& w = s.args[0].word;
    if (w == "rc") {
      Value want = literal(s.args[1]);
      const auto& rc = host_.returnCode();
      if (!rc) return failed(s, want.describe(), "nothing written to the return code");
      if (!(*rc == want)) return failed(s, want.describe(), rc->describe());
    } else if (w == "label") {
      std::u32string want = s.args[1].str.chars();
      auto len = static_cast<long>(s.args[2].number);
      if (host_.designRecord().empty()) return failed(s, "a design record", "none was sent");
      std::u32string got = host_.designLabel();
      if (got != want || static_cast<long>(host_.designLabelLength()) != len)
        return failed(s, Value::str(want).describe() + " length " + std::to_string(len),
                      Value::str(got).describe() + " length " +
                          std::to_string(host_.designLabelLength()));
    } else if (w == "usedefault") {
      if (host_.designRecord().empty()) return failed(s, "a design record", "none was sent");
      return expectCount(s, "usedefault", static_cast<long>(s.args[1].number),
                         host_.designRecord()[kDiUseDefault]);
    } else if (w == "design") {
      if (host_.designRecord() != host_.designRecordSent())
        return failed(s, "the design record as the host filled it", "the library changed it");
    } else if (w == "setup") {
      const auto& rec = host_.setupRecord();
      if (rec.empty()) return failed(s, "a set-up record", "none was sent");
      int16_t flag;
      std::memcpy(&flag, &rec[kSetupFlagOffset], 2);
      for (size_t i = 0; i < rec.size(); ++i) {
        if ((i < kSetupFlagOffset || i > kSetupFlagOffset + 1) && rec[i] != 0)
          return failed(s, "only the flag word written", "byte " + std::to_string(i) + " changed");
      }
      return expectCount(s, "set-up flag", static_cast<long>(s.args[1].number), flag);
    } else if (w == "calls") {
      return expectCount(s, "callback calls", static_cast<long>(s.args[1].number),
                         host_.last().calls);
    } else if (w == "writes") {
      return expectCount(s, "field writes", static_cast<long>(s.args[1].number),
                         host_.last().writes);
    } else if (w == "loaded") {
      if (!host_.slot()) return failed(s, "loaded (slot holds a block)", "the slot is null");
    } else if (w == "unloaded") {
      if (host_.slot()) return failed(s, "not loaded (slot null)", "the slot holds a block");
    } else if (w == "slot") {
      if (host_.slot() != host_.slotBefore())
        return failed(s, "the slot unchanged by the last message", "it changed");
    } else {
      Value want = literal(s.args[2]);
      const Value* got = host_.variable(w);
      if (!got || !(*got == want))
        return failed(s, want.describe(), got ? got->describe() : "(none)");
    }
    return true;
  }

  const Scenario& sc_;
  const Library& lib_;
  Host host_;
  const RunOptions& opt_;
  std::ostream& out_;
  std::ostream& err_;
};

} // namespace

Outcome runScenario(const Scenario& s, const Library& lib, Flavour flavour, const RunOptions& opt,
                    std::ostream& out, std::ostream& err) {
  static int counter = 0;
  std::error_code ec;
  fs::path root = opt.workRoot.empty() ? fs::temp_directory_path(ec) : fs::path(opt.workRoot);
  if (ec) root = fs::current_path(ec);
  try {
    WorkDir wd(root / ("scenario-" + std::to_string(++counter)));
    Runner r(s, lib, flavour, opt, out, err);
    return r.run();
  } catch (const fs::filesystem_error& e) {
    err << s.path << ": no folder to run in: " << e.what() << "\n";
    return Outcome::Failed;
  }
}

} // namespace qhost
