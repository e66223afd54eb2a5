#!/usr/bin/env bash
# The main job: builds the library and the stand-in host natively and imports the bundled
# example through them, printing every record.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh native
preset=linux-unicode
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
exec "build/$preset/quillomar-host" preview --library "build/$preset/QuillomarU.so" \
  --strip-quotes --field id:10:COMMA --field item:40:COMMA --field qty:6:COMMA \
  --field price:10:CRLF examples/orders.csv
