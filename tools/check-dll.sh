#!/usr/bin/env bash
# Checks a built DLL: it exports the entry point undecorated and imports only system DLLs
# (no C or C++ runtime DLLs to ship beside it). Usage: check-dll.sh OBJDUMP DLL
set -euo pipefail
objdump=$1 dll=$2
dump=$("$objdump" -p "$dll")
imports=$(grep 'DLL Name:' <<<"$dump" | awk '{print toupper($3)}' | sort -u)
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s+\[ *[0-9]+\] ' | sed -E 's/^\s+\[ *[0-9]+\] //')
bad=0
for d in $imports; do
  case $d in
    KERNEL32.DLL|USER32.DLL|MSVCRT.DLL|ADVAPI32.DLL|NTDLL.DLL) ;;
    *) echo "check-dll: $dll imports $d, which is not a system DLL"; bad=1 ;;
  esac
done
if [[ $exports != "Quillomar" ]]; then
  echo "check-dll: $dll exports [$exports], expected exactly Quillomar"
  bad=1
fi
[[ $bad == 0 ]] && echo "check-dll: $dll imports $(echo $imports) and exports Quillomar"
exit $bad
