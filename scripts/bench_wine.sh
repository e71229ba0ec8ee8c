#!/usr/bin/env bash
# The largest job KestrovaLM.dll takes, measured under Wine in a throw-away
# prefix (bench/largest_job/largest_job_main.cpp): the x86 module where this
# machine runs 32-bit programs, and the x64 module. Each result lands in
# RESULTS_DIR as largest_job_wine_<arch>.json for scripts/bench_report.py;
# an architecture that cannot run here is recorded as skipped, with why.
#
#   scripts/bench_wine.sh X86_BUILD X64_BUILD RESULTS_DIR [CAP_MIB]
set -euo pipefail

x86_build=$(realpath -m "${1:?x86 build directory}")
x64_build=$(realpath -m "${2:?x64 build directory}")
mkdir -p "${3:?results directory}"
results=$(realpath "$3")
cap_mib=${4:-3072}

source "$(dirname "$0")/../tests/wine/wine_prefix.sh" bench_wine.sh

# Which machine gave the figure goes with it into the report.
machine="$(uname -m) Linux $(uname -r), $(nproc) CPUs"

# Copies a result (or writes a skipped one) into RESULTS_DIR with the machine named.
record() {
  python3 - "$@" <<'PY'
import json, sys
arch, machine, out = sys.argv[1], sys.argv[2], sys.argv[3]
if len(sys.argv) > 5:
    data = {"benchmarks": [{"name": f"LargestJob/wine_{arch}", "run_type": "iteration", "iterations": 0,
                            "real_time": 0, "time_unit": "s", "skipped": sys.argv[5]}]}
else:
    with open(sys.argv[4]) as source:
        data = json.load(source)
data["benchmarks"][0]["machine"] = machine
with open(out, "w") as target:
    json.dump(data, target)
PY
}

skipped() {
  local arch="$1" why="$2"
  echo "bench-wine: $arch skipped: $why"
  record "$arch" "$machine" "$results/largest_job_wine_$arch.json" - "$why"
}

archs=$wine_archs
if [ "$archs" = x64 ]; then
  machine="$machine, no 32-bit programs"
  skipped x86 "this machine cannot run 32-bit programs"
fi
for arch in $archs; do
  build=$x86_build
  [ "$arch" = x64 ] && build=$x64_build
  for file in "$build/KestrovaLM.dll" "$build/bench/largest_job/largest_job.exe"; do
    [ -f "$file" ] || { echo "bench_wine.sh: $file is missing (make windows)" >&2; exit 2; }
  done
done

boot_wine_prefix

status=0
for arch in $archs; do
  build=$x86_build
  [ "$arch" = x64 ] && build=$x64_build
  dir="$work/$arch"
  mkdir -p "$dir"
  cp "$build/KestrovaLM.dll" "$build/bench/largest_job/largest_job.exe" "$dir/"
  echo "bench-wine: $arch: writing a job until storing fails or $cap_mib MiB have been written"
  if ! (cd "$dir" && timeout 1800 "${wine_command[@]}" largest_job.exe --module KestrovaLM.dll --label "$arch" \
          --cap-mib "$cap_mib" --json result.json 2>&1 | tr -d '\r'); then
    echo "bench-wine: $arch: the measurement did not finish" >&2
    status=1
    continue
  fi
  record "$arch" "$machine, Wine $("${wine_command[@]}" --version 2>/dev/null | tr -d '\r')" \
    "$results/largest_job_wine_$arch.json" "$dir/result.json"
done
exit $status
