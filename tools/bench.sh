#!/usr/bin/env bash
# The import benchmark: builds the library in Release (no sanitizers) natively and, unless
# --no-wine, the 64-bit and 32-bit QuillomarU.dll; writes the benchmark's files once
# (build/bench-data: one million customer records, a narrow and a wide shape, each as CSV and
# TSV, and a 10 MB slice); then measures the library beside its peers and prints one table
# per shape (docs/performance.md explains them).
#
# Usage: tools/bench.sh [--no-wine] [--micro [ARGS...]]
#   --micro runs the reader's micro benchmarks (Google Benchmark) instead, with ARGS.
set -euo pipefail
cd "$(dirname "$0")/.."

wine=1
if [[ ${1:-} == --no-wine ]]; then wine=0; shift; fi
bash tools/setup.sh "$([[ $wine == 1 ]] && echo all || echo native)"
if ! dpkg-query -W -f='${Status}' libcsv-dev 2>/dev/null | grep -q 'install ok installed'; then
  if [[ $(id -u) -eq 0 ]]; then
    echo "bench: installing libcsv-dev (the libcsv peer)"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends libcsv-dev >/dev/null
  else
    echo "bench: libcsv-dev is missing, the libcsv peer is left out (apt-get install libcsv-dev)" >&2
  fi
fi

cmake --preset linux-bench >/dev/null
cmake --build --preset linux-bench >/dev/null
if [[ ${1:-} == --micro ]]; then
  shift
  cd build/linux-bench
  exec ./bench/quillomar-bench "$@"
fi

data=build/bench-data
if [[ ! -f $data/customers.tsv || ! -f $data/narrow.tsv || ! -f $data/wide.tsv ]]; then
  echo "bench: writing the benchmark's files to $data (once)"
  python3 tools/bench_data.py "$data"
fi
[[ -f $data/customers-10mb.csv ]] || head -n 100000 "$data/customers.csv" >"$data/customers-10mb.csv"

args=("$data" build/linux-bench --results "$data/results.txt")
if [[ $wine == 1 ]]; then
  source tools/wine-env.sh
  wine_presets=(win64-unicode win32-unicode)
  if [[ $QM_WINE_32BIT == 0 ]]; then
    echo "bench: this machine's kernel runs no 32-bit programs: the 32-bit DLL is left out" >&2
    wine_presets=(win64-unicode)
  fi
  for p in "${wine_presets[@]}"; do
    cmake --preset "$p" >/dev/null
    cmake --build --preset "$p" >/dev/null
    args+=(--wine "build/$p")
  done
  bash tools/wine-prefix.sh >/dev/null
  # One Wine server for all the Wine rows, its prefix booted before the first is timed: the
  # boot's own processes would otherwise share the two cores with the first rows.
  wineserver -k 2>/dev/null || true # a server already running would refuse -p
  wineserver -w
  wineserver -p
  trap 'wineserver -k 2>/dev/null || true' EXIT
  bash tools/wine-run.sh cmd /c exit >/dev/null 2>&1 || true
fi
python3 tools/bench.py "${args[@]}"
