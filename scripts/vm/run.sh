#!/usr/bin/env bash
# Runs a command inside the virtual machine against this checkout: the x86
# half of the Wine test and benchmark where this machine cannot run 32-bit
# programs, and, by hand, anything that must be reproduced with the x86 DLL:
#
#   scripts/vm/run.sh [--share DIR]... [--timeout SECONDS] -- COMMAND [ARG...]
#   scripts/vm/run.sh -- tests/wine/run.sh --only x86 build win-build-x86 win-build-x64
#
# The checkout is mounted read-only at its own path (so the native build's
# paths and the guest's Debian 12 libraries match), each --share DIR
# writable at its own path. COMMAND runs as root from the current folder (the
# checkout's top when the current folder is not shared), with its output
# shown as it comes; $KESTROVA_WINE_PREFIX names the image's 32-bit Wine
# prefix, which a command may change at will: the disk is a snapshot, so
# nothing a run does stays. The image is made first if it is not there
# (scripts/vm/image.sh).
#
# Exit status: COMMAND's; 124 when the boot or the command ran out of time;
# 125 when the machine ended without the command's status; 1 when the image
# cannot be made or the machine cannot start.
#   KESTROVA_VM_BOOT_LIMIT (seconds, default 300), and those of scripts/vm/common.sh
set -euo pipefail
vm_who=vm
source "$(dirname "$0")/common.sh"

usage() { echo "usage: scripts/vm/run.sh [--share DIR]... [--timeout SECONDS] -- COMMAND [ARG...]" >&2; exit 2; }
shares=("ro:$vm_checkout")
share_dirs=("$vm_checkout")
run_limit=3600
while [ $# -gt 0 ]; do
  case $1 in
    --share)
      [ -d "${2:-}" ] || { echo "$vm_who: --share needs a folder (got '${2:-}')" >&2; exit 2; }
      shares+=("rw:$(realpath "$2")")
      share_dirs+=("$(realpath "$2")")
      shift 2 ;;
    --timeout)
      [[ ${2:-} =~ ^[0-9]+$ ]] || usage
      run_limit=$2
      shift 2 ;;
    --) shift; break ;;
    *) usage ;;
  esac
done
[ $# -gt 0 ] || usage

here=$(pwd -P)
cwd=$vm_checkout
for dir in "${share_dirs[@]}"; do
  case $here/ in "$dir"/*) cwd=$here ;; esac
done

workdir=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-vm.XXXXXX")
image_pid=""
cleanup() {
  [ -z "$image_pid" ] || { kill -TERM "$image_pid" 2>/dev/null; wait "$image_pid" 2>/dev/null; }
  vm_end_qemu
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Made (or waited for) in the background, so that a signal to this script
# ends the build at once rather than after it.
"$vm_scripts/image.sh" --path >"$workdir/image" &
image_pid=$!
wait "$image_pid" || { image_pid=""; echo "$vm_who: no image to boot" >&2; exit 1; }
image_pid=""
image=$(cat "$workdir/image")

{
  printf 'cd %q || exit 125\n' "$cwd"
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$workdir/command.sh"

rc=0
vm_boot "$image" snapshot "${KESTROVA_VM_BOOT_LIMIT:-300}" "$run_limit" "$workdir" "$workdir/command.sh" "${shares[@]}" || rc=$?
exit $rc
