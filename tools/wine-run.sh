#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix (ctest's emulator).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
if [[ $QM_WINE_32BIT == 0 ]] && [[ ${1:-} == *.exe ]] && command -v i686-w64-mingw32-objdump >/dev/null &&
   i686-w64-mingw32-objdump -f "$1" 2>/dev/null | grep -q "file format pei-i386"; then
  echo "wine-run: $1 is a 32-bit program, and this machine's kernel runs no 32-bit programs" >&2
  exit 126
fi
exec "$QM_WINE" "$@"
