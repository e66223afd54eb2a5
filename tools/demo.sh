#!/usr/bin/env bash
# The main job: builds the library and the stand-in host natively and imports the bundled
# customers file through them, printing every record and, last, the summary line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh native
preset=linux-unicode
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
# The first 32 bytes are the header line; the format file names the fields; the file is
# UTF-8, so its names arrive as the characters they are.
exec "build/$preset/quillomar-host" import --library "build/$preset/QuillomarU.so" \
  --format examples/customers.fmt --strip-quotes --encoding utf-8 --from 32 \
  examples/customers.csv
