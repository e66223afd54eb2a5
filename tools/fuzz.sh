#!/usr/bin/env bash
# Fuzzes with libFuzzer (clang, AddressSanitizer and UBSan) for a while, starting from each
# target's corpus in fuzz/corpus: the reader and conditioning, whole command sequences, and
# the character conversions. A crash is written to build/linux-fuzz/crashes/TARGET; keep it
# in fuzz/regressions/TARGET once it is fixed, and the test suite replays it.
# Usage: tools/fuzz.sh [SECONDS [TARGET...]]   (default 60 seconds, every target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(reader commands conversion)
bash tools/setup.sh native
if ! dpkg-query -W -f='${Status}' clang libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed'; then
  if [[ $(id -u) -eq 0 ]]; then
    echo "fuzz: installing clang libclang-rt-14-dev"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
  else
    echo "fuzz: run as root: apt-get install -y clang libclang-rt-14-dev" >&2
    exit 1
  fi
fi
cmake --preset linux-fuzz >/dev/null
for t in "${targets[@]}"; do
  cmake --build --preset linux-fuzz --target "quillomar-fuzz-$t" >/dev/null
done
# The command fuzzer writes its files in the folder it runs in, and libFuzzer its new inputs:
# in memory (/dev/shm) where there is one, as disk writes took a third of each run.
scratch=$PWD/build/linux-fuzz
[[ -d /dev/shm && -w /dev/shm ]] && scratch=$(mktemp -d /dev/shm/quillomar-fuzz.XXXXXX)
[[ $scratch == /dev/shm/* ]] && trap 'rm -rf "$scratch"' EXIT
bin=$PWD/build/linux-fuzz/fuzz
for t in "${targets[@]}"; do
  work=$scratch/work/$t
  crashes=$PWD/build/linux-fuzz/crashes/$t
  rm -rf "$work"
  mkdir -p "$work" "$crashes"
  cp fuzz/corpus/"$t"/* "$work"/
  echo "== fuzz $t for ${seconds}s"
  # Without entropic scheduling libFuzzer runs about three times as many command sequences a
  # second (its feature bookkeeping took most of the time).
  (cd "$work" && "$bin/quillomar-fuzz-$t" -max_total_time="$seconds" -max_len=40000 -entropic=0 \
      -artifact_prefix="$crashes/" -print_final_stats=1 . 2>&1 |
      grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)" || true)
  if compgen -G "$crashes/*" >/dev/null; then
    echo "fuzz: $t found inputs that fail, kept in $crashes" >&2
    exit 1
  fi
done
