#!/usr/bin/env bash
# kestrova.exe's operator commands against a spooler with printers: our
# winspool.drv stand-in (operator_spooler.cpp) lists the printers named in
# KESTROVA_PRINTERS and hands GetPrinterDataW's document to the printer's
# module host, here a Linux kestrova print --control whose simulated machine
# refuses the first card's Load and halts. kestrova.exe status, status
# --json and control --printer get_info must say what the Linux tool says
# of the same machine (byte for byte, but for the two things only a spooler
# has: the printer's port in the heading and the option that reaches it);
# unknown printers, a driver with another monitor, access refused and an
# answer larger than the first buffer must be handled as documented; the
# console must serve the same machine; the restore sent through the spooler
# must clear the halt, once, and the job be produced whole.
#
#   tests/wine/operator_check.sh ARCH BUILD NATIVE_BUILD WORK WINE_COMMAND...
#
# Ends with "operator ARCH: N passed, M failed".
set -uo pipefail

arch=$1
build=$2
native_build=$3
work=$4
shift 4
wine_command=("$@")
check_label="operator $arch"
source "$(dirname "$0")/expectations.sh"

dir="$work/operator-$arch"
mkdir -p "$dir"
cp "$build/tool/kestrova.exe" "$build/tests/wine/operator/winspool.drv" "$dir/"
linux_tool="$native_build/tool/kestrova"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
host_port=$(free_port)
dead_port=$(free_port)
address="127.0.0.1:$host_port"

# The module host: the Linux tool printing the sample job, halted at card 1.
"$linux_tool" print --durations all=20 --faults nak:load:7@1 --control "$address" \
  "$(dirname "$0")/../../examples/sample-job.txt" >"$dir/print.out" 2>&1 &
print_pid=$!
trap 'kill "$print_pid" 2>/dev/null || true' EXIT
# (status exits 1 for a halted machine: its words are read, not its status.)
halted=no
for _ in $(seq 100); do
  said=$("$linux_tool" status --to "$address" 2>&1 || true)
  grep -q ": HALTED" <<<"$said" && { halted=yes; break; }
  sleep 0.2
done
# Every check below asks that halted machine: without it they would only
# repeat one failure, each after a Wine program's start.
if [ $halted = no ]; then
  output="$said"$'\n'"$(tail -n 8 "$dir/print.out")"
  expect "the Linux kestrova print on $address halts at card 1 (what status and it said are below)" false
  echo "$check_label: $passed passed, $failed failed"
  exit 0
fi

printers="Card Line 1|KESTROVA1:|KestrovaLM|$address;Office Laser|LPT1:|Laser Language Monitor|"
no_prompts=${no_prompts:-"mscoree,mshtml=;winemenubuilder.exe=d"}
wine_limit() { echo $(($1 * ${KESTROVA_WINE_TIME_SCALE:-1})); }
# kestrova.exe ARGS... with the printers above and $more_printers first;
# sets $output (stdout, stderr, CR dropped) and $rc.
more_printers=""
exe() {
  rc=0
  (cd "$dir" && KESTROVA_PRINTERS="$more_printers$printers" WINEDLLOVERRIDES="winspool.drv=n;$no_prompts" \
    timeout "$(wine_limit 60)" "${wine_command[@]}" kestrova.exe "$@" >"$dir/said.txt" 2>&1) || rc=$?
  output=$(tr -d '\r' <"$dir/said.txt")
}

# The only differences the spooler brings: the printer's port in the
# heading, the option that reaches it.
as_linux() {
  sed -e 's/^Card Line 1 (KESTROVA1:): /Card Line 1: /' \
      -e "s/--printer \\\\\"Card Line 1\\\\\"/--to $address/g" \
      -e "s/--printer \"Card Line 1\"/--to $address/g" \
      -e 's/"port": "KESTROVA1:"/"port": ""/'
}

same_as_linux() {
  local label=$1 windows=$2 linux=$3
  if [ "$(as_linux <<<"$windows")" = "$linux" ]; then return 0; fi
  output=$(diff <(printf '%s\n' "$linux") <(as_linux <<<"$windows") | head -n 20)
  return 1
}

linux_status=$("$linux_tool" status --to "Card Line 1=$address" 2>&1)
exe status
expect "status exits 1 for a halted machine (exit $rc)" test "$rc" -eq 1
expect "status says what the Linux tool says" same_as_linux status "$output" "$linux_status"
expect "status names the restore through the spooler" grep -qF '(kestrova control --printer "Card Line 1" restore)' <<<"$output"
expect "status leaves out the printer whose driver names another monitor" bash -c '! grep -q "Office Laser" <<<"$1"' _ "$output"

linux_json=$("$linux_tool" status --json --to "Card Line 1=$address" 2>&1)
exe status --json
expect "status --json says what the Linux tool says" same_as_linux json "$output" "$linux_json"

more_printers="Card Line 2|KESTROVA2:|kestrovalm|127.0.0.1:$dead_port;"
exe status
more_printers=""
expect "a printer whose machine does not answer is unreachable" grep -q "^Card Line 2 (KESTROVA2:): unreachable$" <<<"$output"

linux_info=$("$linux_tool" control --to "$address" get_info 2>&1)
exe control --printer "Card Line 1" get_info
expect "control --printer get_info answers as control --to does (exit $rc)" test "$rc" -eq 0
expect "control --printer get_info gives the document control --to gives" same_as_linux get_info "$output" "$linux_info"

exe control --printer "Office Laser" get_info
expect "a printer with another monitor is refused with exit 14 (exit $rc)" test "$rc" -eq 14
expect "... and said so" grep -q 'that printer does not use KestrovaLM: "Office Laser"'"'"'s driver names the language monitor Laser Language Monitor' <<<"$output"
exe control --printer "Nobody's Printer" get_info
expect "an unknown printer is refused with exit 13 (exit $rc)" test "$rc" -eq 13
expect "... and said so" grep -q "no such printer: \"Nobody's Printer\"" <<<"$output"
export KESTROVA_PRINTERS_DENY=administer
exe control --printer "Card Line 1" pause
unset KESTROVA_PRINTERS_DENY
expect "pause without the right to administer the printer: exit 5 (exit $rc)" test "$rc" -eq 5
expect "... and said so" grep -q "run from a command prompt opened as administrator" <<<"$output"

# An answer larger than the first buffer: get_info is asked again with the
# size the spooler named; any other command is not sent twice.
# The module takes requests of up to 32 Ki UTF-16 units; its answer holds the
# request and the result, more than the 64 KiB the tool offers first.
filler=$(head -c 32650 /dev/zero | tr '\0' 'x')
printf '<kx_api><command value="get_info"/><!--%s--></kx_api>' "$filler" >"$dir/big-get-info.xml"
printf '<kx_api><command value="restore"/><!--%s--></kx_api>' "$filler" >"$dir/big-restore.xml"
exe control --printer "Card Line 1" --file big-get-info.xml
expect "a get_info whose answer does not fit the first buffer is asked again (exit $rc)" test "$rc" -eq 0
expect "... and its whole answer printed" grep -q "<state value=\"Loading Card\"/>" <<<"$output"

# The console on this spooler, while the machine is halted.
: >"$dir/console.out"
(cd "$dir" && KESTROVA_PRINTERS="$printers" WINEDLLOVERRIDES="winspool.drv=n;$no_prompts" \
  timeout "$(wine_limit 40)" "${wine_command[@]}" kestrova.exe console --listen 127.0.0.1:0 >"$dir/console.out" 2>&1) &
console_pid=$!
url=""
for _ in $(seq 150); do
  url=$(tr -d '\r' <"$dir/console.out" 2>/dev/null | sed -n 's|^console: \(http://127.0.0.1:[0-9]*/\).*|\1|p')
  [ -n "$url" ] && break
  sleep 0.2
done
page=$(python3 - "$url" <<'PY' 2>&1
import json, re, sys, time, urllib.request
url = sys.argv[1]
page = urllib.request.urlopen(url, timeout=10).read().decode()
token = re.search(r'name="kestrova-token" content="([0-9a-f]{32})"', page).group(1)
request = urllib.request.Request(url + "api/machines", headers={"X-Kestrova-Token": token})
machines = json.loads(urllib.request.urlopen(request, timeout=10).read().decode())["machines"]
print(" ".join("%s=%s" % (m["name"].replace(" ", "_"), m["condition"]) for m in machines))
PY
)
output=$page
expect "the console serves the spooler's machine as halted ($url)" test "$page" = "Card_Line_1=halted"
kill "$console_pid" 2>/dev/null; wait "$console_pid" 2>/dev/null

exe control --printer "Card Line 1" --file big-restore.xml
expect "a restore whose answer does not fit is not sent again: exit 4 (exit $rc)" test "$rc" -eq 4
expect "... and said so" grep -q "the command was carried out, but its answer" <<<"$output"

# That one restore ended the halt: the job is produced whole.
print_rc=0
for _ in $(seq 300); do kill -0 "$print_pid" 2>/dev/null || break; sleep 0.2; done
wait "$print_pid" || print_rc=$?
output=$(cat "$dir/print.out")
expect "the job is produced whole after the restore through the spooler (exit $print_rc)" test "$print_rc" -eq 0
expect "... with 8 of 8 cards" grep -q "^summary: 8 of 8 cards produced" <<<"$output"
restores=$(grep -c "^control request restore" <<<"$output" || true)
expect "... and the restore reached the module once ($restores)" test "$restores" -eq 1

echo "$check_label: $passed passed, $failed failed"
