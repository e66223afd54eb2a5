// quillomar-host describe: what the host's method editor learns from a library build.
#pragma once

#include "protocol.h"

#include <iosfwd>
#include <string>

namespace qhost {

// Prints the Q7INF record, the command table from the build's resources and, for each
// command, the labels of its parameter and return-code lines (message 3). Returns the exit
// status: 0, or 2 when the library cannot be loaded.
int runDescribe(Flavour flavour, const std::string& library, std::ostream& out, std::ostream& err);

} // namespace qhost
