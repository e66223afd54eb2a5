#!/usr/bin/env bash
# The library's layers, bottom up: base, platform, glue, import, entry (resources beside
# entry). A file may include its own layer and those below it, never one above.
# Usage: tools/check-layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
rank() {
  case $1 in
  base) echo 0 ;; platform) echo 1 ;; glue) echo 2 ;; import) echo 3 ;; entry) echo 4 ;;
  resources) echo 4 ;; host | tests | bench | fuzz | tools) echo 9 ;; *) echo -1 ;;
  esac
}
bad=0
for layer in base platform glue import entry; do
  mine=$(rank "$layer")
  for f in "$layer"/*.h "$layer"/*.cpp; do
    [[ -e $f ]] || continue
    while IFS= read -r target; do
      # Written from the file's folder ("../import/x.h") or from the root ("import/x.h");
      # a bare name is the file's own layer.
      other=${target#../}
      [[ $other == */* ]] || continue
      other=${other%%/*}
      theirs=$(rank "$other")
      if [[ $theirs -gt $mine ]]; then
        echo "check-layers: $f includes $target, a layer above it" >&2
        bad=1
      fi
    done < <(sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*|\1|p' "$f")
  done
done
[[ $bad == 0 ]] && echo "check-layers: every include points down"
exit $bad
