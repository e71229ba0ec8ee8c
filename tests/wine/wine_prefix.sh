# Sourced by every script that runs Windows programs under Wine (run.sh,
# scripts/bench_wine.sh): a throw-away prefix removed on exit, Wine's
# loaders probed before the prefix is built, and the prefix booted with the
# loader this machine can run.
#
#   source tests/wine/wine_prefix.sh WHO   (WHO names the caller in messages)
#
# Afterwards: $work (the scratch folder), wine_archs ("x86 x64", or "x64"
# where this machine cannot run 32-bit programs), wine_spooler (the
# architecture of the prefix's own programs and spooler: x64, or x86 in a
# 32-bit prefix), and, once boot_wine_prefix has run, wine_command (the
# launcher to run programs with).
#
# KESTROVA_WINE_PREFIX names a prefix made beforehand instead, used in place
# (the virtual machine's, booted when its image was made; its disk is a
# snapshot, so whatever a run changes is gone afterwards), and
# KESTROVA_WINE_PREFIX_ARCHS what it runs ("x86": a 32-bit prefix).

wine_who=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-${wine_who%.sh}.XXXXXX")
unset WINEPREFIX WINEARCH WINELOADER
export WINEDEBUG=-all
no_prompts="mscoree,mshtml=;winemenubuilder.exe=d"  # no Mono or Gecko prompts
export WINEDLLOVERRIDES="$no_prompts"
unset DISPLAY WAYLAND_DISPLAY

# Every Wine program's time limit is its time here multiplied by this: a
# virtual machine under emulation starts a Wine program some ten times
# slower than the machine that runs it.
export KESTROVA_WINE_TIME_SCALE=${KESTROVA_WINE_TIME_SCALE:-$([ "${KESTROVA_IN_VM:-}" = 1 ] && echo 5 || echo 1)}
wine_limit() { echo $(($1 * KESTROVA_WINE_TIME_SCALE)); }

cleanup() {
  # Ends this prefix's wineserver (and anything it still runs), nothing else.
  [ -z "${WINEPREFIX:-}" ] || wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# Wine's two loaders as Debian installs them (wine32:i386 and wine64).
wine32_loader=${KESTROVA_WINE32_LOADER:-/usr/lib/wine/wine}
wine64_loader=${KESTROVA_WINE64_LOADER:-/usr/lib/wine/wine64}

# wine_loader_starts BITS LOADER PACKAGE: whether Wine starts at all with it.
wine_loader_starts() {
  local bits=$1 loader=$2 package=$3 output
  if [ ! -x "$loader" ]; then
    echo "$wine_who: Wine's $bits-bit loader $loader is missing (the $package package: scripts/setup.sh wine)" >&2
    exit 1
  fi
  if ! output=$("$loader" --version 2>&1); then
    echo "$wine_who: Wine's $bits-bit loader does not start: $output" >&2
    exit 1
  fi
}

wine_prepared=no
if [ -n "${KESTROVA_WINE_PREFIX:-}" ]; then
  if [ ! -f "$KESTROVA_WINE_PREFIX/system.reg" ]; then
    echo "$wine_who: KESTROVA_WINE_PREFIX is $KESTROVA_WINE_PREFIX, which is no Wine prefix" >&2
    exit 1
  fi
  wine_prepared=yes
  export WINEPREFIX=$KESTROVA_WINE_PREFIX
  wine_archs=${KESTROVA_WINE_PREFIX_ARCHS:-x86 x64}
else
  export WINEPREFIX="$work/prefix"
  # Whether this machine runs 32-bit programs, asked of the kernel as
  # scripts/setup.sh asks it (which installs Wine's 32-bit loader only
  # where the answer is yes).
  source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/ia32_probe.sh"
  if ! runs_32bit=$(runs_32bit_programs); then
    echo "$wine_who: cannot tell whether this machine runs 32-bit programs" >&2
    exit 1
  fi
  wine_archs="x64"
  [ "$runs_32bit" = yes ] && wine_archs="x86 x64"
fi
# A 64-bit prefix runs 32-bit programs through WoW64 as well.
if [ "$wine_archs" = x86 ]; then
  export WINEARCH=win32
  wine_spooler=x86
else
  export WINEARCH=win64
  wine_spooler=x64
  wine_loader_starts 64 "$wine64_loader" wine64
fi
[ "$wine_archs" = x64 ] || wine_loader_starts 32 "$wine32_loader" wine32:i386

# wine_halves ONLY: where each architecture's half runs. Sets archs (here),
# vm_archs (in the virtual machine, scripts/vm/run.sh: where this machine
# cannot run 32-bit programs, or KESTROVA_X86=vm) and skipped (why x86 does
# not run at all: KESTROVA_X86=skip). ONLY (x86, x64 or empty) asks for that
# architecture here alone.
wine_halves() {
  local only=$1
  vm_archs=""
  skipped=""
  case ${KESTROVA_X86:-} in
    ''|skip|vm) ;;
    *) echo "$wine_who: KESTROVA_X86 is '$KESTROVA_X86' (skip or vm)" >&2; exit 2 ;;
  esac
  if [ -n "$only" ]; then
    case " $wine_archs " in
      *" $only "*) archs=$only ;;
      *) echo "$wine_who: --only $only: Wine here runs $wine_archs only" >&2; exit 2 ;;
    esac
  elif [ "${KESTROVA_X86:-}" = skip ]; then
    archs=x64
    skipped="KESTROVA_X86=skip"
  elif [ "${KESTROVA_X86:-}" = vm ] || [ "$wine_archs" = x64 ]; then
    archs=x64
    vm_archs=x86
  else
    archs=$wine_archs
  fi
}

# Where 32-bit programs run, the launcher picks the 32-bit loader, which
# hands 64-bit programs on; elsewhere the 64-bit loader runs everything.
boot_wine_prefix() {
  if [ "$wine_archs" = x64 ]; then
    export WINELOADER="$wine64_loader"
    wine_command=("$wine64_loader")
  else
    wine_command=(wine)
  fi
  if [ "$wine_prepared" = no ]; then
    local boot_output
    if ! boot_output=$(timeout "$(wine_limit 300)" "${wine_command[@]}" wineboot --init 2>&1); then
      echo "$wine_who: wineboot failed with ${wine_command[*]}:" >&2
      tail -n 20 <<<"$boot_output" >&2
      exit 1
    fi
    wineserver -w >/dev/null 2>&1 || true
  fi
  keep_wine_server
}

# One wineserver, and the services it starts, for every program of the run
# (ended by cleanup): starting them again for each program costs seconds
# here and most of a minute in the virtual machine. The services are started
# here with no output of a caller's to hold open: a program's output read
# through a pipe would otherwise never end.
keep_wine_server() {
  wineserver -p
  timeout "$(wine_limit 120)" "${wine_command[@]}" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
