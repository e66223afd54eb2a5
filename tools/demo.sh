#!/usr/bin/env bash
# The main job: builds the library and the stand-in host natively and imports the bundled
# customers file through them, printing every record and, last, the summary line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh native
preset=linux-unicode
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
# No format file: the import sniffs the file's format (fields, delimiters, UTF-8), reads it
# with CSV quoting and skips the header line, whose names label the fields.
exec "build/$preset/quillomar-host" import --library "build/$preset/QuillomarU.so" --header \
  examples/customers.csv
