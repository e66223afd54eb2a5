#!/usr/bin/env bash
# The main job: builds the library and the stand-in host natively and runs the bundled
# example through the host, step by step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh native
preset=linux-unicode
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
exec "build/$preset/quillomar-host" run --verbose --library "build/$preset/QuillomarU.so" examples/demo.qs
