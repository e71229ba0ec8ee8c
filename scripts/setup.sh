#!/usr/bin/env bash
# Installs the Debian packages a task needs when they are missing.
#   scripts/setup.sh build      compiler, CMake, Boost, GoogleTest, Google Benchmark
#   scripts/setup.sh fuzz       clang with libFuzzer and the sanitizer runtimes
#   scripts/setup.sh windows    MinGW-w64 cross compilers (posix thread model)
#   scripts/setup.sh wine       Wine with 32- and 64-bit support
#   scripts/setup.sh dist       zip, for the release archive
#   scripts/setup.sh preview    an SVG renderer and fonts, to check card previews as pictures
set -euo pipefail

packages_for() {
  case "$1" in
    build) echo "cmake make g++ libboost-dev googletest libgtest-dev libbenchmark-dev" ;;
    fuzz) echo "clang libclang-rt-14-dev" ;;
    windows) echo "g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64" ;;
    wine) echo "wine wine32:i386 wine64" ;;
    dist) echo "zip" ;;
    preview) echo "librsvg2-bin fonts-dejavu-core python3" ;;
    *) echo "setup.sh: unknown set '$1' (build, fuzz, windows, wine, dist, preview)" >&2; exit 2 ;;
  esac
}

missing=()
for set in "${@:-build}"; do
  if [ "$set" = wine ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [ "$(id -u)" -eq 0 ]; then dpkg --add-architecture i386; rm -f /var/lib/apt/lists/.kestrova-updated; fi
  fi
  for pkg in $(packages_for "$set"); do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
      missing+=("$pkg")
    fi
  done
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: missing packages: ${missing[*]} (run as root, or install them)" >&2
  exit 1
fi
echo "setup.sh: installing ${missing[*]}"
stamp=/var/lib/apt/lists/.kestrova-updated
if [ ! -e "$stamp" ]; then
  apt-get update -qq
  touch "$stamp"
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
