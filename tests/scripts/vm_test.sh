#!/usr/bin/env bash
# scripts/vm/run.sh and the timed step of scripts/vm/common.sh, against a
# stand-in qemu-system-x86_64 on the PATH that plays the guest on this
# machine: it runs the control folder's command.sh as the guest's init
# would, or misbehaves as a row asks. No virtual machine is booted and no
# image is made (a made one is laid out in a scratch cache).
set -uo pipefail
checkout=$(realpath "$(dirname "$0")/../..")
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-vm-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The image the runner will find, under the key of the recipe here.
export KESTROVA_VM_CACHE="$work/cache"
image=$(source "$checkout/scripts/vm/common.sh" && echo "$vm_image")
mkdir -p "$image"
touch "$image/vmlinuz" "$image/initrd.img" "$image/disk.img" "$image/ready"

mkdir -p "$work/bin"
cat >"$work/bin/qemu-system-x86_64" <<'STANDIN'
#!/usr/bin/env bash
# Behaves as $STANDIN/mode says; leaves its pid and arguments in $STANDIN.
echo $$ >"$STANDIN/pid"
printf '%s\n' "$@" >"$STANDIN/args"
console=$(printf '%s\n' "$@" | sed -n 's/^file://p')
control=$(printf '%s\n' "$@" | sed -n 's/^local,path=\(.*\),mount_tag=control,.*/\1/p')
booted() { printf '[    0.512] noise from the kernel\r\nkestrova-vm: booted\r\n' >>"$console"; }
case $(cat "$STANDIN/mode") in
  run)
    booted
    (cd / && bash "$control/command.sh") 2>&1 | sed 's/$/\r/' >>"$console"
    echo "${PIPESTATUS[0]}" >"$control/status"
    printf 'kestrova-vm: done\r\n' >>"$console" ;;
  no-status) booted ;;
  no-boot) exec sleep 600 ;;
  hang) booted; exec sleep 600 ;;
  refuses) echo "qemu-system-x86_64: -virtfs: there is no option group 'virtfs'" >&2; exit 1 ;;
esac
STANDIN
chmod +x "$work/bin/qemu-system-x86_64"

# Whether a process runs (a zombie waiting for its parent does not).
running() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) && [ "${state:0:1}" != Z ]
}

passed=0
failed=0
check() {
  local name=$1 problems=$2
  if [ -z "$problems" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name:$problems"
    sed 's/^/  output: /' "$work/$name/output"
  fi
}

# row NAME MODE EXIT EXPECTED_OUTPUT RUNNER_ARGS... -- COMMAND...
# EXPECTED_OUTPUT: each line of it must be in what the runner printed.
row() {
  local name=$1 mode=$2 exit_expected=$3 expected=$4 rc=0 problems="" line pid
  shift 4
  mkdir -p "$work/$name"
  echo "$mode" >"$work/$name/mode"
  (cd "$checkout" && PATH="$work/bin:$PATH" STANDIN="$work/$name" KESTROVA_VM_BOOT_LIMIT=3 \
    "$checkout/scripts/vm/run.sh" "$@") >"$work/$name/output" 2>&1 || rc=$?
  [ "$rc" = "$exit_expected" ] || problems+=" exit $rc, expected $exit_expected;"
  while IFS= read -r line; do
    grep -qxF -- "$line" "$work/$name/output" || problems+=" no line '$line';"
  done <<<"$expected"
  [ "$mode" != run ] || ! grep -q "kestrova-vm: \|noise from the kernel" "$work/$name/output" || problems+=" the guest's own lines were shown;"
  pid=$(cat "$work/$name/pid" 2>/dev/null || true)
  if [ -n "$pid" ] && running "$pid"; then
    problems+=" the stand-in QEMU (pid $pid) is still running;"
    kill "$pid"
  fi
  check "$name" "$problems"
}

shared="$work/shared dir"
mkdir -p "$shared"
row command-status run 3 "a b|c\$d|
$checkout" \
  -- bash -c 'printf "%s|" "$@"; echo; pwd; exit 3' x "a b" 'c$d'
row share-written run 0 "wrote" --share "$shared" -- bash -c 'echo wrote | tee "$1/file"' x "$shared"
row no-status no-status 125 "vm: the machine ended without the command's status" -- true
row never-boots no-boot 124 "vm: the machine did not boot within 3 s; its console ended with:" -- true
row command-too-long hang 124 "vm: the command did not finish within 2 s: the machine was stopped" --timeout 2 -- true
row qemu-refuses refuses 125 "vm: the machine ended before it booted
  qemu: qemu-system-x86_64: -virtfs: there is no option group 'virtfs'" -- true

# The shares: the checkout read-only, a --share writable, each at its own path.
problems=""
[ "$(cat "$shared/file" 2>/dev/null)" = wrote ] || problems+=" the shared folder was not written;"
grep -qxF "local,path=$checkout,mount_tag=share1,security_model=none,readonly=on" "$work/share-written/args" ||
  problems+=" the checkout is not shared read-only;"
grep -qxF "local,path=$shared,mount_tag=share2,security_model=none" "$work/share-written/args" ||
  problems+=" the --share folder is not shared writable;"
grep -qx "file=$image/disk.img,format=raw,if=virtio,cache=unsafe,snapshot=on" "$work/share-written/args" ||
  problems+=" the disk is not a snapshot;"
mkdir -p "$work/shares"; : >"$work/shares/output"
check shares "$problems"

# vm_step: a step that outlives its limit is ended with everything it started.
step() {
  local name=$1 limit=$2 exit_expected=$3 rc=0 problems="" pid
  shift 3
  mkdir -p "$work/$name"
  (source "$checkout/scripts/vm/common.sh" && vm_step "$name" "$limit" "$@") >"$work/$name/output" 2>&1 || rc=$?
  [ "$rc" = "$exit_expected" ] || problems+=" exit $rc, expected $exit_expected;"
  pid=$(cat "$work/$name/grandchild" 2>/dev/null || true)
  if [ -n "$pid" ] && running "$pid"; then
    problems+=" a process the step started (pid $pid) is still running;"
    kill "$pid"
  fi
  check "$name" "$problems"
}
step step-done 10 0 true
step step-fails 10 3 bash -c 'exit 3'
step step-outlives 2 124 bash -c 'sleep 600 & echo $! >"$0"; wait' "$work/step-outlives/grandchild"

# image.sh: a registry that keeps failing stops the build, after the
# retries, with the registry's complaint; nothing of it stays in the cache.
cat >"$work/bin/debootstrap" <<'STANDIN'
#!/usr/bin/env bash
echo debootstrap >>"$STANDIN/calls"
mkdir -p "${@: -2:1}/var/cache/apt"
echo "E: Failed getting release file http://deb.debian.org/debian/dists/bookworm/Release" >&2
exit 1
STANDIN
printf '#!/usr/bin/env bash\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/debootstrap" "$work/bin/id"
mkdir -p "$work/image-fails"
rc=0
PATH="$work/bin:$PATH" STANDIN="$work/image-fails" KESTROVA_VM_CACHE="$work/cache-fails" KESTROVA_APT_ATTEMPTS=2 \
  KESTROVA_APT_PAUSE=0 "$checkout/scripts/vm/image.sh" >"$work/image-fails/output" 2>&1 || rc=$?
problems=""
[ $rc -eq 1 ] || problems+=" exit $rc, expected 1;"
[ "$(cat "$work/image-fails/calls" 2>/dev/null)" = $'debootstrap\ndebootstrap' ] || problems+=" debootstrap was not run twice;"
grep -q "^  E: Failed getting release file" "$work/image-fails/output" || problems+=" the registry's complaint is not shown;"
left=$(ls -A "$work/cache-fails" | grep -v '^lock$' || true)
[ -z "$left" ] || problems+=" the cache keeps: $left;"
check image-fails "$problems"

echo "vm: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
