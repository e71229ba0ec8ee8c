#!/usr/bin/env bash
# kestrova.exe install and uninstall against Wine's spooler, in the prefix
# run.sh has made (WINEPREFIX and the rest of the environment come from
# there): every refusal with its exit status and nothing changed, the
# install (the DLL copied into system32, AddMonitorW, Wine's spooler loading
# the DLL and calling InitializePrintMonitor2), a driver's language monitor
# set and taken away again, and no registry key left after the uninstall.
# Where Wine's spooler is not Windows', a "note:" line says so.
#
#   tests/wine/install_check.sh ARCH BUILD OTHER_BUILD WORK RUNS_X86 WINE_COMMAND...
#
# ARCH is the spooler's, the prefix's own architecture: x64 in a 64-bit
# prefix, x86 in a 32-bit one. BUILD holds its kestrova.exe and DLL,
# OTHER_BUILD the other architecture's (whose DLL the spooler must refuse).
# RUNS_X86 yes: the prefix is 64-bit and runs the x86 kestrova.exe too,
# which must refuse it.
#
# Ends with "install: N passed, M failed".
set -uo pipefail

arch=$1
build=$2
other_build=$3
work=$4
runs_x86=$5
shift 5
wine_command=("$@")
case $arch in
  x64) other=x86 bits=64 environment="Windows x64" driver_folder=x64 ;;
  x86) other=x64 bits=32 environment="Windows NT x86" driver_folder=w32x86 ;;
  *) echo "install_check.sh: ARCH is '$arch' (x64 or x86)" >&2; exit 2 ;;
esac

check_label=install
here=$(cd "$(dirname "$0")" && pwd)
source "$here/expectations.sh"
status=0
note() { echo "wine: note: $*"; }

# The tool alone in its folder: the DLL is given with --dll, so that Wine's
# loader cannot find a copy beside the program instead of the installed one.
dir="$work/installer"
mkdir -p "$dir"
cp "$build/tool/kestrova.exe" "$dir/"
cp "$build/KestrovaLM.dll" "$work/KestrovaLM-$arch.dll"
cp "$other_build/KestrovaLM.dll" "$work/KestrovaLM-$other.dll"
system32="$WINEPREFIX/drive_c/windows/system32"
monitors='HKLM\System\CurrentControlSet\Control\Print\Monitors\KestrovaLM'
driver="Kestrova Test Card Printer"
driver_key="HKLM\\System\\CurrentControlSet\\Control\\Print\\Environments\\$environment\\Drivers\\Version-3\\$driver"

# Runs kestrova.exe in its folder: $status, and $output with both streams.
tool() {
  status=0
  (cd "$dir" && timeout $((120 * ${KESTROVA_WINE_TIME_SCALE:-1})) "${wine_command[@]}" kestrova.exe "$@") >"$work/tool.out" 2>&1 || status=$?
  output=$(tr -d '\r' <"$work/tool.out")
}
wine_run() { "${wine_command[@]}" "$@" 2>/dev/null | tr -d '\r'; }
registered() { "${wine_command[@]}" reg query "$monitors" >/dev/null 2>&1; }
driver_monitor() { wine_run reg query "$driver_key" /v Monitor | sed -n 's/^ *Monitor *REG_SZ *//p'; }
nothing_installed() { ! registered && [ ! -e "$system32/KestrovaLM.dll" ]; }
says() { grep -q -- "$1" <<<"$output"; }
# expect_status STATUS WHAT ARGS...
expect_status() {
  local want=$1 what=$2
  shift 2
  tool "$@"
  expect "$what (exit $status, expected $want)" test "$status" -eq "$want"
}

expect_status 7 "install with no KestrovaLM.dll beside kestrova.exe: the DLL is missing" install
expect_status 6 "install of the $other DLL into the $bits-bit spooler: wrong bitness" install --dll "../KestrovaLM-$other.dll"
expect_status 10 "install for a driver that does not exist" install --dll "../KestrovaLM-$arch.dll" --driver "No Such Driver"
# --dll is read before anything is copied: a program, a folder, a file that is no PE file.
expect_status 7 "install --dll kestrova.exe: a program, not a DLL" install --dll kestrova.exe
expect "it says so" says "kestrova.exe is a program, not a DLL"
expect_status 7 "install --dll of a folder" install --dll ..
expect "it says so" says "is a folder, not a DLL"
printf 'not a DLL\n' >"$dir/text.dll"
expect_status 7 "install --dll of a text file" install --dll text.dll
expect "it says so" says "text.dll is not a Windows DLL (no MZ header)"
expect "a refused install changes nothing" nothing_installed

# The install, with the traces of Wine's loader and spooler.
trace="$work/install-trace.txt"
WINEDEBUG=+loaddll,+localspl tool install --dll "../KestrovaLM-$arch.dll"
mv "$work/tool.out" "$trace"
output=$(grep -v '^[0-9a-f]*:\(trace\|fixme\|err\|warn\):' "$trace" | tr -d '\r')
expect "install (exit $status)" test "$status" -eq 0
expect "install reports AddMonitorW" \
  says "^registered the monitor KestrovaLM: AddMonitorW(MONITOR_INFO_2 KestrovaLM, \"$environment\", KestrovaLM.dll)\$"
expect "the shipped DLL is copied into system32 unchanged" cmp -s "$system32/KestrovaLM.dll" "$build/KestrovaLM.dll"
expect "Monitors\\KestrovaLM names KestrovaLM.dll" grep -q "REG_SZ *KestrovaLM.dll" <(wine_run reg query "$monitors" /v Driver)
output=$(grep -i "kestrovalm" "$trace" | head -12)
expect "Wine's spooler loads the installed DLL as native" \
  grep -qi 'Loaded L"C:\\\\windows\\\\system32\\\\KestrovaLM.dll" at [0-9A-F]*: native' "$trace"
expect "Wine's spooler calls InitializePrintMonitor2 and takes the MONITOR2" grep -q \
  'MONITOR2 from L"KestrovaLM.dll",InitializePrintMonitor2(L"System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Monitors\\\\KestrovaLM")' \
  "$trace"
listed=$(tr -d '\r' <"$trace" | sed -n 's/^the spooler lists it: //p')
expect "EnumMonitorsW lists the monitor" test -n "$listed"
note "Wine's spooler runs inside the calling program: AddMonitorW loaded KestrovaLM.dll into kestrova.exe and called InitializePrintMonitor2 there (Windows: in spoolsv.exe)"
[ "$arch" = x86 ] || note "Wine's EnumMonitorsW lists: $listed (Windows lists the environment it was added for, \"$environment\")"
note "not elevated (exit 5) is not checked: Wine runs every program elevated"

expect_status 8 "a second install: installed already" install --dll "../KestrovaLM-$arch.dll"
expect_status 0 "uninstall" uninstall
expect "uninstall removes the registration and the DLL" nothing_installed

# A printer driver, registered as Wine's AddPrinterDriverExW leaves one.
drivers="$system32/spool/drivers/$driver_folder/3"
mkdir -p "$drivers"
printf 'driver\n' >"$drivers/cardui.dll"
printf '*PPD-Adobe: "4.3"\n' >"$drivers/card.ppd"
register_driver() {
  local key="HKLM\\System\\CurrentControlSet\\Control\\Print\\Environments\\$environment\\Drivers\\Version-3\\$1"
  printf 'REGEDIT4\n\n[%s]\n"Driver"="cardui.dll"\n"Configuration File"="cardui.dll"\n"Data File"="card.ppd"\n"Version"=dword:00000003\n' \
    "${key/HKLM/HKEY_LOCAL_MACHINE}" >"$dir/driver.reg"
  (cd "$dir" && "${wine_command[@]}" reg import driver.reg >/dev/null 2>&1)
}
register_driver "$driver"
expect_status 10 "install for an unknown driver" install --dll "../KestrovaLM-$arch.dll" --driver "No Such Driver"
expect "an unknown driver: the drivers there are are listed" says "the drivers there are: .*\"$driver\""
expect_status 0 "install without a driver" install --dll "../KestrovaLM-$arch.dll"
expect_status 0 "install --driver with the monitor installed adds the driver" install --driver "$driver"
expect "it adds the driver only" says "installed already .*adding the driver only"
expect "the driver's language monitor is KestrovaLM" test "$(driver_monitor)" = KestrovaLM
expect_status 8 "install --driver again: the driver uses it already" install --driver "$driver"
# With the monitor installed, a second driver to add but a bad --dll: the
# DLL is checked before anything else, and nothing changes.
second_driver="Kestrova Second Card Printer"
register_driver "$second_driver"
driver_monitor_of() {
  wine_run reg query "${driver_key%\\*}\\$1" /v Monitor | sed -n 's/^ *Monitor *REG_SZ *//p'
}
installed_unchanged() {
  registered && cmp -s "$system32/KestrovaLM.dll" "$build/KestrovaLM.dll" &&
    [ "$(driver_monitor)" = KestrovaLM ] && [ -z "$(driver_monitor_of "$second_driver")" ]
}
expect "the second driver is there, with no language monitor" \
  grep -q "REG_SZ *cardui.dll" <(wine_run reg query "${driver_key%\\*}\\$second_driver" /v Driver)
cp "$here/../../LICENSE.txt" "$dir/LICENSE.txt"
expect_status 7 "install --driver (a second driver) --dll LICENSE.txt with the monitor installed: no DLL" \
  install --driver "$second_driver" --dll LICENSE.txt
expect "it says so" says "LICENSE.txt is not a Windows DLL (no MZ header)"
expect "a refused install --driver changes nothing" installed_unchanged
expect_status 7 "install --driver (a second driver) --dll nosuch.dll with the monitor installed: missing" \
  install --driver "$second_driver" --dll nosuch.dll
expect "it names the missing file" says "nosuch.dll"
expect "a refused install --driver changes nothing" installed_unchanged
expect_status 9 "uninstall while a driver uses the monitor: still in use" uninstall
expect "still in use names the driver" says "still the language monitor of \"$driver\""
expect "a refused uninstall changes nothing" test -e "$system32/KestrovaLM.dll"
expect "a refused uninstall leaves the monitor registered" registered
expect_status 0 "uninstall --driver" uninstall --driver "$driver"
expect "the driver has no language monitor again" test -z "$(driver_monitor)"
expect "uninstall --driver removes the registration and the DLL" nothing_installed
output=$(wine_run reg query 'HKLM\System\CurrentControlSet\Control' /s | grep -i kestrovalm)
expect "no registry key or value names KestrovaLM after the uninstall" test -z "$output"
expect_status 0 "uninstall with nothing installed" uninstall
expect "uninstall with nothing installed says so" says "nothing to remove"
note "Wine's AddPrinterDriverExW takes any monitor name and its DeleteMonitorW removes a monitor a driver still names; kestrova checks both itself"

if [ "$runs_x86" = yes ]; then
  cp "$other_build/tool/kestrova.exe" "$dir/kestrova.exe"
  expect_status 6 "the x86 kestrova.exe on 64-bit Windows: wrong bitness" install --dll ../KestrovaLM-x86.dll
fi

echo "install: $passed passed, $failed failed"
