#!/usr/bin/env bash
# The kestrova tool's own outputs, the same on Linux, x86 and x64: a table of
# invocations run with one kestrova command into a folder, once with the
# Linux tool (the reference) and once per architecture with kestrova.exe
# under Wine, then compared output by output, byte for byte.
#
#   tests/wine/tool_outputs.sh run [--windows] OUT KESTROVA_COMMAND...
#   tests/wine/tool_outputs.sh compare LABEL REFERENCE_OUT OUT
#
# run: OUT is made afresh, holding the job files the table uses (copied
# from examples/) and out/, where each invocation NAME leaves NAME.stdout,
# NAME.stderr and NAME.status (its exit status), and the files it wrote
# under NAME.files/. Every invocation runs in OUT. --windows: the command is
# kestrova.exe, whose C runtime ends console lines with CR LF; that CR alone
# is taken off its output streams, never off a file it wrote.
#
# compare: one line per output, "LABEL: NAME.stdout: same" or
# "LABEL: FAILED: NAME.stdout differs ..." with the first differing lines;
# every output of either side is compared (one missing on a side fails). Ends
# with "LABEL: N passed, M failed". The allowed differences below are the
# only ones, each applied to the one line it concerns.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
examples="$here/../../examples"

# The small job print runs, and the fault the module recovers from without a
# restore: the personalisation reply comes in two pieces 50 ms apart, and a
# poll is answered twice.
print_job=$'<SX856 SY540 X100 Y200 F1 CI5>\r\n<ANNA SMITH>\r\n<BEN JONES>\r\n'
print_faults="split:personalize@1,twice:poll@2"

# The table: NAME, then the arguments (each command's --help is added from
# `kestrova help` itself).
invocations=(
  "help|help"
  "version|--version"
  "help-option|--help"
  "check-problem|check problem-job.txt"
  "check-problem-config|check --config KestrovaLM.cfg problem-job.txt"
  "check-sample|check sample-job.txt"
  "check-sample-config|check --config KestrovaLM.cfg sample-job.txt"
  "check-preview-sample|check --config KestrovaLM.cfg --preview preview sample-job.txt"
  "check-preview-problem|check --preview preview problem-job.txt"
  "check-no-job|check"
  "print-bad-option|print --no-such-option two-cards.txt"
  "print-fast-trace|print --fast --trace --progress-every 0 --config KestrovaLM.cfg --faults $print_faults two-cards.txt"
)

# The allowed differences: `allow SIDE OUTPUT SED` rewrites, in that one
# output of that side (linux, windows or both) only, the lines the sed
# address picks. Only output streams are rewritten: a file the tool wrote is
# compared as it is. Nothing else may differ.
allowed_differences() {
  # The module's configuration path is its host's own path
  # (production/configuration.cpp): backslashes on Windows. Only that path
  # is rewritten, on the lines that hold it.
  local output
  for output in $(cd "$1" && ls -- *.stdout *.stderr); do
    allow windows "$output" '/spool\\drivers\\W32X86\\3\\KestrovaLM\.cfg/s|spool\\drivers\\W32X86\\3\\KestrovaLM\.cfg|spool/drivers/W32X86/3/KestrovaLM.cfg|g'
  done
  # Where the module was loaded from: libKestrovaLM.so beside the Linux
  # tool, KestrovaLM.dll beside kestrova.exe (a Windows path).
  allow both print-fast-trace.stdout '/^printing two-cards\.txt: 2 cards through .* on the simulated machine, virtual clock$/s| through .* on the simulated| through MODULE on the simulated|'
  # Where a card's line falls among the trace lines: the tool looks for new
  # cards in real time, beside the production thread's trace, so the line
  # may come a trace line or two either way, even from run to run on one
  # host. The card lines are taken out of the trace and compared, in their
  # order, after it; every trace line stays where it is.
  allow both print-fast-trace.stdout '/^card [0-9]* personalised /{H;d};${p;x;s/^\n//;/./!d}'
  # The preview's index.html is named with the host's separator (the
  # folder given, joined by std::filesystem), on that one line.
  allow windows check-preview-sample.stdout '/^preview: [0-9]* card(s) drawn, preview\\index\.html$/s|preview\\index\.html$|preview/index.html|'
  allow windows check-preview-problem.stdout '/^preview: [0-9]* card(s) drawn, preview\\index\.html$/s|preview\\index\.html$|preview/index.html|'
  # The real time the job took, beside the virtual time (which must agree).
  allow both print-fast-trace.stdout '/^summary: 2 of 2 cards produced in .* on the virtual clock, .* real; /s| on the virtual clock, [^;]* real;| on the virtual clock, REAL_TIME real;|'
  # Wine's own winspool.drv has no printer, so the module's OpenPrinterW
  # fails and StartDocPort returns FALSE. (Our stand-in winspool.drv would
  # let it succeed, but kestrova.exe imports the spooler's install calls
  # from winspool.drv too, which the stand-in does not export, so
  # kestrova.exe would not load with it.)
  allow windows print-fast-trace.stdout '/^note: StartDocPort returned FALSE (no printer or port document); the module buffers and produces the job all the same$/d'
  # The spooler calls the Linux stand-in saw; the Windows tool cannot see
  # the spooler's.
  allow linux print-fast-trace.stdout '/^  spooler: EndDocPort TRUE; /s|^  spooler: EndDocPort TRUE; .*$|  spooler: EndDocPort TRUE|'
}

strip_console_cr() { sed 's/\r$//'; }

run_table() {
  local windows=no
  [ "${1:-}" = --windows ] && { windows=yes; shift; }
  local out=$1
  shift
  local command=("$@")
  rm -rf "$out"
  mkdir -p "$out/out"
  cp "$examples/problem-job.txt" "$examples/sample-job.txt" "$examples/KestrovaLM.cfg" "$out/"
  printf '%s' "$print_job" >"$out/two-cards.txt"

  # One more invocation per command kestrova help lists.
  local table=("${invocations[@]}") name
  (cd "$out" && "${command[@]}" help) 2>/dev/null | strip_console_cr >"$out/commands.txt"
  while read -r name; do
    table+=("help-$name|$name --help")
  done < <(sed -n '/^Exit status:/q; s/^  \([a-z][a-z-]*\)\( .*\)\{0,1\}$/\1/p' "$out/commands.txt")
  rm "$out/commands.txt"

  local entry args status
  for entry in "${table[@]}"; do
    name=${entry%%|*}
    read -r -a args <<<"${entry#*|}"
    status=0
    (cd "$out" && timeout "${KESTROVA_TOOL_LIMIT:-120}" "${command[@]}" "${args[@]}" \
      >"out/$name.stdout.raw" 2>"out/$name.stderr.raw" </dev/null) || status=$?
    echo "$status" >"$out/out/$name.status"
    local stream
    for stream in stdout stderr; do
      if [ $windows = yes ]; then
        strip_console_cr <"$out/out/$name.$stream.raw" >"$out/out/$name.$stream"
      else
        cp "$out/out/$name.$stream.raw" "$out/out/$name.$stream"
      fi
      rm "$out/out/$name.$stream.raw"
    done
    if [ -d "$out/preview" ]; then
      mv "$out/preview" "$out/out/$name.files"
    fi
  done
}

compare_tables() {
  local label=$1 reference=$2 out=$3 passed=0 failed=0 name
  work_copy=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-tool-outputs.XXXXXX")
  # Both sides' outputs, flattened (NAME.files/card-1.svg stays a path).
  mkdir -p "$work_copy/linux" "$work_copy/windows"
  (cd "$reference/out" && find . -type f | sed 's|^\./||') | sort >"$work_copy/linux.list"
  (cd "$out/out" && find . -type f | sed 's|^\./||') | sort >"$work_copy/windows.list"
  while read -r name; do
    mkdir -p "$work_copy/linux/$(dirname "$name")"
    cp "$reference/out/$name" "$work_copy/linux/$name"
  done <"$work_copy/linux.list"
  while read -r name; do
    mkdir -p "$work_copy/windows/$(dirname "$name")"
    cp "$out/out/$name" "$work_copy/windows/$name"
  done <"$work_copy/windows.list"

  # allow SIDE OUTPUT SED, on the copies; "both" applies it to each side.
  allow() {
    local side=$1 output=$2 script=$3 each
    for each in linux windows; do
      [ "$side" = both ] || [ "$side" = "$each" ] || continue
      [ -f "$work_copy/$each/$output" ] || continue
      sed -i -e "$script" "$work_copy/$each/$output"
    done
  }
  allowed_differences "$work_copy/windows"

  while read -r name; do
    if [ ! -f "$work_copy/windows/$name" ]; then
      failed=$((failed + 1))
      echo "$label: FAILED: $name is missing (the Linux tool left it)"
    elif cmp -s "$work_copy/linux/$name" "$work_copy/windows/$name"; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "$label: FAILED: $name differs from the Linux tool's (< Linux, > $label):"
      diff <(cat -v "$work_copy/linux/$name") <(cat -v "$work_copy/windows/$name") | head -n 12
    fi
  done <"$work_copy/linux.list"
  while read -r name; do
    [ -f "$work_copy/linux/$name" ] && continue
    failed=$((failed + 1))
    echo "$label: FAILED: $name was left only by $label, not by the Linux tool"
  done <"$work_copy/windows.list"
  rm -rf "$work_copy"
  echo "$label: $passed passed, $failed failed"
}

case ${1:-} in
  run) shift; run_table "$@" ;;
  compare) shift; compare_tables "$@" ;;
  *) echo "usage: tool_outputs.sh run [--windows] OUT KESTROVA_COMMAND... | compare LABEL REFERENCE_OUT OUT" >&2; exit 2 ;;
esac
