#!/usr/bin/env bash
# Branch coverage of the library (entry/, import/, glue/, platform/) over the native suite of
# all three flavours: build/coverage/cov-FLAVOUR.html each, and one table merged across
# them here. Usage: tools/coverage.sh [--missed] [--check PERCENT]   (--missed lists every
# branch not taken; --check fails when any flavour's branch coverage is below PERCENT)
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh native
if ! command -v gcovr >/dev/null; then
  if [[ $(id -u) -eq 0 ]]; then
    echo "coverage: installing gcovr"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gcovr >/dev/null
  else
    echo "coverage: run as root: apt-get install -y gcovr" >&2
    exit 1
  fi
fi
for p in cov-unicode cov-8bit cov-mac; do
  cmake --preset "$p" >/dev/null
  mkdir -p build/coverage
  cmake --build --preset "$p" >"build/coverage/$p.build.log" 2>&1 ||
    { tail -30 "build/coverage/$p.build.log"; exit 1; }
  find "build/coverage/$p" -name '*.gcda' -delete
  ctest --preset "$p" >"build/coverage/$p.log" || { tail -40 "build/coverage/$p.log"; exit 1; }
  # Only the library's sources, wherever the linker took their code from: an inline function
  # of a header may run as the copy a test program compiled.
  gcovr --root . --object-directory "build/coverage/$p" \
    --filter 'entry/' --filter 'import/' --filter 'glue/' --filter 'platform/' \
    --exclude 'platform/standin/' --exclude-unreachable-branches --exclude-throw-branches \
    --json "build/coverage/$p.json" "build/coverage/$p" >/dev/null
done
# Per flavour in HTML; merged across flavours here.
for p in cov-unicode cov-8bit cov-mac; do
  gcovr --add-tracefile "build/coverage/$p.json" --html-details "build/coverage/$p.html" >/dev/null
done
python3 tools/coverage_merge.py build/coverage/cov-*.json "$@"
