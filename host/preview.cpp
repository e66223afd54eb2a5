// quillomar-host preview: imports a source through the library and prints its records.
#include "preview.h"

#include "host.h"

#include <algorithm>
#include <charconv>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <vector>

namespace qhost {

namespace {

constexpr int16_t kOpenFile = 8, kDefineFormat = 7, kReadRecord = 5, kCloseFile = 2;

struct FieldOption {
  std::string name;
  double max;
  std::string delim;
};

bool parseField(const std::string& text, FieldOption* out) {
  size_t a = text.find(':');
  size_t b = a == std::string::npos ? a : text.find(':', a + 1);
  if (b == std::string::npos || a == 0) return false;
  out->name = text.substr(0, a);
  std::string max = text.substr(a + 1, b - a - 1);
  char* end = nullptr;
  out->max = std::strtod(max.c_str(), &end);
  out->delim = text.substr(b + 1);
  return !max.empty() && *end == 0 && !out->delim.empty();
}

std::string resultText(double rc) {
  switch (static_cast<int>(rc)) {
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

} // namespace

int runPreview(Flavour flavour, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err) {
  std::string library, source;
  std::vector<FieldOption> fields;
  bool stripQuotes = false, stripping = false, backwards = false;
  long limit = 1000;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* what) -> const std::string* {
      if (i + 1 == args.size()) {
        err << "quillomar-host: " << a << " needs " << what << "\n";
        return nullptr;
      }
      return &args[++i];
    };
    if (a == "--library") {
      const std::string* v = value("a path");
      if (!v) return 2;
      library = *v;
    } else if (a == "--field") {
      const std::string* v = value("NAME:MAX:DELIMITER");
      if (!v) return 2;
      FieldOption f;
      if (!parseField(*v, &f)) {
        err << "quillomar-host: --field takes NAME:MAX:DELIMITER, as id:10:COMMA\n";
        return 2;
      }
      fields.push_back(f);
    } else if (a == "--limit") {
      const std::string* v = value("a number of records");
      if (!v) return 2;
      // Digits only: "-5", "abc" or "12x" are mistakes, not limits.
      const char* first = v->data();
      const char* last = first + v->size();
      auto [end, ec] = std::from_chars(first, last, limit);
      if (v->empty() || ec != std::errc() || end != last || limit < 0) {
        err << "quillomar-host: --limit takes a number of records, 0 or more (0: all), not \"" << *v
            << "\"\n";
        return 2;
      }
    } else if (a == "--strip-quotes") {
      stripQuotes = true;
    } else if (a == "--strip") {
      stripping = true;
    } else if (a == "--backwards") {
      backwards = true;
    } else if (a.rfind("--", 0) == 0) {
      err << "quillomar-host: unknown option " << a << "\n";
      return 2;
    } else if (source.empty()) {
      source = a;
    } else {
      err << "quillomar-host: preview takes one source\n";
      return 2;
    }
  }
  if (library.empty() || source.empty() || fields.empty()) {
    err << "quillomar-host: preview needs --library PATH, at least one --field and a SOURCE\n";
    return 2;
  }
  std::string error;
  auto lib = Library::open(library, flavour, &error);
  if (!lib) {
    err << "quillomar-host: " << error << "\n";
    return 2;
  }

  Host host(flavour);
  host.setVariable("fileRef", Value::num(0));
  host.setVariable("fileSize", Value::num(0));
  host.setVariable("position", Value::num(0));
  host.declareList("format", {"fieldName", "maxSize", "delimiter"});
  for (const auto& f : fields) {
    host.setVariable(f.name, Value::str(U""));
    host.addRow("format",
                {Value::str(fromUtf8(f.name)), Value::num(f.max), Value::str(fromUtf8(f.delim))});
  }
  auto code = [&host] { return host.returnCode() ? host.returnCode()->asNumber() : -1; };
  auto failed = [&](const char* step) {
    err << "quillomar-host: " << step << " answered " << code() << " (" << resultText(code())
        << ")\n";
    host.send(*lib, kUnload);
    return 1;
  };

  host.send(*lib, kLoad);
  host.execute(*lib, kOpenFile,
               {Param{{}, Value::str(fromUtf8(source))}, Param{"fileRef", {}},
                Param{"fileSize", {}}, Param{{}, Value::num(stripQuotes ? 1 : 0)}});
  if (code() != 0) return failed("OpenFile");
  const double ref = host.variable("fileRef")->number;
  host.execute(*lib, kDefineFormat,
               {Param{{}, Value::num(ref)}, Param{"format", {}},
                Param{{}, Value::str(U"fieldName")}, Param{{}, Value::str(U"maxSize")},
                Param{{}, Value::str(U"delimiter")}});
  if (code() != 0) return failed("DefineFormat");

  out << source << ": " << host.variable("fileSize")->number << " bytes\n";
  for (const auto& f : fields)
    out << (&f == &fields.front() ? "" : " | ") << f.name;
  out << "\n";
  if (backwards) host.setVariable("position", Value::num(host.variable("fileSize")->number));
  long records = 0;
  double last = 0;
  while (limit == 0 || records < limit) {
    host.execute(*lib, kReadRecord,
                 {Param{{}, Value::num(ref)}, Param{"position", {}},
                  Param{{}, Value::num(stripping ? 1 : 0)},
                  Param{{}, Value::num(backwards ? 1 : 0)}});
    last = code();
    if (last == 7 || (last >= 1 && last <= 6)) break;
    ++records;
    for (const auto& f : fields)
      out << (&f == &fields.front() ? "" : " | ") << toUtf8(host.variable(f.name)->asText());
    out << "\n";
    if (last != 0) break; // a soft ending: the record so far is shown, the import stops
  }
  out << records << " record(s); the last read ended with " << last << " (" << resultText(last)
      << ")\n";
  host.execute(*lib, kCloseFile, {Param{"fileRef", {}}});
  host.send(*lib, kUnload);
  return (last == 0 || last == 7) ? 0 : 1;
}

} // namespace qhost
