#!/usr/bin/env bash
# Checks a built DLL: it exports the entry point undecorated, imports only system DLLs (no C
# or C++ runtime DLLs to ship beside it) and, when VERSION is given, carries a version
# resource with that file and product version and its own file name. A 32-bit DLL must run on
# any i686: SSE registers may appear only in the functions that are taken once the processor
# has said it has SSE2 (namespace sse2) or AVX2 (namespace avx2), AVX registers only in the
# latter.
# Usage: check-dll.sh OBJDUMP DLL [VERSION]
set -euo pipefail
objdump=$1 dll=$2 version=${3:-}
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
if [[ -n $version ]]; then
  # The version resource's strings are UTF-16: each key is followed by its value.
  info=$(strings -el "$dll")
  for key in FileVersion ProductVersion; do
    value=$(grep -A1 -x "$key" <<<"$info" | tail -1)
    if [[ $value != "$version" ]]; then
      echo "check-dll: $dll has $key [$value], expected $version"
      bad=1
    fi
  done
  name=$(grep -A1 -x OriginalFilename <<<"$info" | tail -1)
  if [[ $name != "$(basename "$dll")" ]]; then
    echo "check-dll: $dll calls itself [$name]"
    bad=1
  fi
  grep -qx "ProductName" <<<"$info" || { echo "check-dll: $dll has no ProductName"; bad=1; }
fi
if "$objdump" -f "$dll" | grep -q 'pei-i386'; then
  # Functions are told apart by their symbols: a stripped DLL fails, as it cannot be checked.
  outside=$("$objdump" -d -C "$dll" | awk '
    /^[0-9a-f]+ <.*>:$/ { named = 1; fn = $0; sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn) }
    /%xmm/ && fn !~ /(^|[ *&])(sse2|avx2)::/ { print (named ? fn : "(no symbols)") }
    /%ymm/ && fn !~ /(^|[ *&])avx2::/ { print (named ? fn : "(no symbols)") }' | sort -u)
  if [[ -n $outside ]]; then
    echo "check-dll: $dll uses SSE or AVX registers outside the functions chosen for them:"
    sed 's/^/  /' <<<"$outside"
    bad=1
  fi
fi
[[ $bad == 0 ]] && echo "check-dll: $dll imports $(echo $imports), exports Quillomar${version:+, version $version}"
exit $bad
