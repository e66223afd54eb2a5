// quillomar-host describe: reads a build's command table the way the host's method editor
// does: the Q7INF record and the string resources, then message 3 for each command.
#include "describe.h"

#include "host.h"
#include "system.h"

#include <cstdio>
#include <iostream>

namespace qhost {

namespace {
constexpr int kFirstCommandString = 1273; // where Q7INF says the table starts
constexpr int kCommands = 8;
constexpr int16_t kParamLine = 5, kReturnCodeLine = 6;
} // namespace

int runDescribe(Flavour flavour, const std::string& library, std::ostream& out, std::ostream& err) {
  std::string error;
  auto lib = Library::open(library, flavour, &error);
  if (!lib) {
    err << "quillomar-host: " << error << "\n";
    return 2;
  }
  Host host(flavour);
  host.send(*lib, kLoad);

  out << library << " (" << flavourName(flavour) << ")\n";
  int first = kFirstCommandString;
  std::vector<uint8_t> q7 = systemQ7inf(lib->module());
  if (q7.size() >= 6) {
    char hex[8];
    out << "Q7INF: \"" << std::string(q7.begin(), q7.begin() + 4) << "\"";
    first = q7[4] | q7[5] << 8;
    out << ", command table from string " << first << " (";
    for (size_t i = 0; i < q7.size(); ++i) {
      std::snprintf(hex, sizeof hex, "%s%02X", i ? " " : "", q7[i]);
      out << hex;
    }
    out << ")\n";
  } else {
    out << "Q7INF: none in this build's file (a native build has no resource section); the "
           "command table starts at string "
        << first << "\n";
  }
  std::vector<std::string> texts = systemCommandStrings(lib->module(), first, kCommands + 1);
  out << "design record: " << designRecordSize(flavour) << " bytes, labels of "
      << (isUnicode(flavour) ? "32-bit" : "8-bit") << " characters\n\n";
  for (int cmd = 1; cmd <= kCommands; ++cmd) {
    const std::string& text = texts[static_cast<size_t>(cmd - 1)];
    out << "command " << cmd << ": " << text.substr(0, text.find(':')) << "\n";
    host.designInfo(*lib, static_cast<int16_t>(cmd), kParamLine);
    out << "  parameter line:   " << toUtf8(host.designLabel()) << "\n";
    host.designInfo(*lib, static_cast<int16_t>(cmd), kReturnCodeLine);
    out << "  return-code line: " << toUtf8(host.designLabel()) << "\n";
  }
  out << "group: " << texts[kCommands] << "\n";
  host.send(*lib, kUnload);
  return 0;
}

} // namespace qhost
