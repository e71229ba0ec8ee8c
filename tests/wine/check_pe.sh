#!/usr/bin/env bash
# What a built Windows file shows to objdump -p: the module exports exactly
# InitializePrintMonitor2, and every file imports system DLLs only (libgcc,
# libstdc++ and winpthread are linked in).
#   check_pe.sh module KestrovaLM.dll...
#   check_pe.sh program kestrova.exe...
set -euo pipefail
kind="$1"; shift
objdump=x86_64-w64-mingw32-objdump  # reads the 32-bit format too
case "$kind" in
  module) allowed='^(kernel32\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-crt-.*\.dll|winspool\.drv)$' ;;
  program) allowed='^(kernel32\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-crt-.*\.dll|winspool\.drv|ws2_32\.dll)$' ;;
  *) echo "usage: check_pe.sh module|program FILE..." >&2; exit 2 ;;
esac
status=0
for file in "$@"; do
  headers=$("$objdump" -p "$file")
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '[:upper:]' '[:lower:]' | sort -u)
  foreign=$(grep -Ev "$allowed" <<<"$imports" || true)
  if [ -n "$foreign" ]; then
    echo "$file: imports non-system DLLs: $(tr '\n' ' ' <<<"$foreign")"; status=1
  fi
  if [ "$kind" = module ]; then
    exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' <<<"$headers")
    if [ "$exports" != InitializePrintMonitor2 ]; then
      echo "$file: exports '$(tr '\n' ' ' <<<"$exports")', not just InitializePrintMonitor2"; status=1
    fi
  fi
  [ $status -eq 0 ] && echo "$file: imports $(tr '\n' ' ' <<<"$imports")"
done
exit $status
