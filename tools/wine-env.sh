# Sourced by the Wine scripts: one prefix for every Windows build, under the git-ignored
# build folder, headless and without the Mono and Gecko prompts.
_qm_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${QM_WINEPREFIX:-$_qm_root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
unset DISPLAY

# The Wine loader. Debian's wine script starts the 32-bit loader whenever wine32 is
# installed, and a kernel that runs no 32-bit programs refuses it ("Exec format error"):
# the 64-bit loader alone then runs the 64-bit programs. So it does when wine32 could not be
# installed (setup.sh goes on without it). QM_WINE names the loader to use; QM_WINE_32BIT is
# 1 when 32-bit programs run here.
if [[ -x /usr/lib/wine/wine64 ]] &&
   ! { [[ -x /usr/lib/wine/wine ]] && /usr/lib/wine/wine --version >/dev/null 2>&1; }; then
  export QM_WINE=/usr/lib/wine/wine64
  export WINELOADER=$QM_WINE
  export QM_WINE_32BIT=0
else
  export QM_WINE=wine
  export QM_WINE_32BIT=1
fi
