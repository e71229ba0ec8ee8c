# Sourced by every script that runs Windows programs under Wine (run.sh,
# scripts/bench_wine.sh): a throw-away prefix removed on exit, Wine's two
# loaders probed before the prefix is built, and the prefix booted with the
# loader this machine can run.
#
#   source tests/wine/wine_prefix.sh WHO   (WHO names the caller in messages)
#
# Afterwards: $work (the scratch folder), wine_archs ("x86 x64", or "x64"
# where this machine cannot run 32-bit programs), and, once
# boot_wine_prefix has run, wine_command (the launcher to run programs with).

wine_who=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-${wine_who%.sh}.XXXXXX")
export WINEPREFIX="$work/prefix"
export WINEARCH=win64            # runs 32-bit programs through WoW64 as well
export WINEDEBUG=-all
no_prompts="mscoree,mshtml=;winemenubuilder.exe=d"  # no Mono or Gecko prompts
export WINEDLLOVERRIDES="$no_prompts"
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  # Ends this prefix's wineserver (and anything it still runs), nothing else.
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# Wine's two loaders as Debian installs them (wine32:i386 and wine64).
wine32_loader=${KESTROVA_WINE32_LOADER:-/usr/lib/wine/wine}
wine64_loader=${KESTROVA_WINE64_LOADER:-/usr/lib/wine/wine64}

# Whether Wine starts at all: the 64-bit loader is what everything needs.
if [ ! -x "$wine64_loader" ]; then
  echo "$wine_who: Wine's 64-bit loader $wine64_loader is missing (the wine64 package: scripts/setup.sh wine)" >&2
  exit 1
fi
if ! wine_version=$("$wine64_loader" --version 2>&1); then
  echo "$wine_who: Wine's 64-bit loader does not start: $wine_version" >&2
  exit 1
fi

# Whether this machine runs 32-bit programs, asked of the kernel as
# scripts/setup.sh asks it (which installs Wine's 32-bit loader only where
# the answer is yes). Where it is, the 32-bit loader must be there and start.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/ia32_probe.sh"
if ! runs_32bit=$(runs_32bit_programs); then
  echo "$wine_who: cannot tell whether this machine runs 32-bit programs" >&2
  exit 1
fi
wine_archs="x64"
if [ "$runs_32bit" = yes ]; then
  wine_archs="x86 x64"
  if [ ! -x "$wine32_loader" ]; then
    echo "$wine_who: Wine's 32-bit loader $wine32_loader is missing (the wine32:i386 package: scripts/setup.sh wine)" >&2
    exit 1
  fi
  if ! wine_probe_output=$("$wine32_loader" --version 2>&1); then
    echo "$wine_who: Wine's 32-bit loader does not start: $wine_probe_output" >&2
    exit 1
  fi
fi

# Where 32-bit programs run, the launcher picks the 32-bit loader, which
# hands 64-bit programs on; elsewhere the 64-bit loader runs everything.
boot_wine_prefix() {
  if [ "$wine_archs" = x64 ]; then
    export WINELOADER="$wine64_loader"
    wine_command=("$wine64_loader")
  else
    wine_command=(wine)
  fi
  local boot_output
  if ! boot_output=$(timeout 300 "${wine_command[@]}" wineboot --init 2>&1); then
    echo "$wine_who: wineboot failed with ${wine_command[*]}:" >&2
    tail -n 20 <<<"$boot_output" >&2
    exit 1
  fi
  wineserver -w >/dev/null 2>&1 || true
}
