#!/usr/bin/env bash
# Fails when clang-format would change any of the project's C++ files (the tracked ones, or
# every one under the source folders outside a git checkout). Usage: tools/check-format.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find base bench entry fuzz glue host import platform resources tests tools \
    -name '*.cpp' -o -name '*.h')
fi
bad=()
for f in "${files[@]}"; do
  [[ -e $f ]] || continue
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [[ ${#bad[@]} -ne 0 ]]; then
  echo "check-format: clang-format would change: ${bad[*]} (run clang-format -i on them)" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files as clang-format writes them"
