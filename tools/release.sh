#!/usr/bin/env bash
# The release a method author installs: builds the three Windows presets (Release) and
# writes dist/Quillomar-VERSION.zip with the DLLs, the command guide, an install note and
# SHA256SUMS. The version is the one in CMakeLists.txt. Usage: tools/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh all
version=$(sed -n 's/^set(QM_VERSION \([0-9.]*\))/\1/p' CMakeLists.txt)
name=Quillomar-$version
for p in win32-unicode win64-unicode win32-8bit; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" --target quillomar >/dev/null
done
stage=build/release/$name
rm -rf "$stage" "dist/$name.zip"
mkdir -p "$stage/unicode-32bit" "$stage/unicode-64bit" "$stage/8bit" dist
cp build/win32-unicode/QuillomarU.dll "$stage/unicode-32bit/"
cp build/win64-unicode/QuillomarU.dll "$stage/unicode-64bit/"
cp build/win32-8bit/Quillomar.dll "$stage/8bit/"
cp docs/commands.md "$stage/COMMANDS.md"
sed "s/@VERSION@/$version/g" resources/INSTALL.md.in >"$stage/INSTALL.md"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort |
  xargs sha256sum >SHA256SUMS)
(cd build/release && cmake -E tar cf "../../dist/$name.zip" --format=zip "$name")
echo "release: dist/$name.zip"
(cd "$stage" && find . -type f | sed 's|^\./|  |' | sort)
