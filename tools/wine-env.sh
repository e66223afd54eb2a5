# Sourced by the Wine scripts: one prefix for every Windows build, under the git-ignored
# build folder, headless and without the Mono and Gecko prompts.
_qm_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${QM_WINEPREFIX:-$_qm_root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
unset DISPLAY
