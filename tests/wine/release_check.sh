#!/usr/bin/env bash
# The release as an administrator meets it, in the prefix run.sh has made
# (WINEPREFIX and the rest of the environment come from there): the zip
# unpacked into a fresh C:\KestrovaLM-VERSION, its sums and dates, every file
# the install note names, and then the install note's commands run verbatim
# through cmd.exe, in the order the note gives them, from the folder it
# says, each of which must succeed. kestrova print must load the release's
# KestrovaLM.dll (Wine's loader trace), although the build folder it came
# from is on this machine. The driver the note installs for had another
# language monitor, which uninstall puts back.
#
# Where the prefix's spooler is 64-bit and ARCH is x86, the note sends an
# administrator to the x64 folder: there the x86 folder's try-out commands
# run verbatim and its install must refuse with wrong bitness (6),
# changing nothing. In a 32-bit prefix (the virtual machine's) the x86
# folder is installed into the 32-bit spooler, its own.
#
#   tests/wine/release_check.sh ARCH RELEASE_ZIP WORK WINE_COMMAND...
#
# Ends with "release ARCH: N passed, M failed".
set -uo pipefail

arch=$1
zip=$(realpath "$2")
work=$3
shift 3
wine_command=("$@")

check_label="release $arch"
source "$(dirname "$0")/expectations.sh"
finish() {
  echo "release $arch: $passed passed, $failed failed"
  exit 0
}

name=$(basename "$zip" .zip)
version=${name#KestrovaLM-}
drive_c="$WINEPREFIX/drive_c"
root="$drive_c/$name"
system32="$drive_c/windows/system32"
driver_name_in_note='Card Printer Driver'
previous_monitor='PJL Language Monitor'
monitors='HKLM\System\CurrentControlSet\Control\Print\Monitors\KestrovaLM'
spooler_bits=64 environment="Windows x64" driver_folder=x64
[ -d "$drive_c/windows/syswow64" ] || { spooler_bits=32; environment="Windows NT x86"; driver_folder=w32x86; }
driver_key="HKLM\\System\\CurrentControlSet\\Control\\Print\\Environments\\$environment\\Drivers\\Version-3\\$driver_name_in_note"
wine_run() { "${wine_command[@]}" "$@" 2>/dev/null | tr -d '\r'; }
driver_monitor() { wine_run reg query "$driver_key" /v Monitor | sed -n 's/^ *Monitor *REG_SZ *//p'; }
registered() { "${wine_command[@]}" reg query "$monitors" >/dev/null 2>&1; }
not_registered() { ! registered; }
# Runs one of the note's commands in $folder through cmd.exe, as the one
# line of a batch file so that no quoting stands between the note and cmd:
# $rc and $output.
run_command() {
  rc=0
  printf '%s\r\nexit /b %%errorlevel%%\r\n' "$1" >"$work/release-step.bat"
  local batch
  batch=$("${wine_command[@]}" winepath -w "$work/release-step.bat" 2>/dev/null | tr -d '\r')
  output=$(cd "$folder" && timeout 300 "${wine_command[@]}" cmd /c "$batch" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}") || rc=$?
}

# A fresh folder: nothing of an earlier run.
rm -rf "$root"
output=$(python3 -m zipfile -e "$zip" "$drive_c" 2>&1)
expect "the zip unpacks" test -d "$root/$arch"

# Every file but the sums is summed, and every sum is right.
output=$(cd "$root" && tr -d '\r' <SHA256SUMS.txt | sha256sum --check --strict 2>&1)
expect "SHA256SUMS.txt: every sum is right" test $? -eq 0
listed=$(tr -d '\r' <"$root/SHA256SUMS.txt" | sed 's/^[0-9a-f]*  //' | LC_ALL=C sort)
present=$(cd "$root" && find . -type f ! -name SHA256SUMS.txt | sed 's|^\./||' | LC_ALL=C sort)
output=$(diff <(echo "$listed") <(echo "$present"))
expect "SHA256SUMS.txt lists every other file" test -z "$output"

# The source's date on every file, not a made-up one.
output=$(python3 - "$zip" <<'PYTHON'
import sys, zipfile
dates = {info.date_time for info in zipfile.ZipFile(sys.argv[1]).infolist()}
print(" ".join(sorted("%04d-%02d-%02d %02d:%02d" % d[:5] for d in dates)))
PYTHON
)
commit_date=$(git log -1 --format=%cd --date=format-local:'%Y-%m-%d %H:%M' 2>/dev/null || true)
if [ -n "$commit_date" ]; then
  expect "every file carries the commit's date ($commit_date)" test "$output" = "$commit_date"
else
  expect "every file carries a real date" test "${output:0:4}" -ge 2020
fi

# Nothing in the release names the machine it was built on.
source_root=$(cd "$(dirname "$0")/../.." && pwd -P)
output=$(python3 - "$root" "$source_root" <<'PYTHON'
import os, sys
root, source = sys.argv[1], sys.argv[2]
for folder, _, files in os.walk(root):
    for name in files:
        data = open(os.path.join(folder, name), "rb").read()
        if source.encode() in data or source.encode("utf-16-le") in data:
            print(os.path.relpath(os.path.join(folder, name), root))
PYTHON
)
expect "no file of the release holds the build's path $source_root" test -z "$output"

# What the note and the docs point to is in the release.
note=$(tr -d '\r' <"$root/INSTALL.txt")
output=""
for path in $(grep -oE '\b(examples|docs|x86|x64)\\[A-Za-z0-9_.\\-]*[A-Za-z0-9_]' <<<"$note" | sort -u); do
  [ -e "$root/${path//\\//}" ] || output+="$path "
done
for file in LICENSE.txt docs/tool.md docs/windows.md docs/security.md examples/sample-job.txt \
            examples/problem-job.txt examples/KestrovaLM.cfg examples/control/get_info.xml; do
  [ -s "$root/$file" ] || output+="$file "
done
expect "the release holds every file the install note names, the docs and the licence" test -z "$output"

# The driver the note installs for, with the language monitor it had.
drivers="$system32/spool/drivers/$driver_folder/3"
mkdir -p "$drivers"
printf 'driver\n' >"$drivers/cardui.dll"
printf '*PPD-Adobe: "4.3"\n' >"$drivers/card.ppd"
printf 'REGEDIT4\n\n[%s]\n"Driver"="cardui.dll"\n"Configuration File"="cardui.dll"\n"Data File"="card.ppd"\n"Version"=dword:00000003\n"Monitor"="%s"\n' \
  "${driver_key/HKLM/HKEY_LOCAL_MACHINE}" "$previous_monitor" >"$work/release-driver.reg"
(cd "$work" && "${wine_command[@]}" reg import release-driver.reg >/dev/null 2>&1)
# Windows' spooler runs; Wine's is started, so that the note's "net stop
# spooler" has one to stop, under a wineserver that stays between the
# commands (otherwise it ends, services and all, after each program).
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p
wine_run net start spooler >/dev/null

folder_arch=$arch
cross=no
if [ "$arch" = x86 ] && [ "$spooler_bits" = 64 ]; then cross=yes; fi

# The note's commands: its lines indented by four spaces, verbatim.
mapfile -t commands < <(sed -n 's/^    \([^ ].*\)$/\1/p' <<<"$note")
expect "the install note has commands" test "${#commands[@]}" -ge 5
folder=""
step=0
for command in "${commands[@]}"; do
  step=$((step + 1))
  if [[ "$command" =~ ^cd\ /d\ (.*)$ ]]; then
    # The note's example folder; the arch under test stands for "your Windows's bitness".
    target=${BASH_REMATCH[1]}
    target=${target/\\x64/\\$folder_arch}
    folder=$("${wine_command[@]}" winepath -u "$target" 2>/dev/null | tr -d '\r')
    expect "step $step: '$command' names the unpacked folder ($folder)" \
      test "$(realpath -m "$folder")" = "$(realpath -m "$root/$folder_arch")"
    continue
  fi
  if [ "$cross" = yes ] && [[ "$command" =~ ^kestrova\ (install|uninstall) ]]; then
    if [[ "$command" =~ ^kestrova\ install ]]; then
      run_command "$command"
      expect "step $step: x86 '$command' on a 64-bit spooler refuses with wrong bitness (exit $rc)" test "$rc" -eq 6
      expect "step $step: the refused install changes nothing" test ! -e "$system32/KestrovaLM.dll"
    fi
    continue
  fi
  if [ "$cross" = yes ] && [[ "$command" =~ ^net ]]; then continue; fi
  if [[ "$command" =~ ^kestrova\ print ]]; then
    WINEDEBUG=+loaddll run_command "$command"
    loaded=$(grep -o 'Loaded L"[^"]*KestrovaLM\.dll"' <<<"$output" | sort -u)
    expected="Loaded L\"C:\\\\$name\\\\$folder_arch\\\\KestrovaLM.dll\""
    expect "step $step: kestrova print loads the release's DLL and no other (loaded: $loaded)" test "$loaded" = "$expected"
    output=$(grep -v '^[0-9a-f]*:\(trace\|fixme\|err\|warn\):' <<<"$output")
  else
    run_command "$command"
  fi
  expect "step $step: '$command' succeeds (exit $rc)" test "$rc" -eq 0
  case "$command" in
    "kestrova print"*)
      expect "step $step: every card produced" grep -q "^summary: 8 of 8 cards produced" <<<"$output" ;;
    "kestrova install"*)
      expect "step $step: install reports the driver's monitor before it" \
        grep -qF "driver \"$driver_name_in_note\": language monitor KestrovaLM (was \"$previous_monitor\"" <<<"$output"
      expect "step $step: the driver's language monitor is KestrovaLM" test "$(driver_monitor)" = KestrovaLM
      expect "step $step: the release's DLL is installed" cmp -s "$system32/KestrovaLM.dll" "$root/$folder_arch/KestrovaLM.dll" ;;
    "kestrova uninstall"*)
      expect "step $step: uninstall puts the driver's monitor back" test "$(driver_monitor)" = "$previous_monitor"
      expect "step $step: the monitor is unregistered" not_registered
      expect "step $step: KestrovaLM.dll is gone from system32" test ! -e "$system32/KestrovaLM.dll" ;;
  esac
done

# Leave the prefix as run.sh made it: no spooler service, no release folder.
wine_run net stop spooler >/dev/null
wineserver -k >/dev/null 2>&1 || true
rm -rf "$root" "$work/release-step.bat"
finish
