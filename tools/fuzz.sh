#!/usr/bin/env bash
# Fuzzes the reader and conditioning with libFuzzer for a while (default 60 seconds),
# starting from fuzz/corpus. Usage: tools/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
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
cmake --build --preset linux-fuzz --target quillomar-fuzz >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp fuzz/corpus/* "$work"/
exec build/linux-fuzz/fuzz/quillomar-fuzz -max_total_time="$seconds" -max_len=40000 "$work"
