#!/usr/bin/env bash
# KestrovaLM.dll measured under Wine in a throw-away prefix, the x86 and the
# x64 module: the largest job it takes (bench/largest_job/largest_job_main.cpp)
# and the time per card of a job printed by kestrova.exe on the real clock
# against an instant simulated machine (what is left is the module's pauses
# and its own work). Where this machine cannot run 32-bit programs the x86
# module is measured in the virtual machine (scripts/vm/run.sh), and its
# figures say so; KESTROVA_X86=skip records it as skipped instead. Each
# result lands in RESULTS_DIR as largest_job_wine_<arch>.json for
# scripts/bench_report.py.
#
#   scripts/bench_wine.sh [--only ARCH] X86_BUILD X64_BUILD RESULTS_DIR [CAP_MIB]
#
#   --only ARCH  measures that architecture here and leaves the raw figures in
#                RESULTS_DIR/raw-ARCH (what the virtual machine runs)
set -euo pipefail

only=""
if [ "${1:-}" = --only ]; then
  only=${2:?--only x86 or x64}
  shift 2
fi
x86_build=$(realpath -m "${1:?x86 build directory}")
x64_build=$(realpath -m "${2:?x64 build directory}")
mkdir -p "${3:?results directory}"
results=$(realpath "$3")
cap_mib=${4:-3072}
scripts=$(cd "$(dirname "$0")" && pwd)
card_job="$scripts/../examples/sample-job.txt"

source "$scripts/../tests/wine/wine_prefix.sh" bench_wine.sh

# Which machine gave the figure goes with it into the report.
machine="$(uname -m) Linux $(uname -r), $(nproc) CPUs"
[ "${KESTROVA_IN_VM:-}" != 1 ] || machine="a virtual machine (QEMU, ${KESTROVA_VM_ACCEL:-tcg}): $machine"
[ "$wine_archs" != x64 ] || machine="$machine, no 32-bit programs"

# record ARCH RAW_DIR: the raw figures into RESULTS_DIR with the machine
# named, the time per card beside the largest job.
record() {
  python3 - "$1" "$2" "$results/largest_job_wine_$1.json" <<'PY'
import json, pathlib, sys
arch, raw, out = sys.argv[1], pathlib.Path(sys.argv[2]), sys.argv[3]
data = json.loads((raw / "result.json").read_text())
machine = (raw / "machine").read_text().strip()
data["benchmarks"][0]["machine"] = machine
per_card = (raw / "card_ms").read_text().strip()
if per_card:
    data["benchmarks"].append({"name": f"WineCardPacing/{arch}", "run_type": "iteration", "iterations": 1,
                               "real_time": float(per_card), "time_unit": "ms",
                               "ms_per_card": float(per_card), "machine": machine})
pathlib.Path(out).write_text(json.dumps(data))
PY
}

record_skipped() {
  local arch="$1" why="$2"
  echo "bench-wine: $arch skipped: $why"
  python3 - "$arch" "$why" "$machine" "$results/largest_job_wine_$arch.json" <<'PY'
import json, sys
arch, why, machine, out = sys.argv[1:5]
data = {"benchmarks": [{"name": f"LargestJob/wine_{arch}", "run_type": "iteration", "iterations": 0,
                        "real_time": 0, "time_unit": "s", "skipped": why, "machine": machine}]}
open(out, "w").write(json.dumps(data))
PY
}

wine_halves "$only"
[ -z "$skipped" ] || record_skipped x86 "$skipped"
for arch in $archs $vm_archs; do
  build=$x86_build
  [ "$arch" = x64 ] && build=$x64_build
  for file in "$build/KestrovaLM.dll" "$build/bench/largest_job/largest_job.exe" "$build/tool/kestrova.exe"; do
    [ -f "$file" ] || { echo "bench_wine.sh: $file is missing (make windows)" >&2; exit 2; }
  done
done

boot_wine_prefix

# measure ARCH RAW_DIR: the largest job and the time per card, raw.
measure() {
  local arch=$1 raw=$2 build=$x86_build dir="$work/$1" summary
  [ "$arch" = x64 ] && build=$x64_build
  mkdir -p "$dir" "$raw"
  cp "$build/KestrovaLM.dll" "$build/bench/largest_job/largest_job.exe" "$build/tool/kestrova.exe" "$card_job" "$dir/"
  echo "bench-wine: $arch: writing a job until storing fails or $cap_mib MiB have been written"
  if ! (cd "$dir" && timeout "$(wine_limit 1800)" "${wine_command[@]}" largest_job.exe --module KestrovaLM.dll --label "$arch" \
          --cap-mib "$cap_mib" --json result.json 2>&1 | tr -d '\r'); then
    echo "bench-wine: $arch: the measurement did not finish" >&2
    return 1
  fi
  cp "$dir/result.json" "$raw/result.json"
  echo "bench-wine: $arch: $(basename "$card_job") on the real clock against an instant machine"
  summary=$(cd "$dir" && timeout "$(wine_limit 300)" "${wine_command[@]}" kestrova.exe print --quiet --module KestrovaLM.dll \
    --durations all=0 "$(basename "$card_job")" 2>&1 | tr -d '\r' | grep '^summary:' || true)
  echo "bench-wine: $arch: $summary"
  sed -nE 's/.*\(([0-9]+) ms per card\).*/\1/p' <<<"$summary" >"$raw/card_ms"
  echo "$machine, Wine $("${wine_command[@]}" --version 2>/dev/null | tr -d '\r')" >"$raw/machine"
}

if [ -n "$only" ]; then
  measure "$only" "$results/raw-$only"
  exit
fi

# The x86 module in the virtual machine, once the x64 one is measured here
# (each needs the processors to itself for its time per card).
status=0
for arch in $archs; do
  if measure "$arch" "$work/raw-$arch"; then record "$arch" "$work/raw-$arch"; else status=1; fi
done
for arch in $vm_archs; do
  rm -rf "$results/raw-$arch"
  if KESTROVA_VM_MEMORY=${KESTROVA_VM_MEMORY:-6144} "$scripts/vm/run.sh" --share "$results" --timeout 3600 -- \
       "$scripts/bench_wine.sh" --only "$arch" "$x86_build" "$x64_build" "$results" "$cap_mib"; then
    record "$arch" "$results/raw-$arch"
  else
    echo "bench-wine: $arch: the measurement in the virtual machine failed" >&2
    status=1
  fi
  rm -rf "$results/raw-$arch"
done
exit $status
