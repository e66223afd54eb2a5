#!/usr/bin/env bash
# Creates the project's Wine prefix when it is missing and starts a Wine server that
# outlives the tests, so that each Wine start costs little.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
if ! command -v wine >/dev/null; then
  echo "wine-prefix: wine is not installed; run tools/setup.sh all" >&2
  exit 1
fi
# A prefix made before wine32 was installed has no 32-bit system: every 32-bit program
# would fail to load kernel32.dll. It holds nothing of ours, so it is made again.
if [[ $QM_WINE_32BIT == 1 && -f $WINEPREFIX/system.reg &&
      ! -f $WINEPREFIX/drive_c/windows/syswow64/kernel32.dll ]]; then
  echo "wine-prefix: $WINEPREFIX has no 32-bit system; making it again"
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "wine-prefix: creating $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$QM_WINE" wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
fi
# Neither may hold ctest's output pipe: ctest would wait for the server to exit.
wineserver -p60 </dev/null >/dev/null 2>&1 || true # already running is fine
"$QM_WINE" wineboot </dev/null >/dev/null 2>&1
echo "wine-prefix: ready ($WINEPREFIX)"
