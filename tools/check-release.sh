#!/usr/bin/env bash
# Unpacks a release archive and checks it as a method author would receive it: the files
# it must hold, their checksums, and for each DLL its exports, imports and version resource.
# Usage: tools/check-release.sh ZIP
set -euo pipefail
zip=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^set(QM_VERSION \([0-9.]*\))/\1/p' "$root/CMakeLists.txt")
name=Quillomar-$version
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
cd "$work/$name"
bad=0
for f in unicode-32bit/QuillomarU.dll unicode-64bit/QuillomarU.dll 8bit/Quillomar.dll \
  COMMANDS.md INSTALL.md SHA256SUMS; do
  [[ -f $f ]] || { echo "check-release: $f is missing"; bad=1; }
done
sha256sum --quiet -c SHA256SUMS || { echo "check-release: a checksum does not match"; bad=1; }
grep -q "Quillomar $version" INSTALL.md || { echo "check-release: INSTALL.md names no version"; bad=1; }
check() {
  local objdump=$1 dll=$2 format=$3
  "$objdump" -f "$dll" | grep -q "file format $format" ||
    { echo "check-release: $dll is not $format"; bad=1; }
  bash "$root/tools/check-dll.sh" "$objdump" "$dll" "$version" || bad=1
}
check i686-w64-mingw32-objdump unicode-32bit/QuillomarU.dll pei-i386
check x86_64-w64-mingw32-objdump unicode-64bit/QuillomarU.dll pei-x86-64
check i686-w64-mingw32-objdump 8bit/Quillomar.dll pei-i386
[[ $bad == 0 ]] && echo "check-release: $name.zip holds what it must"
exit $bad
