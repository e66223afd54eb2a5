#!/usr/bin/env bash
# Installs what the builds and tests need, only when it is missing.
# Usage: tools/setup.sh [native|all]   (native: Linux builds only; all: also mingw-w64 and Wine)
set -euo pipefail
want=${1:-all}

native_pkgs=(build-essential cmake ninja-build googletest libgtest-dev libbenchmark-dev clang clang-format gcovr libcli11-dev python3)
cross_pkgs=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine64 wine32:i386)

missing=()
need_i386=0
check() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
      [[ $p == *:i386 ]] && need_i386=1
    fi
  done
}
check "${native_pkgs[@]}"
[[ $want == all ]] && check "${cross_pkgs[@]}"
if [[ $need_i386 == 1 ]] && dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=0
fi

if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

cmd=""
[[ $need_i386 == 1 ]] && cmd="dpkg --add-architecture i386 && "
cmd+="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"

if [[ $(id -u) -ne 0 ]]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: run as root:  $cmd" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
if [[ $need_i386 == 1 ]]; then
  echo "setup: adding the i386 architecture (for wine32)"
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails the update now and then: try again, and go on with the
# indexes it did fetch, since the install below says clearly what it could not find.
for try in 1 2 3; do
  apt-get update -qq && break
  echo "setup: apt-get update failed (try $try of 3)" >&2
  [[ $try == 3 ]] || sleep $((try * 5))
done
if apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
  echo "setup: done"
  exit 0
fi
# wine32 needs the i386 indexes to match the amd64 ones exactly, and a mirror mid-sync breaks
# that first. Without it the 32-bit builds are still compiled and their DLLs checked; only
# running them is left out (wine-env.sh), so the rest is installed and the run goes on.
rest=()
for p in "${missing[@]}"; do [[ $p == wine32:i386 ]] || rest+=("$p"); done
if [[ ${#rest[@]} -lt ${#missing[@]} ]] &&
   apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null; then
  echo "setup: wine32:i386 could not be installed; the 32-bit Windows builds will not be run" >&2
  exit 0
fi
echo "setup: installing ${missing[*]} failed" >&2
exit 1
