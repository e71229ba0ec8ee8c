#!/usr/bin/env bash
# The release, from the files `make windows` built and checked:
#   DIST/KestrovaLM-VERSION/      INSTALL.txt, x86\ and x64\ (KestrovaLM.dll,
#                                 kestrova.exe), examples\ (the INF lines,
#                                 a configuration file, a sample job)
#   DIST/KestrovaLM-VERSION.zip   the same folder
#   DIST/KestrovaLM-VERSION-debug.zip   the debug information of each file,
#                                 to put beside it for a debugger
# Text files get Windows line ends. Prints every file with its size.
#   scripts/make_dist.sh VERSION X86_BUILD X64_BUILD DIST
set -euo pipefail
version="${1:?version}"
x86_build="${2:?x86 build}"
x64_build="${3:?x64 build}"
dist="${4:?dist folder}"

name="KestrovaLM-$version"
root="$dist/$name"
debug="$dist/$name-debug"
rm -rf "$root" "$debug" "$dist/$name.zip" "$dist/$name-debug.zip"
mkdir -p "$root/examples"

for arch in x86 x64; do
  build=$x86_build
  [ "$arch" = x64 ] && build=$x64_build
  mkdir -p "$root/$arch" "$debug/$arch"
  for file in "$build/KestrovaLM.dll" "$build/tool/kestrova.exe"; do
    cp "$file" "$root/$arch/"
    cp "$file.debug" "$debug/$arch/"
  done
done
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf examples/windows/INSTALL.txt "$root/INSTALL.txt"
for file in examples/windows/KestrovaCard.inf examples/KestrovaLM.cfg examples/sample-job.txt; do
  crlf "$file" "$root/examples/$(basename "$file")"
done

# Fixed times and no extra attributes: the same files give the same zip.
find "$root" "$debug" -exec touch -d "2000-01-01T00:00:00Z" {} +
(cd "$dist" && zip -q -r -X "$name.zip" "$name" && zip -q -r -X "$name-debug.zip" "$name-debug")

(cd "$dist" && find "$name" -type f | sort | while read -r file; do
  printf '%10d  %s\n' "$(stat -c %s "$file")" "$file"
done)
printf '%10d  %s\n' "$(stat -c %s "$dist/$name.zip")" "$dist/$name.zip"
printf '%10d  %s\n' "$(stat -c %s "$dist/$name-debug.zip")" "$dist/$name-debug.zip"
