#!/usr/bin/env bash
# Checks that every #include "..." of the C++ sources looks down the folder
# order below: a folder may include itself and the folders before it, never
# one after it, so no two folders include each other. The order and why it
# is so: docs/architecture.md.
#   scripts/check_layers.sh [ROOT]     check the tree at ROOT (default: this checkout)
#   scripts/check_layers.sh --self-test  show that a break is caught
set -euo pipefail

# Lowest first. The last four sit side by side on top: each may include
# anything before them, but not one another.
ORDER=(platform link production port control monitor standin simulator tool)
TOP=(tests bench checks fuzz)

declare -A RANK
for i in "${!ORDER[@]}"; do RANK[${ORDER[$i]}]=$i; done
for f in "${TOP[@]}"; do RANK[$f]=${#ORDER[@]}; done

check() {
  local root=$1 breaks=0 files=0 includes=0 file folder target resolved to
  cd "$root"
  # A folder with sources that has no place in the order is a break too.
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    while read -r folder; do
      if [ -z "${RANK[$folder]:-}" ]; then
        echo "layers: $folder/ holds C++ sources but has no place in the order (scripts/check_layers.sh)"
        breaks=$((breaks + 1))
      fi
    done < <(git ls-files -- '*.cpp' '*.h' | grep / | cut -d/ -f1 | sort -u)
  fi
  while IFS= read -r file; do
    files=$((files + 1))
    folder=${file%%/*}
    while IFS= read -r target; do
      includes=$((includes + 1))
      # As the compiler finds it: beside the file first, then from the root
      # (or tests/, the tests' own include folder).
      if [ -f "${file%/*}/$target" ]; then
        resolved=${file%/*}/$target
        [[ $target == *..* ]] && resolved=$(realpath --relative-to=. "$resolved")
      elif [ -f "$target" ]; then
        resolved=$target
      elif [ "$folder" = tests ] && [ -f "tests/$target" ]; then
        resolved=tests/$target
      else
        echo "layers: $file includes \"$target\", which is no file of the tree"
        breaks=$((breaks + 1))
        continue
      fi
      to=${resolved%%/*}
      if [ "$to" != "$folder" ] && [ "${RANK[$to]:-99}" -ge "${RANK[$folder]}" ]; then
        echo "layers: $file includes \"$target\": $folder/ may not include $to/"
        breaks=$((breaks + 1))
      fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
  done < <(for f in "${ORDER[@]}" "${TOP[@]}"; do [ -d "$f" ] && find "$f" -name '*.cpp' -o -name '*.h'; done | sort)
  echo "layers: $files files, $includes includes, $breaks breaks"
  [ "$breaks" -eq 0 ]
}

self_test() {
  local tree out
  tree=$(mktemp -d)
  trap "rm -rf '$tree'" EXIT
  mkdir -p "$tree/link" "$tree/port" "$tree/control" "$tree/monitor"
  echo '#include "port/monitor_port.h"' > "$tree/link/reply.cpp"
  : > "$tree/port/monitor_port.h"
  echo '#include "monitor/entries.h"' > "$tree/control/request.cpp"
  echo '#include "control/request.h"' > "$tree/monitor/entries.h"
  : > "$tree/control/request.h"
  if out=$(check "$tree"); then
    echo "layers self-test: an upward include went unnoticed"; echo "$out"; return 1
  fi
  grep -q 'link/reply.cpp includes "port/monitor_port.h": link/ may not include port/' <<<"$out" &&
    grep -q 'control/request.cpp includes "monitor/entries.h": control/ may not include monitor/' <<<"$out" &&
    ! grep -q 'monitor/entries.h includes' <<<"$out" || { echo "layers self-test: wrong findings"; echo "$out"; return 1; }
  echo "layers self-test: the breaks were caught"
}

if [ "${1:-}" = --self-test ]; then
  self_test
else
  check "${1:-$(cd "$(dirname "$0")/.." && pwd)}"
fi
