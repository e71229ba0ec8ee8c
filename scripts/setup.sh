#!/usr/bin/env bash
# Installs the Debian packages a task needs when they are missing.
#   scripts/setup.sh build      compiler, CMake, Boost, GoogleTest, Google Benchmark, Expat (tests only)
#   scripts/setup.sh fuzz       clang with libFuzzer and the sanitizer runtimes
#   scripts/setup.sh windows    MinGW-w64 cross compilers (posix thread model)
#   scripts/setup.sh wine       Wine: 64-bit, and 32-bit where this machine runs 32-bit programs
#   scripts/setup.sh dist       zip, for the release archive
#   scripts/setup.sh preview    an SVG renderer and fonts, to check card previews as pictures
#   scripts/setup.sh tidy       clang-tidy, for make tidy
#   scripts/setup.sh browser    headless Chromium, its driver and Selenium, for the console's
#                               test in a real browser
#   scripts/setup.sh vm         QEMU and debootstrap, for the virtual machine that runs the x86
#                               checks where this machine cannot run 32-bit programs (scripts/vm/)
#   scripts/setup.sh wine-x86   what the x86 half of the Wine test needs besides Wine: the vm
#                               set where this machine cannot run 32-bit programs (or
#                               KESTROVA_X86=vm), nothing where it can or KESTROVA_X86=skip
#
# A package registry that answers with an error (a mirror mid-sync, say) is
# asked again a few times with a pause. If the index update still fails, the
# install is tried with the indexes that did arrive; only a failed install
# fails the step, with the registry's own complaint.
#   KESTROVA_APT_ATTEMPTS (default 4) and KESTROVA_APT_PAUSE (seconds, default 20)
#   KESTROVA_APT_LISTS    where apt keeps its indexes (default /var/lib/apt/lists)
set -euo pipefail
source "$(dirname "$0")/ia32_probe.sh"
apt_who=setup.sh
source "$(dirname "$0")/apt_retry.sh"

apt_lists=${KESTROVA_APT_LISTS:-/var/lib/apt/lists}

# wine32:i386 only where something can run it: a kernel without IA-32
# emulation refuses every 32-bit program, and an i386 index that is
# mid-sync would only fail the step for nothing.
wine_packages() {
  # An unanswered probe (its reason already on stderr) counts as no.
  if [ "$(runs_32bit_programs)" = yes ]; then echo "wine wine32:i386 wine64"; else echo "wine wine64"; fi
}

vm_packages="qemu-system-x86 debootstrap e2fsprogs"
wine_x86_packages() {
  case ${KESTROVA_X86:-} in
    skip) return 0 ;;
    vm) echo "$vm_packages"; return 0 ;;
  esac
  [ "$(runs_32bit_programs)" = yes ] || echo "$vm_packages"
}

packages_for() {
  case "$1" in
    build) echo "cmake make g++ libboost-dev googletest libgtest-dev libbenchmark-dev libexpat1-dev" ;;
    fuzz) echo "clang libclang-rt-14-dev" ;;
    windows) echo "g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64" ;;
    wine) wine_packages ;;
    dist) echo "zip" ;;
    preview) echo "librsvg2-bin fonts-dejavu-core python3" ;;
    browser) echo "chromium chromium-driver python3-selenium" ;;
    tidy) echo "clang-tidy" ;;
    vm) echo "$vm_packages" ;;
    wine-x86) wine_x86_packages ;;
    *) echo "setup.sh: unknown set '$1' (build, fuzz, windows, wine, dist, preview, browser, tidy, vm, wine-x86)" >&2; exit 2 ;;
  esac
}

sets=("${@:-build}")
missing=()
for set in "${sets[@]}"; do
  packages=$(packages_for "$set")
  for pkg in $packages; do
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

stamp="$apt_lists/.kestrova-updated"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  rm -f "$stamp"
fi

# Another install running (CI makes the virtual machine's image beside the
# build) is waited for rather than taken for a failure.
echo "setup.sh: installing ${missing[*]}"
if [ ! -e "$stamp" ]; then
  if apt_update "apt-get update" apt-get update -qq; then
    touch "$stamp"
  fi
fi
if ! apt_with_retries "apt-get install" env DEBIAN_FRONTEND=noninteractive \
     apt-get install -y -qq --no-install-recommends -oDPkg::Lock::Timeout=600 "${missing[@]}"; then
  echo "setup.sh: could not install ${missing[*]} after $apt_attempts attempts; the package registry said:" >&2
  sed 's/^/  /' <<<"$complaint" >&2
  exit 1
fi
