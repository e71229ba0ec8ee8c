#!/usr/bin/env bash
# The release, from the files `make windows` built and checked:
#   DIST/KestrovaLM-VERSION/      INSTALL.txt, LICENSE.txt, SHA256SUMS.txt,
#                                 x86\ and x64\ (KestrovaLM.dll, kestrova.exe),
#                                 examples\ (the INF lines, a configuration
#                                 file, the sample and problem jobs, control\
#                                 with the kx_api requests), docs\ (tool.md,
#                                 windows.md, security.md)
#   DIST/KestrovaLM-VERSION.zip   the same folder
#   DIST/KestrovaLM-VERSION-debug.zip   the debug information of each file,
#                                 to put beside it for a debugger
# Text files get Windows line ends. Every file carries the date of the
# commit the release is built from (the build's time where there is no
# git), so that the same commit gives the same zip. SHA256SUMS.txt holds
# the sum of every other file of the release, in sha256sum's format.
# Prints every file with its size.
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
mkdir -p "$root/examples/control" "$root/docs"

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
sed "s/@VERSION@/$version/g" examples/windows/INSTALL.txt >"$root/INSTALL.txt.lf"
crlf "$root/INSTALL.txt.lf" "$root/INSTALL.txt"
rm "$root/INSTALL.txt.lf"
crlf LICENSE.txt "$root/LICENSE.txt"
for file in examples/windows/KestrovaCard.inf examples/KestrovaLM.cfg examples/sample-job.txt examples/problem-job.txt; do
  crlf "$file" "$root/examples/$(basename "$file")"
done
for file in examples/control/*.xml; do
  crlf "$file" "$root/examples/control/$(basename "$file")"
done
for file in docs/tool.md docs/windows.md docs/security.md; do
  crlf "$file" "$root/docs/$(basename "$file")"
done

sums=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum)
printf '%s\n' "$sums" | sed 's/$/\r/' >"$root/SHA256SUMS.txt"

# No extra attributes, and the source's date: the same commit gives the same zip.
stamp=$(git log -1 --format=%cI 2>/dev/null || date -u +%Y-%m-%dT%H:%M:%SZ)
find "$root" "$debug" -exec touch -d "$stamp" {} +
(cd "$dist" && zip -q -r -X "$name.zip" "$name" && zip -q -r -X "$name-debug.zip" "$name-debug")

echo "files dated $stamp"
(cd "$dist" && find "$name" -type f | LC_ALL=C sort | while read -r file; do
  printf '%10d  %s\n' "$(stat -c %s "$file")" "$file"
done)
printf '%10d  %s\n' "$(stat -c %s "$dist/$name.zip")" "$dist/$name.zip"
printf '%10d  %s\n' "$(stat -c %s "$dist/$name-debug.zip")" "$dist/$name-debug.zip"
