#!/usr/bin/env bash
# What a built Windows file shows to objdump and windres: the machine type of
# its architecture, the module's one export InitializePrintMonitor2, and
# imports of system DLLs only (libgcc, libstdc++ and winpthread are linked
# in); our stand-in winspool.drv's exports; and of the files `make windows`
# ships, that they are stripped, their debug information beside them, that
# their version resource carries the project's version, a product name, a
# file description, a company name and a copyright line, and that no shipped
# file holds the build's absolute path (in 8-bit or UTF-16 text), which a
# program would otherwise look in on the customer's machine. These checks
# need no Windows runtime, so they run on every machine.
#   check_pe.sh module x86|x64 KestrovaLM.dll...
#   check_pe.sh program x86|x64 kestrova.exe...
#   check_pe.sh standin x86|x64 winspool.drv
#   check_pe.sh release VERSION FILE...
#   check_pe.sh stdcall-guard X86_BUILD
# stdcall-guard: the x86 module's link runs without stdcall fix-ups, and
# such a link refuses an import declared with the wrong calling convention
# (by default ld binds _SetJobW to _SetJobW@20 with only a warning).
set -euo pipefail
usage() {
  echo "usage: check_pe.sh module|program|standin x86|x64 FILE... | release VERSION FILE... | stdcall-guard X86_BUILD" >&2
  exit 2
}
kind="${1:-}"; shift || usage
objdump=x86_64-w64-mingw32-objdump  # reads the 32-bit format too

if [ "$kind" = stdcall-guard ]; then
  build="${1:?x86 build directory}"
  link_command="$build/CMakeFiles/KestrovaLM.dir/link.txt"
  if ! grep -q -- "--disable-stdcall-fixup" "$link_command"; then
    echo "$link_command: the x86 module is linked without --disable-stdcall-fixup"; exit 1
  fi
  work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
  cxx=i686-w64-mingw32-g++-posix
  # One object imports SetJobW correctly (stdcall, 20 bytes of arguments),
  # the other declares it as cdecl: only the fix-up could bind the second.
  printf 'extern "C" __attribute__((stdcall)) int SetJobW(void*, unsigned long, unsigned long, unsigned char*, unsigned long);\nextern "C" __declspec(dllexport) int right() { return SetJobW(0, 0, 0, 0, 0); }\n' >"$work/right.cpp"
  printf 'extern "C" int SetJobW(void*, unsigned long, unsigned long, unsigned char*, unsigned long);\nextern "C" __declspec(dllexport) int wrong() { return SetJobW(0, 0, 0, 0, 0); }\n' >"$work/wrong.cpp"
  "$cxx" -c "$work/right.cpp" -o "$work/right.o"
  "$cxx" -c "$work/wrong.cpp" -o "$work/wrong.o"
  "$cxx" -shared -Wl,--disable-stdcall-fixup -o "$work/right.dll" "$work/right.o" -lwinspool ||
    { echo "stdcall-guard: a correctly declared import does not link"; exit 1; }
  if "$cxx" -shared -Wl,--disable-stdcall-fixup -o "$work/wrong.dll" "$work/right.o" "$work/wrong.o" -lwinspool \
       >/dev/null 2>&1; then
    echo "stdcall-guard: an import declared cdecl links without stdcall fix-ups"; exit 1
  fi
  echo "$build/KestrovaLM.dll: linked without stdcall fix-ups (a misdeclared import cannot link)"
  exit 0
fi

if [ "$kind" = release ]; then
  version="${1:?version}"; shift
  IFS=. read -r major minor patch <<<"$version"
  # The source folder holds every build folder: no shipped byte may name it.
  source_root=$(cd "$(dirname "$0")/../.." && pwd -P)
  status=0
  for file in "$@"; do
    problems=""
    if "$objdump" -h "$file" | grep -q " \.debug_"; then problems+=" carries debug sections;"; fi
    if ! "$objdump" -h "$file" | grep -q " \.gnu_debuglink"; then problems+=" has no .gnu_debuglink;"; fi
    if ! "$objdump" -h "$file.debug" 2>/dev/null | grep -q " \.debug_info"; then problems+=" $file.debug holds no debug information;"; fi
    resource=$(x86_64-w64-mingw32-windres -i "$file" -O rc 2>/dev/null || true)
    for wanted in "FILEVERSION $major, $minor, $patch, 0" "PRODUCTVERSION $major, $minor, $patch, 0" \
                  "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\""; do
      grep -qF "$wanted" <<<"$resource" || problems+=" its version resource lacks '$wanted';"
    done
    for field in ProductName FileDescription CompanyName LegalCopyright; do
      grep -qE "VALUE \"$field\", \"[^\"]+\"" <<<"$resource" || problems+=" its version resource has no $field;"
    done
    if python3 - "$file" "$source_root" <<'PYTHON'
import sys
data = open(sys.argv[1], "rb").read()
root = sys.argv[2]
sys.exit(0 if root.encode() in data or root.encode("utf-16-le") in data else 1)
PYTHON
    then
      problems+=" holds the build's path $source_root;"
    fi
    if [ -n "$problems" ]; then
      echo "$file:$problems"; status=1
    else
      echo "$file: $(stat -c %s "$file") bytes stripped, version $version; $(stat -c %s "$file.debug") bytes of debug information beside it"
    fi
  done
  exit $status
fi

arch="${1:-}"; shift || usage
case "$kind" in
  module) allowed='^(kernel32\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-crt-.*\.dll|winspool\.drv)$' ;;
  program) allowed='^(kernel32\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-crt-.*\.dll|winspool\.drv|ws2_32\.dll|mswsock\.dll|advapi32\.dll)$' ;;
  standin) allowed='^(kernel32\.dll|msvcrt\.dll)$' ;;
  *) usage ;;
esac
case "$arch" in
  x86) format=pei-i386 ;;
  x64) format=pei-x86-64 ;;
  *) usage ;;
esac
[ $# -gt 0 ] || usage
status=0
for file in "$@"; do
  file_status=0
  actual=$("$objdump" -f "$file" | sed -n 's/.*file format //p')
  if [ "$actual" != "$format" ]; then
    echo "$file: file format '$actual', not $format ($arch)"; file_status=1
  fi
  headers=$("$objdump" -p "$file")
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '[:upper:]' '[:lower:]' | sort -u)
  foreign=$(grep -Ev "$allowed" <<<"$imports" || true)
  if [ -n "$foreign" ]; then
    echo "$file: imports non-system DLLs: $(tr '\n' ' ' <<<"$foreign")"; file_status=1
  fi
  exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' <<<"$headers" | sort)
  if [ "$kind" = module ] && [ "$exports" != InitializePrintMonitor2 ]; then
    echo "$file: exports '$(tr '\n' ' ' <<<"$exports")', not just InitializePrintMonitor2"; file_status=1
  fi
  # Undecorated, as the module's import library asks for them.
  standin_exports=$(printf '%s\n' ClosePrinter KestrovaStandinFail KestrovaStandinRecord KestrovaStandinReportAtExit \
    KestrovaStandinReset OpenPrinterW SetJobW)
  if [ "$kind" = standin ] && [ "$exports" != "$standin_exports" ]; then
    echo "$file: exports '$(tr '\n' ' ' <<<"$exports")', not the stand-in's '$(tr '\n' ' ' <<<"$standin_exports")'"; file_status=1
  fi
  [ $file_status -eq 0 ] && echo "$file: $format, imports $(tr '\n' ' ' <<<"$imports")"
  [ $file_status -eq 0 ] || status=1
done
exit $status
