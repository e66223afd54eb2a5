#!/usr/bin/env bash
# Builds the benchmarks (Release, no sanitizers) and runs them. Extra arguments go to the
# benchmark program, e.g. --benchmark_filter=Memory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh native
cmake --preset linux-bench >/dev/null
cmake --build --preset linux-bench >/dev/null
cd build/linux-bench
exec ./bench/quillomar-bench "$@"
