#!/usr/bin/env bash
# The Windows modules on a Windows runtime. In a fresh throw-away Wine
# prefix the spooler check runs against the x86 and the x64 KestrovaLM.dll,
# the very files `make windows` ships. Their spooler calls go to our own
# winspool.drv (tests/wine/winspool_standin.cpp), which Wine loads instead
# of its own (WINEDLLOVERRIDES="winspool.drv=n"): its OpenPrinterW succeeds
# and it records every call, so the module's whole production path runs. A
# table of production scenarios runs the same way against the Linux module;
# the spooler call records, frame records and status documents of each DLL
# are compared byte for byte with the Linux module's. The module's detach as
# the process ends is checked with a document started. kestrova.exe prints a
# job through each DLL against Wine's own winspool.drv, with a restore from a
# second thread; kestrova.exe install and uninstall run against Wine's
# spooler (install_check.sh); and the depth at which the XML reader exhausts
# a 1 MiB thread stack is measured and set against the request nesting bound
# (64 levels), which must stay well below it.
#
# Some machines cannot run 32-bit programs at all (a kernel without IA-32
# emulation). There the prefix is made with Wine's 64-bit loader, every x64
# check runs and the x86 checks are reported as skipped, never as passed;
# the x86 DLL's static checks have already run in `make windows`.
#
# Then, per architecture, the release zip is unpacked into a fresh folder
# and its install note followed verbatim (release_check.sh).
#
#   tests/wine/run.sh NATIVE_BUILD X86_BUILD X64_BUILD RELEASE_ZIP
#
# Quiet unless something fails (and for the notes on where Wine is not
# Windows); ends with "wine: N passed, M failed".
set -euo pipefail

native_build=$(realpath "${1:?native build directory}")
x86_build=$(realpath "${2:?x86 build directory}")
x64_build=$(realpath "${3:?x64 build directory}")
release_zip=$(realpath "${4:?release zip (make dist)}")

nesting_bound=64
# The x86 reader must get through this many levels: the bound with room to spare.
required_reader_depth=$((4 * nesting_bound))
# The spooler check sends a request this deep through the module (the bound
# must turn it away); the reader alone should not survive it.
deep_request_levels=10000

for file in "$native_build/tests/wine/spooler_check" "$native_build/libKestrovaLM.so" \
            "$x86_build/tests/wine/spooler_check.exe" "$x86_build/KestrovaLM.dll" "$x86_build/tests/wine/winspool.drv" \
            "$x64_build/tests/wine/spooler_check.exe" "$x64_build/KestrovaLM.dll" "$x64_build/tests/wine/winspool.drv" \
            "$x86_build/tool/kestrova.exe" "$x64_build/tool/kestrova.exe" "$release_zip"; do
  [ -f "$file" ] || { echo "run.sh: $file is missing (make dist, and spooler_check in the native build)" >&2; exit 2; }
done

source "$(dirname "$0")/wine_prefix.sh" run.sh
# Our winspool.drv beside the program, never Wine's.
standin_overrides="winspool.drv=n;$no_prompts"

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "wine: FAILED: $*"; }

# Adds a spooler check's own "N passed, M failed" to the tally.
tally() {
  local label="$1" output="$2" summary
  printf '%s\n' "$output" | grep -v ": [0-9]* passed, [0-9]* failed$" || true
  summary=$(printf '%s\n' "$output" | grep -E "^$label: [0-9]+ passed, [0-9]+ failed$" | tail -n 1 || true)
  if [ -z "$summary" ]; then
    fail "$label: the spooler check did not finish"
    return
  fi
  passed=$((passed + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$summary")))
  failed=$((failed + $(sed -E 's/.*passed, ([0-9]+) failed/\1/' <<<"$summary")))
}

archs=$wine_archs
[ "$archs" = x64 ] && echo "wine: x86 skipped: this machine cannot run 32-bit programs"
boot_wine_prefix

# The module's detach as the process ends with a document started: the
# stand-in reports every spooler call made meanwhile (there must be none).
expected_exit_report=$'document started\nspooler calls while the process ended: none'
check_exit_report() {
  local label="$1" output="$2"
  if [ "$output" = "$expected_exit_report" ]; then pass; else fail "$label: the process ended with a document started:"$'\n'"$output"; fi
}

# The reference: the same steps against the Linux module.
mkdir -p "$work/linux/out"
output=$(cd "$work/linux" && timeout 120 "$native_build/tests/wine/spooler_check" \
  --module "$native_build/libKestrovaLM.so" --out out --label linux 2>&1) || true
tally linux "$output"
output=$(cd "$work/linux" && timeout 60 "$native_build/tests/wine/spooler_check" \
  --module "$native_build/libKestrovaLM.so" --exit-in-document 2>&1) || true
check_exit_report linux "$output"
references=$(cd "$work/linux/out" && ls)
[ -n "$references" ] || fail "linux: the spooler check left no records"

for arch in $archs; do
  build=$x86_build
  [ "$arch" = x64 ] && build=$x64_build
  dir="$work/$arch"
  mkdir -p "$dir/out"
  cp "$build/KestrovaLM.dll" "$build/tests/wine/spooler_check.exe" "$build/tests/wine/winspool.drv" "$dir/"
  # The module reads spool\drivers\W32X86\3\KestrovaLM.cfg from this directory.
  # (The C runtime under Wine ends its lines with CR LF.)
  output=$(cd "$dir" && WINEDLLOVERRIDES="$standin_overrides" timeout 300 "${wine_command[@]}" spooler_check.exe \
    --module KestrovaLM.dll --out out --label "$arch" 2>&1 | tr -d '\r') || true
  tally "$arch" "$output"
  output=$(cd "$dir" && WINEDLLOVERRIDES="$standin_overrides" timeout 60 "${wine_command[@]}" spooler_check.exe \
    --module KestrovaLM.dll --exit-in-document 2>&1 | tr -d '\r') || true
  check_exit_report "$arch" "$output"

  # Every record the Linux module left, byte for byte, and no other.
  for name in $references; do
    if cmp -s "$work/linux/out/$name" "$dir/out/$name"; then
      pass
    else
      fail "$arch: $name differs from the Linux module's"
      diff <(cat -v "$work/linux/out/$name") <(cat -v "$dir/out/$name" 2>&1) | head -n 8 || true
    fi
  done
  extra=$(cd "$dir/out" && ls | grep -vxF -f <(printf '%s\n' $references) || true)
  if [ -z "$extra" ]; then pass; else fail "$arch: records the Linux module did not leave: $extra"; fi

  # kestrova.exe prints through the DLL from one thread while a second one
  # sends get_info, and the restore that ends a halt, through
  # GetPrinterDataFromPort: the machine refuses the first card's Load.
  cp "$build/tool/kestrova.exe" "$dir/"
  printf '<SX856 SY540 X100 Y200 F1 CI5>\r\n<ANNA SMITH>\r\n<BEN JONES>\r\n' >"$dir/two-cards.txt"
  rc=0
  output=$(cd "$dir" && timeout 120 "${wine_command[@]}" kestrova.exe print --fast --quiet --module KestrovaLM.dll \
    --faults nak:load:7@1 --restore-after 300 two-cards.txt 2>&1 | tr -d '\r') || rc=$?
  if [ $rc -eq 0 ] && grep -q "^summary: 2 of 2 cards produced" <<<"$output" &&
     grep -q "^restore sent .*(sw_error_code 0)$" <<<"$output"; then
    pass
  else
    fail "$arch: kestrova.exe print (exit $rc):"$'\n'"$output"
  fi

  # The release as an administrator meets it: unpacked afresh, the install note followed verbatim.
  output=$("$(dirname "$0")/release_check.sh" "$arch" "$release_zip" "$work" "${wine_command[@]}" 2>&1) || true
  tally "release $arch" "$output"
done

# Install and uninstall against Wine's spooler, with the x64 kestrova.exe
# (the prefix's spooler is 64-bit).
runs_x86=no
[ "$archs" = x64 ] || runs_x86=yes
output=$("$(dirname "$0")/install_check.sh" "$x64_build" "$x86_build" "$work" "$runs_x86" "${wine_command[@]}" 2>&1) || true
tally install "$output"

# Whether the reader gets through LEVELS on a 1 MiB thread in this build:
# 0 it did, 1 the stack ran out, 2 the probe itself failed.
probe() {
  local arch="$1" levels="$2" rc=0
  (cd "$work/$arch" && timeout 60 "${wine_command[@]}" spooler_check.exe --reader-depth "$levels" >/dev/null 2>&1) || rc=$?
  case $rc in
    0) return 0 ;;
    3) return 1 ;;
    *) return 2 ;;
  esac
}

# The deepest document the reader gets through, to about 2 %.
reader_limit() {
  local arch="$1" low="$nesting_bound" high rc
  probe "$arch" "$low" || { echo 0; return; }
  high=$((low * 2))
  while probe "$arch" "$high"; do
    low=$high
    high=$((high * 2))
    if [ "$high" -gt 1048576 ]; then echo "$low"; return; fi
  done
  while [ $((high - low)) -gt $((low / 50 + 1)) ]; do
    local middle=$(((low + high) / 2))
    rc=0
    probe "$arch" "$middle" || rc=$?
    [ $rc -eq 2 ] && { echo 0; return; }
    if [ $rc -eq 0 ]; then low=$middle; else high=$middle; fi
  done
  echo "$low"
}

for arch in $archs; do
  limit=$(reader_limit "$arch")
  echo "wine: $arch: the XML reader gets through $limit nested levels on a 1 MiB thread stack (request bound: $nesting_bound)"
  if [ "$limit" -ge "$required_reader_depth" ]; then
    pass
  else
    fail "$arch: the reader's limit ($limit levels) is not well above the bound of $nesting_bound"
  fi
  if [ "$limit" -ge "$deep_request_levels" ]; then
    echo "wine: $arch: note: the reader survives $deep_request_levels levels, so the deep request the check sends no longer proves the bound"
  fi
done

if [ "$archs" = x64 ]; then
  echo "wine: $passed passed, $failed failed; x86 skipped: this machine cannot run 32-bit programs"
else
  echo "wine: $passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
