# Sourced by scripts/vm/image.sh and scripts/vm/run.sh: where the image is
# kept and under which key, the timed step, and the boot of the virtual
# machine that runs a command against this checkout.
#
#   KESTROVA_VM_CACHE   where images are kept (default /var/cache/kestrova-vm)
#   KESTROVA_VM_ACCEL   tcg (default) or kvm
#   KESTROVA_VM_MEMORY  the machine's memory in MiB (default 4096)
#   KESTROVA_VM_CPUS    its processors (default 2)

vm_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
vm_checkout=$(cd "$vm_scripts/../.." && pwd)
vm_cache=${KESTROVA_VM_CACHE:-/var/cache/kestrova-vm}
vm_who=${vm_who:-vm}

# What the image is made from: a change to any of these files makes a new
# image under a new key; the step timer and the boot options below do not.
vm_recipe=("$vm_scripts/image.sh" "$vm_scripts/guest_init.sh")
vm_key=$(cat "${vm_recipe[@]}" | sha256sum | cut -c1-16)
vm_image="$vm_cache/image-$vm_key"

vm_seconds() { date +%s; }

# vm_step WHAT LIMIT COMMAND... runs COMMAND (a program or a function) in a
# process group of its own, says every minute that it is still running, and
# ends the group when LIMIT seconds have passed (status 124).
vm_step_pid=
vm_step() {
  local what=$1 limit=$2 start elapsed rc=0 told=0
  shift 2
  start=$(vm_seconds)
  echo "$vm_who: $what (at most $limit s)" >&2
  set -m
  "$@" </dev/null &
  vm_step_pid=$!
  set +m
  while kill -0 "$vm_step_pid" 2>/dev/null; do
    elapsed=$(($(vm_seconds) - start))
    if [ "$elapsed" -ge "$limit" ]; then
      vm_end_step
      echo "$vm_who: $what did not finish within $limit s: stopped" >&2
      return 124
    fi
    if [ $((elapsed / 60)) -gt "$told" ]; then
      told=$((elapsed / 60))
      echo "$vm_who: $what: running for $elapsed s" >&2
    fi
    sleep 1
  done
  wait "$vm_step_pid" || rc=$?
  vm_step_pid=
  elapsed=$(($(vm_seconds) - start))
  if [ $rc -eq 0 ]; then
    echo "$vm_who: $what: done in $elapsed s" >&2
  else
    echo "$vm_who: $what failed after $elapsed s (exit $rc)" >&2
  fi
  return $rc
}

# Ends the running step's process group, if any: TERM, then KILL.
vm_end_step() {
  [ -n "$vm_step_pid" ] || return 0
  kill -TERM -- "-$vm_step_pid" 2>/dev/null || true
  local waited=0
  while kill -0 "$vm_step_pid" 2>/dev/null && [ $waited -lt 10 ]; do
    sleep 1
    waited=$((waited + 1))
  done
  kill -KILL -- "-$vm_step_pid" 2>/dev/null || true
  wait "$vm_step_pid" 2>/dev/null || true
  vm_step_pid=
}

# The QEMU process of the running boot, ended by its own id on exit.
vm_qemu_pid=
vm_end_qemu() {
  [ -n "$vm_qemu_pid" ] || return 0
  kill -TERM "$vm_qemu_pid" 2>/dev/null || true
  local waited=0
  while kill -0 "$vm_qemu_pid" 2>/dev/null && [ $waited -lt 10 ]; do
    sleep 1
    waited=$((waited + 1))
  done
  kill -KILL "$vm_qemu_pid" 2>/dev/null || true
  wait "$vm_qemu_pid" 2>/dev/null || true
  vm_qemu_pid=
}

# The guest command's own lines: not the guest init's, nor the kernel's
# words as it powers off.
vm_guest_output() {
  grep -v -E '^kestrova-vm: |^\[ *[0-9.]+\] (sysrq: Power Off|reboot: Power down)$'
}

vm_accel_options() {
  case ${KESTROVA_VM_ACCEL:-tcg} in
    # Under TCG the guest kernel takes an SMAP fault at an iretq in Wine's
    # system call dispatcher and kills the process: no SMAP.
    tcg) echo "-accel tcg -cpu max,-smap" ;;
    kvm) echo "-accel kvm -cpu host" ;;
    *) echo "$vm_who: KESTROVA_VM_ACCEL is '$KESTROVA_VM_ACCEL' (tcg or kvm)" >&2; return 2 ;;
  esac
}

# vm_boot IMAGE_DIR DISK_MODE BOOT_LIMIT RUN_LIMIT WORKDIR COMMAND_FILE [SHARE...]
#
# Boots the image (DISK_MODE snapshot: the disk is left unchanged; write:
# the command's changes stay), mounts each SHARE ("ro:PATH" or "rw:PATH")
# at the same path, runs COMMAND_FILE (a bash script) and powers off. The
# command's output is shown as it comes; returns the command's exit status,
# 124 when a limit ran out, 125 when the machine ended without a status.
# WORKDIR (on this machine) holds the console log and the guest's control
# folder.
vm_boot() {
  local image=$1 disk_mode=$2 boot_limit=$3 run_limit=$4 workdir=$5 command_file=$6
  shift 6
  local control="$workdir/control" console="$workdir/console.log" qemu_log="$workdir/qemu.log"
  local accel memory=${KESTROVA_VM_MEMORY:-4096} cpus=${KESTROVA_VM_CPUS:-2}
  accel=$(vm_accel_options) || return 2
  for file in vmlinuz initrd.img disk.img; do
    [ -f "$image/$file" ] || { echo "$vm_who: $image/$file is missing (scripts/vm/image.sh builds the image)" >&2; return 2; }
  done
  command -v qemu-system-x86_64 >/dev/null ||
    { echo "$vm_who: qemu-system-x86_64 is missing (the qemu-system-x86 package: scripts/setup.sh vm)" >&2; return 2; }

  mkdir -p "$control"
  rm -f "$control/status"
  cp "$command_file" "$control/command.sh"
  local drive="file=$image/disk.img,format=raw,if=virtio,cache=unsafe"
  [ "$disk_mode" = snapshot ] && drive+=",snapshot=on"
  local args=(-nodefaults -no-user-config $accel -smp "$cpus" -m "$memory"
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img"
    -append "root=/dev/vda rw console=ttyS0 quiet panic=-1 init=/sbin/kestrova-init"
    -drive "$drive" -nic none -display none -monitor none -serial "file:$console" -no-reboot
    -virtfs "local,path=$control,mount_tag=control,security_model=none")
  local index=0 share mode path mounts=""
  for share in "$@"; do
    mode=${share%%:*}
    path=${share#*:}
    index=$((index + 1))
    if [ "$mode" = ro ]; then
      args+=(-virtfs "local,path=$path,mount_tag=share$index,security_model=none,readonly=on")
    else
      args+=(-virtfs "local,path=$path,mount_tag=share$index,security_model=none")
    fi
    mounts+="share$index $mode $path"$'\n'
  done
  printf '%s' "$mounts" >"$control/mounts"

  : >"$console"
  local start booted=0 printed=0 marker=0 lines elapsed
  start=$(vm_seconds)
  echo "$vm_who: booting (${memory} MiB, $cpus processors, ${KESTROVA_VM_ACCEL:-tcg}; at most $boot_limit s)" >&2
  qemu-system-x86_64 "${args[@]}" </dev/null >"$qemu_log" 2>&1 &
  vm_qemu_pid=$!
  while kill -0 "$vm_qemu_pid" 2>/dev/null; do
    elapsed=$(($(vm_seconds) - start))
    if [ $booted -eq 0 ]; then
      marker=$(grep -n -m 1 "^kestrova-vm: booted" "$console" | cut -d: -f1 || true)
      if [ -n "$marker" ]; then
        booted=$elapsed
        [ "$booted" -gt 0 ] || booted=1
        printed=$marker
        echo "$vm_who: booted in $elapsed s; running the command (at most $run_limit s)" >&2
        start=$(vm_seconds)
      elif [ "$elapsed" -ge "$boot_limit" ]; then
        vm_end_qemu
        echo "$vm_who: the machine did not boot within $boot_limit s; its console ended with:" >&2
        tail -n 15 "$console" | tr -d '\r' | sed 's/^/  /' >&2
        return 124
      fi
    else
      lines=$(wc -l <"$console")
      if [ "$lines" -gt "$printed" ]; then
        sed -n "$((printed + 1)),${lines}p" "$console" | tr -d '\r' | vm_guest_output || true
        printed=$lines
      fi
      if [ "$elapsed" -ge "$run_limit" ]; then
        vm_end_qemu
        echo "$vm_who: the command did not finish within $run_limit s: the machine was stopped" >&2
        return 124
      fi
    fi
    sleep 1
  done
  wait "$vm_qemu_pid" || true
  vm_qemu_pid=
  if [ $booted -eq 0 ]; then   # a command that ended between two looks
    printed=$(grep -n -m 1 "^kestrova-vm: booted" "$console" | cut -d: -f1 || true)
    [ -z "$printed" ] || booted=1
  fi
  if [ $booted -ne 0 ]; then
    sed -n "$((printed + 1)),\$p" "$console" | tr -d '\r' | vm_guest_output || true
  fi
  if [ -s "$control/status" ]; then
    local status
    status=$(tr -cd '0-9' <"$control/status")
    [ -n "$status" ] || status=125
    echo "$vm_who: the command ended with status $status after $(($(vm_seconds) - start)) s" >&2
    return "$status"
  fi
  if [ $booted -eq 0 ]; then
    echo "$vm_who: the machine ended before it booted" >&2
  else
    echo "$vm_who: the machine ended without the command's status" >&2
  fi
  [ -s "$qemu_log" ] && sed 's/^/  qemu: /' "$qemu_log" >&2
  tail -n 15 "$console" | tr -d '\r' | sed 's/^/  console: /' >&2
  return 125
}
