// quillomar-host preview: an import of one source through the library, printed as a table.
#pragma once

#include "protocol.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace qhost {

// Runs the preview command with its arguments (after "preview"); returns the exit status:
// 0 imported, 1 a command failed or the import ended early, 2 bad arguments or library.
int runPreview(Flavour flavour, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err);

} // namespace qhost
