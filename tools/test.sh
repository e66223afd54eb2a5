#!/usr/bin/env bash
# Builds every preset and runs the whole suite: the three native builds and the Unicode one
# again under clang's implicit-conversion sanitizer, then the three Windows builds under Wine. Installs what is missing first (as root; otherwise it prints
# the command to run). Usage: tools/test.sh [PRESET...]
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[[ ${#presets[@]} -eq 0 ]] && presets=(linux-unicode linux-8bit linux-mac linux-clang win32-unicode win32-8bit win64-unicode)

need=native
for p in "${presets[@]}"; do [[ $p == win* ]] && need=all; done
bash tools/setup.sh "$need"

# Some kernels run no 32-bit programs (Wine's 32-bit loader gets "Exec format error"): there
# the 32-bit builds are compiled and their DLLs checked, and nothing of theirs is run.
[[ $need == all ]] && source tools/wine-env.sh
failed=()
echo "== house"
bash tools/check-format.sh || failed+=(format)
bash tools/check-layers.sh || failed+=(layers)
for p in "${presets[@]}"; do
  echo "== $p"
  only=()
  if [[ $p == win32-* && ${QM_WINE_32BIT:-1} == 0 ]]; then
    echo "test: this machine's kernel runs no 32-bit programs: $p is built and its DLL checked, not run"
    only=(-R '^(dll-imports-exports|layers)$')
  fi
  if cmake --preset "$p" >/dev/null && cmake --build --preset "$p" &&
     ctest --preset "$p" "${only[@]}"; then
    :
  else
    failed+=("$p")
  fi
done

# The release archive, built from the Windows presets and unpacked as a method author would.
if [[ $need == all ]]; then
  echo "== release"
  if bash tools/release.sh >/dev/null; then
    version=$(sed -n 's/^set(QM_VERSION \([0-9.]*\))/\1/p' CMakeLists.txt)
    bash tools/check-release.sh "dist/Quillomar-$version.zip" || failed+=(release)
  else
    failed+=(release)
  fi
fi

# The library's branch coverage, each flavour at the floor or more, when the native builds were
# asked for: 95% or more.
coverage_floor=${QM_COVERAGE_FLOOR:-95}
for p in "${presets[@]}"; do
  if [[ $p == linux-unicode ]]; then
    echo "== coverage"
    bash tools/coverage.sh --check "$coverage_floor" || failed+=(coverage)
    break
  fi
done

# A short run of each fuzz target (clang, natively), when the native builds were asked for.
for p in "${presets[@]}"; do
  if [[ $p == linux-unicode ]]; then
    echo "== fuzz"
    bash tools/fuzz.sh "${QM_FUZZ_SECONDS:-15}" || failed+=(fuzz)
    break
  fi
done

if [[ ${#failed[@]} -ne 0 ]]; then
  echo "test: FAILED on ${failed[*]}"
  exit 1
fi
echo "test: every preset passed (${presets[*]})"
